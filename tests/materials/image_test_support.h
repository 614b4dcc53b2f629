// Picture files made byte by byte (BMP, TGA, PCX) or through libjpeg's
// compressor, a memory stream to read them from, and the seams the reader
// tests share: the diagnostics level and the recorded message boxes.
#pragma once

#include "foundation/diagnostics.h"
#include "foundation/memory_stream.h"
#include "materials/image.h"
#include "materials/image_cache.h"

#include "file_bytes.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <jpeglib.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace imagetest {

// Sets the diagnostics level for one test and starts with no boxes, each
// check showing its box again as in a new run.
struct DiagnosticsScope {
    int saved = diagnosticsLevel;
    explicit DiagnosticsScope(int level)
    {
        diagnosticsLevel = level;
        platform::clearRecordedMessageBoxes();
        forgetFailedAssertions();
    }
    ~DiagnosticsScope()
    {
        diagnosticsLevel = saved;
        platform::clearRecordedMessageBoxes();
    }
};

inline std::vector<std::string> boxTexts()
{
    std::vector<std::string> texts;
    for (const auto& box : platform::recordedMessageBoxes())
        texts.push_back(box.text);
    return texts;
}

// The one box shown, which must be an "Error" box.
inline std::string onlyErrorBox()
{
    const auto& boxes = platform::recordedMessageBoxes();
    if (boxes.size() != 1)
        return "<" + std::to_string(boxes.size()) + " boxes>";
    EXPECT_EQ(boxes[0].caption, "Error");
    return boxes[0].text;
}

// Owns what a reader returned.
struct ImageRef {
    Image* image = nullptr;
    explicit ImageRef(Image* i) : image(i) {}
    ImageRef(const ImageRef&) = delete;
    ImageRef& operator=(const ImageRef&) = delete;
    ~ImageRef()
    {
        if (image)
            image->release();
    }
    Image* operator->() const { return image; }
    explicit operator bool() const { return image != nullptr; }
};

// A deterministic generator for patterns and corruptions.
struct Lcg {
    u64 state;
    u32 next()
    {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return (u32)(state >> 33);
    }
    u32 below(u32 n) { return next() % n; }
};

inline void put16(std::string& s, size_t at, u32 v)
{
    s[at] = (char)(v & 0xFF);
    s[at + 1] = (char)((v >> 8) & 0xFF);
}

inline void put32(std::string& s, size_t at, u32 v)
{
    put16(s, at, v & 0xFFFF);
    put16(s, at + 2, v >> 16);
}

inline u32 rgb(u32 r, u32 g, u32 b)
{
    return 0xFF000000u | r << 16 | g << 8 | b;
}

// ---- BMP -----------------------------------------------------------------

struct BmpSpec {
    i32 width = 0;
    i32 height = 0;
    std::vector<u8> indices;  // width x height, top row first
    std::vector<u32> palette; // 0xRRGGBB, written as blue, green, red, 0
    u32 coloursUsed = 0;      // the header field (0 means 256)
    u16 bitCount = 8;
    u16 planes = 1;
    u32 compression = 0;
    i64 pixelOffset = -1; // -1: palette size + 54
    i32 headerHeight = 0; // 0: height
    bool lastRowPadding = true;
};

inline std::string makeBmp(const BmpSpec& b)
{
    std::string f(54, '\0');
    f[0] = 'B';
    f[1] = 'M';
    const u32 stride = ((u32)b.width + 3) & ~3u;
    put32(f, 10, b.pixelOffset >= 0 ? (u32)b.pixelOffset : (u32)(54 + b.palette.size() * 4));
    put32(f, 14, 40);
    put32(f, 18, (u32)b.width);
    put32(f, 22, (u32)(b.headerHeight ? b.headerHeight : b.height));
    put16(f, 26, b.planes);
    put16(f, 28, b.bitCount);
    put32(f, 30, b.compression);
    put32(f, 34, stride * (u32)b.height);
    put32(f, 46, b.coloursUsed);
    for (u32 c : b.palette) {
        f += (char)(c & 0xFF);
        f += (char)((c >> 8) & 0xFF);
        f += (char)((c >> 16) & 0xFF);
        f += '\0';
    }
    for (i32 row = b.height - 1; row >= 0; --row) {
        for (i32 x = 0; x < b.width; ++x)
            f += (char)b.indices[(size_t)row * b.width + x];
        if (row > 0 || b.lastRowPadding)
            f.append(stride - (u32)b.width, '\0');
    }
    put32(f, 2, (u32)f.size());
    return f;
}

// A width x height picture over a palette of `colours` entries.
inline BmpSpec bmpPattern(i32 width, i32 height, u32 colours)
{
    BmpSpec b;
    b.width = width;
    b.height = height;
    for (u32 i = 0; i < colours; ++i)
        b.palette.push_back(((i * 37 + 11) & 0xFF) << 16 | ((i * 91 + 7) & 0xFF) << 8 | (255 - i * 13 % 256));
    b.coloursUsed = colours == 256 ? 0 : colours;
    for (i32 i = 0; i < width * height; ++i)
        b.indices.push_back((u8)((i * 7 + 3) % colours));
    return b;
}

inline u32 bmpExpected(const BmpSpec& b, i32 x, i32 y)
{
    const u8 index = b.indices[(size_t)y * b.width + x];
    return index < b.palette.size() ? (0xFF000000u | b.palette[index]) : 0xFF000000u;
}

// ---- TGA -----------------------------------------------------------------

struct TgaSpec {
    u8 imageType = 2;
    u8 bits = 32;
    u16 width = 0;
    u16 height = 0;
    u8 descriptor = 0;
    std::string id;
    u8 colourMapType = 0;
    u16 colourMapLength = 0;
    u8 colourMapBits = 0;
    std::string pixels; // file pixels, file order
};

inline std::string tgaHeader(const TgaSpec& t)
{
    std::string f(18, '\0');
    f[0] = (char)t.id.size();
    f[1] = (char)t.colourMapType;
    f[2] = (char)t.imageType;
    put16(f, 5, t.colourMapLength);
    f[7] = (char)t.colourMapBits;
    put16(f, 12, t.width);
    put16(f, 14, t.height);
    f[16] = (char)t.bits;
    f[17] = (char)t.descriptor;
    f += t.id;
    f.append((size_t)t.colourMapLength * ((t.colourMapBits + 7) / 8), '\x5A');
    return f;
}

// Run-length codes the pixels: runs of equal pixels, literals otherwise;
// packets run on across rows unless perRow.
inline std::string tgaRunLength(const std::string& pixels, u32 bytesPerPixel, u32 width, bool perRow)
{
    std::string out;
    const u32 count = (u32)(pixels.size() / bytesPerPixel);
    auto pixel = [&](u32 i) { return pixels.substr((size_t)i * bytesPerPixel, bytesPerPixel); };
    u32 i = 0;
    while (i < count) {
        const u32 limit = perRow ? std::min(count, (i / width + 1) * width) : count;
        u32 run = 1;
        while (i + run < limit && run < 128 && pixel(i + run) == pixel(i))
            ++run;
        if (run > 1) {
            out += (char)(0x80 | (run - 1));
            out += pixel(i);
            i += run;
            continue;
        }
        u32 lit = 1;
        while (i + lit < limit && lit < 128 && !(i + lit + 1 < limit && pixel(i + lit) == pixel(i + lit + 1)))
            ++lit;
        out += (char)(lit - 1);
        out += pixels.substr((size_t)i * bytesPerPixel, (size_t)lit * bytesPerPixel);
        i += lit;
    }
    return out;
}

inline std::string makeTga(const TgaSpec& t, bool perRowPackets = false)
{
    std::string f = tgaHeader(t);
    if (t.imageType == 10)
        f += tgaRunLength(t.pixels, t.bits / 8u, t.width, perRowPackets);
    else
        f += t.pixels;
    return f;
}

// Pixels with repeated stretches, so run-length packets of both kinds occur.
inline std::string tgaPattern(u32 width, u32 height, u32 bytesPerPixel)
{
    std::string p;
    for (u32 y = 0; y < height; ++y)
        for (u32 x = 0; x < width; ++x) {
            const u32 v = (x / 3 + y * 5) % 7;
            for (u32 c = 0; c < bytesPerPixel; ++c)
                p += (char)(v * 30 + c * 50 + (x > width / 2 ? x : 0));
        }
    return p;
}

// ---- PCX -----------------------------------------------------------------

struct PcxSpec {
    i32 width = 0;
    i32 height = 0;
    u32 bytesPerLine = 0; // 0: width
    u8 bits = 8;
    u8 planes = 1;
    u16 xMin = 0;
    u16 yMin = 0;
    std::vector<u8> indices; // width x height, top row first
    std::vector<u8> palette; // 768 bytes RGB
};

inline std::string pcxRunLength(const std::vector<u8>& bytes)
{
    std::string out;
    size_t i = 0;
    while (i < bytes.size()) {
        size_t run = 1;
        while (i + run < bytes.size() && run < 63 && bytes[i + run] == bytes[i])
            ++run;
        if (run > 1 || bytes[i] >= 0xC0)
            out += (char)(0xC0 | run);
        out += (char)bytes[i];
        i += run;
    }
    return out;
}

inline std::string pcxHeader(const PcxSpec& p)
{
    std::string f(128, '\0');
    f[0] = 10;
    f[1] = 5;
    f[2] = 1;
    f[3] = (char)p.bits;
    put16(f, 4, p.xMin);
    put16(f, 6, p.yMin);
    put16(f, 8, (u32)(p.xMin + p.width - 1));
    put16(f, 10, (u32)(p.yMin + p.height - 1));
    f[65] = (char)p.planes;
    put16(f, 66, p.bytesPerLine ? p.bytesPerLine : (u32)p.width);
    put16(f, 68, 1);
    return f;
}

// The coded lines run on into each other: one stream over all lines.
inline std::string makePcx(const PcxSpec& p)
{
    const u32 line = p.bytesPerLine ? p.bytesPerLine : (u32)p.width;
    std::vector<u8> raw;
    for (i32 y = 0; y < p.height; ++y) {
        for (i32 x = 0; x < p.width; ++x)
            raw.push_back(p.indices[(size_t)y * p.width + x]);
        for (u32 x = (u32)p.width; x < line; ++x)
            raw.push_back(0xEE);
    }
    std::string f = pcxHeader(p) + pcxRunLength(raw);
    f += '\x0C';
    f.append(p.palette.begin(), p.palette.end());
    return f;
}

inline PcxSpec pcxPattern(i32 width, i32 height)
{
    PcxSpec p;
    p.width = width;
    p.height = height;
    for (u32 i = 0; i < 768; ++i)
        p.palette.push_back((u8)(i * 29 + i / 3));
    for (i32 y = 0; y < height; ++y)
        for (i32 x = 0; x < width; ++x)
            p.indices.push_back((u8)(x < width / 2 ? 0xC7 : (x * 13 + y * 41) % 256));
    return p;
}

inline u32 pcxExpected(const PcxSpec& p, i32 x, i32 y)
{
    const u8 i = p.indices[(size_t)y * p.width + x];
    return rgb(p.palette[i * 3u], p.palette[i * 3u + 1], p.palette[i * 3u + 2]);
}

// ---- JPEG ----------------------------------------------------------------

struct JpegSpec {
    int width = 0;
    int height = 0;
    int components = 3; // 1 grey, 3 RGB, 4 CMYK
    int quality = 100;
    bool progressive = false;
    std::vector<u8> samples; // width x height x components, top row first
    std::string appMarker;   // written as an APP5 marker when not empty
};

inline std::string makeJpeg(const JpegSpec& s)
{
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&c, &out, &outSize);
    c.image_width = (JDIMENSION)s.width;
    c.image_height = (JDIMENSION)s.height;
    c.input_components = s.components;
    c.in_color_space = s.components == 1 ? JCS_GRAYSCALE : s.components == 4 ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, s.quality, TRUE);
    if (s.components == 3) {
        // Full-resolution colour, so pixel checks stay tight.
        for (int i = 0; i < 3; ++i)
            c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
    }
    if (s.progressive)
        jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    if (!s.appMarker.empty())
        jpeg_write_marker(&c, JPEG_APP0 + 5, reinterpret_cast<const JOCTET*>(s.appMarker.data()),
                          (unsigned)s.appMarker.size());
    const size_t rowBytes = (size_t)s.width * s.components;
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(s.samples.data() + c.next_scanline * rowBytes);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    std::string bytes(reinterpret_cast<const char*>(out), outSize);
    jpeg_destroy_compress(&c);
    std::free(out);
    return bytes;
}

// Smooth colours, which JPEG keeps within a few steps at quality 100.
inline JpegSpec jpegPattern(int width, int height, int components)
{
    JpegSpec s;
    s.width = width;
    s.height = height;
    s.components = components;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < components; ++c)
                s.samples.push_back((u8)(c == 0 ? 40 + x * 150 / width : c == 1 ? 30 + y * 170 / height
                                                                              : 200 - (x + y) * 100 / (width + height)));
    return s;
}

// Whether every channel of the picture is within tolerance of the samples.
// Only the first `rows` rows of the samples are compared when given.
inline ::testing::AssertionResult jpegClose(const Image& image, const JpegSpec& s, bool bottomUp, int tolerance,
                                            int rows = -1)
{
    if (image.width != s.width || image.height != s.height || image.bytesPerPixel != 0)
        return ::testing::AssertionFailure() << "size " << image.width << "x" << image.height;
    for (int y = 0; y < (rows < 0 ? s.height : rows); ++y)
        for (int x = 0; x < s.width; ++x) {
            const u32 p = image.pixel(x, bottomUp ? s.height - 1 - y : y);
            const u8* in = &s.samples[((size_t)y * s.width + x) * s.components];
            const int want[3] = {in[0], in[s.components == 3 ? 1 : 0], in[s.components == 3 ? 2 : 0]};
            const int got[3] = {(int)(p >> 16 & 0xFF), (int)(p >> 8 & 0xFF), (int)(p & 0xFF)};
            if ((p >> 24) != 0xFF)
                return ::testing::AssertionFailure() << "alpha at " << x << "," << y;
            for (int c = 0; c < 3; ++c)
                if (std::abs(got[c] - want[c]) > tolerance)
                    return ::testing::AssertionFailure() << "channel " << c << " at " << x << "," << y << ": "
                                                         << got[c] << " vs " << want[c];
        }
    return ::testing::AssertionSuccess();
}

// ---- files on disk -------------------------------------------------------

struct TempDir {
    std::filesystem::path path;
    TempDir()
    {
        static int counter = 0;
        path = std::filesystem::temp_directory_path() /
               ("quillon_images_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
        std::filesystem::create_directories(path);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string file(const std::string& name) const { return (path / name).string(); }
};

inline void writeFile(const std::string& path, const std::string& bytes)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

inline std::string readFile(const std::string& path)
{
    return fileBytes(path);
}

} // namespace imagetest
