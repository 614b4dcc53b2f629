// The demo's own files: the script, the metascripts, the bitmap and 3D
// fonts, and every picture the objects and the overlays show. Pictures are
// drawn from a few deterministic patterns; what is drawn with "flag 8"
// (inverted brightness as alpha) is black on white.
#include "tools/mkcontent/content.h"
#include "tools/mkcontent/lwo2_emitter.h"
#include "tools/mkcontent/string_stream.h"

#include "materials/image_readers.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <jpeglib.h>

namespace mkcontent {

namespace {

// ---- glyphs: 5 x 7 cells, bit 4 the leftmost column

struct Glyph {
    char code;
    u8 rows[7];
};

constexpr Glyph kGlyphs[] = {
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}}, {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}}, {'D', {0x1E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1E}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}}, {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}}, {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}}, {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}}, {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}}, {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}}, {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}}, {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}}, {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}}, {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}}, {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04}}, {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}}, {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}}, {'%', {0x18, 0x19, 0x02, 0x04, 0x08, 0x13, 0x03}},
    {'(', {0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02}}, {')', {0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08}},
    {'/', {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x00}}, {'!', {0x04, 0x04, 0x04, 0x04, 0x04, 0x00, 0x04}},
    {'&', {0x0C, 0x12, 0x14, 0x08, 0x15, 0x12, 0x0D}},
};

// Lower case shares the capitals; codes without a glyph are blank.
const u8* glyphRows(char code)
{
    if (code >= 'a' && code <= 'z')
        code = char(code - 'a' + 'A');
    for (const Glyph& g : kGlyphs)
        if (g.code == code)
            return g.rows;
    return nullptr;
}

bool glyphPixel(char code, int column, int row)
{
    const u8* rows = glyphRows(code);
    return rows && column >= 0 && column < 5 && row >= 0 && row < 7 && (rows[row] >> (4 - column) & 1);
}

// ---- picture writers

// Grey or RGB pixels, rows top first.
struct Picture {
    int width;
    int height;
    int components; // 1 or 3
    std::string pixels;
};

template <typename Fill>
Picture picture(int width, int height, int components, Fill fill)
{
    Picture p{width, height, components, std::string(size_t(width) * height * components, '\0')};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const u32 rgb = fill(x, y);
            char* at = &p.pixels[(size_t(y) * width + x) * components];
            if (components == 1) {
                at[0] = char(rgb & 0xFF);
            } else {
                at[0] = char(rgb >> 16);
                at[1] = char(rgb >> 8);
                at[2] = char(rgb);
            }
        }
    return p;
}

std::string jpeg(const Picture& p)
{
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    errors.error_exit = [](j_common_ptr) { throw std::runtime_error("libjpeg failed"); };
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = JDIMENSION(p.width);
    info.image_height = JDIMENSION(p.height);
    info.input_components = p.components;
    info.in_color_space = p.components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = (JSAMPROW)&p.pixels[size_t(info.next_scanline) * p.width * p.components];
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    std::string out(reinterpret_cast<const char*>(buffer), size);
    jpeg_destroy_compress(&info);
    free(buffer);
    return out;
}

void put(std::string& out, u32 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(char(value >> (8 * i)));
}

// An 8-bit grey BMP: grey palette, rows bottom first, padded to 4 bytes.
std::string bmp8(const Picture& grey)
{
    const u32 stride = (u32(grey.width) + 3) & ~3u;
    const u32 offset = 14 + 40 + 1024;
    std::string out = "BM";
    put(out, offset + stride * u32(grey.height), 4);
    put(out, 0, 4);
    put(out, offset, 4);
    put(out, 40, 4);
    put(out, u32(grey.width), 4);
    put(out, u32(grey.height), 4);
    put(out, 1, 2);
    put(out, 8, 2);
    put(out, 0, 4); // no compression
    put(out, stride * u32(grey.height), 4);
    put(out, 2835, 4);
    put(out, 2835, 4);
    put(out, 256, 4);
    put(out, 0, 4);
    for (u32 i = 0; i < 256; ++i)
        put(out, i * 0x010101u, 4);
    for (int y = grey.height - 1; y >= 0; --y) {
        out.append(grey.pixels, size_t(y) * grey.width, size_t(grey.width));
        out.append(stride - u32(grey.width), '\0');
    }
    return out;
}

// 32-bit TGA, top row first; rle writes type 10 with run packets.
std::string tga32(const Picture& rgb, bool rle)
{
    std::string out;
    out.push_back(0);
    out.push_back(0);
    out.push_back(char(rle ? 10 : 2));
    out.append(5, '\0');
    put(out, 0, 2);
    put(out, 0, 2);
    put(out, u32(rgb.width), 2);
    put(out, u32(rgb.height), 2);
    out.push_back(32);
    out.push_back(0x28); // 8 alpha bits, top-left origin
    auto pixel = [&](int x, int y) {
        const char* at = &rgb.pixels[(size_t(y) * rgb.width + x) * 3];
        return std::string{at[2], at[1], at[0], char(0xFF)};
    };
    for (int y = 0; y < rgb.height; ++y)
        for (int x = 0; x < rgb.width;) {
            if (!rle) {
                out += pixel(x++, y);
                continue;
            }
            int run = 1;
            while (x + run < rgb.width && run < 128 && pixel(x + run, y) == pixel(x, y))
                ++run;
            if (run > 1) {
                out.push_back(char(0x80 | (run - 1)));
                out += pixel(x, y);
            } else {
                out.push_back(0);
                out += pixel(x, y);
            }
            x += run;
        }
    return out;
}

std::string pcx8(const Picture& grey)
{
    std::string palette;
    for (u32 i = 0; i < 256; ++i)
        palette.append(3, char(i));
    StringStream out;
    savePCX(out, "wall.pcx", grey.width, grey.height, reinterpret_cast<const u8*>(grey.pixels.data()),
            reinterpret_cast<const u8*>(palette.data()));
    return out.bytes;
}

// ---- patterns

u32 checker(int x, int y, int cell, u32 a, u32 b)
{
    return ((x / cell + y / cell) & 1) ? a : b;
}

// Black text on white, each glyph pixel scaleX x scaleY; the text starts at
// (x0, y0).
Picture textPicture(int width, int height, int components, const char* text, int scaleX, int scaleY, int x0, int y0)
{
    return picture(width, height, components, [=](int x, int y) {
        const int cx = (x - x0) / scaleX, cy = (y - y0) / scaleY;
        if (x >= x0 && y >= y0 && cx / 6 < int(std::strlen(text)) && glyphPixel(text[cx / 6], cx % 6, cy))
            return 0x000000u;
        return 0xFFFFFFu;
    });
}

Picture textPicture(int width, int height, int components, const char* text, int scale, int x0, int y0)
{
    return textPicture(width, height, components, text, scale, scale, x0, y0);
}

// The statistics font: 95 cells of 7 x 11 from the space on, black on
// white, each glyph at (1, 2) of its cell.
std::string smallFont()
{
    return bmp8(picture(95 * 7, 11, 1, [](int x, int y) {
        return glyphPixel(char(32 + x / 7), x % 7 - 1, y - 2) ? 0x00u : 0xFFu;
    }));
}

// The running order, about 35 s: intro, cross-fade to the hall, intro on
// the hall's monitor, the panel's picture fades, then the outro's title,
// which clears only the depth so the outro's crate shows under it.
const char* kSceneScript = R"(; the demo's running order
0:00.000 version "content-1"
0:00.000 loadmetascript meta1.mts
0:00.000 activemeta meta1
0:00.000 restart
0:00.000 start scenes/intro
0:00.000 cam scenes/intro 0
0:00.000 drawfps 1
0:00.000 fadein 2.000 0x000000
0:00.000 playogg music/demotune.ogg
0:03.000 cam scenes/intro 1
0:04.000 lightflash 1
0:05.000 lightflash 0
0:05.000 fov 1
0:06.000 fov 0
0:06.500 flash 1.000 0xFFFFFF
0:07.000 setwireframe 1
0:07.500 setwireframe 0
0:08.000 start scenes/hall
0:08.000 xfade scenes/hall 1500
0:10.000 setrt scenes/intro objects/monitor.lwo@Screen
0:10.000 start scenes/intro
0:12.000 cam scenes/hall 1
0:13.000 hold scenes/hall
0:14.000 continue scenes/hall
0:15.000 setpos scenes/hall 2000
0:16.000 screenshot scenes/intro 1500
0:17.000 cam scenes/hall 2
0:18.000 lightfalloff 1
0:19.000 lightfalloff 0
0:20.000 stop scenes/intro
0:20.000 stop scenes/hall
0:20.000 start scenes/fx
0:20.000 cam scenes/fx 0
0:20.000 picfadein 1.000 objects/panel.lwo@Panel
0:24.000 picflash 1.000 objects/panel.lwo@Panel
0:27.000 fadeout 1.000 0x000000
0:28.000 loadmetascript meta2.mts
0:28.000 activemeta meta2
0:28.000 freemeta meta1
0:28.000 start scenes/outro
0:28.000 cam scenes/outro 0
0:28.000 createtext TITLE "THE END"
0:28.000 clear TITLE 2 0
0:28.000 cam TITLE 0
0:28.000 start TITLE
0:28.000 fadein 1.000 0x000000
0:30.000 disablelogos 1
0:33.000 fadeout 2.000 0xFFFFFF
0:35.000 stopdemo
)";

// Everything the running order leaves out: the loop, the blur, the user
// camera, the scenes built by commands and the ignored keywords.
const char* kTestScript = R"(; test-only running order
0:00.000 version "test-1"
0:00.000 loadmeta ignored
0:00.000 loadmetascript meta2.mts
0:00.000 activemeta meta2
0:00.000 start scenes/outro
0:00.000 restart
0:00.000 playogg music/demotune.ogg
0:00.100 createmeta built
0:00.100 activemeta built
0:00.100 createscene room
0:00.100 loadobjectlayer room objects/crate.lwo 0
0:00.100 start room
0:00.100 activemeta meta2
0:00.200 blur scenes/outro 0.500 0.3
0:00.200 setusercamscene scenes/outro
0:00.200 setbounds -5 -1 -5 5 4 5
0:00.200 setusercamspeed 0.010
0:00.200 setusercamshiftspeed 0.020
0:00.200 imposters 1
0:00.200 texanims 1
0:00.300 viewmove scenes/outro 0 0 1 1
0:00.300 view scenes/outro 0 0 1 1
0:00.300 addcam x y
0:00.300 loadpic a.jpg
0:00.300 freepic a.jpg
0:00.300 playsyn a b
0:00.300 playnone
0:00.300 imssetpos 0 0
0:00.300 imsfadeout 1
0:00.400 freemeta built
0:00.500 stopsound
0:00.600 stopdemo
)";

std::string metascript(std::initializer_list<const char*> scenes)
{
    std::string out;
    for (const char* scene : scenes)
        out += std::string(scene) + " scene\r\n";
    return out;
}

// A grey picture in colour: black becomes ink, white paper.
Picture tinted(const Picture& grey, u32 ink, u32 paper = 0xF0F0F0u)
{
    return picture(grey.width, grey.height, 3, [&](int x, int y) {
        return u8(grey.pixels[size_t(y) * grey.width + x]) < 128 ? ink : paper;
    });
}

Picture logoPicture()
{
    return textPicture(256, 128, 1, "QUILLON", 6, 5, 43);
}

// The label's box is about 3.35 times as wide as high (134 x 40 at 640 x
// 480, 213 x 64 at 1024 x 768) and starts a quarter of its width left of
// the screen; its right seventh lies under the first digit, and its top
// fifth under the user camera's mode name. The ink keeps to what is left,
// its pixels wider than high so the letters come out square.
Picture fpsLabelPicture()
{
    return textPicture(256, 64, 1, "FPS", 8, 6, 76, 14);
}

std::string textPictureFile(const char* text, int width, int height, int scale)
{
    return jpeg(textPicture(width, height, 1, text, scale, scale, scale));
}

} // namespace

std::string demoTestScript()
{
    return kTestScript;
}

std::vector<ContentFile> demoFiles()
{
    std::vector<ContentFile> files = {
        {"scene.scr", [] { return std::string(kSceneScript); }},
        {"meta1.mts", [] { return metascript({"scenes/intro.lws", "scenes/hall.lws", "scenes/fx.lws"}); }},
        {"meta2.mts", [] { return metascript({"scenes/outro.lws"}); }},
        {"small.bmp", smallFont},
        // Dark, as the demo around it: light letters on night blue.
        {"loading.jpg", [] {
             return jpeg(tinted(textPicture(512, 384, 1, "LOADING", 8, 120, 150), 0x8098D0u, 0x101828u));
         }},
        {"crate.jpg", [] { return jpeg(picture(128, 128, 3, [](int x, int y) { return checker(x, y, 16, 0x8B5A2Bu, 0xC08040u); })); }},
        // Grooves along the crate's boards: low where the checker cells meet.
        {"crate_bump.jpg", [] { return jpeg(picture(128, 128, 1, [](int x, int y) {
             return (x % 16 < 2 || y % 16 < 2) ? 0x20u : 0xC0u;
         })); }},
        {"grey.jpg", [] { return jpeg(picture(128, 128, 1, [](int x, int y) { return u32((x + y) & 0xFF); })); }},
        {"env.jpg", [] { return jpeg(picture(256, 128, 3, [](int, int y) { return y < 64 ? 0x6080C0u : 0x404030u; })); }},
        {"panel_noscale.jpg", [] { return jpeg(picture(256, 128, 3, [](int x, int y) { return checker(x, y, 32, 0xC02020u, 0xF0F0F0u); })); }},
        {"mask.bmp", [] { return bmp8(picture(128, 128, 1, [](int x, int) { return u32(x * 2); })); }},
        {"wall.pcx", [] { return pcx8(picture(128, 128, 1, [](int x, int y) { return checker(x, y, 8, 0x60u, 0xA0u); })); }},
        {"decal.tga", [] { return tga32(picture(128, 128, 3, [](int x, int y) { return checker(x, y, 32, 0x20C020u, 0xFFFFFFu); }), true); }},
        {"floor.tga", [] { return tga32(picture(128, 128, 3, [](int x, int y) { return checker(x, y, 16, 0x505050u, 0x909090u); }), false); }},
    };
    for (int i = 1; i <= 8; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "seq/frame%03d.jpg", i);
        files.push_back({name, [i] {
                             const char digit[2] = {char('0' + i), 0};
                             return jpeg(textPicture(128, 128, 3, digit, 12, 30, 20));
                         }});
    }
    return files;
}

std::vector<ContentFile> overlayFiles()
{
    std::vector<ContentFile> files = {
        // The logo's box is twice as wide as high: the whole name, centred.
        {"overlay/logo.jpg", [] { return jpeg(tinted(logoPicture(), 0x3060C0u)); }},
        {"overlay/logo_alpha.bmp", [] { return bmp8(logoPicture()); }},
        {"overlay/url.bmp", [] { return bmp8(textPicture(256, 32, 1, "QUILLON.EXAMPLE", 2, 4, 8)); }},
        {"overlay/fps.jpg", [] { return jpeg(fpsLabelPicture()); }},
    };
    for (int i = 0; i < 10; ++i)
        files.push_back({"overlay/" + std::to_string(i) + ".jpg", [i] {
                             const char digit[2] = {char('0' + i), 0};
                             return textPictureFile(digit, 64, 64, 6);
                         }});
    return files;
}

} // namespace mkcontent
