// The .dds file layout: "DDS ", a 124-byte surface description with its
// 32-byte pixel format, then the levels of every face, largest first, rows
// tight (block rows for DXT formats).
#pragma once

#include <d3d9.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform::d3dx9 {

struct DdsImage {
    D3DFORMAT format = D3DFMT_UNKNOWN;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t levels = 1;
    uint32_t faces = 1; // 6 for a cube map
    bool cube = false;
    // Offsets into the file of face f, level l at [f * levels + l].
    std::vector<size_t> offsets;
    const uint8_t* file = nullptr;

    uint32_t levelWidth(uint32_t level) const;
    uint32_t levelHeight(uint32_t level) const;
    size_t pitch(uint32_t level) const; // bytes of one row (of blocks)
    const uint8_t* levelData(uint32_t face, uint32_t level) const
    {
        return file + offsets[size_t(face) * levels + level];
    }
};

// Reads the header and checks that the data hold every level of every face.
// False for other files, unsupported formats (volume textures, DX10
// headers, palettes, bump formats), sizes of 0 or above 16384, more levels
// than the size allows, and data shorter than the header promises.
bool parseDds(const void* data, size_t size, DdsImage& image);

} // namespace platform::d3dx9
