// JPEG files through libjpeg. libjpeg's own error handler would end the
// process on a damaged file; here it jumps back to loadJPEG, which then
// destroys the decompressor and fails like the other readers. Warnings
// (corrupt data the decoder recovers from) are not shown.
//
// The decoder writes 0xAARRGGBB words straight into the image: libjpeg's
// extended colour spaces put the bytes in the order that makes those words
// in memory, with the alpha byte set to 0xFF, for colour and grey files.
#include "foundation/byte_string.h"
#include "materials/image_readers.h"
#include "materials/image_readers_local.h"
#include "materials/jpeg_stream_source.h"

#include <bit>
#include <csetjmp>
#include <cstring>

namespace {

// Far more scans than any encoder writes; a crafted file could otherwise
// keep the decoder busy for a very long time.
constexpr int kMaxScans = 500;

struct JpegErrorManager {
    jpeg_error_mgr pub;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

enum class JpegFailure { None, Library, GreyDepth, ColourDepth, TooLarge, NoMemory };

// Everything the decoding step touches lives here, outside the frame that
// calls setjmp, so nothing is lost when an error jumps back into it.
struct JpegJob {
    jpeg_decompress_struct cinfo;
    JpegErrorManager error;
    jpeg_progress_mgr progress;
    Stream* stream;
    const char* name;
    bool bottomUp;
    Image* image;
    JpegFailure failure;
};

[[noreturn]] void onErrorExit(j_common_ptr cinfo)
{
    auto* error = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, error->message);
    std::longjmp(error->jump, 1);
}

void onEmitMessage(j_common_ptr, int) {}

void onOutputMessage(j_common_ptr) {}

void onProgress(j_common_ptr cinfo)
{
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (cinfo->is_decompressor && d->input_scan_number > kMaxScans) {
        auto* error = reinterpret_cast<JpegErrorManager*>(cinfo->err);
        std::strcpy(error->message, "Too many scans");
        std::longjmp(error->jump, 1);
    }
}

constexpr J_COLOR_SPACE kWordOrder = std::endian::native == std::endian::little ? JCS_EXT_BGRA : JCS_EXT_ARGB;

// The libjpeg calls, from the header to the last row; false with
// job->failure set.
bool decode(JpegJob* job)
{
    if (setjmp(job->error.jump)) {
        job->failure = JpegFailure::Library;
        return false;
    }
    jpeg_decompress_struct& cinfo = job->cinfo;
    jpeg_create_decompress(&cinfo);
    cinfo.progress = &job->progress;
    jpegStreamSource(&cinfo, job->stream);
    jpeg_read_header(&cinfo, TRUE);
    if (cinfo.jpeg_color_space == JCS_GRAYSCALE ? cinfo.num_components != 1 : cinfo.num_components != 3) {
        job->failure = cinfo.jpeg_color_space == JCS_GRAYSCALE ? JpegFailure::GreyDepth : JpegFailure::ColourDepth;
        return false;
    }
    if (imageBlockBytes(cinfo.image_width, cinfo.image_height, 0) == 0) {
        job->failure = JpegFailure::TooLarge;
        return false;
    }
    cinfo.out_color_space = kWordOrder;
    jpeg_start_decompress(&cinfo);
    job->image = newImage(job->name, cinfo.output_width, cinfo.output_height, 0);
    if (!job->image) {
        job->failure = JpegFailure::NoMemory;
        return false;
    }
    const JDIMENSION width = cinfo.output_width;
    const JDIMENSION height = cinfo.output_height;
    while (cinfo.output_scanline < height) {
        const JDIMENSION y = job->bottomUp ? height - 1 - cinfo.output_scanline : cinfo.output_scanline;
        JSAMPROW row = reinterpret_cast<JSAMPROW>(job->image->pixels + (u64)y * width);
        // The stream source never suspends, so no row means a broken decoder.
        if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) {
            job->failure = JpegFailure::Library;
            std::strcpy(job->error.message, "Decoding stopped early");
            return false;
        }
    }
    jpeg_finish_decompress(&cinfo);
    return true;
}

String failureText(const JpegJob& job)
{
    switch (job.failure) {
    case JpegFailure::GreyDepth:
        return String::format("Wrong grayscale JPEG color depth: %d bit", job.cinfo.num_components * 8);
    case JpegFailure::ColourDepth:
        return String::format("Wrong non-grayscale JPEG color depth: %d bit", job.cinfo.num_components * 8);
    case JpegFailure::TooLarge:
        return String::format("loadJPEG: Picture too large: %u x %u", job.cinfo.image_width, job.cinfo.image_height);
    case JpegFailure::NoMemory:
        return String("loadJPEG: Out of memory");
    default:
        return String::format("loadJPEG: %s", job.error.message);
    }
}

} // namespace

Image* loadJPEG(Stream& file, const char* name, bool bottomUp)
{
    if (!file.open(name))
        return nullptr;
    auto* job = new JpegJob{};
    job->cinfo.err = jpeg_std_error(&job->error.pub);
    job->error.pub.error_exit = onErrorExit;
    job->error.pub.emit_message = onEmitMessage;
    job->error.pub.output_message = onOutputMessage;
    job->progress.progress_monitor = onProgress;
    job->stream = &file;
    job->name = name;
    job->bottomUp = bottomUp;
    const bool decoded = decode(job);
    const String failure = decoded ? String() : failureText(*job);
    jpeg_destroy_decompress(&job->cinfo);
    file.close();
    Image* image = job->image;
    delete job;
    if (!decoded) {
        delete image;
        showImageError(failure.c_str());
        return nullptr;
    }
    return image;
}
