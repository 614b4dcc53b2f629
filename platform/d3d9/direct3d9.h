// The IDirect3D9 object: answers every adapter question from the adapter
// profiles it was created with.
#pragma once

#include "platform/com/com_object.h"
#include "platform/d3d9/adapter_profiles.h"

#include <vector>

namespace platform {

class Direct3D9 final : public ComObject<Direct3D9, IDirect3D9, IID_IDirect3D9> {
public:
    explicit Direct3D9(std::vector<AdapterProfile> adapters);

    STDMETHOD(RegisterSoftwareDevice)(void* pInitializeFunction) override;
    STDMETHOD_(UINT, GetAdapterCount)() override;
    STDMETHOD(GetAdapterIdentifier)(UINT Adapter, DWORD Flags, D3DADAPTER_IDENTIFIER9* pIdentifier) override;
    STDMETHOD_(UINT, GetAdapterModeCount)(UINT Adapter, D3DFORMAT Format) override;
    STDMETHOD(EnumAdapterModes)(UINT Adapter, D3DFORMAT Format, UINT Mode, D3DDISPLAYMODE* pMode) override;
    STDMETHOD(GetAdapterDisplayMode)(UINT Adapter, D3DDISPLAYMODE* pMode) override;
    STDMETHOD(CheckDeviceType)(UINT Adapter, D3DDEVTYPE DevType, D3DFORMAT AdapterFormat,
                               D3DFORMAT BackBufferFormat, BOOL bWindowed) override;
    STDMETHOD(CheckDeviceFormat)(UINT Adapter, D3DDEVTYPE DeviceType, D3DFORMAT AdapterFormat, DWORD Usage,
                                 D3DRESOURCETYPE RType, D3DFORMAT CheckFormat) override;
    STDMETHOD(CheckDeviceMultiSampleType)(UINT Adapter, D3DDEVTYPE DeviceType, D3DFORMAT SurfaceFormat,
                                          BOOL Windowed, D3DMULTISAMPLE_TYPE MultiSampleType,
                                          DWORD* pQualityLevels) override;
    STDMETHOD(CheckDepthStencilMatch)(UINT Adapter, D3DDEVTYPE DeviceType, D3DFORMAT AdapterFormat,
                                      D3DFORMAT RenderTargetFormat, D3DFORMAT DepthStencilFormat) override;
    STDMETHOD(CheckDeviceFormatConversion)(UINT Adapter, D3DDEVTYPE DeviceType, D3DFORMAT SourceFormat,
                                           D3DFORMAT TargetFormat) override;
    STDMETHOD(GetDeviceCaps)(UINT Adapter, D3DDEVTYPE DeviceType, D3DCAPS9* pCaps) override;
    STDMETHOD_(HMONITOR, GetAdapterMonitor)(UINT Adapter) override;
    STDMETHOD(CreateDevice)(UINT Adapter, D3DDEVTYPE DeviceType, HWND hFocusWindow, DWORD BehaviorFlags,
                            D3DPRESENT_PARAMETERS* pPresentationParameters,
                            IDirect3DDevice9** ppReturnedDeviceInterface) override;

    // The profile of an adapter, null for an ordinal out of range.
    const AdapterProfile* adapter(UINT ordinal) const;

private:
    friend ComObject;
    ~Direct3D9();

    // D3D_OK when the adapter exists and answers for the device type.
    HRESULT checkAdapter(UINT adapter, D3DDEVTYPE deviceType) const;
    // The adapter format of a check must be one the adapter displays.
    bool displaysFormat(const AdapterProfile& profile, D3DFORMAT adapterFormat) const;
    bool acceptsFormat(const AdapterProfile& profile, D3DFORMAT adapterFormat, DWORD usage, D3DRESOURCETYPE type,
                       D3DFORMAT format) const;

    std::vector<AdapterProfile> m_adapters;
};

} // namespace platform
