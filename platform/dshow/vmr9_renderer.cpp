// The Video Mixing Renderer 9, renderless: the application's allocator-
// presenter gets its surfaces through AllocateSurfaceHelper on the device
// given with SetD3DDevice. Running, a decoding thread fills the surfaces
// the allocator hands out in turn and presents each frame when the clock
// reaches its time stamp. Only CPU copies are touched on that thread; the
// device uploads them when the main thread draws.
#include "platform/dshow/dshow_internal.h"
#include "platform/win32/clock.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

namespace platform::dshow {
namespace {

constexpr DWORD kBuffers = 5;
constexpr REFERENCE_TIME kFrameTime = 400000;
// A time stamp further ahead than this is not waited for.
constexpr REFERENCE_TIME kLongestWait = UNITS;

class Vmr9Renderer final : public CBaseFilter, public IVMRFilterConfig9, public IVMRSurfaceAllocatorNotify9 {
public:
    Vmr9Renderer() : CBaseFilter("Video Mixing Renderer 9", nullptr, &m_lock, CLSID_VideoMixingRenderer9) {}
    ~Vmr9Renderer() override
    {
        stopThread();
        if (m_initialised && m_allocator)
            m_allocator->TerminateDevice(m_userId);
        releaseAllocator();
        if (m_device)
            m_device->Release();
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IVMRFilterConfig9)
            *ppv = static_cast<IVMRFilterConfig9*>(this);
        else if (riid == IID_IVMRSurfaceAllocatorNotify9)
            *ppv = static_cast<IVMRSurfaceAllocatorNotify9*>(this);
        else
            return CBaseFilter::QueryInterface(riid, ppv);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return CBaseFilter::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return CBaseFilter::Release(); }

    int GetPinCount() override { return 0; }
    CBasePin* GetPin(int) override { return nullptr; }

    STDMETHODIMP Run(REFERENCE_TIME tStart) override
    {
        const HRESULT hr = CBaseFilter::Run(tStart);
        if (SUCCEEDED(hr) && m_source && !m_thread.joinable() && m_presenter) {
            m_presenter->StartPresenting(m_userId);
            m_stop = false;
            // The stream time starts now, not when the thread gets going.
            const uint64_t start = platform::clockMicroseconds();
            m_thread = std::thread([this, start] { play(start); });
        }
        return hr;
    }
    STDMETHODIMP Stop() override
    {
        stopThread();
        return CBaseFilter::Stop();
    }
    // The allocator usually holds this filter's notify interface: leaving
    // the graph lets go of it, which breaks that cycle.
    STDMETHODIMP JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) override
    {
        if (!pGraph) {
            stopThread();
            if (m_initialised && m_allocator)
                m_allocator->TerminateDevice(m_userId);
            m_initialised = false;
            releaseAllocator();
        }
        return CBaseFilter::JoinFilterGraph(pGraph, pName);
    }

    // IVMRFilterConfig9
    STDMETHODIMP SetNumberOfStreams(DWORD dwMaxStreams) override
    {
        return dwMaxStreams >= 1 && dwMaxStreams <= 16 ? S_OK : E_INVALIDARG;
    }
    STDMETHODIMP GetNumberOfStreams(DWORD* pdwMaxStreams) override
    {
        if (!pdwMaxStreams)
            return E_POINTER;
        *pdwMaxStreams = 1;
        return S_OK;
    }
    STDMETHODIMP SetRenderingMode(DWORD Mode) override
    {
        // Only renderless mode has something to show into here.
        if (Mode != VMR9Mode_Renderless)
            return E_NOTIMPL;
        m_mode = Mode;
        return S_OK;
    }
    STDMETHODIMP GetRenderingMode(DWORD* pMode) override
    {
        if (!pMode)
            return E_POINTER;
        *pMode = m_mode;
        return S_OK;
    }

    // IVMRSurfaceAllocatorNotify9
    STDMETHODIMP AdviseSurfaceAllocator(DWORD_PTR dwUserID, IVMRSurfaceAllocator9* allocator) override
    {
        CAutoLock lock(&m_lock);
        if (m_thread.joinable())
            return VFW_E_WRONG_STATE;
        releaseAllocator();
        m_userId = dwUserID;
        if (!allocator)
            return S_OK;
        if (FAILED(allocator->QueryInterface(IID_IVMRImagePresenter9, reinterpret_cast<void**>(&m_presenter))))
            return E_NOINTERFACE;
        allocator->AddRef();
        m_allocator = allocator;
        return S_OK;
    }
    STDMETHODIMP SetD3DDevice(IDirect3DDevice9* device, HMONITOR) override
    {
        if (!device)
            return E_POINTER;
        CAutoLock lock(&m_lock);
        device->AddRef();
        if (m_device)
            m_device->Release();
        m_device = device;
        return S_OK;
    }
    STDMETHODIMP ChangeD3DDevice(IDirect3DDevice9* device, HMONITOR monitor) override
    {
        return SetD3DDevice(device, monitor);
    }
    STDMETHODIMP AllocateSurfaceHelper(VMR9AllocationInfo* info, DWORD* count, IDirect3DSurface9** surfaces) override
    {
        if (!info || !count || !surfaces)
            return E_POINTER;
        if (!m_device)
            return E_FAIL;
        if (*count == 0 || *count > 64)
            return E_INVALIDARG;
        for (DWORD i = 0; i < *count; ++i)
            surfaces[i] = nullptr;
        for (DWORD i = 0; i < *count; ++i) {
            HRESULT hr;
            if (info->dwFlags & VMR9AllocFlag_TextureSurface) {
                IDirect3DTexture9* texture = nullptr;
                hr = m_device->CreateTexture(info->dwWidth, info->dwHeight, 1, D3DUSAGE_DYNAMIC, info->Format,
                                             info->Pool, &texture, nullptr);
                if (SUCCEEDED(hr)) {
                    hr = texture->GetSurfaceLevel(0, &surfaces[i]);
                    texture->Release(); // the surface keeps its container
                }
            } else {
                hr = m_device->CreateOffscreenPlainSurface(info->dwWidth, info->dwHeight, info->Format, info->Pool,
                                                           &surfaces[i], nullptr);
            }
            if (FAILED(hr)) {
                for (DWORD j = 0; j <= i; ++j)
                    if (surfaces[j]) {
                        surfaces[j]->Release();
                        surfaces[j] = nullptr;
                    }
                return hr;
            }
        }
        return S_OK;
    }
    STDMETHODIMP NotifyEvent(LONG, LONG_PTR, LONG_PTR) override { return S_OK; }

    HRESULT attach(VideoSource* source)
    {
        std::unique_ptr<VideoSource> owned(source);
        CAutoLock lock(&m_lock);
        if (m_mode != VMR9Mode_Renderless || !m_allocator)
            return VFW_E_WRONG_STATE;
        if (m_source)
            return VFW_E_ALREADY_CONNECTED;
        HRESULT hr = E_FAIL;
        for (D3DFORMAT format : {D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8}) {
            VMR9AllocationInfo info{};
            info.dwFlags = VMR9AllocFlag_OffscreenSurface;
            info.dwWidth = DWORD(owned->width());
            info.dwHeight = DWORD(owned->height());
            info.Format = format;
            info.Pool = D3DPOOL_DEFAULT;
            info.MinBuffers = kBuffers;
            info.szAspectRatio = {LONG(info.dwWidth), LONG(info.dwHeight)};
            info.szNativeSize = info.szAspectRatio;
            DWORD count = kBuffers;
            hr = m_allocator->InitializeDevice(m_userId, &info, &count);
            if (SUCCEEDED(hr)) {
                m_format = format;
                break;
            }
        }
        if (FAILED(hr))
            return hr;
        m_initialised = true;
        m_source = std::move(owned);
        return S_OK;
    }

private:
    void releaseAllocator()
    {
        if (m_presenter)
            m_presenter->Release();
        if (m_allocator)
            m_allocator->Release();
        m_presenter = nullptr;
        m_allocator = nullptr;
    }

    void stopThread()
    {
        if (!m_thread.joinable())
            return;
        m_stop = true;
        m_thread.join();
        if (m_presenter)
            m_presenter->StopPresenting(m_userId);
    }

    // Waits until the clock reaches due (100-ns units since the start);
    // false when stopped meanwhile.
    bool waitUntil(uint64_t startMicros, REFERENCE_TIME due)
    {
        while (!m_stop) {
            if (REFERENCE_TIME(platform::clockMicroseconds() - startMicros) * 10 >= due)
                return true;
            Sleep(1);
        }
        return false;
    }

    bool fill(IDirect3DSurface9* surface, const std::vector<unsigned char>& pixels)
    {
        D3DLOCKED_RECT locked{};
        if (FAILED(surface->LockRect(&locked, nullptr, D3DLOCK_DISCARD)))
            return false;
        const size_t row = size_t(m_source->width()) * 4;
        for (int y = 0; y < m_source->height(); ++y)
            std::memcpy(static_cast<unsigned char*>(locked.pBits) + size_t(y) * size_t(locked.Pitch),
                        pixels.data() + size_t(y) * row, row);
        surface->UnlockRect();
        return true;
    }

    void play(uint64_t startMicros)
    {
        std::vector<unsigned char> pixels;
        REFERENCE_TIME first = -1, previous = 0;
        for (DWORD frame = 0; !m_stop; ++frame) {
            REFERENCE_TIME stamp = -1;
            if (!m_source->nextFrame(pixels, stamp))
                break; // the last frame stays shown
            if (first < 0 && stamp >= 0)
                first = stamp;
            // Missing stamps follow the previous frame; stamps going back or
            // jumping far ahead are clamped, so no wait is unbounded.
            REFERENCE_TIME due = stamp >= 0 ? stamp - first : (frame == 0 ? 0 : previous + kFrameTime);
            due = std::clamp(due, previous, previous + kLongestWait);
            previous = due;
            if (!waitUntil(startMicros, due))
                break;
            IDirect3DSurface9* surface = nullptr;
            if (FAILED(m_allocator->GetSurface(m_userId, frame % kBuffers, 0, &surface)) || !surface)
                break;
            if (fill(surface, pixels)) {
                VMR9PresentationInfo info{};
                info.lpSurf = surface;
                info.rtStart = due;
                info.rtEnd = due + kFrameTime;
                info.szAspectRatio = {LONG(m_source->width()), LONG(m_source->height())};
                info.rcSrc = info.rcDst = RECT{0, 0, LONG(m_source->width()), LONG(m_source->height())};
                m_presenter->PresentImage(m_userId, &info);
            }
            surface->Release();
        }
    }

    CCritSec m_lock;
    DWORD m_mode = VMR9Mode_Windowed;
    DWORD_PTR m_userId = 0;
    IVMRSurfaceAllocator9* m_allocator = nullptr;
    IVMRImagePresenter9* m_presenter = nullptr;
    IDirect3DDevice9* m_device = nullptr;
    D3DFORMAT m_format = D3DFMT_X8R8G8B8;
    bool m_initialised = false;
    std::unique_ptr<VideoSource> m_source;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    LiveObject m_live;
};

} // namespace

IUnknown* createVmr9()
{
    return static_cast<IBaseFilter*>(new Vmr9Renderer);
}

bool isVmr9(IBaseFilter* filter)
{
    return dynamic_cast<Vmr9Renderer*>(filter) != nullptr;
}

HRESULT attachVideoSource(IBaseFilter* filter, VideoSource* source)
{
    auto* renderer = dynamic_cast<Vmr9Renderer*>(filter);
    if (!renderer) {
        delete source;
        return VFW_E_CANNOT_RENDER;
    }
    return renderer->attach(source);
}

} // namespace platform::dshow
