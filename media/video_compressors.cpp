#include "media/video_compressors.h"

std::vector<std::string> listVideoCompressors()
{
    // Empty until the frame-capture code fills it from the compressor category.
    return {};
}
