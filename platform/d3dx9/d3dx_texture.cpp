#include "platform/d3dx9/d3dx_texture.h"

#include "platform/d3dx9/dds_file.h"
#include "platform/d3dx9/texel_codec.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

using namespace platform::d3dx9;

namespace {

enum class Resample { None, Point, Linear, Box };

bool filterMode(DWORD filter, Resample& mode)
{
    if (filter == D3DX_DEFAULT) {
        mode = Resample::Box;
        return true;
    }
    switch (filter & 0xFF) {
    case D3DX_FILTER_NONE:
        mode = Resample::None;
        return true;
    case D3DX_FILTER_POINT:
        mode = Resample::Point;
        return true;
    case D3DX_FILTER_LINEAR:
        mode = Resample::Linear;
        return true;
    case D3DX_FILTER_TRIANGLE:
    case D3DX_FILTER_BOX:
        mode = Resample::Box;
        return true;
    default:
        return false;
    }
}

bool validRect(const RECT& r, UINT width, UINT height)
{
    return r.left >= 0 && r.top >= 0 && r.left < r.right && r.top < r.bottom && UINT(r.right) <= width &&
           UINT(r.bottom) <= height;
}

// Source texels under destination texel i along one axis, with their
// shares of its footprint [i * sn / dn, (i + 1) * sn / dn), in units of
// 1 / dn so that the shares are exact.
struct Tap {
    uint32_t index;
    double weight;
};

void boxTaps(uint32_t i, uint32_t sn, uint32_t dn, std::vector<Tap>& taps)
{
    taps.clear();
    const uint64_t start = uint64_t(i) * sn, end = uint64_t(i + 1) * sn;
    for (uint64_t s = start / dn; s * dn < end && s < sn; ++s) {
        const uint64_t lo = std::max(start, s * dn), hi = std::min(end, (s + 1) * dn);
        if (hi > lo)
            taps.push_back({uint32_t(s), double(hi - lo) / double(sn)});
    }
}

void linearTaps(uint32_t i, uint32_t sn, uint32_t dn, std::vector<Tap>& taps)
{
    taps.clear();
    const double u = (i + 0.5) * double(sn) / double(dn) - 0.5;
    const double f = std::floor(u);
    const double frac = u - f;
    const int64_t i0 = std::clamp<int64_t>(int64_t(f), 0, int64_t(sn) - 1);
    const int64_t i1 = std::clamp<int64_t>(int64_t(f) + 1, 0, int64_t(sn) - 1);
    taps.push_back({uint32_t(i0), 1.0 - frac});
    taps.push_back({uint32_t(i1), frac});
}

void resample(const TexelImage& src, TexelImage& dst, Resample mode)
{
    const uint32_t sw = src.width, sh = src.height, dw = dst.width, dh = dst.height;
    if (mode == Resample::None) {
        // No scaling: what the source does not cover is transparent black.
        for (uint32_t y = 0; y < dh; ++y)
            for (uint32_t x = 0; x < dw; ++x) {
                float* d = dst.at(x, y);
                if (x < sw && y < sh)
                    std::memcpy(d, src.at(x, y), 4 * sizeof(float));
                else
                    std::fill(d, d + 4, 0.0f);
            }
        return;
    }
    if (mode == Resample::Point) {
        for (uint32_t y = 0; y < dh; ++y) {
            const uint32_t sy = uint32_t((uint64_t(2 * y + 1) * sh) / (2 * uint64_t(dh)));
            for (uint32_t x = 0; x < dw; ++x) {
                const uint32_t sx = uint32_t((uint64_t(2 * x + 1) * sw) / (2 * uint64_t(dw)));
                std::memcpy(dst.at(x, y), src.at(std::min(sx, sw - 1), std::min(sy, sh - 1)), 4 * sizeof(float));
            }
        }
        return;
    }
    auto taps = mode == Resample::Box ? boxTaps : linearTaps;
    std::vector<std::vector<Tap>> columns(dw);
    for (uint32_t x = 0; x < dw; ++x)
        taps(x, sw, dw, columns[x]);
    std::vector<Tap> rows;
    for (uint32_t y = 0; y < dh; ++y) {
        taps(y, sh, dh, rows);
        for (uint32_t x = 0; x < dw; ++x) {
            double sum[4] = {0, 0, 0, 0};
            for (const Tap& ty : rows)
                for (const Tap& tx : columns[x]) {
                    const float* s = src.at(tx.index, ty.index);
                    const double w = tx.weight * ty.weight;
                    for (int i = 0; i < 4; ++i)
                        sum[i] += w * s[i];
                }
            float* d = dst.at(x, y);
            for (int i = 0; i < 4; ++i)
                d[i] = float(sum[i]);
        }
    }
}

void applyColorKey(TexelImage& image, D3DCOLOR key)
{
    for (uint32_t y = 0; y < image.height; ++y)
        for (uint32_t x = 0; x < image.width; ++x) {
            float* t = image.at(x, y);
            const D3DCOLOR c = quantizeUnorm(t[3], 8) << 24 | quantizeUnorm(t[0], 8) << 16 |
                               quantizeUnorm(t[1], 8) << 8 | quantizeUnorm(t[2], 8);
            if (c == key)
                std::fill(t, t + 4, 0.0f);
        }
}

// Whether the step keeps or halves each axis, so that 32-bit texels can take
// the byte path (halveTexelBytes), which gives what the float path gives.
bool halvable(uint32_t sw, uint32_t sh, uint32_t dw, uint32_t dh)
{
    return (sw == dw || sw == 2 * dw) && (sh == dh || sh == 2 * dh);
}

bool blockAligned(const RECT& r, UINT width, UINT height)
{
    return r.left % 4 == 0 && r.top % 4 == 0 && (r.right % 4 == 0 || UINT(r.right) == width) &&
           (r.bottom % 4 == 0 || UINT(r.bottom) == height);
}

// The common part of the surface loaders: srcRect of the memory image at
// srcBits (rows srcPitch apart) into the destination.
HRESULT loadSurface(IDirect3DSurface9* dest, const RECT* destRect, const uint8_t* srcBits, const TexelFormat& srcFormat,
                    size_t srcPitch, const RECT& srcRect, DWORD filter, D3DCOLOR colorKey)
{
    Resample mode;
    if (!filterMode(filter, mode))
        return D3DERR_INVALIDCALL;
    D3DSURFACE_DESC desc{};
    HRESULT hr = dest->GetDesc(&desc);
    if (FAILED(hr))
        return hr;
    const TexelFormat* destFormat = texelFormat(desc.Format);
    if (!destFormat)
        return D3DERR_INVALIDCALL;
    const RECT dr = destRect ? *destRect : RECT{0, 0, LONG(desc.Width), LONG(desc.Height)};
    if (!validRect(dr, desc.Width, desc.Height))
        return D3DERR_INVALIDCALL;
    const uint32_t sw = uint32_t(srcRect.right - srcRect.left), sh = uint32_t(srcRect.bottom - srcRect.top);
    const uint32_t dw = uint32_t(dr.right - dr.left), dh = uint32_t(dr.bottom - dr.top);

    const bool raw = destFormat == &srcFormat && sw == dw && sh == dh && colorKey == 0 &&
                     (!srcFormat.compressed() ||
                      (srcRect.left % 4 == 0 && srcRect.top % 4 == 0 && blockAligned(dr, desc.Width, desc.Height) &&
                       (sw % 4 == 0 || UINT(dr.right) == desc.Width) &&
                       (sh % 4 == 0 || UINT(dr.bottom) == desc.Height)));
    // The mip chain of 32-bit textures skips the float image.
    if (!raw && mode == Resample::Box && colorKey == 0 && destFormat == &srcFormat &&
        srcFormat.format == D3DFMT_A8R8G8B8 && halvable(sw, sh, dw, dh)) {
        D3DLOCKED_RECT locked{};
        hr = dest->LockRect(&locked, nullptr, 0);
        if (FAILED(hr))
            return hr;
        halveTexelBytes(srcBits + size_t(srcRect.top) * srcPitch + size_t(srcRect.left) * 4, srcPitch, sw, sh,
                        static_cast<uint8_t*>(locked.pBits) + size_t(dr.top) * size_t(locked.Pitch) +
                            size_t(dr.left) * 4,
                        size_t(locked.Pitch), dw, dh);
        dest->UnlockRect();
        return D3D_OK;
    }
    TexelImage converted;
    if (!raw) {
        TexelImage source;
        source.resize(sw, sh);
        decodeTexels(srcFormat, srcBits, srcPitch, uint32_t(srcRect.left), uint32_t(srcRect.top), source);
        if (colorKey)
            applyColorKey(source, colorKey);
        if (sw == dw && sh == dh) {
            converted = std::move(source);
        } else {
            converted.resize(dw, dh);
            resample(source, converted, mode);
        }
    }

    D3DLOCKED_RECT locked{};
    hr = dest->LockRect(&locked, nullptr, 0);
    if (FAILED(hr))
        return hr;
    uint8_t* bits = static_cast<uint8_t*>(locked.pBits);
    const size_t pitch = size_t(locked.Pitch);
    if (raw) {
        const TexelFormat& f = srcFormat;
        const uint32_t unit = f.compressed() ? 4 : 1;
        const size_t bytes = texelRowBytes(f, sw);
        const uint32_t rows = texelRows(f, sh);
        for (uint32_t y = 0; y < rows; ++y)
            std::memcpy(bits + (size_t(dr.top / unit) + y) * pitch + size_t(dr.left / unit) * f.bytes,
                        srcBits + (size_t(srcRect.top / unit) + y) * srcPitch + size_t(srcRect.left / unit) * f.bytes,
                        bytes);
    } else {
        encodeTexels(*destFormat, converted, bits, pitch, uint32_t(dr.left), uint32_t(dr.top), desc.Width,
                     desc.Height);
    }
    dest->UnlockRect();
    return D3D_OK;
}

uint32_t nextPowerOfTwo(uint32_t v)
{
    uint32_t p = 1;
    while (p < v && p < 0x80000000u)
        p <<= 1;
    return p;
}

uint32_t fullChain(uint32_t w, uint32_t h)
{
    uint32_t n = 1;
    while ((w >> n) || (h >> n))
        ++n;
    return n;
}

// A size argument of the file loaders.
uint32_t chooseSize(UINT requested, uint32_t fromFile, const D3DCAPS9& caps, UINT maxSize)
{
    uint32_t size;
    if (requested == 0 || requested == D3DX_DEFAULT)
        size = nextPowerOfTwo(fromFile);
    else if (requested == D3DX_DEFAULT_NONPOW2 || requested == D3DX_FROM_FILE)
        size = fromFile;
    else
        size = requested;
    if ((caps.TextureCaps & D3DPTEXTURECAPS_POW2) && !(caps.TextureCaps & D3DPTEXTURECAPS_NONPOW2CONDITIONAL))
        size = nextPowerOfTwo(size);
    if (maxSize && size > maxSize)
        size = maxSize;
    return size;
}

UINT chooseLevels(UINT requested, const DdsImage& dds, uint32_t w, uint32_t h)
{
    if (requested == 0 || requested == D3DX_DEFAULT)
        return 0;
    const uint32_t full = fullChain(w, h);
    const uint32_t n = requested == D3DX_FROM_FILE ? dds.levels : requested;
    return std::min(n, full);
}

void describe(const DdsImage& dds, D3DXIMAGE_INFO* info)
{
    if (!info)
        return;
    info->Width = dds.width;
    info->Height = dds.height;
    info->Depth = 1;
    info->MipLevels = dds.levels;
    info->Format = dds.format;
    info->ResourceType = dds.cube ? D3DRTYPE_CUBETEXTURE : D3DRTYPE_TEXTURE;
    info->ImageFileFormat = D3DXIFF_DDS;
}

// Loads the file's levels of one face into the texture's surfaces
// (surfaceOf(level)), and filters the levels the file lacks.
template <typename SurfaceOf>
HRESULT fillFace(const DdsImage& dds, uint32_t face, uint32_t textureLevels, bool sameSize, DWORD filter,
                 D3DCOLOR colorKey, SurfaceOf surfaceOf, DWORD mipFilter)
{
    const TexelFormat& format = *texelFormat(dds.format);
    const uint32_t fileLevels = sameSize ? std::min(textureLevels, dds.levels) : 1;
    for (uint32_t level = 0; level < textureLevels; ++level) {
        IDirect3DSurface9* surface = nullptr;
        HRESULT hr = surfaceOf(level, &surface);
        if (FAILED(hr))
            return hr;
        if (level < fileLevels) {
            const RECT r{0, 0, LONG(dds.levelWidth(level)), LONG(dds.levelHeight(level))};
            hr = loadSurface(surface, nullptr, dds.levelData(face, level), format, dds.pitch(level), r, filter,
                             colorKey);
        } else {
            IDirect3DSurface9* above = nullptr;
            hr = surfaceOf(level - 1, &above);
            if (SUCCEEDED(hr)) {
                hr = D3DXLoadSurfaceFromSurface(surface, nullptr, nullptr, above, nullptr, nullptr, mipFilter, 0);
                above->Release();
            }
        }
        surface->Release();
        if (FAILED(hr))
            return hr;
    }
    return D3D_OK;
}

// What the texture loaders start from: the file read and described, the mip
// filter in force and the device's caps (zeroed when it does not answer).
struct TextureSource {
    DdsImage dds;
    DWORD mipFilter = 0;
    D3DCAPS9 caps{};
};

// Checks a loader's arguments and reads the file into src; a cube loader
// takes only cube files.
HRESULT openSource(IDirect3DDevice9* device, LPCVOID data, UINT size, DWORD filter, DWORD mipFilter, bool cube,
                   D3DXIMAGE_INFO* info, TextureSource& src)
{
    if (!device || !data || size == 0)
        return D3DERR_INVALIDCALL;
    Resample mode;
    if (!filterMode(filter, mode) || !filterMode(mipFilter, mode))
        return D3DERR_INVALIDCALL;
    src.mipFilter = mipFilter == D3DX_DEFAULT ? DWORD(D3DX_FILTER_BOX) : mipFilter;
    if (!parseDds(data, size, src.dds) || (cube && !src.dds.cube))
        return D3DXERR_INVALIDDATA;
    describe(src.dds, info);
    if (FAILED(device->GetDeviceCaps(&src.caps)))
        src.caps = D3DCAPS9{};
    return D3D_OK;
}

} // namespace

HRESULT D3DXLoadSurfaceFromMemory(IDirect3DSurface9* pDestSurface, const PALETTEENTRY* /*pDestPalette*/,
                                  const RECT* pDestRect, LPCVOID pSrcMemory, D3DFORMAT SrcFormat, UINT SrcPitch,
                                  const PALETTEENTRY* /*pSrcPalette*/, const RECT* pSrcRect, DWORD Filter,
                                  D3DCOLOR ColorKey)
{
    if (!pDestSurface || !pSrcMemory || !pSrcRect)
        return D3DERR_INVALIDCALL;
    const TexelFormat* format = texelFormat(SrcFormat);
    if (!format)
        return D3DERR_INVALIDCALL;
    const RECT& r = *pSrcRect;
    if (r.left < 0 || r.top < 0 || r.left >= r.right || r.top >= r.bottom)
        return D3DERR_INVALIDCALL;
    if (texelRowBytes(*format, UINT(r.right)) > SrcPitch)
        return D3DERR_INVALIDCALL;
    return loadSurface(pDestSurface, pDestRect, static_cast<const uint8_t*>(pSrcMemory), *format, SrcPitch, r, Filter,
                       ColorKey);
}

HRESULT D3DXLoadSurfaceFromSurface(IDirect3DSurface9* pDestSurface, const PALETTEENTRY* pDestPalette,
                                   const RECT* pDestRect, IDirect3DSurface9* pSrcSurface,
                                   const PALETTEENTRY* /*pSrcPalette*/, const RECT* pSrcRect, DWORD Filter,
                                   D3DCOLOR ColorKey)
{
    if (!pDestSurface || !pSrcSurface)
        return D3DERR_INVALIDCALL;
    D3DSURFACE_DESC desc{};
    HRESULT hr = pSrcSurface->GetDesc(&desc);
    if (FAILED(hr))
        return hr;
    const TexelFormat* format = texelFormat(desc.Format);
    if (!format)
        return D3DERR_INVALIDCALL;
    const RECT sr = pSrcRect ? *pSrcRect : RECT{0, 0, LONG(desc.Width), LONG(desc.Height)};
    if (!validRect(sr, desc.Width, desc.Height))
        return D3DERR_INVALIDCALL;

    // Copy the rows (block rows) under the rectangle out first, so that the
    // source is unlocked before the destination is locked: they may be the
    // same surface.
    const uint32_t unit = format->compressed() ? 4 : 1;
    const uint32_t firstColumn = uint32_t(sr.left) / unit, lastColumn = (uint32_t(sr.right) - 1) / unit;
    const uint32_t firstRow = uint32_t(sr.top) / unit, lastRow = (uint32_t(sr.bottom) - 1) / unit;
    const size_t rowBytes = size_t(lastColumn - firstColumn + 1) * format->bytes;
    std::vector<uint8_t> copy(rowBytes * (lastRow - firstRow + 1));
    D3DLOCKED_RECT locked{};
    hr = pSrcSurface->LockRect(&locked, nullptr, D3DLOCK_READONLY);
    if (FAILED(hr))
        return hr;
    for (uint32_t row = firstRow; row <= lastRow; ++row)
        std::memcpy(copy.data() + (row - firstRow) * rowBytes,
                    static_cast<const uint8_t*>(locked.pBits) + size_t(row) * size_t(locked.Pitch) +
                        size_t(firstColumn) * format->bytes,
                    rowBytes);
    pSrcSurface->UnlockRect();

    const RECT inCopy{LONG(sr.left - LONG(firstColumn * unit)), LONG(sr.top - LONG(firstRow * unit)),
                      LONG(sr.right - LONG(firstColumn * unit)), LONG(sr.bottom - LONG(firstRow * unit))};
    (void)pDestPalette;
    return loadSurface(pDestSurface, pDestRect, copy.data(), *format, rowBytes, inCopy, Filter, ColorKey);
}

HRESULT D3DXFilterTexture(IDirect3DBaseTexture9* pBaseTexture, const PALETTEENTRY* /*pPalette*/, UINT SrcLevel,
                          DWORD Filter)
{
    if (!pBaseTexture)
        return D3DERR_INVALIDCALL;
    Resample mode;
    if (!filterMode(Filter, mode))
        return D3DERR_INVALIDCALL;
    const DWORD filter = Filter == D3DX_DEFAULT ? DWORD(D3DX_FILTER_BOX) : Filter;
    if (SrcLevel == D3DX_DEFAULT)
        SrcLevel = 0;
    const DWORD levels = pBaseTexture->GetLevelCount();
    if (SrcLevel >= levels)
        return D3DERR_INVALIDCALL;

    auto chain = [&](auto surfaceOf) -> HRESULT {
        for (UINT level = SrcLevel + 1; level < levels; ++level) {
            IDirect3DSurface9* above = nullptr;
            IDirect3DSurface9* below = nullptr;
            HRESULT hr = surfaceOf(level - 1, &above);
            if (SUCCEEDED(hr))
                hr = surfaceOf(level, &below);
            if (SUCCEEDED(hr))
                hr = D3DXLoadSurfaceFromSurface(below, nullptr, nullptr, above, nullptr, nullptr, filter, 0);
            if (above)
                above->Release();
            if (below)
                below->Release();
            if (FAILED(hr))
                return hr;
        }
        return D3D_OK;
    };

    switch (pBaseTexture->GetType()) {
    case D3DRTYPE_TEXTURE: {
        IDirect3DTexture9* texture = nullptr;
        HRESULT hr = pBaseTexture->QueryInterface(IID_IDirect3DTexture9, reinterpret_cast<void**>(&texture));
        if (FAILED(hr))
            return hr;
        hr = chain([texture](UINT level, IDirect3DSurface9** s) { return texture->GetSurfaceLevel(level, s); });
        texture->Release();
        return hr;
    }
    case D3DRTYPE_CUBETEXTURE: {
        IDirect3DCubeTexture9* cube = nullptr;
        HRESULT hr = pBaseTexture->QueryInterface(IID_IDirect3DCubeTexture9, reinterpret_cast<void**>(&cube));
        if (FAILED(hr))
            return hr;
        for (int face = 0; face < 6 && SUCCEEDED(hr); ++face)
            hr = chain([cube, face](UINT level, IDirect3DSurface9** s) {
                return cube->GetCubeMapSurface(D3DCUBEMAP_FACES(face), level, s);
            });
        cube->Release();
        return hr;
    }
    default:
        return D3DERR_INVALIDCALL;
    }
}

HRESULT D3DXGetImageInfoFromFileInMemory(LPCVOID pSrcData, UINT SrcDataSize, D3DXIMAGE_INFO* pSrcInfo)
{
    if (!pSrcData || SrcDataSize == 0)
        return D3DERR_INVALIDCALL;
    DdsImage dds;
    if (!parseDds(pSrcData, SrcDataSize, dds))
        return D3DXERR_INVALIDDATA;
    describe(dds, pSrcInfo);
    return D3D_OK;
}

HRESULT D3DXCreateTextureFromFileInMemoryEx(IDirect3DDevice9* pDevice, LPCVOID pSrcData, UINT SrcDataSize,
                                            UINT Width, UINT Height, UINT MipLevels, DWORD Usage,
                                            D3DFORMAT Format, D3DPOOL Pool, DWORD Filter, DWORD MipFilter,
                                            D3DCOLOR ColorKey, D3DXIMAGE_INFO* pSrcInfo, PALETTEENTRY* /*pPalette*/,
                                            IDirect3DTexture9** ppTexture)
{
    if (!ppTexture)
        return D3DERR_INVALIDCALL;
    *ppTexture = nullptr;
    TextureSource src;
    if (HRESULT hr = openSource(pDevice, pSrcData, SrcDataSize, Filter, MipFilter, false, pSrcInfo, src); FAILED(hr))
        return hr;
    const DdsImage& dds = src.dds;
    const D3DCAPS9& caps = src.caps;
    const uint32_t w = chooseSize(Width, dds.width, caps, caps.MaxTextureWidth);
    const uint32_t h = chooseSize(Height, dds.height, caps, caps.MaxTextureHeight);
    const UINT levels = chooseLevels(MipLevels, dds, w, h);
    const D3DFORMAT format = Format == D3DFMT_UNKNOWN ? dds.format : Format;

    IDirect3DTexture9* texture = nullptr;
    HRESULT hr = pDevice->CreateTexture(w, h, levels, Usage, format, Pool, &texture, nullptr);
    if (FAILED(hr) && format != D3DFMT_A8R8G8B8)
        hr = pDevice->CreateTexture(w, h, levels, Usage, D3DFMT_A8R8G8B8, Pool, &texture, nullptr);
    if (FAILED(hr))
        return hr;
    hr = fillFace(dds, 0, texture->GetLevelCount(), w == dds.width && h == dds.height, Filter, ColorKey,
                  [texture](UINT level, IDirect3DSurface9** s) { return texture->GetSurfaceLevel(level, s); },
                  src.mipFilter);
    if (FAILED(hr)) {
        texture->Release();
        return hr;
    }
    *ppTexture = texture;
    return D3D_OK;
}

HRESULT D3DXCreateTextureFromFileInMemory(IDirect3DDevice9* pDevice, LPCVOID pSrcData, UINT SrcDataSize,
                                          IDirect3DTexture9** ppTexture)
{
    return D3DXCreateTextureFromFileInMemoryEx(pDevice, pSrcData, SrcDataSize, D3DX_DEFAULT, D3DX_DEFAULT,
                                               D3DX_DEFAULT, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, D3DX_DEFAULT,
                                               D3DX_DEFAULT, 0, nullptr, nullptr, ppTexture);
}

HRESULT D3DXCreateCubeTextureFromFileInMemoryEx(IDirect3DDevice9* pDevice, LPCVOID pSrcData, UINT SrcDataSize,
                                                UINT Size, UINT MipLevels, DWORD Usage, D3DFORMAT Format,
                                                D3DPOOL Pool, DWORD Filter, DWORD MipFilter, D3DCOLOR ColorKey,
                                                D3DXIMAGE_INFO* pSrcInfo, PALETTEENTRY* /*pPalette*/,
                                                IDirect3DCubeTexture9** ppCubeTexture)
{
    if (!ppCubeTexture)
        return D3DERR_INVALIDCALL;
    *ppCubeTexture = nullptr;
    TextureSource src;
    if (HRESULT hr = openSource(pDevice, pSrcData, SrcDataSize, Filter, MipFilter, true, pSrcInfo, src); FAILED(hr))
        return hr;
    const DdsImage& dds = src.dds;
    const D3DCAPS9& caps = src.caps;
    const uint32_t edge = chooseSize(Size, dds.width, caps, caps.MaxTextureWidth);
    const UINT levels = chooseLevels(MipLevels, dds, edge, edge);
    const D3DFORMAT format = Format == D3DFMT_UNKNOWN ? dds.format : Format;

    IDirect3DCubeTexture9* cube = nullptr;
    HRESULT hr = pDevice->CreateCubeTexture(edge, levels, Usage, format, Pool, &cube, nullptr);
    if (FAILED(hr) && format != D3DFMT_A8R8G8B8)
        hr = pDevice->CreateCubeTexture(edge, levels, Usage, D3DFMT_A8R8G8B8, Pool, &cube, nullptr);
    if (FAILED(hr))
        return hr;
    const DWORD textureLevels = cube->GetLevelCount();
    for (uint32_t face = 0; face < 6 && SUCCEEDED(hr); ++face)
        hr = fillFace(dds, face, textureLevels, edge == dds.width, Filter, ColorKey,
                      [cube, face](UINT level, IDirect3DSurface9** s) {
                          return cube->GetCubeMapSurface(D3DCUBEMAP_FACES(face), level, s);
                      },
                      src.mipFilter);
    if (FAILED(hr)) {
        cube->Release();
        return hr;
    }
    *ppCubeTexture = cube;
    return D3D_OK;
}
