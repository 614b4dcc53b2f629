// What the Direct3D object reports about its adapters. By default one
// profile per display (or one headless profile) describes the GL device;
// tests install their own profiles to drive enumeration and format choice.
#pragma once

#include "platform/d3d9/d3d9_interfaces.h"

#include <functional>
#include <string>
#include <vector>

namespace platform {

struct AdapterProfile {
    // D3DADAPTER_IDENTIFIER9 fields (strings are cut to the field sizes).
    std::string description;
    std::string driver;
    std::string deviceName;
    LONGLONG driverVersion = 0; // see makeDriverVersion
    DWORD vendorId = 0;
    DWORD deviceId = 0;
    DWORD subSysId = 0;
    DWORD revision = 0;

    // Display modes in enumeration order; GetAdapterModeCount(format) counts
    // the entries of that format, EnumAdapterModes indexes them.
    std::vector<D3DDISPLAYMODE> modes;
    D3DDISPLAYMODE desktopMode = {};

    // Caps of D3DDEVTYPE_HAL, and of D3DDEVTYPE_REF when referenceDevice is
    // set (otherwise REF answers D3DERR_NOTAVAILABLE). DeviceType and the
    // ordinals are filled in per call.
    D3DCAPS9 caps = {};
    bool referenceDevice = true;
    D3DCAPS9 referenceCaps = {};

    // Answers of the Check* calls for both device types. The adapter format
    // of every check must be the format of one of the modes or of the desktop
    // mode; the predicates are asked only then. An empty predicate refuses
    // everything.
    std::function<bool(D3DFORMAT adapterFormat, D3DFORMAT backBufferFormat, BOOL windowed)> deviceType;
    // D3DUSAGE_AUTOGENMIPMAP is taken off before the question is asked;
    // without D3DCAPS2_CANAUTOGENMIPMAP a yes then becomes D3DOK_NOAUTOGEN.
    std::function<bool(D3DFORMAT adapterFormat, DWORD usage, D3DRESOURCETYPE type, D3DFORMAT format)> deviceFormat;
    std::function<bool(D3DFORMAT adapterFormat, D3DFORMAT renderTargetFormat, D3DFORMAT depthStencilFormat)>
        depthStencilMatch;
    // Maskable types (2-16) accepted, each with one quality level, for every
    // format that deviceFormat accepts as a render-target or depth-stencil
    // surface; D3DMULTISAMPLE_NONMASKABLE has this many levels (0: refused).
    std::vector<D3DMULTISAMPLE_TYPE> multiSampleTypes;
    DWORD nonMaskableQualityLevels = 0;
};

// DriverVersion as D3D packs it: product.version in the high 32 bits,
// subVersion.build in the low 32 bits.
LONGLONG makeDriverVersion(WORD product, WORD version, WORD subVersion, WORD build);

// The first adapter of the machine as the stand-in describes it (see
// systemAdapterProfiles).
AdapterProfile defaultAdapterProfile();

// One profile per display: its modes (sorted by width, height and refresh
// rate) in X8R8G8B8 and R5G6B5, the GL renderer as description. Without a
// display (no video, or SDL's offscreen or dummy driver) one adapter with
// headlessDisplayModes(). Queried once per process.
std::vector<AdapterProfile> systemAdapterProfiles();

// The common modes 640 x 480 .. 1920 x 1080 at 60 Hz, in X8R8G8B8 and then
// in R5G6B5.
std::vector<D3DDISPLAYMODE> headlessDisplayModes();

// A shader model 3 hardware T&L device with 8 texture stages.
D3DCAPS9 defaultDeviceCaps();

// The formats the default profile answers for (see defaultAdapterProfile).
bool isDefaultTextureFormat(D3DFORMAT format);
bool isDefaultRenderTargetFormat(D3DFORMAT format);
bool isDefaultDepthStencilFormat(D3DFORMAT format);

// Direct3DCreate9 uses these profiles instead of the system ones until
// clearAdapterProfiles. An empty list gives a Direct3D object without
// adapters. Objects already created keep the profiles they started with.
void installAdapterProfiles(std::vector<AdapterProfile> profiles);
void clearAdapterProfiles();

// While set, Direct3DCreate9 returns null as it does without Direct3D 9.
void setDirect3DCreate9Fails(bool fails);

// Direct3D objects created and not yet released.
int liveDirect3D9Objects();

// The monitor handle of an adapter: ordinal + 1, so that a null handle
// never names an adapter. monitorAdapter maps back (-1 for null).
HMONITOR adapterMonitor(UINT ordinal);
int monitorAdapter(HMONITOR monitor);

} // namespace platform
