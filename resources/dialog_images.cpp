#include "resources/dialog_images.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

struct Canvas {
    int width, height;
    std::vector<uint8_t> rgba; // top-down

    Canvas(int w, int h) : width(w), height(h), rgba(size_t(w) * h * 4, 0) {}

    void put(int x, int y, uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255)
    {
        if (x < 0 || y < 0 || x >= width || y >= height)
            return;
        uint8_t* p = &rgba[(size_t(y) * width + x) * 4];
        p[0] = r;
        p[1] = g;
        p[2] = b;
        p[3] = a;
    }
};

// 5 x 7 glyphs, one row per byte, the leftmost column in bit 4; only the
// characters the banner uses.
struct Glyph {
    char c;
    uint8_t rows[7];
};

const Glyph kGlyphs[] = {
    {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
};

const Glyph* glyph(char c)
{
    for (const Glyph& g : kGlyphs)
        if (g.c == c)
            return &g;
    return nullptr; // a space
}

int textWidth(const char* text, int scale)
{
    const int n = (int)std::strlen(text);
    return n ? n * 6 * scale - scale : 0;
}

void drawText(Canvas& c, const char* text, int x, int y, int scale, uint8_t r, uint8_t g, uint8_t b)
{
    for (; *text; ++text, x += 6 * scale) {
        const Glyph* gl = glyph(*text);
        if (!gl)
            continue;
        for (int row = 0; row < 7; ++row)
            for (int col = 0; col < 5; ++col)
                if (gl->rows[row] & (0x10 >> col))
                    for (int dy = 0; dy < scale; ++dy)
                        for (int dx = 0; dx < scale; ++dx)
                            c.put(x + col * scale + dx, y + row * scale + dy, r, g, b);
    }
}

void drawShadowedText(Canvas& c, const char* text, int y, int scale)
{
    const int x = (c.width - textWidth(text, scale)) / 2;
    drawText(c, text, x + 1, y + 1, scale, 10, 10, 24);
    drawText(c, text, x, y, scale, 250, 244, 226);
}

void putLE(std::vector<unsigned char>& out, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back((unsigned char)(v >> (8 * i)));
}

// A bottom-up BI_RGB .bmp of 24 or 32 bits (the fourth byte is alpha).
std::vector<unsigned char> encodeBmp(const Canvas& c, int bits)
{
    const int bytesPerPixel = bits / 8;
    const uint32_t stride = (uint32_t(c.width) * bytesPerPixel + 3) & ~3u;
    const uint32_t imageSize = stride * c.height;
    std::vector<unsigned char> out;
    out.reserve(54 + imageSize);
    out.push_back('B');
    out.push_back('M');
    putLE(out, 54 + imageSize, 4);
    putLE(out, 0, 4);
    putLE(out, 54, 4);
    putLE(out, 40, 4);
    putLE(out, c.width, 4);
    putLE(out, c.height, 4);
    putLE(out, 1, 2);
    putLE(out, bits, 2);
    putLE(out, 0, 4); // BI_RGB
    putLE(out, imageSize, 4);
    putLE(out, 2835, 4);
    putLE(out, 2835, 4);
    putLE(out, 0, 4);
    putLE(out, 0, 4);
    for (int y = c.height - 1; y >= 0; --y) {
        const uint8_t* row = &c.rgba[size_t(y) * c.width * 4];
        for (int x = 0; x < c.width; ++x) {
            out.push_back(row[x * 4 + 2]);
            out.push_back(row[x * 4 + 1]);
            out.push_back(row[x * 4 + 0]);
            if (bytesPerPixel == 4)
                out.push_back(row[x * 4 + 3]);
        }
        for (uint32_t pad = uint32_t(c.width) * bytesPerPixel; pad < stride; ++pad)
            out.push_back(0);
    }
    return out;
}

uint8_t mix(int a, int b, float t)
{
    return (uint8_t)std::lround(a + (b - a) * t);
}

std::vector<unsigned char> makeBanner()
{
    Canvas c(256, 64);
    const int horizon = 46;
    for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x < c.width; ++x) {
            if (y < horizon) {
                // Dusk sky: deep blue above, amber at the horizon.
                const float t = float(y) / (horizon - 1);
                c.put(x, y, mix(18, 214, t * t), mix(22, 120, t * t), mix(70, 64, t));
            } else {
                // The mere: a darker, rippled mirror of the sky.
                const float t = float(c.height - 1 - y) / (c.height - horizon);
                const float ripple = 0.85f + 0.15f * std::sin(x * 0.35f + y * 1.7f);
                c.put(x, y, mix(10, 120, t * t * ripple), mix(14, 70, t * t * ripple), mix(40, 52, t));
            }
        }
    }
    // Hills against the horizon.
    for (int x = 0; x < c.width; ++x) {
        const int top = horizon - 4 - int(5 * (1 + std::sin(x * 0.031f)) + 3 * (1 + std::sin(x * 0.11f + 1.0f)));
        for (int y = top; y < horizon; ++y)
            c.put(x, y, 24, 20, 36);
    }
    drawShadowedText(c, "THE HOLLOWMERE", 8, 2);
    drawShadowedText(c, "PEL 2004", 28, 1);
    return encodeBmp(c, 24);
}

std::vector<unsigned char> makeSpeaker()
{
    Canvas c(32, 32);
    // Body and cone.
    for (int y = 11; y < 21; ++y)
        for (int x = 4; x < 10; ++x)
            c.put(x, y, 60, 60, 70);
    for (int x = 10; x < 18; ++x) {
        const int half = 5 + (x - 10);
        for (int y = 16 - half; y < 16 + half; ++y)
            c.put(x, y, 70, 70, 84);
    }
    // Sound waves.
    for (int r = 0; r < 2; ++r) {
        const float radius = 6.0f + 5.0f * r;
        for (int a = -50; a <= 50; ++a) {
            const float angle = a * 3.14159265f / 180.0f;
            const int x = 17 + int(std::lround(radius * std::cos(angle)));
            const int y = 16 + int(std::lround(radius * std::sin(angle)));
            c.put(x, y, 40, 110, 200);
            c.put(x + 1, y, 40, 110, 200);
        }
    }
    return encodeBmp(c, 32);
}

} // namespace

namespace resources {

const std::vector<unsigned char>& startDialogBitmap()
{
    static const std::vector<unsigned char> bytes = makeBanner();
    return bytes;
}

const std::vector<unsigned char>& soundIcon()
{
    static const std::vector<unsigned char> bytes = makeSpeaker();
    return bytes;
}

} // namespace resources
