// The video reader of the renderer over arbitrary bytes: a file that opens
// decodes frame after frame into the size it announced, and ends.
#include "platform/dshow/dshow_internal.h"

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The reader opens files by name.
    const std::string path = "/tmp/fuzz_video_" + std::to_string(getpid());
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    HRESULT hr = S_OK;
    platform::dshow::VideoSource* source = platform::dshow::openVideoFile(path, &hr);
    if (source) {
        std::vector<unsigned char> pixels;
        REFERENCE_TIME start = 0;
        // Bounded work: a few frames of a size the reader accepted.
        for (int i = 0; i < 8 && source->nextFrame(pixels, start); ++i)
            if (pixels.size() != size_t(source->width()) * size_t(source->height()) * 4)
                std::abort();
        delete source;
    }
    std::remove(path.c_str());
    return 0;
}
