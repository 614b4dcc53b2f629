// Decoding a 1024 x 1024 JPEG (quality 90, made here from a fixed pattern)
// through the engine's reader (a resource stream, the stream source
// manager, 0xAARRGGBB pixels in a new Image) against a minimal direct
// libjpeg decode of the same bytes from memory into an RGB buffer. Both run
// in this process, interleaved, best of several repetitions. The last line
// is ratio=R: reader time over direct time.
#include "foundation/resource_stream.h"
#include "materials/image_readers.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>
#include <vector>

namespace {

constexpr int kSide = 1024;
constexpr int kRepetitions = 15;
constexpr WORD kResourceId = 991;

struct Lcg {
    u64 state;
    u32 next()
    {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return (u32)(state >> 33);
    }
};

// Gradients, rings and a little noise: photo-like content with both flat
// and busy areas.
std::vector<u8> makePicture()
{
    Lcg rng{424242};
    std::vector<u8> rgb((size_t)kSide * kSide * 3);
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            const double dx = x - kSide * 0.4;
            const double dy = y - kSide * 0.6;
            const double ring = std::sin(std::sqrt(dx * dx + dy * dy) * 0.05) * 60.0;
            const int noise = (int)(rng.next() % 24) - 12;
            u8* p = &rgb[((size_t)y * kSide + x) * 3];
            p[0] = (u8)std::clamp((int)(x * 200 / kSide + ring) + noise, 0, 255);
            p[1] = (u8)std::clamp((int)(y * 180 / kSide - ring * 0.5) + 40 + noise, 0, 255);
            p[2] = (u8)std::clamp((int)(128 + ring) + ((x / 64 + y / 64) % 2) * 40 + noise, 0, 255);
        }
    return rgb;
}

std::vector<u8> compress(const std::vector<u8>& rgb)
{
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&c, &out, &outSize);
    c.image_width = kSide;
    c.image_height = kSide;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(&rgb[(size_t)c.next_scanline * kSide * 3]);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<u8> bytes(out, out + outSize);
    jpeg_destroy_compress(&c);
    std::free(out);
    return bytes;
}

// The reference: libjpeg's own memory source and RGB rows, a few at a time.
std::vector<u8> decodeDirect(const std::vector<u8>& jpeg)
{
    jpeg_decompress_struct d;
    jpeg_error_mgr err;
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, jpeg.data(), (unsigned long)jpeg.size());
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d);
    const size_t stride = (size_t)d.output_width * 3;
    std::vector<u8> rgb(stride * d.output_height);
    while (d.output_scanline < d.output_height) {
        JSAMPROW rows[4];
        for (int i = 0; i < 4; ++i)
            rows[i] = &rgb[std::min<size_t>(d.output_scanline + i, d.output_height - 1) * stride];
        jpeg_read_scanlines(&d, rows, 4);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return rgb;
}

double seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

} // namespace

int main()
{
    const std::vector<u8> jpeg = compress(makePicture());
    platform::registerResource("BENCHJPG", kResourceId, jpeg.data(), jpeg.size());
    ResourceStream stream("BENCHJPG", kResourceId, "bench.jpg");

    double readerBest = 1e30;
    double directBest = 1e30;
    size_t mismatches = 0;
    for (int rep = 0; rep < kRepetitions; ++rep) {
        auto start = std::chrono::steady_clock::now();
        Image* image = loadJPEG(stream, "bench.jpg", false);
        readerBest = std::min(readerBest, seconds(start));

        start = std::chrono::steady_clock::now();
        const std::vector<u8> rgb = decodeDirect(jpeg);
        directBest = std::min(directBest, seconds(start));

        if (!image) {
            std::printf("the reader failed\n");
            return 1;
        }
        if (rep == 0) {
            for (size_t i = 0; i < (size_t)kSide * kSide; ++i) {
                const u32 p = image->pixels[i];
                const u32 want = 0xFF000000u | (u32)rgb[i * 3] << 16 | (u32)rgb[i * 3 + 1] << 8 | rgb[i * 3 + 2];
                mismatches += p != want;
            }
        }
        image->release();
    }
    std::printf("JPEG %d x %d, %zu bytes, best of %d\n", kSide, kSide, jpeg.size(), kRepetitions);
    std::printf("reader (stream, source manager, 0xAARRGGBB): %.3f ms\n", readerBest * 1e3);
    std::printf("direct libjpeg (memory source, RGB rows):    %.3f ms\n", directBest * 1e3);
    std::printf("pixels differing between the two: %zu\n", mismatches);
    std::printf("ratio=%.3f\n", readerBest / directBest);
    return mismatches == 0 ? 0 : 1;
}
