#include "display/display_manager.h"

#include "foundation/diagnostics.h"
#include "foundation/log.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

const char kNoDirectXText[] = "This application requires Microsoft DirectX 9.0 or higher,\n"
                              "which is freely available at http://www.microsoft.com/directx";

const char kNoHardwareTnLText[] = "Your video adapter does not support transformation and lighting\n"
                                  "in hardware, which is a minimum requirement for this application.";

const char kStereoNeedsTwoAdaptersText[] = "For fullscreen stereo two adapters are required.";

const char kSelectedAdapterNoTnLText[] = "The selected video adapter (see advanced options)\n"
                                         "does not support transformation and lighting in\n"
                                         "hardware, which is a required by this application.";

const char kDeviceCreationText[] = "Error Creating Direct3d device...\nGuess something went wrong...";

const char kWindowTitle[] = "Quillon 3D Realtime Technology by Corvane";

} // namespace

AdapterInfo::~AdapterInfo()
{
    delete[] modes;
}

DisplayManager::DisplayManager() : settings(new DisplaySettings)
{
}

DisplayManager::~DisplayManager()
{
    // Devices and windows first: they point into the adapter records.
    releaseDevices();
    releaseAdapters();
    if (d3d)
        d3d->Release();
    delete settings;
}

void DisplayManager::releaseAdapters()
{
    delete[] adapters;
    adapters = nullptr;
    adapterCount = 0;
}

void DisplayManager::releaseDevices()
{
    delete[] devices;
    devices = nullptr;
    deviceCount = 0;
}

AdapterInfo* DisplayManager::adapterAt(int adapter) const
{
    if (!adapters || adapter < 0 || adapter >= adapterCount)
        return nullptr;
    return &adapters[adapter];
}

bool DisplayManager::enumerateAdapters()
{
    releaseDevices();
    releaseAdapters();
    if (d3d) {
        d3d->Release();
        d3d = nullptr;
    }

    d3d = Direct3DCreate9(D3D_SDK_VERSION);
    if (!d3d) {
        MessageBoxA(nullptr, kNoDirectXText, "Error", MB_ICONHAND);
        return false;
    }

    const UINT count = d3d->GetAdapterCount();
    adapterCount = static_cast<i32>(count);
    adapters = count ? new AdapterInfo[count] : nullptr;
    logStream << "Number of Adapters: " << adapterCount << std::endl;

    bool anyHardwareTnL = false;
    for (UINT i = 0; i < count; ++i) {
        AdapterInfo& info = adapters[i];
        d3d->GetAdapterIdentifier(i, 0, &info.identifier);
        const char* description = info.identifier.Description;
        const std::string name(description, strnlen(description, sizeof(info.identifier.Description)));
        logStream << "Adapter " << i << ": " << name << std::endl;

        info.monitor = d3d->GetAdapterMonitor(i);
        d3d->GetDeviceCaps(i, D3DDEVTYPE_HAL, &info.caps);
        info.modeCount = d3d->GetAdapterModeCount(i, D3DFMT_X8R8G8B8);
        if (info.modeCount) {
            info.modes = new D3DDISPLAYMODE[info.modeCount]();
            for (UINT j = 0; j < info.modeCount; ++j)
                d3d->EnumAdapterModes(i, D3DFMT_X8R8G8B8, j, &info.modes[j]);
        }
        d3d->GetAdapterDisplayMode(i, &info.desktopMode);

        const u32 high = static_cast<u32>(info.identifier.DriverVersion.HighPart);
        const u32 low = info.identifier.DriverVersion.LowPart;
        logStream << "  Driver Version: " << (high >> 16) << "." << (high & 0xFFFF) << "." << (low >> 16) << "."
                  << (low & 0xFFFF) << std::endl;

        if (info.caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT)
            anyHardwareTnL = true;
    }

    if (!anyHardwareTnL) {
        MessageBoxA(nullptr, kNoHardwareTnLText, "Error", MB_ICONHAND);
        return false;
    }
    return true;
}

D3DFORMAT DisplayManager::settleFormat(D3DFORMAT setting, const std::vector<int>& qualifying)
{
    bool ok[kDisplayFormatCount] = {};
    for (int index : qualifying)
        if (index >= 0 && index < kDisplayFormatCount)
            ok[index] = true;

    int first = -1;
    int last = -1;
    for (int i = 0; i < kDisplayFormatCount; ++i) {
        if (!ok[i])
            continue;
        if (first < 0)
            first = i;
        last = i;
    }
    if (first < 0)
        return D3DFMT_UNKNOWN;
    if (setting == D3DFMT_UNKNOWN)
        return displayFormats[first];

    const int position = displayFormatIndex(setting);
    if (position < 0)
        return displayFormats[last];
    if (ok[position])
        return setting;
    for (int i = position - 1; i >= 0; --i)
        if (ok[i])
            return displayFormats[i];
    for (int i = position + 1; i < kDisplayFormatCount; ++i)
        if (ok[i])
            return displayFormats[i];
    return D3DFMT_UNKNOWN;
}

void DisplayManager::collectDisplayFormats(int adapter)
{
    AdapterInfo* info = adapterAt(adapter);
    std::vector<int> qualifying;
    if (info) {
        for (int i = 0; i < kDisplayFormatCount; ++i) {
            for (u32 j = 0; j < info->modeCount; ++j) {
                if (info->modes[j].Format == displayFormats[i]) {
                    qualifying.push_back(i);
                    break;
                }
            }
        }
        info->displayFormats = qualifying;
    }
    settings->adapterFormat = settleFormat(settings->adapterFormat, qualifying);
}

void DisplayManager::collectTextureFormats(int adapter, D3DDEVTYPE deviceType, D3DFORMAT adapterFormat,
                                           BOOL windowed)
{
    AdapterInfo* info = adapterAt(adapter);
    if (!info || !d3d) {
        settings->backBufferFormat = D3DFMT_UNKNOWN;
        return;
    }

    info->backBufferFormats.clear();
    for (int i = 0; i < kDisplayFormatCount; ++i)
        if (SUCCEEDED(d3d->CheckDeviceType(adapter, deviceType, adapterFormat, displayFormats[i], windowed)))
            info->backBufferFormats.push_back(i);
    settings->backBufferFormat = settleFormat(settings->backBufferFormat, info->backBufferFormats);

    info->textureFormats.clear();
    info->renderTargetTextureFormats.clear();
    info->displacementTextureFormats.clear();
    info->cubeTextureFormats.clear();
    info->cubeRenderTargetFormats.clear();
    info->volumeTextureFormats.clear();
    auto check = [&](DWORD usage, D3DRESOURCETYPE type, const FormatDesc& row) {
        return SUCCEEDED(d3d->CheckDeviceFormat(adapter, deviceType, adapterFormat, usage, type, row.format));
    };
    for (u32 r = 0; r < formatTableCount; ++r) {
        const FormatDesc& row = formatTable[r];
        const DWORD targetUsage = (row.flags & kFormatDepth) ? D3DUSAGE_DEPTHSTENCIL : D3DUSAGE_RENDERTARGET;
        if (check(0, D3DRTYPE_TEXTURE, row))
            info->textureFormats.push_back(&row);
        if (check(targetUsage, D3DRTYPE_TEXTURE, row))
            info->renderTargetTextureFormats.push_back(&row);
        if (check(D3DUSAGE_DMAP, D3DRTYPE_TEXTURE, row))
            info->displacementTextureFormats.push_back(&row);
        if (check(0, D3DRTYPE_CUBETEXTURE, row))
            info->cubeTextureFormats.push_back(&row);
        if (check(targetUsage, D3DRTYPE_CUBETEXTURE, row))
            info->cubeRenderTargetFormats.push_back(&row);
        if (check(0, D3DRTYPE_VOLUMETEXTURE, row))
            info->volumeTextureFormats.push_back(&row);
    }
}

void DisplayManager::collectMultisampleTypes(int adapter, D3DDEVTYPE deviceType, D3DFORMAT format, BOOL windowed)
{
    AdapterInfo* info = adapterAt(adapter);
    std::vector<D3DMULTISAMPLE_TYPE> supported;
    u32 nonMaskableLevels = 0;
    if (info && d3d) {
        for (int t = 2; t <= 16; ++t) {
            const D3DMULTISAMPLE_TYPE type = static_cast<D3DMULTISAMPLE_TYPE>(t);
            if (d3d->CheckDeviceMultiSampleType(adapter, deviceType, format, windowed, type, nullptr) == D3D_OK)
                supported.push_back(type);
        }
        DWORD levels = 0;
        if (d3d->CheckDeviceMultiSampleType(adapter, deviceType, format, windowed, D3DMULTISAMPLE_NONMASKABLE,
                                            &levels) == D3D_OK)
            nonMaskableLevels = levels;
        info->multiSampleTypes = supported;
        info->nonMaskableQualityLevels = nonMaskableLevels;
    }

    auto highestUpTo = [&](int limit) {
        D3DMULTISAMPLE_TYPE best = D3DMULTISAMPLE_NONE;
        for (D3DMULTISAMPLE_TYPE t : supported)
            if (t <= limit && t > best)
                best = t;
        return best;
    };

    const int requested = static_cast<int>(settings->multiSampleType);
    if (requested == 0) {
        settings->multiSampleType = D3DMULTISAMPLE_NONE;
        settings->multiSampleQuality = 0;
    } else if (requested >= 2 && requested <= 16) {
        settings->multiSampleType = highestUpTo(requested);
        settings->multiSampleQuality = 0;
    } else if (nonMaskableLevels > 0) {
        settings->multiSampleType = D3DMULTISAMPLE_NONMASKABLE;
        if (settings->multiSampleQuality >= nonMaskableLevels)
            settings->multiSampleQuality = nonMaskableLevels - 1;
    } else {
        settings->multiSampleType = highestUpTo(16);
        settings->multiSampleQuality = 0;
    }
}

void DisplayManager::collectDepthFormats(int adapter, D3DDEVTYPE deviceType, D3DFORMAT adapterFormat,
                                         D3DFORMAT renderTargetFormat)
{
    AdapterInfo* info = adapterAt(adapter);
    if (!info || !d3d)
        return;
    info->depthFormats.clear();
    for (u32 r = 0; r < formatTableCount; ++r) {
        const FormatDesc& row = formatTable[r];
        if (!(row.flags & kFormatDepth))
            continue;
        if (FAILED(d3d->CheckDeviceFormat(adapter, deviceType, adapterFormat, D3DUSAGE_DEPTHSTENCIL,
                                          D3DRTYPE_SURFACE, row.format)))
            continue;
        if (FAILED(d3d->CheckDepthStencilMatch(adapter, deviceType, adapterFormat, renderTargetFormat, row.format)))
            continue;
        info->depthFormats.push_back(&row);
    }
}

bool DisplayManager::createDevices(const char* className, HINSTANCE instance)
{
    releaseDevices();
    const i32 count = settings->stereo ? 2 : 1;
    deviceCount = count;

    if (settings->stereo && !settings->windowed && adapterCount < 2) {
        MessageBoxA(nullptr, kStereoNeedsTwoAdaptersText, "Error", MB_ICONHAND);
        return false;
    }

    devices = new DeviceWindow[count];
    for (i32 i = 0; i < count; ++i) {
        DeviceWindow& output = devices[i];
        // A stale or negative adapter setting still lands on an existing
        // adapter; with none at all the adapter check below refuses.
        i32 ordinal = 0;
        if (adapterCount > 0) {
            const i64 wrapped = (static_cast<i64>(settings->adapter) + i) % adapterCount;
            ordinal = static_cast<i32>(wrapped < 0 ? wrapped + adapterCount : wrapped);
        }
        output.adapterOrdinal = ordinal;
        output.adapterInfo = adapterAt(ordinal);
        output.deviceType = settings->refRast ? D3DDEVTYPE_REF : D3DDEVTYPE_HAL;
        if (!output.adapterInfo || !(output.adapterInfo->caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT)) {
            MessageBoxA(nullptr, kSelectedAdapterNoTnLText, "Error", MB_ICONHAND);
            return false;
        }
    }

    // The dialogs keep the sizes in range; settings filled in by other
    // means are held to the same range here.
    const i32 windowWidth = std::clamp(settings->windowWidth, 1, kMaxWindowSide);
    const i32 windowHeight = std::clamp(settings->windowHeight, 1, kMaxWindowSide);
    for (i32 i = 0; i < count; ++i) {
        RECT rect = {0, 0, windowWidth, windowHeight};
        AdjustWindowRect(&rect, WS_OVERLAPPEDWINDOW, FALSE);
        devices[i].window = CreateWindowExA(0, className, kWindowTitle, WS_OVERLAPPEDWINDOW,
                                            windowWidth * i, 0, rect.right - rect.left,
                                            rect.bottom - rect.top, nullptr, nullptr, instance, nullptr);
    }

    if (!createDeviceObjects()) {
        MessageBoxA(nullptr, kDeviceCreationText, "Error", MB_ICONHAND);
        return false;
    }
    return true;
}

DWORD DisplayManager::behaviourFlags(const D3DCAPS9& caps) const
{
    DWORD behaviour;
    if (caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT)
        behaviour = caps.VertexShaderVersion >= D3DVS_VERSION(1, 1) ? D3DCREATE_HARDWARE_VERTEXPROCESSING
                                                                    : D3DCREATE_MIXED_VERTEXPROCESSING;
    else
        behaviour = D3DCREATE_SOFTWARE_VERTEXPROCESSING;
    if (settings->softwareVP)
        behaviour = D3DCREATE_SOFTWARE_VERTEXPROCESSING;
    if (settings->pureDevice)
        behaviour = D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_PUREDEVICE;
    // The video thread draws through the device as well.
    return behaviour | D3DCREATE_MULTITHREADED;
}

bool DisplayManager::createDeviceObjects()
{
    if (!d3d || !devices)
        return false;
    const FormatRequest depthRequest = depthStencilRequest();
    for (i32 i = 0; i < deviceCount; ++i) {
        DeviceWindow& output = devices[i];
        if (!output.adapterInfo)
            return false;
        AdapterInfo& adapter = *output.adapterInfo;

        D3DPRESENT_PARAMETERS& pp = output.presentParameters;
        pp = D3DPRESENT_PARAMETERS();
        pp.BackBufferCount = 2;
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        pp.MultiSampleType = settings->multiSampleType;
        pp.MultiSampleQuality = settings->multiSampleQuality;
        pp.PresentationInterval = D3DPRESENT_INTERVAL_DEFAULT;
        pp.hDeviceWindow = output.window;

        // The setup dialogs collect the lists of the selected adapter only;
        // the second adapter of a stereo pair would otherwise get no depth
        // buffer at all.
        if (adapter.depthFormats.empty())
            collectDepthFormats(output.adapterOrdinal, output.deviceType, settings->adapterFormat,
                                settings->backBufferFormat);
        output.depthFormat = depthRequest.findBest(adapter.depthFormats);
        ENGINE_ASSERT(output.depthFormat && "device does not support depth/stencil?");
        pp.EnableAutoDepthStencil = output.depthFormat != nullptr;
        pp.AutoDepthStencilFormat = output.depthFormat ? output.depthFormat->format : D3DFMT_UNKNOWN;

        pp.Flags = D3DPRESENTFLAG_DISCARD_DEPTHSTENCIL;
        if (pp.MultiSampleType == D3DMULTISAMPLE_NONE)
            pp.Flags |= D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;

        pp.BackBufferFormat = settings->backBufferFormat;
        if (settings->windowed) {
            pp.Windowed = TRUE;
            pp.BackBufferWidth = 0; // the window's client size
            pp.BackBufferHeight = 0;
        } else {
            pp.Windowed = FALSE;
            pp.BackBufferWidth = static_cast<UINT>(settings->width);
            pp.BackBufferHeight = static_cast<UINT>(settings->height);
            pp.FullScreen_RefreshRateInHz = 0;
        }

        const DWORD behaviour = behaviourFlags(adapter.caps);
        HWND focus = devices[0].window;
        HRESULT hr = d3d->CreateDevice(output.adapterOrdinal, output.deviceType, focus, behaviour, &pp,
                                       &output.device);
        if (FAILED(hr))
            hr = d3d->CreateDevice(output.adapterOrdinal, output.deviceType, focus, behaviour, &pp, &output.device);
        if (FAILED(hr)) {
            output.device = nullptr;
            return false;
        }
    }
    return true;
}

HRESULT DisplayManager::resetDevices()
{
    if (!devices || deviceCount <= 0)
        return D3DERR_INVALIDCALL;
    // Every device is reset even after a failure, but a failure anywhere
    // must not read as success: the caller would resume on a lost device.
    HRESULT result = D3D_OK;
    for (i32 i = 0; i < deviceCount; ++i) {
        DeviceWindow& output = devices[i];
        const HRESULT hr = output.device ? output.device->Reset(&output.presentParameters) : D3DERR_INVALIDCALL;
        if (FAILED(hr) && SUCCEEDED(result))
            result = hr;
    }
    return result;
}

void DisplayManager::hideWindows()
{
    for (i32 i = 0; devices && i < deviceCount; ++i)
        if (devices[i].window)
            ShowWindow(devices[i].window, SW_HIDE);
}
