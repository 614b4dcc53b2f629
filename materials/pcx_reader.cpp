// 8-bit PCX files: a 128-byte header, run-length coded lines, then a 0x0C
// marker and a 768-byte RGB palette at the end of the file. A byte with
// both top bits set repeats the next byte (byte & 0x3F) times; any other
// byte stands for itself. Runs may carry on into the next line; they are
// clipped at the end of the image and the data ends at the palette marker.
#include "materials/image_readers.h"
#include "materials/image_readers_local.h"

#include <memory>
#include <new>

namespace {

constexpr u32 kHeaderBytes = 128;
constexpr u32 kPaletteBytes = 768;
constexpr u8 kPaletteMarker = 12;
constexpr char kUnsupported[] = "loadPCX: Unsupported PCX format";
constexpr char kReadError[] = "loadPCX: Error reading file";

u16 u16At(const u8* p)
{
    return (u16)(p[0] | p[1] << 8);
}

struct PcxLayout {
    i32 width;
    i32 height;
    u32 lineBytes; // bytes per coded line, padding included
};

// The sizes the header gives; width 0 when the reader cannot take it.
PcxLayout parseHeader(const u8* h)
{
    const i32 width = (i32)u16At(h + 8) - (i32)u16At(h + 4) + 1;
    const i32 height = (i32)u16At(h + 10) - (i32)u16At(h + 6) + 1;
    const u32 bytesPerLine = u16At(h + 66);
    const u8 bitsPerPixel = h[3];
    const u8 planes = h[65];
    if (bitsPerPixel != 8 || planes != 1 || width <= 0 || height <= 0)
        return PcxLayout{0, 0, 0};
    return PcxLayout{width, height, bytesPerLine > (u32)width ? bytesPerLine : (u32)width};
}

Image* readPcx(Stream& file, const char* name, bool bottomUp)
{
    if (file.size < kHeaderBytes + 1 + kPaletteBytes) {
        showImageError(kReadError);
        return nullptr;
    }
    u8 header[kHeaderBytes];
    if (file.read(header, kHeaderBytes) != kHeaderBytes) {
        showImageError(kReadError);
        return nullptr;
    }
    const PcxLayout layout = parseHeader(header);
    const u32 restBytes = file.size - kHeaderBytes;
    const u32 dataBytes = restBytes - 1 - kPaletteBytes;
    // Two coded bytes make at most 63 pixels: a file cannot hold more.
    const u64 codedBytes = (u64)layout.lineBytes * (u32)layout.height;
    if (layout.width == 0 || imageBlockBytes(layout.width, layout.height, 0) == 0 ||
        codedBytes > ((u64)dataBytes + 1) / 2 * 63) {
        showImageError(kUnsupported);
        return nullptr;
    }
    std::unique_ptr<u8[]> rest(new (std::nothrow) u8[restBytes]);
    if (!rest || file.read(rest.get(), restBytes) != restBytes) {
        showImageError(kReadError);
        return nullptr;
    }
    const u8* data = rest.get();
    const u8* paletteBytes = data + dataBytes + 1;
    if (data[dataBytes] != kPaletteMarker) {
        showImageError(kUnsupported);
        return nullptr;
    }
    u32 palette[256];
    for (u32 i = 0; i < 256; ++i)
        palette[i] = 0xFF000000u | (u32)paletteBytes[i * 3] << 16 | (u32)paletteBytes[i * 3 + 1] << 8 |
                     paletteBytes[i * 3 + 2];

    std::unique_ptr<Image> image(newImage(name, layout.width, layout.height, 0));
    if (!image) {
        showImageError(kUnsupported);
        return nullptr;
    }
    const u32 width = (u32)layout.width;
    const u32 height = (u32)layout.height;
    u32 pos = 0;
    u32 runLeft = 0;
    u8 value = 0;
    for (u32 line = 0; line < height; ++line) {
        u32* out = image->pixels + (u64)(bottomUp ? height - 1 - line : line) * width;
        for (u32 x = 0; x < layout.lineBytes; ++x) {
            while (runLeft == 0) {
                if (pos >= dataBytes) {
                    showImageError(kReadError);
                    return nullptr;
                }
                const u8 code = data[pos++];
                if ((code & 0xC0) != 0xC0) {
                    value = code;
                    runLeft = 1;
                } else if (pos < dataBytes) {
                    value = data[pos++];
                    runLeft = code & 0x3Fu; // a run of 0 makes nothing
                } else {
                    showImageError(kReadError);
                    return nullptr;
                }
            }
            --runLeft;
            if (x < width)
                out[x] = palette[value];
        }
    }
    return image.release();
}

} // namespace

Image* loadPCX(Stream& file, const char* name, bool bottomUp)
{
    if (!file.open(name))
        return nullptr;
    Image* image = readPcx(file, name, bottomUp);
    file.close();
    return image;
}
