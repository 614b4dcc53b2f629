// 8-bit palette BMP files: the 14-byte file header, a 40-byte info header,
// the palette (blue, green, red, reserved per colour) and the rows, bottom
// row first, each padded to a multiple of four bytes.
#include "foundation/byte_string.h"
#include "materials/image_readers.h"
#include "materials/image_readers_local.h"

#include <cstring>
#include <memory>

namespace {

constexpr u32 kHeaderBytes = 54;
constexpr char kUnusual[] = "loadBMP: Unsupported, unusual BMP format";

u16 u16At(const u8* p)
{
    return (u16)(p[0] | p[1] << 8);
}

u32 u32At(const u8* p)
{
    return (u32)p[0] | (u32)p[1] << 8 | (u32)p[2] << 16 | (u32)p[3] << 24;
}

struct BmpHeader {
    u16 type;
    u32 pixelOffset;
    u32 infoSize;
    i32 width;
    i32 height;
    u16 planes;
    u16 bitCount;
    u32 compression;
    u32 coloursUsed;
};

BmpHeader parseHeader(const u8* h)
{
    BmpHeader b;
    b.type = u16At(h);
    b.pixelOffset = u32At(h + 10);
    b.infoSize = u32At(h + 14);
    b.width = (i32)u32At(h + 18);
    b.height = (i32)u32At(h + 22);
    b.planes = u16At(h + 26);
    b.bitCount = u16At(h + 28);
    b.compression = u32At(h + 30);
    b.coloursUsed = u32At(h + 46);
    return b;
}

// The layout this reader knows; anything else is "unusual". Positive
// sides only (a negative height would mean top-down rows).
bool isSupportedLayout(const BmpHeader& b)
{
    const u64 colours = b.coloursUsed ? b.coloursUsed : 256;
    return colours <= 256 && b.pixelOffset == colours * 4 + kHeaderBytes && b.infoSize == 40 && b.planes == 1 &&
           b.compression == 0 && b.width > 0 && b.height > 0;
}

Image* readBmp(Stream& file, const char* name, bool bottomUp)
{
    u8 header[kHeaderBytes] = {};
    const u32 got = file.read(header, kHeaderBytes);
    const BmpHeader b = parseHeader(header);
    if (got < 2 || b.type != 0x4D42) { // "BM"
        showImageError(got < 2 ? kUnusual : String::format("loadBMP: Unknown file type: %x", b.type).c_str());
        return nullptr;
    }
    if (got < kHeaderBytes) {
        showImageError(kUnusual);
        return nullptr;
    }
    if (b.bitCount != 8) {
        showImageError(String::format("loadBMP: Wrong BMP color depth: %d bit", b.bitCount).c_str());
        return nullptr;
    }
    const u64 stride = ((u64)(u32)b.width + 3) & ~(u64)3;
    // The rows must be in the file before a block is allocated for them;
    // the last row's padding may be missing.
    if (!isSupportedLayout(b) || (u64)b.pixelOffset + stride * ((u64)b.height - 1) + (u64)b.width > file.size ||
        imageBlockBytes(b.width, b.height, 0) == 0) {
        showImageError(kUnusual);
        return nullptr;
    }
    const u32 colours = b.coloursUsed ? b.coloursUsed : 256;
    // Indices past the file's colours find opaque black.
    u32 palette[256] = {};
    u8 entries[256 * 4];
    if (file.read(entries, colours * 4) != colours * 4) {
        showImageError(kUnusual);
        return nullptr;
    }
    for (u32 i = 0; i < colours; ++i)
        palette[i] = (u32)entries[i * 4 + 2] << 16 | (u32)entries[i * 4 + 1] << 8 | entries[i * 4];

    std::unique_ptr<Image> image(newImage(name, b.width, b.height, 0));
    if (!image) {
        showImageError(kUnusual);
        return nullptr;
    }
    const u32 width = (u32)b.width;
    const u32 height = (u32)b.height;
    std::unique_ptr<u8[]> row(new u8[stride]);
    for (u32 fileRow = 0; fileRow < height; ++fileRow) {
        const bool last = fileRow + 1 == height;
        const u32 want = last ? width : (u32)stride;
        if (file.read(row.get(), want) != want) {
            showImageError(kUnusual);
            return nullptr;
        }
        const u32 y = bottomUp ? fileRow : height - 1 - fileRow;
        u32* out = image->pixels + (u64)y * width;
        for (u32 x = 0; x < width; ++x)
            out[x] = 0xFF000000u | palette[row[x]];
    }
    return image.release();
}

} // namespace

Image* loadBMP(Stream& file, const char* name, bool bottomUp)
{
    if (!file.open(name))
        return nullptr;
    Image* image = readBmp(file, name, bottomUp);
    file.close();
    return image;
}
