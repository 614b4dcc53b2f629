// The adapters of this machine as Direct3D sees them: one per display,
// described by the GL implementation, with the answers of the Check* calls
// that the device side supports.
#include "platform/d3d9/adapter_profiles.h"
#include "platform/d3d9/gl_adapter_info.h"

#include <SDL.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <tuple>

namespace platform {

namespace {

struct ModeSize {
    UINT width;
    UINT height;
    UINT refreshRate;
    bool operator<(const ModeSize& o) const
    {
        return std::tie(width, height, refreshRate) < std::tie(o.width, o.height, o.refreshRate);
    }
    bool operator==(const ModeSize& o) const
    {
        return width == o.width && height == o.height && refreshRate == o.refreshRate;
    }
};

struct DisplayDescription {
    std::vector<ModeSize> modes;
    ModeSize desktop;
    D3DFORMAT desktopFormat;
};

constexpr UINT kDefaultRefreshRate = 60;

// SDL reports 0 Hz where the rate is unknown (always so on the offscreen
// driver); Direct3D modes carry a real rate.
UINT refreshOf(int hz)
{
    return hz > 0 ? static_cast<UINT>(hz) : kDefaultRefreshRate;
}

// Empty without a display to show windows on: no video at all, or only
// SDL's offscreen or dummy driver.
std::vector<DisplayDescription> queryDisplays()
{
    std::vector<DisplayDescription> displays;
    // Without an X11 or Wayland display there is nothing to show windows on;
    // asking SDL would only make its drivers complain. A driver named
    // explicitly is still asked.
    if (!std::getenv("SDL_VIDEODRIVER") && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
        return displays;
    // SIGINT and SIGTERM keep their default until a window answers them.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0)
        return displays;
    const char* driver = SDL_GetCurrentVideoDriver();
    const bool headless = !driver || std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0;
    const int displayCount = headless ? 0 : SDL_GetNumVideoDisplays();
    for (int i = 0; i < displayCount; ++i) {
        SDL_DisplayMode desktop = {};
        if (SDL_GetDesktopDisplayMode(i, &desktop) != 0 || desktop.w <= 0 || desktop.h <= 0)
            continue;
        DisplayDescription d;
        d.desktop = {static_cast<UINT>(desktop.w), static_cast<UINT>(desktop.h), refreshOf(desktop.refresh_rate)};
        d.desktopFormat = SDL_BITSPERPIXEL(desktop.format) == 16 ? D3DFMT_R5G6B5 : D3DFMT_X8R8G8B8;
        const int modeCount = SDL_GetNumDisplayModes(i);
        for (int j = 0; j < modeCount; ++j) {
            SDL_DisplayMode m = {};
            if (SDL_GetDisplayMode(i, j, &m) == 0 && m.w > 0 && m.h > 0)
                d.modes.push_back({static_cast<UINT>(m.w), static_cast<UINT>(m.h), refreshOf(m.refresh_rate)});
        }
        d.modes.push_back(d.desktop);
        std::sort(d.modes.begin(), d.modes.end());
        d.modes.erase(std::unique(d.modes.begin(), d.modes.end()), d.modes.end());
        displays.push_back(std::move(d));
    }
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return displays;
}

const D3DFORMAT kModeFormats[] = {D3DFMT_X8R8G8B8, D3DFMT_R5G6B5};

std::vector<D3DDISPLAYMODE> modesInDisplayFormats(const std::vector<ModeSize>& sizes)
{
    std::vector<D3DDISPLAYMODE> modes;
    for (D3DFORMAT format : kModeFormats) {
        for (const ModeSize& s : sizes)
            modes.push_back({s.width, s.height, s.refreshRate, format});
    }
    return modes;
}

// "4.5 (Core Profile) Mesa 22.3.6" gives 22.3.6.0: the last dotted number of
// the version string is the driver's own version.
LONGLONG driverVersionFromGl(const std::string& version)
{
    size_t end = version.size();
    while (end > 0) {
        size_t begin = version.rfind(' ', end - 1);
        begin = begin == std::string::npos ? 0 : begin + 1;
        if (begin < end && version[begin] >= '0' && version[begin] <= '9') {
            unsigned parts[4] = {0, 0, 0, 0};
            int count = 0;
            size_t p = begin;
            while (count < 4 && p < end && version[p] >= '0' && version[p] <= '9') {
                unsigned value = 0;
                while (p < end && version[p] >= '0' && version[p] <= '9') {
                    value = std::min(value * 10 + unsigned(version[p] - '0'), 0xFFFFu);
                    ++p;
                }
                parts[count++] = value;
                if (p < end && version[p] == '.')
                    ++p;
                else
                    break;
            }
            if (count >= 2)
                return makeDriverVersion(WORD(parts[0]), WORD(parts[1]), WORD(parts[2]), WORD(parts[3]));
        }
        if (begin == 0)
            break;
        end = begin - 1;
    }
    return makeDriverVersion(1, 0, 0, 0);
}

const D3DFORMAT kTextureFormats[] = {
    D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8,      D3DFMT_R5G6B5, D3DFMT_A1R5G5B5,     D3DFMT_A4R4G4B4, D3DFMT_L8,
    D3DFMT_A8,       D3DFMT_A8L8,          D3DFMT_R16F,   D3DFMT_R32F,         D3DFMT_A16B16G16R16F,
    D3DFMT_A32B32G32R32F,
};

const D3DFORMAT kRenderTargetFormats[] = {
    D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5,        D3DFMT_A1R5G5B5,
    D3DFMT_A4R4G4B4, D3DFMT_R16F,     D3DFMT_R32F,          D3DFMT_A16B16G16R16F,
    D3DFMT_A32B32G32R32F,
};

// Only as depth-stencil surfaces: a depth texture would need comparison
// sampling that shaders translated from D3D9 cannot ask for.
const D3DFORMAT kDepthStencilFormats[] = {D3DFMT_D24S8, D3DFMT_D24X8, D3DFMT_D16};

template <size_t N>
bool contains(const D3DFORMAT (&list)[N], D3DFORMAT format)
{
    return std::find(std::begin(list), std::end(list), format) != std::end(list);
}

bool defaultDeviceType(D3DFORMAT adapterFormat, D3DFORMAT backBufferFormat, BOOL windowed)
{
    if (windowed) {
        // The back buffer is converted when it is shown in a window.
        return backBufferFormat == D3DFMT_UNKNOWN || backBufferFormat == D3DFMT_A8R8G8B8 ||
               backBufferFormat == D3DFMT_X8R8G8B8 || backBufferFormat == D3DFMT_R5G6B5;
    }
    if (adapterFormat == D3DFMT_X8R8G8B8)
        return backBufferFormat == D3DFMT_A8R8G8B8 || backBufferFormat == D3DFMT_X8R8G8B8;
    if (adapterFormat == D3DFMT_R5G6B5)
        return backBufferFormat == D3DFMT_R5G6B5;
    return false;
}

bool defaultDeviceFormat(D3DFORMAT /*adapterFormat*/, DWORD usage, D3DRESOURCETYPE type, D3DFORMAT format)
{
    const DWORD role = usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL | D3DUSAGE_DMAP);
    const DWORD known = D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL | D3DUSAGE_DMAP | D3DUSAGE_DYNAMIC |
                        D3DUSAGE_SOFTWAREPROCESSING | D3DUSAGE_QUERY_FILTER |
                        D3DUSAGE_QUERY_POSTPIXELSHADER_BLENDING | D3DUSAGE_QUERY_WRAPANDMIP |
                        D3DUSAGE_QUERY_VERTEXTEXTURE;
    if (usage & ~known)
        return false; // sRGB, legacy bump maps and the rest are not offered
    if (role != 0 && role != D3DUSAGE_RENDERTARGET && role != D3DUSAGE_DEPTHSTENCIL)
        return false; // displacement maps, or two roles at once

    switch (type) {
    case D3DRTYPE_VERTEXBUFFER:
        return role == 0 && format == D3DFMT_VERTEXDATA;
    case D3DRTYPE_INDEXBUFFER:
        return role == 0 && (format == D3DFMT_INDEX16 || format == D3DFMT_INDEX32);
    case D3DRTYPE_SURFACE:
    case D3DRTYPE_TEXTURE:
    case D3DRTYPE_CUBETEXTURE:
    case D3DRTYPE_VOLUMETEXTURE:
    case D3DRTYPE_VOLUME:
        break;
    default:
        return false;
    }

    if (role == D3DUSAGE_DEPTHSTENCIL)
        return type == D3DRTYPE_SURFACE && contains(kDepthStencilFormats, format) && usage == D3DUSAGE_DEPTHSTENCIL;

    if (role == D3DUSAGE_RENDERTARGET) {
        if (type == D3DRTYPE_VOLUMETEXTURE || type == D3DRTYPE_VOLUME || (usage & D3DUSAGE_DYNAMIC))
            return false;
        if (!contains(kRenderTargetFormats, format))
            return false;
    } else if (!contains(kTextureFormats, format)) {
        return false;
    }
    if ((usage & D3DUSAGE_QUERY_VERTEXTEXTURE) && format != D3DFMT_R32F && format != D3DFMT_A32B32G32R32F)
        return false;
    if ((usage & D3DUSAGE_QUERY_POSTPIXELSHADER_BLENDING) && !contains(kRenderTargetFormats, format))
        return false;
    return true;
}

bool defaultDepthStencilMatch(D3DFORMAT /*adapterFormat*/, D3DFORMAT renderTargetFormat,
                              D3DFORMAT depthStencilFormat)
{
    return contains(kRenderTargetFormats, renderTargetFormat) && contains(kDepthStencilFormats, depthStencilFormat);
}

AdapterProfile baseProfile()
{
    const GlAdapterInfo& gl = glAdapterInfo();
    AdapterProfile p;
    if (gl.available) {
        p.description = gl.renderer;
        p.driver = gl.vendor.empty() ? "OpenGL" : gl.vendor;
        p.driverVersion = driverVersionFromGl(gl.version);
    } else {
        p.description = "Software Renderer";
        p.driver = "Software";
        p.driverVersion = makeDriverVersion(1, 0, 0, 0);
    }
    p.caps = defaultDeviceCaps();
    p.referenceDevice = true;
    p.referenceCaps = p.caps;
    p.deviceType = defaultDeviceType;
    p.deviceFormat = defaultDeviceFormat;
    p.depthStencilMatch = defaultDepthStencilMatch;
    // Every sample count up to the GL limit; GL rounds a count it lacks up
    // to the next one it has.
    const int maxSamples = gl.available && gl.maxSamples > 0 ? std::min(gl.maxSamples, 16) : 4;
    for (int t = 2; t <= maxSamples; ++t)
        p.multiSampleTypes.push_back(static_cast<D3DMULTISAMPLE_TYPE>(t));
    p.nonMaskableQualityLevels = static_cast<DWORD>(p.multiSampleTypes.size());
    return p;
}

std::vector<AdapterProfile> buildSystemProfiles()
{
    std::vector<AdapterProfile> profiles;
    const std::vector<DisplayDescription> displays = queryDisplays();
    for (size_t i = 0; i < displays.size(); ++i) {
        AdapterProfile p = baseProfile();
        p.modes = modesInDisplayFormats(displays[i].modes);
        p.desktopMode = {displays[i].desktop.width, displays[i].desktop.height, displays[i].desktop.refreshRate,
                         displays[i].desktopFormat};
        p.deviceName = "\\\\.\\DISPLAY" + std::to_string(i + 1);
        profiles.push_back(std::move(p));
    }
    if (profiles.empty()) {
        AdapterProfile p = baseProfile();
        p.modes = headlessDisplayModes();
        p.desktopMode = {1024, 768, kDefaultRefreshRate, D3DFMT_X8R8G8B8};
        p.deviceName = "\\\\.\\DISPLAY1";
        profiles.push_back(std::move(p));
    }
    return profiles;
}

} // namespace

LONGLONG makeDriverVersion(WORD product, WORD version, WORD subVersion, WORD build)
{
    const unsigned long long high = (unsigned long long)product << 16 | version;
    const unsigned long long low = (unsigned long long)subVersion << 16 | build;
    return static_cast<LONGLONG>(high << 32 | low);
}

std::vector<AdapterProfile> systemAdapterProfiles()
{
    static std::vector<AdapterProfile> profiles;
    static std::once_flag once;
    std::call_once(once, [] { profiles = buildSystemProfiles(); });
    return profiles;
}

AdapterProfile defaultAdapterProfile()
{
    return systemAdapterProfiles().front();
}

std::vector<D3DDISPLAYMODE> headlessDisplayModes()
{
    static const ModeSize sizes[] = {
        {640, 480, kDefaultRefreshRate},   {800, 600, kDefaultRefreshRate},   {1024, 768, kDefaultRefreshRate},
        {1152, 864, kDefaultRefreshRate},  {1280, 720, kDefaultRefreshRate},  {1280, 800, kDefaultRefreshRate},
        {1280, 960, kDefaultRefreshRate},  {1280, 1024, kDefaultRefreshRate}, {1366, 768, kDefaultRefreshRate},
        {1440, 900, kDefaultRefreshRate},  {1600, 900, kDefaultRefreshRate},  {1600, 1200, kDefaultRefreshRate},
        {1680, 1050, kDefaultRefreshRate}, {1920, 1080, kDefaultRefreshRate},
    };
    return modesInDisplayFormats(std::vector<ModeSize>(std::begin(sizes), std::end(sizes)));
}

D3DCAPS9 defaultDeviceCaps()
{
    const GlAdapterInfo& gl = glAdapterInfo();
    D3DCAPS9 c = {};
    c.DeviceType = D3DDEVTYPE_HAL;
    c.Caps2 = D3DCAPS2_DYNAMICTEXTURES;
    c.Caps3 = D3DCAPS3_ALPHA_FULLSCREEN_FLIP_OR_DISCARD | D3DCAPS3_COPY_TO_VIDMEM | D3DCAPS3_COPY_TO_SYSTEMMEM;
    c.PresentationIntervals = D3DPRESENT_INTERVAL_IMMEDIATE | D3DPRESENT_INTERVAL_ONE;
    c.DevCaps = D3DDEVCAPS_EXECUTESYSTEMMEMORY | D3DDEVCAPS_EXECUTEVIDEOMEMORY | D3DDEVCAPS_TLVERTEXSYSTEMMEMORY |
                D3DDEVCAPS_TLVERTEXVIDEOMEMORY | D3DDEVCAPS_TEXTURESYSTEMMEMORY | D3DDEVCAPS_TEXTUREVIDEOMEMORY |
                D3DDEVCAPS_DRAWPRIMTLVERTEX | D3DDEVCAPS_CANRENDERAFTERFLIP | D3DDEVCAPS_TEXTURENONLOCALVIDMEM |
                D3DDEVCAPS_DRAWPRIMITIVES2 | D3DDEVCAPS_DRAWPRIMITIVES2EX | D3DDEVCAPS_HWTRANSFORMANDLIGHT |
                D3DDEVCAPS_HWRASTERIZATION | D3DDEVCAPS_PUREDEVICE;
    c.PrimitiveMiscCaps = D3DPMISCCAPS_MASKZ | D3DPMISCCAPS_CULLNONE | D3DPMISCCAPS_CULLCW | D3DPMISCCAPS_CULLCCW |
                          D3DPMISCCAPS_COLORWRITEENABLE | D3DPMISCCAPS_CLIPPLANESCALEDPOINTS |
                          D3DPMISCCAPS_CLIPTLVERTS | D3DPMISCCAPS_TSSARGTEMP | D3DPMISCCAPS_BLENDOP |
                          D3DPMISCCAPS_INDEPENDENTWRITEMASKS | D3DPMISCCAPS_FOGANDSPECULARALPHA |
                          D3DPMISCCAPS_SEPARATEALPHABLEND | D3DPMISCCAPS_MRTINDEPENDENTBITDEPTHS |
                          D3DPMISCCAPS_MRTPOSTPIXELSHADERBLENDING | D3DPMISCCAPS_FOGVERTEXCLAMPED;
    c.RasterCaps = D3DPRASTERCAPS_DITHER | D3DPRASTERCAPS_ZTEST | D3DPRASTERCAPS_FOGVERTEX |
                   D3DPRASTERCAPS_FOGTABLE | D3DPRASTERCAPS_MIPMAPLODBIAS | D3DPRASTERCAPS_FOGRANGE |
                   D3DPRASTERCAPS_ANISOTROPY | D3DPRASTERCAPS_WFOG | D3DPRASTERCAPS_ZFOG |
                   D3DPRASTERCAPS_COLORPERSPECTIVE | D3DPRASTERCAPS_SCISSORTEST |
                   D3DPRASTERCAPS_SLOPESCALEDEPTHBIAS | D3DPRASTERCAPS_DEPTHBIAS |
                   D3DPRASTERCAPS_MULTISAMPLE_TOGGLE;
    const DWORD allCompares = D3DPCMPCAPS_NEVER | D3DPCMPCAPS_LESS | D3DPCMPCAPS_EQUAL | D3DPCMPCAPS_LESSEQUAL |
                              D3DPCMPCAPS_GREATER | D3DPCMPCAPS_NOTEQUAL | D3DPCMPCAPS_GREATEREQUAL |
                              D3DPCMPCAPS_ALWAYS;
    c.ZCmpCaps = allCompares;
    c.AlphaCmpCaps = allCompares;
    const DWORD blends = D3DPBLENDCAPS_ZERO | D3DPBLENDCAPS_ONE | D3DPBLENDCAPS_SRCCOLOR |
                         D3DPBLENDCAPS_INVSRCCOLOR | D3DPBLENDCAPS_SRCALPHA | D3DPBLENDCAPS_INVSRCALPHA |
                         D3DPBLENDCAPS_DESTALPHA | D3DPBLENDCAPS_INVDESTALPHA | D3DPBLENDCAPS_DESTCOLOR |
                         D3DPBLENDCAPS_INVDESTCOLOR | D3DPBLENDCAPS_SRCALPHASAT | D3DPBLENDCAPS_BOTHSRCALPHA |
                         D3DPBLENDCAPS_BOTHINVSRCALPHA | D3DPBLENDCAPS_BLENDFACTOR;
    c.SrcBlendCaps = blends;
    c.DestBlendCaps = blends;
    c.ShadeCaps = D3DPSHADECAPS_COLORGOURAUDRGB | D3DPSHADECAPS_SPECULARGOURAUDRGB |
                  D3DPSHADECAPS_ALPHAGOURAUDBLEND | D3DPSHADECAPS_FOGGOURAUD;
    // Sizes that are not powers of two work under the documented
    // conditions (clamped addressing, one level), which is what callers
    // look for.
    c.TextureCaps = D3DPTEXTURECAPS_PERSPECTIVE | D3DPTEXTURECAPS_POW2 | D3DPTEXTURECAPS_ALPHA |
                    D3DPTEXTURECAPS_NONPOW2CONDITIONAL | D3DPTEXTURECAPS_PROJECTED | D3DPTEXTURECAPS_CUBEMAP |
                    D3DPTEXTURECAPS_VOLUMEMAP | D3DPTEXTURECAPS_MIPMAP | D3DPTEXTURECAPS_MIPVOLUMEMAP |
                    D3DPTEXTURECAPS_MIPCUBEMAP | D3DPTEXTURECAPS_CUBEMAP_POW2 | D3DPTEXTURECAPS_VOLUMEMAP_POW2;
    const DWORD filters = D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MINFLINEAR | D3DPTFILTERCAPS_MINFANISOTROPIC |
                          D3DPTFILTERCAPS_MIPFPOINT | D3DPTFILTERCAPS_MIPFLINEAR | D3DPTFILTERCAPS_MAGFPOINT |
                          D3DPTFILTERCAPS_MAGFLINEAR | D3DPTFILTERCAPS_MAGFANISOTROPIC;
    c.TextureFilterCaps = filters;
    c.CubeTextureFilterCaps = filters;
    c.VolumeTextureFilterCaps = filters & ~(D3DPTFILTERCAPS_MINFANISOTROPIC | D3DPTFILTERCAPS_MAGFANISOTROPIC);
    const DWORD addressing = D3DPTADDRESSCAPS_WRAP | D3DPTADDRESSCAPS_MIRROR | D3DPTADDRESSCAPS_CLAMP |
                             D3DPTADDRESSCAPS_BORDER | D3DPTADDRESSCAPS_INDEPENDENTUV | D3DPTADDRESSCAPS_MIRRORONCE;
    c.TextureAddressCaps = addressing;
    c.VolumeTextureAddressCaps = addressing;
    c.LineCaps = D3DLINECAPS_TEXTURE | D3DLINECAPS_ZTEST | D3DLINECAPS_BLEND | D3DLINECAPS_ALPHACMP |
                 D3DLINECAPS_FOG | D3DLINECAPS_ANTIALIAS;
    const DWORD maxSize = gl.available && gl.maxTextureSize > 0 ? DWORD(gl.maxTextureSize) : 4096;
    c.MaxTextureWidth = maxSize;
    c.MaxTextureHeight = maxSize;
    c.MaxVolumeExtent = gl.available && gl.max3DTextureSize > 0 ? DWORD(gl.max3DTextureSize) : 256;
    c.MaxTextureRepeat = 8192;
    c.MaxTextureAspectRatio = maxSize;
    c.MaxAnisotropy = gl.available && gl.maxAnisotropy >= 1.0f ? DWORD(gl.maxAnisotropy) : 16;
    c.MaxVertexW = 1e10f;
    c.GuardBandLeft = -32768.0f;
    c.GuardBandTop = -32768.0f;
    c.GuardBandRight = 32768.0f;
    c.GuardBandBottom = 32768.0f;
    c.ExtentsAdjust = 0.0f;
    c.StencilCaps = D3DSTENCILCAPS_KEEP | D3DSTENCILCAPS_ZERO | D3DSTENCILCAPS_REPLACE | D3DSTENCILCAPS_INCRSAT |
                    D3DSTENCILCAPS_DECRSAT | D3DSTENCILCAPS_INVERT | D3DSTENCILCAPS_INCR | D3DSTENCILCAPS_DECR |
                    D3DSTENCILCAPS_TWOSIDED;
    c.FVFCaps = 8 | D3DFVFCAPS_PSIZE;
    // Every stage operation but premodulation and the bump-mapping pair.
    c.TextureOpCaps = (D3DTEXOPCAPS_LERP << 1) - 1;
    c.TextureOpCaps &= ~DWORD(D3DTEXOPCAPS_PREMODULATE | D3DTEXOPCAPS_BUMPENVMAP | D3DTEXOPCAPS_BUMPENVMAPLUMINANCE);
    c.MaxTextureBlendStages = 8;
    c.MaxSimultaneousTextures = 8;
    c.VertexProcessingCaps = D3DVTXPCAPS_TEXGEN | D3DVTXPCAPS_MATERIALSOURCE7 | D3DVTXPCAPS_DIRECTIONALLIGHTS |
                             D3DVTXPCAPS_POSITIONALLIGHTS | D3DVTXPCAPS_LOCALVIEWER | D3DVTXPCAPS_TEXGEN_SPHEREMAP;
    c.MaxActiveLights = 8;
    c.MaxUserClipPlanes = 6;
    // One world matrix: fixed-function vertex blending is not offered.
    c.MaxVertexBlendMatrices = 1;
    c.MaxVertexBlendMatrixIndex = 0;
    c.MaxPointSize = 64.0f;
    c.MaxPrimitiveCount = 0x555555;
    c.MaxVertexIndex = 0xFFFFFF;
    c.MaxStreams = 16;
    c.MaxStreamStride = 255;
    c.VertexShaderVersion = D3DVS_VERSION(3, 0);
    c.MaxVertexShaderConst = 256;
    c.PixelShaderVersion = D3DPS_VERSION(3, 0);
    c.PixelShader1xMaxValue = 65504.0f;
    c.DevCaps2 = D3DDEVCAPS2_STREAMOFFSET | D3DDEVCAPS2_CAN_STRETCHRECT_FROM_TEXTURES |
                 D3DDEVCAPS2_VERTEXELEMENTSCANSHARESTREAMOFFSET;
    c.MaxNpatchTessellationLevel = 0.0f;
    c.NumberOfAdaptersInGroup = 1;
    c.DeclTypes = D3DDTCAPS_UBYTE4 | D3DDTCAPS_UBYTE4N | D3DDTCAPS_SHORT2N | D3DDTCAPS_SHORT4N |
                  D3DDTCAPS_USHORT2N | D3DDTCAPS_USHORT4N | D3DDTCAPS_UDEC3 | D3DDTCAPS_DEC3N |
                  D3DDTCAPS_FLOAT16_2 | D3DDTCAPS_FLOAT16_4;
    c.NumSimultaneousRTs = 4;
    c.StretchRectFilterCaps = D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MINFLINEAR | D3DPTFILTERCAPS_MAGFPOINT |
                              D3DPTFILTERCAPS_MAGFLINEAR;
    c.VS20Caps.Caps = D3DVS20CAPS_PREDICATION;
    c.VS20Caps.DynamicFlowControlDepth = D3DVS20_MAX_DYNAMICFLOWCONTROLDEPTH;
    c.VS20Caps.NumTemps = D3DVS20_MAX_NUMTEMPS;
    c.VS20Caps.StaticFlowControlDepth = D3DVS20_MAX_STATICFLOWCONTROLDEPTH;
    c.PS20Caps.Caps = D3DPS20CAPS_ARBITRARYSWIZZLE | D3DPS20CAPS_GRADIENTINSTRUCTIONS | D3DPS20CAPS_PREDICATION |
                      D3DPS20CAPS_NODEPENDENTREADLIMIT | D3DPS20CAPS_NOTEXINSTRUCTIONLIMIT;
    c.PS20Caps.DynamicFlowControlDepth = D3DPS20_MAX_DYNAMICFLOWCONTROLDEPTH;
    c.PS20Caps.NumTemps = D3DPS20_MAX_NUMTEMPS;
    c.PS20Caps.StaticFlowControlDepth = D3DPS20_MAX_STATICFLOWCONTROLDEPTH;
    c.PS20Caps.NumInstructionSlots = D3DPS20_MAX_NUMINSTRUCTIONSLOTS;
    c.VertexTextureFilterCaps = D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MAGFPOINT;
    c.MaxVShaderInstructionsExecuted = 65535;
    c.MaxPShaderInstructionsExecuted = 65535;
    c.MaxVertexShader30InstructionSlots = D3DMIN30SHADERINSTRUCTIONS;
    c.MaxPixelShader30InstructionSlots = D3DMIN30SHADERINSTRUCTIONS;
    return c;
}

bool isDefaultTextureFormat(D3DFORMAT format)
{
    return contains(kTextureFormats, format);
}

bool isDefaultRenderTargetFormat(D3DFORMAT format)
{
    return contains(kRenderTargetFormats, format);
}

bool isDefaultDepthStencilFormat(D3DFORMAT format)
{
    return contains(kDepthStencilFormats, format);
}

HMONITOR adapterMonitor(UINT ordinal)
{
    return reinterpret_cast<HMONITOR>(static_cast<uintptr_t>(ordinal) + 1);
}

int monitorAdapter(HMONITOR monitor)
{
    return monitor ? static_cast<int>(reinterpret_cast<uintptr_t>(monitor) - 1) : -1;
}

} // namespace platform
