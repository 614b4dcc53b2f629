// True-colour TGA files: uncompressed (type 2) and run-length (type 10),
// 16, 24 or 32 bits per pixel. Pixels keep the file's byte order and the
// file's row order. Run-length packets may run on from one row into the
// next; they are clipped at the image's last pixel and at the end of the
// data.
#include "materials/image_readers.h"
#include "materials/image_readers_local.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace {

enum TgaResult {
    kTgaOk = 0,
    kTgaOpenError = 1,
    kTgaReadError = 2,
    kTgaOutOfMemory = 3,
    kTgaUnsupported = 4,
};

const char* tgaMessage(int code)
{
    switch (code) {
    case kTgaOpenError: return "TGA loader: Error opening file";
    case kTgaReadError: return "TGA loader: Error reading file";
    case kTgaOutOfMemory: return "TGA loader: Out of memory error";
    default: return "TGA loader: Unsupported file format";
    }
}

constexpr u32 kHeaderBytes = 18;
constexpr u32 kMaxSide = 4096;

struct TgaHeader {
    u8 idLength;
    u8 colourMapType;
    u8 imageType;
    u16 colourMapLength;
    u8 colourMapEntryBits;
    u16 width;
    u16 height;
    u8 bitsPerPixel;
    u8 descriptor;

    u32 fileBytesPerPixel() const { return bitsPerPixel / 8u; }
    // 16-bit pixels carry their top bit as alpha only when the header says
    // there is exactly one alpha bit.
    i32 imageBytesPerPixel() const
    {
        if (bitsPerPixel == 16)
            return (descriptor & 0x0F) == 1 ? 4 : 3;
        return bitsPerPixel / 8;
    }
};

TgaHeader parseHeader(const u8* h)
{
    return TgaHeader{h[0], h[1], h[2], (u16)(h[5] | h[6] << 8), h[7], (u16)(h[12] | h[13] << 8),
                     (u16)(h[14] | h[15] << 8), h[16], h[17]};
}

bool isSupported(const TgaHeader& t)
{
    return (t.imageType == 2 || t.imageType == 10) && t.width >= 1 && t.width <= kMaxSide && t.height >= 1 &&
           t.height <= kMaxSide && (t.bitsPerPixel == 16 || t.bitsPerPixel == 24 || t.bitsPerPixel == 32);
}

// Reads and drops n bytes; false when the file ends first.
bool discard(Stream& file, u32 n)
{
    u8 scrap[256];
    while (n > 0) {
        const u32 piece = std::min<u32>(n, sizeof scrap);
        if (file.read(scrap, piece) != piece)
            return false;
        n -= piece;
    }
    return true;
}

// Converts count file pixels to image pixels.
void convertPixels(const u8* in, u8* out, u32 count, u32 fileBytes, u32 imageBytes)
{
    if (fileBytes == imageBytes) {
        std::memcpy(out, in, (size_t)count * fileBytes);
        return;
    }
    // 5-5-5 to 8-8-8 by repeating each channel's top bits below it.
    for (u32 i = 0; i < count; ++i, in += 2, out += imageBytes) {
        const u32 v = (u32)in[0] | (u32)in[1] << 8;
        const u32 blue = v & 31;
        const u32 green = (v >> 5) & 31;
        const u32 red = (v >> 10) & 31;
        out[0] = (u8)(blue << 3 | blue >> 2);
        out[1] = (u8)(green << 3 | green >> 2);
        out[2] = (u8)(red << 3 | red >> 2);
        if (imageBytes == 4)
            out[3] = (v & 0x8000) ? 255 : 0;
    }
}

int readUncompressed(Stream& file, const TgaHeader& t, Image& image)
{
    const u32 fileBytes = t.fileBytesPerPixel();
    const u32 imageBytes = (u32)image.bytesPerPixel;
    const u32 pixels = (u32)t.width * t.height;
    if (fileBytes == imageBytes)
        return file.read(image.bytes(), pixels * fileBytes) == pixels * fileBytes ? kTgaOk : kTgaReadError;
    std::unique_ptr<u8[]> data(new (std::nothrow) u8[(size_t)pixels * fileBytes]);
    if (!data)
        return kTgaOutOfMemory;
    if (file.read(data.get(), pixels * fileBytes) != pixels * fileBytes)
        return kTgaReadError;
    convertPixels(data.get(), image.bytes(), pixels, fileBytes, imageBytes);
    return kTgaOk;
}

int decodeRunLength(const u8* data, u32 length, const TgaHeader& t, Image& image)
{
    const u32 fileBytes = t.fileBytesPerPixel();
    const u32 imageBytes = (u32)image.bytesPerPixel;
    const u32 total = (u32)t.width * t.height;
    u8* out = image.bytes();
    u32 pos = 0;
    u32 done = 0;
    while (done < total) {
        if (pos >= length)
            return kTgaReadError;
        const u8 count = data[pos++];
        const u32 n = std::min<u32>((count & 127u) + 1, total - done);
        if (count & 0x80) {
            if (length - pos < fileBytes)
                return kTgaReadError;
            u8 pixel[4];
            convertPixels(data + pos, pixel, 1, fileBytes, imageBytes);
            pos += fileBytes;
            for (u32 i = 0; i < n; ++i, out += imageBytes)
                std::memcpy(out, pixel, imageBytes);
        } else {
            if ((length - pos) / fileBytes < n)
                return kTgaReadError;
            convertPixels(data + pos, out, n, fileBytes, imageBytes);
            pos += n * fileBytes;
            out += (size_t)n * imageBytes;
        }
        done += n;
    }
    return kTgaOk;
}

// Whether the rest of the file can hold the pixels at all, checked before
// the pixel block is allocated.
bool mayHoldPixels(Stream& file, const TgaHeader& t)
{
    const u32 fileBytes = t.fileBytesPerPixel();
    const u64 total = (u64)t.width * t.height;
    const u32 position = file.tell();
    const u64 rest = file.size > position ? file.size - position : 0;
    if (t.imageType == 2)
        return rest >= total * fileBytes;
    // A run packet of 1 + fileBytes bytes yields at most 128 pixels.
    return rest / (1 + fileBytes) * 128 >= total;
}

int readRunLength(Stream& file, const TgaHeader& t, Image& image)
{
    const u32 fileBytes = t.fileBytesPerPixel();
    const u64 total = (u64)t.width * t.height;
    const u32 position = file.tell();
    const u64 rest = file.size > position ? file.size - position : 0;
    // No pixel needs more than 1 + fileBytes bytes.
    const u32 length = (u32)std::min<u64>(rest, total * (1 + fileBytes));
    std::unique_ptr<u8[]> data(new (std::nothrow) u8[length ? length : 1]);
    if (!data)
        return kTgaOutOfMemory;
    if (file.read(data.get(), length) != length)
        return kTgaReadError;
    return decodeRunLength(data.get(), length, t, image);
}

int readTga(Stream& file, const char* name, Image*& result)
{
    u8 header[kHeaderBytes];
    if (file.read(header, kHeaderBytes) != kHeaderBytes)
        return kTgaReadError;
    const TgaHeader t = parseHeader(header);
    if (!isSupported(t))
        return kTgaUnsupported;
    if (!discard(file, t.idLength))
        return kTgaReadError;
    if (t.colourMapType != 0 && !discard(file, (u32)t.colourMapLength * ((t.colourMapEntryBits + 7u) / 8u)))
        return kTgaReadError;
    if (!mayHoldPixels(file, t))
        return kTgaReadError;
    std::unique_ptr<Image> image(newImage(name, t.width, t.height, t.imageBytesPerPixel()));
    if (!image)
        return kTgaOutOfMemory;
    const int code = t.imageType == 2 ? readUncompressed(file, t, *image) : readRunLength(file, t, *image);
    if (code == kTgaOk)
        result = image.release();
    return code;
}

} // namespace

Image* loadTGA(Stream& file, const char* name)
{
    Image* image = nullptr;
    int code = kTgaOpenError;
    if (file.open(name)) {
        code = readTga(file, name, image);
        file.close();
    }
    if (code != kTgaOk)
        showImageError(tgaMessage(code));
    return image;
}
