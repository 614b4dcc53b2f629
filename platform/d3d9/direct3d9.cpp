#include "platform/d3d9/direct3d9.h"

#include "platform/d3d9/device.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <optional>

namespace platform {

namespace {

std::mutex& settingsMutex()
{
    static std::mutex m;
    return m;
}

std::optional<std::vector<AdapterProfile>>& installedProfiles()
{
    static std::optional<std::vector<AdapterProfile>> profiles;
    return profiles;
}

bool& createFails()
{
    static bool fails = false;
    return fails;
}

std::atomic<int> liveObjects{0};

template <size_t N>
void copyText(char (&field)[N], const std::string& text)
{
    const size_t n = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

// A stable identifier per adapter name and output.
GUID adapterGuid(const AdapterProfile& profile)
{
    unsigned long long h = 1469598103934665603ull;
    for (unsigned char c : profile.description + '\n' + profile.deviceName)
        h = (h ^ c) * 1099511628211ull;
    const unsigned long long g = h * 0x9E3779B97F4A7C15ull;
    GUID guid;
    guid.Data1 = DWORD(h >> 32);
    guid.Data2 = WORD(h >> 16);
    guid.Data3 = WORD(h);
    for (int i = 0; i < 8; ++i)
        guid.Data4[i] = BYTE(g >> (8 * i));
    return guid;
}

} // namespace

Direct3D9::Direct3D9(std::vector<AdapterProfile> adapters)
    : m_adapters(std::move(adapters))
{
    ++liveObjects;
}

Direct3D9::~Direct3D9()
{
    --liveObjects;
}

const AdapterProfile* Direct3D9::adapter(UINT ordinal) const
{
    return ordinal < m_adapters.size() ? &m_adapters[ordinal] : nullptr;
}

HRESULT Direct3D9::checkAdapter(UINT adapter, D3DDEVTYPE deviceType) const
{
    const AdapterProfile* profile = this->adapter(adapter);
    if (!profile)
        return D3DERR_INVALIDCALL;
    switch (deviceType) {
    case D3DDEVTYPE_HAL:
        return D3D_OK;
    case D3DDEVTYPE_REF:
        return profile->referenceDevice ? D3D_OK : D3DERR_NOTAVAILABLE;
    case D3DDEVTYPE_SW: // no software device can be registered
    case D3DDEVTYPE_NULLREF:
        return D3DERR_NOTAVAILABLE;
    default:
        return D3DERR_INVALIDCALL;
    }
}

bool Direct3D9::displaysFormat(const AdapterProfile& profile, D3DFORMAT adapterFormat) const
{
    if (adapterFormat == D3DFMT_UNKNOWN)
        return false;
    if (profile.desktopMode.Format == adapterFormat)
        return true;
    return std::any_of(profile.modes.begin(), profile.modes.end(),
                       [&](const D3DDISPLAYMODE& m) { return m.Format == adapterFormat; });
}

bool Direct3D9::acceptsFormat(const AdapterProfile& profile, D3DFORMAT adapterFormat, DWORD usage,
                              D3DRESOURCETYPE type, D3DFORMAT format) const
{
    return profile.deviceFormat && displaysFormat(profile, adapterFormat) &&
           profile.deviceFormat(adapterFormat, usage, type, format);
}

STDMETHODIMP Direct3D9::RegisterSoftwareDevice(void* /*pInitializeFunction*/)
{
    return D3DERR_NOTAVAILABLE;
}

STDMETHODIMP_(UINT) Direct3D9::GetAdapterCount()
{
    return static_cast<UINT>(m_adapters.size());
}

STDMETHODIMP Direct3D9::GetAdapterIdentifier(UINT Adapter, DWORD Flags, D3DADAPTER_IDENTIFIER9* pIdentifier)
{
    const AdapterProfile* profile = adapter(Adapter);
    if (!profile || !pIdentifier)
        return D3DERR_INVALIDCALL;
    D3DADAPTER_IDENTIFIER9& id = *pIdentifier;
    std::memset(&id, 0, sizeof(id));
    copyText(id.Driver, profile->driver);
    copyText(id.Description, profile->description);
    copyText(id.DeviceName, profile->deviceName);
    id.DriverVersion.QuadPart = profile->driverVersion;
    id.VendorId = profile->vendorId;
    id.DeviceId = profile->deviceId;
    id.SubSysId = profile->subSysId;
    id.Revision = profile->revision;
    id.DeviceIdentifier = adapterGuid(*profile);
    // Asking for the certification level is the slow path on Windows;
    // here the driver simply counts as certified.
    id.WHQLLevel = (Flags & D3DENUM_WHQL_LEVEL) ? 1 : 0;
    return D3D_OK;
}

STDMETHODIMP_(UINT) Direct3D9::GetAdapterModeCount(UINT Adapter, D3DFORMAT Format)
{
    const AdapterProfile* profile = adapter(Adapter);
    if (!profile)
        return 0;
    return static_cast<UINT>(std::count_if(profile->modes.begin(), profile->modes.end(),
                                           [&](const D3DDISPLAYMODE& m) { return m.Format == Format; }));
}

STDMETHODIMP Direct3D9::EnumAdapterModes(UINT Adapter, D3DFORMAT Format, UINT Mode, D3DDISPLAYMODE* pMode)
{
    const AdapterProfile* profile = adapter(Adapter);
    if (!profile || !pMode)
        return D3DERR_INVALIDCALL;
    UINT index = 0;
    for (const D3DDISPLAYMODE& m : profile->modes) {
        if (m.Format != Format)
            continue;
        if (index == Mode) {
            *pMode = m;
            return D3D_OK;
        }
        ++index;
    }
    return index == 0 ? D3DERR_NOTAVAILABLE : D3DERR_INVALIDCALL;
}

STDMETHODIMP Direct3D9::GetAdapterDisplayMode(UINT Adapter, D3DDISPLAYMODE* pMode)
{
    const AdapterProfile* profile = adapter(Adapter);
    if (!profile || !pMode)
        return D3DERR_INVALIDCALL;
    *pMode = profile->desktopMode;
    return D3D_OK;
}

STDMETHODIMP Direct3D9::CheckDeviceType(UINT Adapter, D3DDEVTYPE DevType, D3DFORMAT AdapterFormat,
                                        D3DFORMAT BackBufferFormat, BOOL bWindowed)
{
    HRESULT hr = checkAdapter(Adapter, DevType);
    if (FAILED(hr))
        return hr;
    const AdapterProfile& profile = m_adapters[Adapter];
    if (!profile.deviceType || !displaysFormat(profile, AdapterFormat))
        return D3DERR_NOTAVAILABLE;
    return profile.deviceType(AdapterFormat, BackBufferFormat, bWindowed) ? D3D_OK : D3DERR_NOTAVAILABLE;
}

STDMETHODIMP Direct3D9::CheckDeviceFormat(UINT Adapter, D3DDEVTYPE DeviceType, D3DFORMAT AdapterFormat, DWORD Usage,
                                          D3DRESOURCETYPE RType, D3DFORMAT CheckFormat)
{
    HRESULT hr = checkAdapter(Adapter, DeviceType);
    if (FAILED(hr))
        return hr;
    const AdapterProfile& profile = m_adapters[Adapter];
    const bool autoGen = (Usage & D3DUSAGE_AUTOGENMIPMAP) != 0;
    if (autoGen && RType != D3DRTYPE_TEXTURE && RType != D3DRTYPE_CUBETEXTURE)
        return D3DERR_NOTAVAILABLE;
    if (!acceptsFormat(profile, AdapterFormat, Usage & ~DWORD(D3DUSAGE_AUTOGENMIPMAP), RType, CheckFormat))
        return D3DERR_NOTAVAILABLE;
    if (autoGen && !(profile.caps.Caps2 & D3DCAPS2_CANAUTOGENMIPMAP))
        return D3DOK_NOAUTOGEN;
    return D3D_OK;
}

STDMETHODIMP Direct3D9::CheckDeviceMultiSampleType(UINT Adapter, D3DDEVTYPE DeviceType, D3DFORMAT SurfaceFormat,
                                                   BOOL /*Windowed*/, D3DMULTISAMPLE_TYPE MultiSampleType,
                                                   DWORD* pQualityLevels)
{
    if (pQualityLevels)
        *pQualityLevels = 0;
    HRESULT hr = checkAdapter(Adapter, DeviceType);
    if (FAILED(hr))
        return hr;
    if (MultiSampleType < D3DMULTISAMPLE_NONE || MultiSampleType > D3DMULTISAMPLE_16_SAMPLES)
        return D3DERR_INVALIDCALL;
    const AdapterProfile& profile = m_adapters[Adapter];

    // Multisampling applies to surfaces that are drawn into.
    const D3DFORMAT desktop = profile.desktopMode.Format;
    const bool drawable = acceptsFormat(profile, desktop, D3DUSAGE_RENDERTARGET, D3DRTYPE_SURFACE, SurfaceFormat) ||
                          acceptsFormat(profile, desktop, D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, SurfaceFormat);
    if (!drawable)
        return D3DERR_NOTAVAILABLE;

    DWORD levels = 0;
    if (MultiSampleType == D3DMULTISAMPLE_NONE) {
        levels = 1;
    } else if (MultiSampleType == D3DMULTISAMPLE_NONMASKABLE) {
        levels = profile.nonMaskableQualityLevels;
    } else if (std::find(profile.multiSampleTypes.begin(), profile.multiSampleTypes.end(), MultiSampleType) !=
               profile.multiSampleTypes.end()) {
        levels = 1;
    }
    if (levels == 0)
        return D3DERR_NOTAVAILABLE;
    if (pQualityLevels)
        *pQualityLevels = levels;
    return D3D_OK;
}

STDMETHODIMP Direct3D9::CheckDepthStencilMatch(UINT Adapter, D3DDEVTYPE DeviceType, D3DFORMAT AdapterFormat,
                                               D3DFORMAT RenderTargetFormat, D3DFORMAT DepthStencilFormat)
{
    HRESULT hr = checkAdapter(Adapter, DeviceType);
    if (FAILED(hr))
        return hr;
    const AdapterProfile& profile = m_adapters[Adapter];
    if (!profile.depthStencilMatch || !displaysFormat(profile, AdapterFormat))
        return D3DERR_NOTAVAILABLE;
    return profile.depthStencilMatch(AdapterFormat, RenderTargetFormat, DepthStencilFormat) ? D3D_OK
                                                                                             : D3DERR_NOTAVAILABLE;
}

STDMETHODIMP Direct3D9::CheckDeviceFormatConversion(UINT Adapter, D3DDEVTYPE DeviceType, D3DFORMAT SourceFormat,
                                                    D3DFORMAT TargetFormat)
{
    HRESULT hr = checkAdapter(Adapter, DeviceType);
    if (FAILED(hr))
        return hr;
    // StretchRect converts between the formats it can draw into.
    const AdapterProfile& profile = m_adapters[Adapter];
    const D3DFORMAT desktop = profile.desktopMode.Format;
    const bool ok = acceptsFormat(profile, desktop, D3DUSAGE_RENDERTARGET, D3DRTYPE_SURFACE, SourceFormat) &&
                    acceptsFormat(profile, desktop, D3DUSAGE_RENDERTARGET, D3DRTYPE_SURFACE, TargetFormat);
    return ok ? D3D_OK : D3DERR_NOTAVAILABLE;
}

STDMETHODIMP Direct3D9::GetDeviceCaps(UINT Adapter, D3DDEVTYPE DeviceType, D3DCAPS9* pCaps)
{
    if (!pCaps)
        return D3DERR_INVALIDCALL;
    HRESULT hr = checkAdapter(Adapter, DeviceType);
    if (FAILED(hr))
        return hr;
    const AdapterProfile& profile = m_adapters[Adapter];
    *pCaps = DeviceType == D3DDEVTYPE_REF ? profile.referenceCaps : profile.caps;
    pCaps->DeviceType = DeviceType;
    pCaps->AdapterOrdinal = Adapter;
    pCaps->MasterAdapterOrdinal = Adapter;
    pCaps->AdapterOrdinalInGroup = 0;
    pCaps->NumberOfAdaptersInGroup = 1;
    return D3D_OK;
}

STDMETHODIMP_(HMONITOR) Direct3D9::GetAdapterMonitor(UINT Adapter)
{
    return adapter(Adapter) ? adapterMonitor(Adapter) : nullptr;
}

STDMETHODIMP Direct3D9::CreateDevice(UINT Adapter, D3DDEVTYPE DeviceType, HWND hFocusWindow, DWORD BehaviorFlags,
                                     D3DPRESENT_PARAMETERS* pPresentationParameters,
                                     IDirect3DDevice9** ppReturnedDeviceInterface)
{
    if (!ppReturnedDeviceInterface || !pPresentationParameters)
        return D3DERR_INVALIDCALL;
    *ppReturnedDeviceInterface = nullptr;
    HRESULT hr = checkAdapter(Adapter, DeviceType);
    if (FAILED(hr))
        return hr;
    if (!hFocusWindow && !pPresentationParameters->hDeviceWindow)
        return D3DERR_INVALIDCALL;
    return d3d9::Device::create(this, m_adapters[Adapter], Adapter, DeviceType, hFocusWindow, BehaviorFlags,
                                pPresentationParameters, ppReturnedDeviceInterface);
}

void installAdapterProfiles(std::vector<AdapterProfile> profiles)
{
    std::lock_guard<std::mutex> lock(settingsMutex());
    installedProfiles() = std::move(profiles);
}

void clearAdapterProfiles()
{
    std::lock_guard<std::mutex> lock(settingsMutex());
    installedProfiles().reset();
}

void setDirect3DCreate9Fails(bool fails)
{
    std::lock_guard<std::mutex> lock(settingsMutex());
    createFails() = fails;
}

int liveDirect3D9Objects()
{
    return liveObjects;
}

} // namespace platform

IDirect3D9* WINAPI Direct3DCreate9(UINT sdkVersion)
{
    // The top bit asks for the debug runtime; the version itself must match.
    if ((sdkVersion & 0x7FFFFFFFu) != D3D_SDK_VERSION)
        return nullptr;
    std::vector<platform::AdapterProfile> profiles;
    bool installed = false;
    {
        std::lock_guard<std::mutex> lock(platform::settingsMutex());
        if (platform::createFails())
            return nullptr;
        if (platform::installedProfiles()) {
            profiles = *platform::installedProfiles();
            installed = true;
        }
    }
    if (!installed)
        profiles = platform::systemAdapterProfiles();
    return new platform::Direct3D9(std::move(profiles));
}
