// The picture readers over arbitrary bytes: BMP, JPEG (through the stream
// source manager and the jump-back error handler), TGA (types 2 and 10,
// all pixel sizes) and PCX, each through the image cache as the engine
// calls them, and the raw file cache. The last input byte's low bit asks
// for bottom-up rows. The readers' own size limits apply unchanged, so a
// header claiming a huge picture is caught here as in the engine. Every
// returned pixel byte is read.
#include "foundation/diagnostics.h"
#include "foundation/resource_stream.h"
#include "materials/image_cache.h"
#include "materials/image_readers.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace {

constexpr WORD kResourceId = 78;

volatile u32 checksum;

void touch(const Image& image)
{
    const u64 pixelBytes = image.bytesPerPixel ? (u64)image.bytesPerPixel : 4u;
    const u64 bytes = (u64)image.width * (u64)image.height * pixelBytes;
    u32 sum = 0;
    for (u64 i = 0; i < bytes; ++i)
        sum += image.bytes()[i];
    checksum = checksum + sum;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    diagnosticsLevel = 0;
    const bool bottomUp = size > 0 && (data[size - 1] & 1) != 0;
    // Registering again replaces the previous input's bytes.
    platform::registerResource("IMAGE", kResourceId, data, size);
    for (const char* name : {"fuzz.bmp", "fuzz.JPG", "fuzz.tga", "fuzz.pcx"}) {
        ResourceStream stream("IMAGE", kResourceId, name);
        if (Image* image = loadImage(stream, name, bottomUp)) {
            touch(*image);
            image->release();
        }
    }
    ResourceStream raw("IMAGE", kResourceId, "fuzz.dds");
    if (FileData* file = loadFileCached(raw, "fuzz.dds"))
        file->release();
    clearImageCache();
    return 0;
}
