#include "platform/win32/bmp_image.h"

#include <cstdint>

namespace platform {

namespace {

uint32_t read32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint16_t read16(const unsigned char* p)
{
    return uint16_t(p[0] | p[1] << 8);
}

constexpr int kMaxSide = 4096;

} // namespace

bool decodeBmp(const void* data, size_t size, RgbaImage& image)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (!bytes)
        return false;
    size_t header = 0;
    size_t pixelsAt = 0;
    if (size >= 14 && bytes[0] == 'B' && bytes[1] == 'M') {
        header = 14;
        pixelsAt = read32(bytes + 10);
    }
    if (size < header + 40)
        return false;
    const unsigned char* info = bytes + header;
    const uint32_t infoSize = read32(info);
    const int32_t width = int32_t(read32(info + 4));
    const int32_t rawHeight = int32_t(read32(info + 8));
    const uint16_t bits = read16(info + 14);
    const uint32_t compression = read32(info + 16);
    if (infoSize < 40 || infoSize > size - header || (bits != 24 && bits != 32) || compression != 0)
        return false;
    const bool topDown = rawHeight < 0;
    const int64_t height = topDown ? -int64_t(rawHeight) : rawHeight;
    if (width <= 0 || width > kMaxSide || height <= 0 || height > kMaxSide)
        return false;
    if (!header)
        pixelsAt = infoSize;
    const size_t bytesPerPixel = bits / 8;
    const size_t stride = (size_t(width) * bytesPerPixel + 3) & ~size_t(3);
    if (pixelsAt < header + infoSize || pixelsAt > size || size - pixelsAt < stride * size_t(height))
        return false;

    image.width = width;
    image.height = int(height);
    image.rgba.assign(size_t(width) * size_t(height) * 4, 0);
    for (int64_t y = 0; y < height; ++y) {
        const unsigned char* row = bytes + pixelsAt + stride * size_t(topDown ? y : height - 1 - y);
        unsigned char* out = &image.rgba[size_t(y) * size_t(width) * 4];
        for (int32_t x = 0; x < width; ++x) {
            const unsigned char* p = row + size_t(x) * bytesPerPixel;
            out[x * 4 + 0] = p[2];
            out[x * 4 + 1] = p[1];
            out[x * 4 + 2] = p[0];
            out[x * 4 + 3] = bytesPerPixel == 4 ? p[3] : 255;
        }
    }
    return true;
}

} // namespace platform
