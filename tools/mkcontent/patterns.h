// Procedural patterns for the generated pictures: lattice value noise that
// tiles over the picture, colour mixing, and the glyph lettering. Only
// +, -, x, / and sqrt on floats, so the same sources give the same bytes
// whatever libm the build machine has.
#pragma once

#include "foundation/types.h"

namespace mkcontent {

// A float colour, 0 to 1 a channel.
struct Rgb {
    float r, g, b;
};

Rgb rgb(u32 packed); // 0xRRGGBB
u32 pack(Rgb c);     // clamped and rounded to 0xRRGGBB
Rgb mix(Rgb a, Rgb b, float t);
Rgb scale(Rgb c, float f);

float clamp01(float v);
float smooth01(float t); // 3t^2 - 2t^3 of t clamped to 0..1
float fract(float v);

// A hash of a lattice point, 0 to 1.
float lattice(i32 x, i32 y, u32 seed);
// Value noise of lattice spacing 1, repeating every periodX lattice cells
// in x and periodY in y (0: no repeat), 0 to 1.
float valueNoise(float x, float y, u32 seed, i32 periodX, i32 periodY);
// Octaves of value noise, each twice the frequency and half the weight of
// the one before; the first octave has `cells` cells over the repeat
// (x and y in 0..1 repeat), so it tiles too.
float fractalNoise(float x, float y, u32 seed, i32 cells, int octaves);

// Lettering in the 5 x 7 glyphs, each glyph pixel scale x scale, glyphs 6
// cells apart. textWidth is the ink's width (no trailing gap).
int textWidth(const char* text, int scale);
constexpr int kTextHeight = 7;
bool glyphPixel(char code, int column, int row);
// Whether (x, y) falls on the ink of text placed with its top left at
// (x0, y0).
bool textInk(const char* text, int scale, int x0, int y0, int x, int y);

} // namespace mkcontent
