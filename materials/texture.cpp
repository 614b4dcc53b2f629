#include "materials/texture.h"

#include "display/display_manager.h"
#include "display/format_table.h"
#include "foundation/diagnostics.h"
#include "materials/engine.h"
#include "materials/texel_budget.h"

#include <d3dx9.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

bool isBlockCompressed(D3DFORMAT format)
{
    return format == D3DFMT_DXT1 || format == D3DFMT_DXT2 || format == D3DFMT_DXT3 || format == D3DFMT_DXT4 ||
           format == D3DFMT_DXT5;
}

} // namespace

Texture::Texture(Engine* engine, u32 flags)
    : EngineResource(engine)
    , flags(flags)
{
    slotCount = engine && engine->deviceCount > 0 ? engine->deviceCount : 1;
    baseTextures = new IDirect3DTexture9*[slotCount]();
    currentTextures = new IDirect3DTexture9*[slotCount]();
}

Texture::Texture(const Texture& other)
    : EngineResource(other)
    , name(other.name)
    , alphaTexture(other.alphaTexture)
    , alphaMode(other.alphaMode)
    , frameRate(other.frameRate)
    , bumpScale(other.bumpScale)
    , flags(other.flags)
    , hue(other.hue)
    , brightness(other.brightness)
    , contrast(other.contrast)
    , saturation(other.saturation)
    , gamma(other.gamma)
    , width(other.width)
    , height(other.height)
    , depth(other.depth)
    , format(other.format)
    , pool(other.pool)
    , levelCount(other.levelCount)
    , slotCount(other.slotCount)
    , budget(other.budget)
{
    baseTextures = new IDirect3DTexture9*[slotCount]();
    currentTextures = new IDirect3DTexture9*[slotCount]();
}

Texture::~Texture()
{
    releaseDeviceTextures();
    delete[] baseTextures;
    delete[] currentTextures;
}

IDirect3DTexture9* Texture::current(double /*time*/)
{
    const i32 index = engine ? engine->currentIndex : 0;
    if (index < 0 || index >= slotCount)
        return nullptr;
    return currentTextures[index];
}

IDirect3DSurface9* Texture::surfaceLevel0()
{
    IDirect3DSurface9* surface = nullptr;
    if (baseTextures[0] && pool == D3DPOOL_DEFAULT && FAILED(baseTextures[0]->GetSurfaceLevel(0, &surface)))
        surface = nullptr;
    return surface;
}

void Texture::releaseDeviceTextures()
{
    for (i32 i = 0; i < slotCount; ++i) {
        if (baseTextures[i])
            baseTextures[i]->Release();
        baseTextures[i] = nullptr;
        currentTextures[i] = nullptr;
    }
    levelCount = 0;
    if (budget)
        budget->giveBack(texelsTaken);
    texelsTaken = 0;
}

bool Texture::takeTexels(u64 count)
{
    if (budget && !budget->take(count, name.c_str()))
        return false;
    texelsTaken += count;
    return true;
}

IDirect3DTexture9* Texture::baseTexture()
{
    return baseTextures[0];
}

bool Texture::create2D(i32 newWidth, i32 newHeight, u32 newFlags, const char* newName)
{
    if (name.length() == 0 && newName && *newName)
        name = newName;
    width = newWidth;
    height = newHeight;
    flags = newFlags;
    depth = 1;
    pool = (flags & kScratchConvert) ? D3DPOOL_SCRATCH : D3DPOOL_MANAGED;
    // A texture built again drops what it had on every device.
    releaseDeviceTextures();
    IDirect3DDevice9* device = engine && engine->deviceCount > 0 ? engine->devices[0] : nullptr;
    if (!device || width <= 0 || height <= 0 || !takeTexels(u64(width) * u64(height)))
        return false;

    const UINT levels = (flags & kMipChain) ? 0 : 1;
    IDirect3DTexture9* texture = nullptr;
    if (FAILED(device->CreateTexture(UINT(width), UINT(height), levels, 0, format, pool, &texture, nullptr))) {
        flags |= kScratchConvert;
        pool = D3DPOOL_SCRATCH;
        if (FAILED(device->CreateTexture(UINT(width), UINT(height), levels, 0, format, pool, &texture, nullptr)))
            texture = nullptr;
    }
    if (!texture) {
        releaseDeviceTextures(); // gives the texels back
        return false;            // users treat the null texture as none
    }
    baseTextures[0] = texture;
    currentTextures[0] = texture;
    levelCount = i32(texture->GetLevelCount());
    return true;
}

void Texture::finishCreation()
{
    IDirect3DTexture9* texture = baseTextures[0];
    if (!texture)
        return;
    if (levelCount > 1)
        D3DXFilterTexture(texture, nullptr, 0, D3DX_DEFAULT);
    if (flags & kNormalMap)
        heightToNormalMap();
    chooseFormat();

    if (flags & kScratchConvert) {
        IDirect3DTexture9* managed = nullptr;
        if (SUCCEEDED(engine->devices[0]->CreateTexture(UINT(width), UINT(height), UINT(levelCount), 0, format,
                                                        D3DPOOL_MANAGED, &managed, nullptr))) {
            for (i32 level = 0; level < levelCount; ++level) {
                IDirect3DSurface9* destination = nullptr;
                IDirect3DSurface9* source = nullptr;
                if (SUCCEEDED(managed->GetSurfaceLevel(UINT(level), &destination)) &&
                    SUCCEEDED(texture->GetSurfaceLevel(UINT(level), &source)))
                    D3DXLoadSurfaceFromSurface(destination, nullptr, nullptr, source, nullptr, nullptr, D3DX_DEFAULT,
                                               0);
                if (destination)
                    destination->Release();
                if (source)
                    source->Release();
            }
            texture->Release();
            baseTextures[0] = managed;
            currentTextures[0] = managed;
        } else {
            // The scratch texture stays in use: keep the fields in step with
            // it, so that the copies for other devices match it.
            D3DSURFACE_DESC desc{};
            if (SUCCEEDED(texture->GetLevelDesc(0, &desc)))
                format = desc.Format;
            pool = D3DPOOL_SCRATCH;
        }
    }
    copyToDevices();
}

void Texture::chooseFormat()
{
    pool = D3DPOOL_MANAGED;
    if (!(flags & kScratchConvert))
        return;
    const u32 colorBits = ((flags & kTransparencyMap) && !(flags & kColorMap)) ? 0 : 5;
    u32 alphaBits;
    if ((flags & kTransparencyMap) || alphaTexture)
        alphaBits = 4;
    else
        alphaBits = alphaMode == 0 ? 1 : 0;

    FormatRequest request;
    request.min[0] = alphaBits ? 1 : 0;
    request.pref[0] = alphaBits;
    for (int c = 1; c < 4; ++c) {
        request.min[c] = colorBits ? 1 : 0;
        request.pref[c] = colorBits;
    }
    for (int c = 0; c < 4; ++c)
        request.max[c] = 0x20220;
    request.required = 0;
    request.allowed = 1;
    request.avoidFlag(0x40);
    request.avoidFlag(0x20);
    request.avoidFlag(0x10);
    static const FormatList none;
    const FormatDesc* fdesc = request.findBest(engine && engine->adapter ? engine->adapter->textureFormats : none);
    ENGINE_ASSERT(fdesc != 0 && "device does not support appropriate texture formats!");
    format = fdesc ? fdesc->format : D3DFMT_UNKNOWN;
}

void Texture::heightToNormalMap()
{
    IDirect3DTexture9* texture = baseTextures[0];
    if (!texture)
        return;
    const DWORD levels = texture->GetLevelCount();
    std::vector<i32> heights;
    for (DWORD level = 0; level < levels; ++level) {
        D3DSURFACE_DESC desc{};
        if (FAILED(texture->GetLevelDesc(level, &desc)))
            continue;
        // The texels are read and written as 32-bit ARGB words.
        if (desc.Format != D3DFMT_A8R8G8B8 && desc.Format != D3DFMT_X8R8G8B8)
            continue;
        D3DLOCKED_RECT locked{};
        if (FAILED(texture->LockRect(level, &locked, nullptr, 0)))
            continue;
        const u32 w = desc.Width, h = desc.Height;
        u8* bits = static_cast<u8*>(locked.pBits);
        heights.resize(size_t(w) * h);
        for (u32 y = 0; y < h; ++y) {
            const u32* row = reinterpret_cast<const u32*>(bits + size_t(y) * u32(locked.Pitch));
            for (u32 x = 0; x < w; ++x) {
                const u32 t = row[x];
                heights[size_t(y) * w + x] = 16 * i32(((t >> 16) & 0xFF) + ((t >> 8) & 0xFF) + (t & 0xFF)) / 3;
            }
        }
        // Wrap-around by masking, as for power-of-two sizes; other sizes
        // wrap unevenly but stay inside the level.
        const u32 mx = w - 1, my = h - 1;
        for (u32 y = 0; y < h; ++y) {
            u32* row = reinterpret_cast<u32*>(bits + size_t(y) * u32(locked.Pitch));
            for (u32 x = 0; x < w; ++x) {
                const i32 centre = heights[size_t(y) * w + x];
                const double dRight = heights[size_t(y) * w + ((x + 1) & mx)] - centre;
                const double dLeft = heights[size_t(y) * w + ((x - 1) & mx)] - centre;
                const double dDown = heights[size_t((y + 1) & my) * w + x] - centre;
                const double dUp = heights[size_t((y - 1) & my) * w + x] - centre;
                // Cross products of neighbouring edge vectors: right x down,
                // down x left, left x up, up x right. In floating point: the
                // squared lengths exceed 32 bits.
                const double cross[4][3] = {
                    {-255.0 * dRight, -255.0 * dDown, 65025.0},
                    {255.0 * dLeft, -255.0 * dDown, 65025.0},
                    {255.0 * dLeft, 255.0 * dUp, 65025.0},
                    {-255.0 * dRight, 255.0 * dUp, 65025.0},
                };
                double n[3] = {0.0, 0.0, 0.0};
                for (const auto& c : cross) {
                    const double length = std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
                    if (length == 0.0)
                        continue;
                    for (int i = 0; i < 3; ++i)
                        n[i] += c[i] / length;
                }
                const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
                u32 bytes[3] = {127, 127, 127};
                if (length > 0.0)
                    for (int i = 0; i < 3; ++i)
                        bytes[i] = u32((n[i] / length + 1.0) * 127.5);
                row[x] = bytes[0] << 16 | bytes[1] << 8 | bytes[2];
            }
        }
        texture->UnlockRect(level);
    }
    format = D3DFMT_A8R8G8B8;
}

void Texture::copyToDevices()
{
    IDirect3DTexture9* source = baseTextures[0];
    if (!source || !engine)
        return;
    D3DSURFACE_DESC desc{};
    if (FAILED(source->GetLevelDesc(0, &desc)))
        return;
    const D3DFORMAT sourceFormat = desc.Format;
    const DWORD levels = source->GetLevelCount();
    const i32 devices = engine->deviceCount < slotCount ? engine->deviceCount : slotCount;
    for (i32 i = 1; i < devices; ++i) {
        if (baseTextures[i])
            baseTextures[i]->Release();
        baseTextures[i] = nullptr;
        currentTextures[i] = nullptr;
        IDirect3DTexture9* copy = nullptr;
        if (!engine->devices[i] || FAILED(engine->devices[i]->CreateTexture(UINT(width), UINT(height), levels, 0,
                                                                            sourceFormat, pool, &copy, nullptr)))
            continue;
        bool copied = true;
        for (DWORD level = 0; level < levels && copied; ++level) {
            D3DSURFACE_DESC levelDesc{};
            D3DLOCKED_RECT from{}, to{};
            if (FAILED(source->GetLevelDesc(level, &levelDesc)) ||
                FAILED(source->LockRect(level, &from, nullptr, D3DLOCK_READONLY))) {
                copied = false;
                break;
            }
            if (FAILED(copy->LockRect(level, &to, nullptr, 0))) {
                source->UnlockRect(level);
                copied = false;
                break;
            }
            // Rows of texels, or of 4 x 4 blocks.
            const UINT rows = isBlockCompressed(sourceFormat) ? (levelDesc.Height + 3) / 4 : levelDesc.Height;
            const size_t bytes = size_t(from.Pitch < to.Pitch ? from.Pitch : to.Pitch);
            for (UINT y = 0; y < rows; ++y)
                std::memcpy(static_cast<u8*>(to.pBits) + size_t(y) * size_t(to.Pitch),
                            static_cast<const u8*>(from.pBits) + size_t(y) * size_t(from.Pitch), bytes);
            copy->UnlockRect(level);
            source->UnlockRect(level);
        }
        if (!copied) {
            copy->Release();
            continue;
        }
        baseTextures[i] = copy;
        currentTextures[i] = copy;
    }
}

void Texture::preload()
{
    for (i32 i = 0; i < slotCount; ++i)
        if (currentTextures[i])
            currentTextures[i]->PreLoad();
}

const char* Texture::formatName() const
{
    return formatName(format);
}

const char* Texture::formatName(D3DFORMAT format)
{
    // Vertex and index data have no row in the format table.
    switch (u32(format)) {
    case 100: return "VERTEXDATA";
    case 101: return "INDEX16";
    case 102: return "INDEX32";
    default: break;
    }
    // The table also holds A2B10G10R10 and the vendors' multi-element
    // codes; a texture names neither.
    const FormatDesc* row = findFormatDesc(format);
    if (!row || format == D3DFMT_A2B10G10R10 || std::strncmp(row->name, "MET_", 4) == 0)
        return "unknown";
    return row->name;
}
