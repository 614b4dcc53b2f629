// Bitmap-font text. Text is the statistics overlay: lines printed into a
// texture of the upper half of the screen, shown as one screen quad.
// createFontTexture writes one short line (the user camera's mode name)
// into a small texture. Both use the font picture "small.bmp": one row of
// 7 x 11 glyph cells, the first for the space (code 32).
#pragma once

#include "demo/screen_vertex.h"
#include "materials/engine_resource.h"

class Engine;
class Image;
class Stream;
class Texture;

class Text : public EngineResource {
public:
    Image* font = nullptr; // counted reference; null when "small.bmp" is missing
    IDirect3DTexture9* texture = nullptr; // on the first device
    i32 glyphWidth = 7;
    i32 glyphHeight = 11;
    ScreenVertex quad[4];

    // Loads the font from the archive and makes the texture, cleared.
    Text(Engine* engine, Stream* archive);
    ~Text() override;
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;

    // Adds the text's glyphs at (x, y) texels; what was printed before
    // stays until clear. Characters the font lacks and texels outside the
    // texture are skipped.
    virtual void print(i32 x, i32 y, const char* text);
    // The texture over the upper half of the screen, alpha-blended.
    virtual void draw();
    virtual void clear();
    // The quad's colour: the value truncated to an integer and taken as a
    // packed colour.
    virtual void setColor(float color);
    virtual void update(i32 unused);

private:
    i32 textureWidth = 0;
    i32 textureHeight = 0;
};

// Writes up to 18 characters of text into target, re-made as a 128 x 16
// texture: black glyphs whose alpha is the font's inverted grey, 2 texels
// from the top-left corner. A missing font is reported and leaves the
// target alone.
void createFontTexture(Texture* target, const char* text, Image* fontImage);
