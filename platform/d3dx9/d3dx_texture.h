// D3DX 9 texture helpers: mip-map filtering, surface loading with format
// conversion, and textures from .dds files in memory.
//
// Conversions are deterministic: every channel goes through a float in
// 0..1 and is rounded to the nearest step (halves up); D3DX_DEFAULT and the
// DITHER flags do not dither. The box and triangle filters average the
// source area under each destination texel (2 x 2 texels for a mip level).
#pragma once

#include <d3d9.h>

#include "platform/d3dx9/d3dx9_defs.h"

#define D3DX_DEFAULT ((UINT)-1)
#define D3DX_DEFAULT_NONPOW2 ((UINT)-2)
#define D3DX_FROM_FILE ((UINT)-3)

#define D3DX_FILTER_NONE (1 << 0)
#define D3DX_FILTER_POINT (2 << 0)
#define D3DX_FILTER_LINEAR (3 << 0)
#define D3DX_FILTER_TRIANGLE (4 << 0)
#define D3DX_FILTER_BOX (5 << 0)
#define D3DX_FILTER_MIRROR_U (1 << 16)
#define D3DX_FILTER_MIRROR_V (2 << 16)
#define D3DX_FILTER_MIRROR_W (4 << 16)
#define D3DX_FILTER_MIRROR (7 << 16)
#define D3DX_FILTER_DITHER (1 << 19)
#define D3DX_FILTER_DITHER_DIFFUSION (2 << 19)
#define D3DX_FILTER_SRGB_IN (1 << 21)
#define D3DX_FILTER_SRGB_OUT (2 << 21)
#define D3DX_FILTER_SRGB (3 << 21)

typedef enum _D3DXIMAGE_FILEFORMAT {
    D3DXIFF_BMP = 0,
    D3DXIFF_JPG = 1,
    D3DXIFF_TGA = 2,
    D3DXIFF_PNG = 3,
    D3DXIFF_DDS = 4,
    D3DXIFF_PPM = 5,
    D3DXIFF_DIB = 6,
    D3DXIFF_HDR = 7,
    D3DXIFF_PFM = 8,
    D3DXIFF_FORCE_DWORD = 0x7fffffff
} D3DXIMAGE_FILEFORMAT;

typedef struct _D3DXIMAGE_INFO {
    UINT Width;
    UINT Height;
    UINT Depth;
    UINT MipLevels;
    D3DFORMAT Format;
    D3DRESOURCETYPE ResourceType;
    D3DXIMAGE_FILEFORMAT ImageFileFormat;
} D3DXIMAGE_INFO;

// Rebuilds the levels below SrcLevel (D3DX_DEFAULT: 0) of a 2D or cube
// texture, each from the one above it. Filter D3DX_DEFAULT is the box
// filter. Palettes are not supported and ignored.
HRESULT D3DXFilterTexture(IDirect3DBaseTexture9* pBaseTexture, const PALETTEENTRY* pPalette, UINT SrcLevel,
                          DWORD Filter);

// Copies a rectangle (null: the whole surface) of the source into one of
// the destination, converting the format and scaling with the filter
// (D3DX_DEFAULT: box). A non-zero ColorKey (an A8R8G8B8 colour) turns
// source texels of that colour transparent black. Source and destination
// may be the same surface.
HRESULT D3DXLoadSurfaceFromSurface(IDirect3DSurface9* pDestSurface, const PALETTEENTRY* pDestPalette,
                                   const RECT* pDestRect, IDirect3DSurface9* pSrcSurface,
                                   const PALETTEENTRY* pSrcPalette, const RECT* pSrcRect, DWORD Filter,
                                   D3DCOLOR ColorKey);

// As above from texels in memory: SrcPitch is the bytes of one row (of 4 x 4
// blocks for DXT formats); pSrcRect is required and says which part of the
// memory image to read.
HRESULT D3DXLoadSurfaceFromMemory(IDirect3DSurface9* pDestSurface, const PALETTEENTRY* pDestPalette,
                                  const RECT* pDestRect, LPCVOID pSrcMemory, D3DFORMAT SrcFormat, UINT SrcPitch,
                                  const PALETTEENTRY* pSrcPalette, const RECT* pSrcRect, DWORD Filter,
                                  D3DCOLOR ColorKey);

// Describes a .dds file in memory; D3DXERR_INVALIDDATA for anything else.
HRESULT D3DXGetImageInfoFromFileInMemory(LPCVOID pSrcData, UINT SrcDataSize, D3DXIMAGE_INFO* pSrcInfo);

// A texture from a .dds file in memory (uncompressed RGB, luminance and
// alpha formats, DXT1/3/5; the first face of a cube map). Width and Height
// D3DX_DEFAULT (or 0) take the file's size rounded up to powers of two,
// D3DX_DEFAULT_NONPOW2 the file's size; sizes are limited to the device's
// maximum. MipLevels 0 or D3DX_DEFAULT give a full chain, D3DX_FROM_FILE the
// file's levels; levels the file lacks are filtered from the ones above.
// Format D3DFMT_UNKNOWN takes the file's format; a format the device cannot
// create (DXT formats on most profiles) becomes A8R8G8B8. A file whose data
// do not cover the size in its header gives D3DXERR_INVALIDDATA.
HRESULT D3DXCreateTextureFromFileInMemoryEx(IDirect3DDevice9* pDevice, LPCVOID pSrcData, UINT SrcDataSize,
                                            UINT Width, UINT Height, UINT MipLevels, DWORD Usage,
                                            D3DFORMAT Format, D3DPOOL Pool, DWORD Filter, DWORD MipFilter,
                                            D3DCOLOR ColorKey, D3DXIMAGE_INFO* pSrcInfo, PALETTEENTRY* pPalette,
                                            IDirect3DTexture9** ppTexture);
HRESULT D3DXCreateTextureFromFileInMemory(IDirect3DDevice9* pDevice, LPCVOID pSrcData, UINT SrcDataSize,
                                          IDirect3DTexture9** ppTexture);

// A cube texture from a .dds cube map with all six faces.
HRESULT D3DXCreateCubeTextureFromFileInMemoryEx(IDirect3DDevice9* pDevice, LPCVOID pSrcData, UINT SrcDataSize,
                                                UINT Size, UINT MipLevels, DWORD Usage, D3DFORMAT Format,
                                                D3DPOOL Pool, DWORD Filter, DWORD MipFilter, D3DCOLOR ColorKey,
                                                D3DXIMAGE_INFO* pSrcInfo, PALETTEENTRY* pPalette,
                                                IDirect3DCubeTexture9** ppCubeTexture);
