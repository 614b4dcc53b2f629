// The .dds parser over arbitrary bytes: a file it accepts must hold every
// level it describes, which decoding each one (and re-encoding it in the
// same format) then reads and writes inside the data.
#include "platform/d3dx9/dds_file.h"
#include "platform/d3dx9/texel_codec.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

using namespace platform::d3dx9;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // An exact copy, so that reading past the input is caught.
    std::vector<uint8_t> file(data, data + size);
    DdsImage dds;
    if (!parseDds(file.data(), file.size(), dds))
        return 0;
    const TexelFormat* format = texelFormat(dds.format);
    if (!format)
        std::abort();
    // Keep the work bounded for huge (but complete) files.
    uint64_t texels = 0;
    for (uint32_t face = 0; face < dds.faces; ++face)
        for (uint32_t level = 0; level < dds.levels; ++level) {
            const uint32_t w = dds.levelWidth(level), h = dds.levelHeight(level);
            texels += uint64_t(w) * h;
            if (texels > (1u << 22))
                return 0;
            TexelImage image;
            image.resize(w, h);
            decodeTexels(*format, dds.levelData(face, level), dds.pitch(level), 0, 0, image);
            const size_t bytes = dds.pitch(level) * texelRows(*format, h);
            std::vector<uint8_t> out(bytes);
            encodeTexels(*format, image, out.data(), dds.pitch(level), 0, 0, w, h);
        }
    return 0;
}
