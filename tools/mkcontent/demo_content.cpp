// The demo's own files: the script, the metascripts, the bitmap and 3D
// fonts, and every picture the objects and the overlays show. Pictures are
// drawn from a few deterministic patterns; what is drawn with "flag 8"
// (inverted brightness as alpha) is black on white.
#include "tools/mkcontent/content.h"
#include "tools/mkcontent/lwo2_emitter.h"
#include "tools/mkcontent/patterns.h"
#include "tools/mkcontent/string_stream.h"

#include "materials/image_readers.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <jpeglib.h>

namespace mkcontent {

namespace {

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

// Palette indices as a PCX file; ramp gives each index its colour.
template <typename Ramp>
std::string pcx8(const Picture& indices, Ramp ramp)
{
    std::string palette;
    for (u32 i = 0; i < 256; ++i) {
        const u32 c = pack(ramp(float(i) / 255.0f));
        palette += {char(c >> 16), char(c >> 8), char(c)};
    }
    StringStream out;
    savePCX(out, "wall.pcx", indices.width, indices.height, reinterpret_cast<const u8*>(indices.pixels.data()),
            reinterpret_cast<const u8*>(palette.data()));
    return out.bytes;
}

// ---- patterns

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

// ---- the objects' materials

// Distance in pixels from (x, y) to the nearest edge of a cell of w x h
// whose top left is at (0, 0); x and y lie in the cell.
int edgeDistance(int x, int y, int w, int h)
{
    return std::min(std::min(x, w - 1 - x), std::min(y, h - 1 - y));
}

// The floor: grey granite flagstones, 8 x 8 over the floor, in dark mortar;
// each stone its own shade and mottling, its edges worn darker. The greys
// stay neutral so what reflects the floor shows it grey.
Picture floorPicture()
{
    constexpr int size = 256, cell = 32;
    return picture(size, size, 3, [](int x, int y) {
        const int sx = x / cell, sy = y / cell;
        const int edge = edgeDistance(x % cell, y % cell, cell, cell);
        const float u = (float(x) + 0.5f) / size, v = (float(y) + 0.5f) / size;
        const float mottle = fractalNoise(u, v, 11, 16, 4);
        const float broad = fractalNoise(u, v, 15, 2, 2);
        if (edge < (mottle > 0.55f ? 2 : 1))
            return pack(scale(rgb(0x34322Eu), 0.8f + 0.4f * mottle));
        float level = (0.40f + 0.20f * lattice(sx, sy, 13)) * (0.78f + 0.44f * mottle) * (0.9f + 0.2f * broad);
        const float speck = lattice(x, y, 12);
        if (speck > 0.985f)
            level *= 1.3f;
        else if (speck < 0.02f)
            level *= 0.7f;
        if (edge < 5)
            level *= 0.8f + 0.04f * float(edge);
        const float tint = 0.05f * (lattice(sx, sy, 14) - 0.5f);
        return pack({level * (1.0f + tint), level, level * (1.0f - tint)});
    });
}

// The walls: sandstone blocks in courses, each course half a block along
// from the last, with mortar joints; the palette colours the brightness.
// The wall texture spans a 10 x 4 face, so a 32 x 32 block is 1.25 wide
// and half a unit high.
Picture wallIndices()
{
    constexpr int size = 256, cell = 32;
    return picture(size, size, 1, [](int x, int y) {
        const int course = y / cell;
        const int along = x + (course & 1) * cell / 2;
        const int block = (along / cell) % (size / cell);
        const int bx = along % cell, by = y % cell;
        const float u = (float(x) + 0.5f) / size, v = (float(y) + 0.5f) / size;
        const float grain = fractalNoise(u, v, 21, 16, 3);
        if (by < 3 || bx < 2)
            return u32(70.0f + 40.0f * grain);
        // Strata: bands along the courses, stretched eight to one.
        const float strata = valueNoise(u * 8.0f, v * 64.0f, 22, 8, 64);
        float level = (0.62f + 0.2f * lattice(block, course, 23)) * (0.8f + 0.25f * grain + 0.12f * strata);
        const int edge = std::min(std::min(bx - 2, cell - 1 - bx), std::min(by - 3, cell - 1 - by));
        if (edge < 3)
            level *= 0.84f + 0.05f * float(edge);
        return u32(clamp01(level) * 255.0f + 0.5f);
    });
}

Rgb sandstone(float t)
{
    return t < 0.5f ? mix(rgb(0x2A2018u), rgb(0x9C7A54u), t * 2.0f) : mix(rgb(0x9C7A54u), rgb(0xEAD6B0u), t * 2.0f - 1.0f);
}

// Wood grain along a board: rings of a log cut off-centre, bent by noise.
// along and across are pixels in the board's own frame; seed picks the
// log.
float woodGrain(float along, float across, u32 seed)
{
    const float bend = fractalNoise(along / 128.0f, across / 32.0f, seed, 2, 3);
    const float ring = fract((across + 9.0f * bend) / 6.0f + lattice(i32(seed), 0, 31) * 5.0f);
    const float streak = valueNoise(along / 6.0f, across * 1.5f, seed + 7, 0, 0);
    // Late wood: a dark band at each ring's end.
    return smooth01((ring - 0.6f) * 4.0f) * (1.0f - smooth01((ring - 0.9f) * 10.0f)) * 0.8f + 0.2f * streak;
}

// The crate's face: a frame of boards, planks across it, a diagonal
// brace; height gives each pixel's relief (0 in a gap, 1 on the frame).
struct CratePixel {
    float grain;
    float shade;  // the board's own tint
    float height; // 0 gap, 0.55 plank, 0.75 brace, 1 frame
};

CratePixel cratePixel(int x, int y)
{
    constexpr int size = 128, frame = 14;
    const float fx = float(x) + 0.5f, fy = float(y) + 0.5f;
    const bool top = y < frame, bottom = y >= size - frame;
    if (top || bottom || x < frame || x >= size - frame) {
        // Top and bottom boards run the full width over the sides.
        const bool across = top || bottom;
        const int along = across ? x : y, side = across ? (top ? y : size - 1 - y) : (x < frame ? x : size - 1 - x);
        const u32 board = top ? 1 : bottom ? 2 : x < frame ? 3 : 4;
        // Gaps only between boards: the face's own edge is wood, which is
        // also what a planar map stretches over the crate's sides.
        if (side == frame - 1 || (!across && (y == frame || y == size - frame - 1)))
            return {0.0f, 0.0f, 0.0f};
        // A nail near each end of the side boards.
        const int nailAt = (along < size / 2 ? frame / 2 : size - 1 - frame / 2);
        if (!across && std::abs(along - nailAt) <= 1 && std::abs(side - frame / 2) <= 1)
            return {1.0f, 0.35f, 0.9f};
        return {woodGrain(float(along), float(side), board), 0.9f + 0.2f * lattice(i32(board), 1, 32), 1.0f};
    }
    // The brace from bottom left to top right, 12 wide, over the planks.
    const float d = (fx + fy - float(size)) * 0.70710678f;
    if (std::abs(d) < 6.0f) {
        if (std::abs(d) > 5.0f)
            return {0.0f, 0.0f, 0.2f};
        return {woodGrain((fx - fy) * 0.70710678f + 200.0f, d + 6.0f, 5), 1.05f, 0.75f};
    }
    // Four planks of 25 between the frame's boards.
    const int plank = (y - frame) / 25, py = (y - frame) % 25;
    if (py == 0 || py == 24)
        return {0.0f, 0.0f, 0.0f};
    const u32 seed = 6 + u32(plank);
    return {woodGrain(fx + 40.0f * float(plank), float(py), seed), 0.85f + 0.2f * lattice(i32(seed), 1, 32), 0.55f};
}

Picture cratePicture()
{
    return picture(128, 128, 3, [](int x, int y) {
        const CratePixel p = cratePixel(x, y);
        if (p.height <= 0.2f)
            return 0x2A1A0Eu;
        return pack(scale(mix(rgb(0xCC955Cu), rgb(0x7E4E2Au), p.grain), p.shade));
    });
}

// The crate's relief: gaps sunk, the frame proud of the planks, the grain
// faintly raised.
Picture crateBumpPicture()
{
    return picture(128, 128, 1, [](int x, int y) {
        const CratePixel p = cratePixel(x, y);
        return u32(clamp01(0.12f + 0.72f * p.height + 0.1f * (1.0f - p.grain)) * 255.0f + 0.5f);
    });
}

// The glass cube's colour: green-tinted panes in a dark metal frame with a
// bright inner edge, two streaks of sheen across. Colour changes along
// rows only where the sheen or frame does, so the rle file has runs.
bool glassFrame(int x, int y)
{
    return edgeDistance(x, y, 128, 128) < 8;
}

int glassSheen(int x, int y) // 0 none, 1 broad, 2 narrow
{
    const int d = x + y;
    return d > 56 && d < 72 ? 1 : (d > 80 && d < 86 ? 2 : 0);
}

Picture glassPicture()
{
    return picture(128, 128, 3, [](int x, int y) {
        const int edge = edgeDistance(x, y, 128, 128);
        if (edge < 7)
            return edge == 0 || edge == 6 ? 0x1C302Cu : 0x3A5A52u;
        if (edge == 7)
            return 0x9CC8BCu;
        const Rgb pane = mix(rgb(0x60D098u), rgb(0x309C68u), float(y) / 127.0f);
        const int sheen = glassSheen(x, y);
        return pack(sheen ? mix(pane, rgb(0xF0FFF8u), sheen == 1 ? 0.45f : 0.7f) : pane);
    });
}

// Its transparency (white clear): the frame opaque, the panes tinted but
// clear enough to see through, the sheen less so.
Picture glassMaskPicture()
{
    return picture(128, 128, 1, [](int x, int y) {
        if (glassFrame(x, y))
            return 0x00u;
        return glassSheen(x, y) ? 0x20u : 0x58u;
    });
}

// The monitor's case: brushed steel, fine streaks along x over a faint
// cloudiness.
Picture brushedMetalPicture()
{
    return picture(128, 128, 1, [](int x, int y) {
        const float u = (float(x) + 0.5f) / 128.0f, v = (float(y) + 0.5f) / 128.0f;
        const float streaks = valueNoise(u * 4.0f, v * 128.0f, 61, 4, 128);
        const float fine = valueNoise(u * 16.0f, v * 128.0f, 63, 16, 128);
        const float cloud = fractalNoise(u, v, 62, 4, 2);
        return u32(clamp01(0.42f + 0.16f * streaks + 0.08f * fine + 0.14f * cloud) * 255.0f + 0.5f);
    });
}

// The monitor's screen before a scene renders into it: grey static with
// scan lines.
Picture staticPicture()
{
    return picture(128, 128, 1, [](int x, int y) {
        return u32(64.0f + 72.0f * lattice(x, y, 41) + 40.0f * valueNoise(float(x) / 16.0f, float(y), 42, 8, 0)) -
               u32(y & 1) * 24u;
    });
}

// ---- title card, loading screen and logo

// Night sky over a violet horizon glow, a perspective grid on the ground
// below, the name across the middle with a line under it and a subtitle;
// the top left stays dark for the white frame-rate label. A loading text
// goes near the bottom, just above the loading bar. Every size is a
// multiple of width / 64, so each size of the card shows the same picture.
Picture titleCard(int width, int height, const char* subtitle, const char* loading)
{
    const int unit = width / 64;
    const int titleScale = unit, smallScale = unit / 2;
    const char* title = "QUILLON";
    const int titleX = (width - textWidth(title, titleScale)) / 2, titleY = height * 30 / 100;
    const int lineY = titleY + (kTextHeight + 1) * titleScale, lineH = std::max(1, titleScale / 3);
    const int subX = (width - textWidth(subtitle, smallScale)) / 2, subY = lineY + lineH + titleScale;
    const int loadX = loading ? (width - textWidth(loading, smallScale)) / 2 : 0, loadY = height * 80 / 100;
    const float horizon = 0.76f;
    return picture(width, height, 3, [=](int x, int y) {
        const float u = (float(x) + 0.5f) / float(width), v = (float(y) + 0.5f) / float(height);
        Rgb c;
        if (v < horizon) {
            const float t = v / horizon;
            c = t < 0.6f ? mix(rgb(0x060A1Eu), rgb(0x1C1A4Cu), t / 0.6f)
                         : (t < 0.9f ? mix(rgb(0x1C1A4Cu), rgb(0x5C2C6Cu), (t - 0.6f) / 0.3f)
                                     : mix(rgb(0x5C2C6Cu), rgb(0xD8744Cu), (t - 0.9f) / 0.1f));
            // A star in a few of 80 x 60 cells, on the cell's first pixel.
            const int sx = x * 80 / width, sy = y * 60 / height;
            if (v < 0.55f && lattice(sx, sy, 51) > 0.96f && x == (sx * width + 79) / 80 && y == (sy * height + 59) / 60)
                c = mix(c, rgb(0xFFFFFFu), 0.4f + 0.6f * lattice(sx, sy, 52));
        } else {
            // Ground: distance grows as 1 / (v - horizon); lines fade into
            // the haze at the horizon.
            const float below = v - horizon;
            const float depth = 0.08f / below;
            const float gx = fract((u - 0.5f) * depth * 24.0f), gz = fract(depth * 3.0f);
            // Lines a pixel and a half wide: what x and y change per pixel.
            const float perX = depth * 24.0f / float(width), perY = 3.0f * depth / below / float(height);
            const bool line = gx < 1.5f * perX || gz < 1.5f * perY;
            c = mix(rgb(0x2A1430u), rgb(0x0A0814u), smooth01(below * 6.0f));
            if (line)
                c = mix(c, rgb(0xB050C0u), smooth01(below * 12.0f) * 0.8f);
        }
        const auto shadowed = [&](const char* text, int size, int x0, int y0, Rgb ink, Rgb inkLow) {
            if (textInk(text, size, x0, y0, x, y)) {
                c = mix(ink, inkLow, float(y - y0) / float(kTextHeight * size));
                return;
            }
            const int drop = std::max(1, size / 3);
            if (textInk(text, size, x0 + drop, y0 + drop, x, y))
                c = scale(c, 0.35f);
        };
        if (y >= lineY && y < lineY + lineH && x >= titleX && x < titleX + textWidth(title, titleScale))
            c = rgb(0xE08050u);
        shadowed(title, titleScale, titleX, titleY, rgb(0xFFFFFFu), rgb(0x9CC4FFu));
        shadowed(subtitle, smallScale, subX, subY, rgb(0xF0C8A0u), rgb(0xE0905Cu));
        if (loading)
            shadowed(loading, smallScale, loadX, loadY, rgb(0xD0D8F0u), rgb(0x8898C8u));
        return pack(c);
    });
}

// The logo's badge: the name in white on a blue gradient inside a lighter
// rim, with round corners; its alpha picture covers the badge whole, so
// what lies under the logo never shows through.
constexpr int kLogoWidth = 256, kLogoHeight = 128, kLogoRadius = 20, kLogoRim = 6;

// Inside the badge shrunk by inset on every side.
bool inLogoBadge(int x, int y, int inset = 0)
{
    const int r = kLogoRadius - inset;
    const int cx = std::clamp(x, inset + r, kLogoWidth - 1 - inset - r);
    const int cy = std::clamp(y, inset + r, kLogoHeight - 1 - inset - r);
    return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r;
}

Picture logoPicture()
{
    constexpr int scale = 5;
    const int x0 = (kLogoWidth - textWidth("QUILLON", scale)) / 2, y0 = (kLogoHeight - kTextHeight * scale) / 2;
    return picture(kLogoWidth, kLogoHeight, 3, [=](int x, int y) {
        if (textInk("QUILLON", scale, x0, y0, x, y))
            return 0xFFFFFFu;
        if (textInk("QUILLON", scale, x0 + 2, y0 + 2, x, y))
            return 0x081438u;
        if (!inLogoBadge(x, y, kLogoRim))
            return 0x8CB0F0u;
        return pack(mix(rgb(0x2E64D0u), rgb(0x0E2464u), float(y) / float(kLogoHeight)));
    });
}

Picture logoAlphaPicture()
{
    return picture(kLogoWidth, kLogoHeight, 1, [](int x, int y) { return inLogoBadge(x, y) ? 0xFFu : 0x00u; });
}

// The running order, about 35 s: intro, cross-fade to the hall, intro on
// the hall's monitor, the panel's picture fades, then the outro's title,
// which clears only the depth so the outro's crate shows under it. The
// outro loads behind the panel's picture, the title card: the screen fades
// to it, the loading screen shows the same card with its bar, and the
// outro fades in from it. Its texture is the first metascene's, so that
// one is freed only once the fade is over.
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
0:27.000 picfadeout 1.000 objects/panel.lwo@Panel
0:28.000 loadmetascript meta2.mts
0:28.000 picfadein 1.000 objects/panel.lwo@Panel
0:28.000 activemeta meta2
0:28.000 start scenes/outro
0:28.000 cam scenes/outro 0
0:28.000 createtext TITLE "THE END"
0:28.000 clear TITLE 2 0
0:28.000 cam TITLE 0
0:28.000 start TITLE
0:30.000 freemeta meta1
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
        // The title card with the loading text over the bar.
        {"loading.jpg", [] { return jpeg(titleCard(512, 384, "3D ENGINE", "LOADING")); }},
        {"crate.jpg", [] { return jpeg(cratePicture()); }},
        {"crate_bump.jpg", [] { return jpeg(crateBumpPicture()); }},
        {"grey.jpg", [] { return jpeg(staticPicture()); }},
        {"metal.jpg", [] { return jpeg(brushedMetalPicture()); }},
        {"env.jpg", [] { return jpeg(picture(256, 128, 3, [](int, int y) { return y < 64 ? 0x6080C0u : 0x404030u; })); }},
        // The panel's picture, faded in over the screen too: the title card.
        {"panel_noscale.jpg", [] { return jpeg(titleCard(256, 192, "3D ENGINE", nullptr)); }},
        {"mask.bmp", [] { return bmp8(glassMaskPicture()); }},
        {"wall.pcx", [] { return pcx8(wallIndices(), sandstone); }},
        {"decal.tga", [] { return tga32(glassPicture(), true); }},
        {"floor.tga", [] { return tga32(floorPicture(), false); }},
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
        // The logo's box is twice as wide as high: the badge, opaque.
        {"overlay/logo.jpg", [] { return jpeg(logoPicture()); }},
        {"overlay/logo_alpha.bmp", [] { return bmp8(logoAlphaPicture()); }},
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
