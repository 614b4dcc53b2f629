#include "materials/jpeg_stream_source.h"

namespace {

constexpr u32 kBlockBytes = 4096;

struct StreamSource {
    jpeg_source_mgr pub;
    Stream* stream;
    JOCTET* buffer;
    bool ended; // the stream is exhausted; only end markers follow
};

StreamSource* sourceOf(j_decompress_ptr cinfo)
{
    return reinterpret_cast<StreamSource*>(cinfo->src);
}

void initSource(j_decompress_ptr) {}

boolean fillInputBuffer(j_decompress_ptr cinfo)
{
    StreamSource* src = sourceOf(cinfo);
    u32 count = src->ended ? 0 : src->stream->read(src->buffer, kBlockBytes);
    if (count == 0) {
        src->ended = true;
        src->buffer[0] = 0xFF;
        src->buffer[1] = JPEG_EOI;
        count = 2;
    }
    src->pub.next_input_byte = src->buffer;
    src->pub.bytes_in_buffer = count;
    return TRUE;
}

void skipInputData(j_decompress_ptr cinfo, long count)
{
    StreamSource* src = sourceOf(cinfo);
    if (count <= 0)
        return;
    while ((size_t)count > src->pub.bytes_in_buffer) {
        count -= (long)src->pub.bytes_in_buffer;
        fillInputBuffer(cinfo);
        // Skipping past the end lands on the end marker.
        if (src->ended)
            return;
    }
    src->pub.next_input_byte += count;
    src->pub.bytes_in_buffer -= (size_t)count;
}

void termSource(j_decompress_ptr) {}

} // namespace

void jpegStreamSource(j_decompress_ptr cinfo, Stream* stream)
{
    auto* src = static_cast<StreamSource*>(
        (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(StreamSource)));
    src->buffer = static_cast<JOCTET*>(
        (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, kBlockBytes));
    src->stream = stream;
    src->ended = false;
    src->pub.init_source = initSource;
    src->pub.fill_input_buffer = fillInputBuffer;
    src->pub.skip_input_data = skipInputData;
    src->pub.resync_to_restart = jpeg_resync_to_restart;
    src->pub.term_source = termSource;
    src->pub.bytes_in_buffer = 0;
    src->pub.next_input_byte = nullptr;
    cinfo->src = &src->pub;
}
