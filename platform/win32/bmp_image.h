// Reads the pictures of dialogs (RT_BITMAP and RT_ICON resources held as
// .bmp files) into RGBA pixels.
#pragma once

#include <cstddef>
#include <vector>

namespace platform {

struct RgbaImage {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgba; // top-down, 4 bytes a pixel
};

// Uncompressed 24- and 32-bit .bmp files (with or without the 14-byte file
// header); a 32-bit file's fourth byte is alpha. False for anything else,
// including truncated data, without reading past `size`.
bool decodeBmp(const void* data, size_t size, RgbaImage& image);

} // namespace platform
