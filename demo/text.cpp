#include "demo/text.h"

#include "foundation/diagnostics.h"
#include "foundation/log.h"
#include "materials/engine.h"
#include "materials/image_cache.h"
#include "materials/texture.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <ostream>

namespace {

constexpr i32 cellWidth = 7;
constexpr i32 cellHeight = 11;
constexpr i32 firstCode = 32;

// The glyph cell of a character code, or false when the font has none (the
// code is taken as unsigned: bytes 0x80-0xFF are codes 128-255).
bool glyphColumn(const Image* font, unsigned char code, i32& column)
{
    if (code < firstCode)
        return false;
    column = (i32(code) - firstCode) * cellWidth;
    return column + cellWidth <= font->width && cellHeight <= font->height;
}

bool hasPixels(const Image* font)
{
    return font && font->pixels && font->width > 0 && font->height > 0;
}

} // namespace

Text::Text(Engine* engine, Stream* archive) : EngineResource(engine)
{
    if (archive)
        font = loadImage(*archive, "small.bmp", false);
    textureWidth = engine->width;
    textureHeight = engine->height / 2;
    if (engine->deviceCount > 0 && textureWidth > 0 && textureHeight > 0 &&
        FAILED(engine->devices[0]->CreateTexture(UINT(textureWidth), UINT(textureHeight), 1, 0, D3DFMT_A8R8G8B8,
                                                 D3DPOOL_MANAGED, &texture, nullptr)))
        texture = nullptr;
    const float w = float(engine->width);
    const float h = float(engine->height / 2);
    fillScreenQuad(quad, 0.0f, 0.0f, w, h, 0xFFFFFFFFu);
    clear();
}

Text::~Text()
{
    if (texture)
        texture->Release();
    if (font)
        font->release();
}

void Text::print(i32 x, i32 y, const char* text)
{
    if (!hasPixels(font) || !texture || !text || !*text)
        return;
    // The glyph rows and columns inside the texture, clipped once per call
    // and per character rather than per pixel (this runs every frame).
    const i32 rowBegin = i32(std::clamp<i64>(-i64(y), 0, cellHeight));
    const i32 rowEnd = i32(std::clamp<i64>(i64(textureHeight) - y, 0, cellHeight));
    i64 characters = 0;
    while (text[characters] && i64(x) + i64(cellWidth) * characters < textureWidth)
        ++characters;
    // Only the line's box is locked: an unlock sends what it covers to the
    // device, and this runs several times a frame.
    const RECT box{LONG(std::max<i64>(x, 0)), LONG(i64(y) + rowBegin),
                   LONG(std::min<i64>(i64(x) + i64(cellWidth) * characters, textureWidth)), LONG(i64(y) + rowEnd)};
    if (box.left >= box.right || box.top >= box.bottom)
        return;
    D3DLOCKED_RECT locked;
    if (FAILED(texture->LockRect(0, &locked, &box, 0)))
        return;
    u8* bits = static_cast<u8*>(locked.pBits); // the box's top-left texel
    for (i64 k = 0; k < characters; ++k) {
        const i64 left = i64(x) + i64(cellWidth) * k;
        i32 column;
        if (!glyphColumn(font, static_cast<unsigned char>(text[k]), column))
            continue;
        const i32 colBegin = i32(std::clamp<i64>(-left, 0, cellWidth));
        const i32 colEnd = i32(std::clamp<i64>(i64(textureWidth) - left, 0, cellWidth));
        for (i32 row = rowBegin; row < rowEnd; ++row) {
            u32* line = reinterpret_cast<u32*>(bits + (i64(y) + row - box.top) * locked.Pitch);
            const u32* glyph = font->pixels + u64(row) * u32(font->width) + u32(column);
            for (i32 col = colBegin; col < colEnd; ++col)
                line[left - box.left + col] = glyph[col] | 0xFF000000u;
        }
    }
    texture->UnlockRect(0);
}

void Text::draw()
{
    IDirect3DDevice9* device = engine->currentDevice;
    D3DMATRIX identity = {};
    identity._11 = identity._22 = identity._33 = identity._44 = 1.0f;
    device->SetTransform(D3DTS_PROJECTION, &identity);
    device->SetTexture(0, texture);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    device->SetRenderState(D3DRS_ZENABLE, 0);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    drawScreenQuadVertices(device, quad);
    device->SetRenderState(D3DRS_ZENABLE, 1);
}

void Text::clear()
{
    if (!texture)
        return;
    D3DLOCKED_RECT locked;
    if (FAILED(texture->LockRect(0, &locked, nullptr, 0)))
        return;
    for (i32 row = 0; row < textureHeight; ++row)
        std::memset(static_cast<u8*>(locked.pBits) + i64(row) * locked.Pitch, 0, size_t(textureWidth) * 4);
    texture->UnlockRect(0);
}

void Text::setColor(float color)
{
    // The float is a packed colour number; values outside 32 bits have no
    // colour, so they are clamped rather than converted undefined.
    const double clamped = std::clamp(double(color), 0.0, 4294967295.0);
    const D3DCOLOR packed = color == color ? D3DCOLOR(clamped) : 0u;
    for (ScreenVertex& vertex : quad)
        vertex.diffuse = packed;
}

void Text::update(i32)
{
}

void createFontTexture(Texture* target, const char* text, Image* fontImage)
{
    if (!hasPixels(fontImage)) {
        logStream << "Missing font bitmap !!!" << std::endl;
        if (diagnosticsLevel >= 1)
            MessageBoxA(nullptr, "Missing font bitmap !!!\n", "Error", MB_ICONEXCLAMATION);
        return;
    }
    if (!target)
        return;
    target->format = D3DFMT_A8R8G8B8; // a rebuild after a conversion writes 32-bit texels again
    if (!target->create2D(128, 16, target->flags, nullptr))
        return;
    IDirect3DTexture9* texture = target->baseTextures[0];
    D3DLOCKED_RECT locked;
    if (FAILED(texture->LockRect(0, &locked, nullptr, 0)))
        return;
    u8* bits = static_cast<u8*>(locked.pBits);
    for (i32 row = 0; row < 16; ++row)
        std::memset(bits + i64(row) * locked.Pitch, 0, 128 * 4);
    const i32 length = text ? std::min<i32>(i32(std::strlen(text)), 18) : 0;
    for (i32 k = 0; k < length; ++k) {
        i32 column;
        if (!glyphColumn(fontImage, static_cast<unsigned char>(text[k]), column))
            continue;
        for (i32 row = 0; row < cellHeight; ++row) {
            u32* line = reinterpret_cast<u32*>(bits + i64(2 + row) * locked.Pitch);
            for (i32 col = 0; col < cellWidth; ++col) {
                const u32 pixel = fontImage->pixel(column + col, row);
                const u32 grey = (((pixel >> 16) & 0xFF) + ((pixel >> 8) & 0xFF) + (pixel & 0xFF)) / 3;
                line[2 + cellWidth * k + col] = (255 - grey) << 24;
            }
        }
    }
    texture->UnlockRect(0);
    target->copyToDevices();
}
