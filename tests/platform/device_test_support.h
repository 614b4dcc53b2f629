// Shared by the device tests: a headless device on a small window record,
// read-back of its targets, and small vertex helpers.
#pragma once

#include <d3d9.h>
#include <windows.h>

#include "platform/d3d9/device_test_api.h"
#include "platform/win32/sdl_window.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

// Releases a COM pointer at the end of a scope.
template <typename T>
class ComRef {
public:
    ComRef() = default;
    explicit ComRef(T* p)
        : m_p(p)
    {
    }
    ~ComRef() { reset(); }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ComRef(ComRef&& other) noexcept
        : m_p(other.m_p)
    {
        other.m_p = nullptr;
    }
    ComRef& operator=(ComRef&& other) noexcept
    {
        if (this != &other) {
            reset(other.m_p);
            other.m_p = nullptr;
        }
        return *this;
    }
    void reset(T* p = nullptr)
    {
        if (m_p)
            m_p->Release();
        m_p = p;
    }
    T** out()
    {
        reset();
        return &m_p;
    }
    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

private:
    T* m_p = nullptr;
};

inline HWND deviceTestWindow(int width, int height)
{
    static bool registered = [] {
        platform::setWindowBackend(platform::WindowBackend::RecordsOnly);
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "DeviceTestWindow";
        return RegisterClassExA(&wc) != 0;
    }();
    (void)registered;
    // A popup has no frame: the client area is the window, at (0, 0).
    return CreateWindowExA(0, "DeviceTestWindow", "device test", WS_POPUP, 0, 0, width, height, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

inline D3DPRESENT_PARAMETERS windowedParameters(HWND window, bool depth = true)
{
    D3DPRESENT_PARAMETERS pp{};
    pp.Windowed = TRUE;
    pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    pp.BackBufferFormat = D3DFMT_A8R8G8B8;
    pp.BackBufferCount = 1;
    pp.hDeviceWindow = window;
    pp.EnableAutoDepthStencil = depth ? TRUE : FALSE;
    pp.AutoDepthStencilFormat = D3DFMT_D24S8;
    pp.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
    return pp;
}

// A Direct3D object, a window and a device on it (headless in tests).
struct DeviceFixture {
    ComRef<IDirect3D9> d3d;
    HWND window = nullptr;
    ComRef<IDirect3DDevice9> device;
    D3DPRESENT_PARAMETERS pp{};

    explicit DeviceFixture(int width = 16, int height = 16, bool depth = true,
                           DWORD behaviour = D3DCREATE_HARDWARE_VERTEXPROCESSING)
    {
        d3d.reset(Direct3DCreate9(D3D_SDK_VERSION));
        window = deviceTestWindow(width, height);
        pp = windowedParameters(window, depth);
        if (d3d)
            created = d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, behaviour, &pp, device.out());
    }
    ~DeviceFixture()
    {
        device.reset();
        d3d.reset();
        if (window)
            DestroyWindow(window);
    }
    HRESULT created = E_FAIL;
    IDirect3DDevice9* operator->() const { return device.get(); }
};

// The pixels of a render target as 0xAARRGGBB words, top row first.
inline std::vector<uint32_t> readTarget(IDirect3DDevice9* device, IDirect3DSurface9* target)
{
    D3DSURFACE_DESC desc{};
    target->GetDesc(&desc);
    ComRef<IDirect3DSurface9> copy;
    std::vector<uint32_t> pixels;
    if (FAILED(device->CreateOffscreenPlainSurface(desc.Width, desc.Height, desc.Format, D3DPOOL_SYSTEMMEM,
                                                   copy.out(), nullptr)))
        return pixels;
    if (FAILED(device->GetRenderTargetData(target, copy.get())))
        return pixels;
    D3DLOCKED_RECT lr{};
    if (FAILED(copy->LockRect(&lr, nullptr, D3DLOCK_READONLY)))
        return pixels;
    pixels.resize(size_t(desc.Width) * desc.Height);
    for (UINT y = 0; y < desc.Height; ++y)
        std::memcpy(&pixels[size_t(y) * desc.Width], static_cast<const char*>(lr.pBits) + size_t(y) * lr.Pitch,
                    desc.Width * 4);
    copy->UnlockRect();
    return pixels;
}

inline std::vector<uint32_t> readBackBuffer(IDirect3DDevice9* device)
{
    ComRef<IDirect3DSurface9> back;
    if (FAILED(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, back.out())))
        return {};
    return readTarget(device, back.get());
}

// A pre-transformed vertex with a colour and one texture coordinate pair
// (FVF XYZRHW | DIFFUSE | TEX1).
struct TlVertex {
    float x, y, z, rhw;
    D3DCOLOR colour;
    float u, v;
};
constexpr DWORD kTlFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

// A quad from (x0, y0) to (x1, y1) in screen coordinates as a triangle
// strip, clockwise as Direct3D sees it.
inline void tlQuad(TlVertex (&v)[4], float x0, float y0, float x1, float y1, D3DCOLOR colour, float z = 0.5f)
{
    v[0] = {x0, y0, z, 1.0f, colour, 0.0f, 0.0f};
    v[1] = {x1, y0, z, 1.0f, colour, 1.0f, 0.0f};
    v[2] = {x0, y1, z, 1.0f, colour, 0.0f, 1.0f};
    v[3] = {x1, y1, z, 1.0f, colour, 1.0f, 1.0f};
}

// A vertex in world space with a colour (FVF XYZ | DIFFUSE).
struct ColourVertex {
    float x, y, z;
    D3DCOLOR colour;
};
constexpr DWORD kColourFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE;

// Fixed-function states for drawing flat vertex colours: no lighting, the
// diffuse colour straight through.
inline void flatColourStates(IDirect3DDevice9* device)
{
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
}
