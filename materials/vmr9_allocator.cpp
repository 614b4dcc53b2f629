#include "materials/vmr9_allocator.h"

#include "foundation/engine_limits.h"
#include "foundation/log.h"
#include "materials/engine.h"
#include "materials/texel_budget.h"
#include "materials/video_texture.h"

#include <windows.h>

#include <ostream>

namespace {

// The ring slots and index are shared with the video textures.
struct RingLock {
    RingLock() { EnterCriticalSection(&VideoTexture::ringLock); }
    ~RingLock() { LeaveCriticalSection(&VideoTexture::ringLock); }
};

} // namespace

VMR9Allocator::VMR9Allocator(Engine* engine, VideoTexture* videoTexture)
    : EngineResource(engine), videoTexture(videoTexture)
{
}

VMR9Allocator::~VMR9Allocator()
{
    releaseSurfaces();
}

void VMR9Allocator::releaseSurfaces()
{
    {
        // Ring entries of this allocator's textures would dangle.
        RingLock lock;
        for (IDirect3DTexture9*& entry : VideoTexture::ring) {
            if (entry && entry == presentTexture)
                entry = nullptr;
            for (IDirect3DSurface9* s : surfaces) {
                IDirect3DTexture9* container = nullptr;
                if (entry && s && SUCCEEDED(s->GetContainer(IID_IDirect3DTexture9, reinterpret_cast<void**>(&container)))) {
                    if (container == entry)
                        entry = nullptr;
                    container->Release();
                }
            }
        }
    }
    for (IDirect3DSurface9* s : surfaces)
        if (s)
            s->Release();
    surfaces.clear();
    if (budget)
        budget->giveBack(texelsTaken);
    budget = nullptr;
    texelsTaken = 0;
    if (presentTexture)
        presentTexture->Release();
    presentTexture = nullptr;
}

STDMETHODIMP VMR9Allocator::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IVMRSurfaceAllocator9 || riid == IID_IUnknown)
        *ppv = static_cast<IVMRSurfaceAllocator9*>(this);
    else if (riid == IID_IVMRImagePresenter9)
        *ppv = static_cast<IVMRImagePresenter9*>(this);
    else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) VMR9Allocator::AddRef()
{
    return ULONG(InterlockedIncrement(&refCount));
}

STDMETHODIMP_(ULONG) VMR9Allocator::Release()
{
    const LONG count = InterlockedDecrement(&refCount);
    if (count == 0)
        delete this;
    return ULONG(count);
}

STDMETHODIMP VMR9Allocator::InitializeDevice(DWORD_PTR, VMR9AllocationInfo* lpAllocInfo, DWORD* lpNumBuffers)
{
    if (!lpNumBuffers)
        return E_POINTER;
    if (!notify.p)
        return E_FAIL;
    if (!lpAllocInfo)
        return E_POINTER;
    const DWORD count = *lpNumBuffers;
    if (count == 0 || count > limits::videoSurfaces)
        return E_INVALIDARG;
    lpAllocInfo->dwFlags |= VMR9AllocFlag_TextureSurface;
    releaseSurfaces();
    const char* name = videoTexture ? videoTexture->name.c_str() : "";
    // The video file names its own size.
    const u64 frameTexels = u64(lpAllocInfo->dwWidth) * u64(lpAllocInfo->dwHeight);
    if (frameTexels > limits::videoTexels) {
        if (!refusedSize)
            logStream << "VideoTexture: \"" << name << "\" of " << lpAllocInfo->dwWidth << " x "
                      << lpAllocInfo->dwHeight << " texels is larger than a video may be" << std::endl;
        refusedSize = true;
        return E_OUTOFMEMORY;
    }
    TexelBudget* from = videoTexture ? videoTexture->budget : nullptr;
    if (from && !from->take(frameTexels * count, name))
        return E_OUTOFMEMORY;
    budget = from;
    texelsTaken = from ? frameTexels * count : 0;
    // As many surfaces as the renderer asked for: it hands out no others.
    surfaces.assign(count, nullptr);
    DWORD n = count;
    const HRESULT hr = notify->AllocateSurfaceHelper(lpAllocInfo, &n, surfaces.data());
    if (FAILED(hr)) {
        releaseSurfaces();
        return hr;
    }
    return S_OK;
}

STDMETHODIMP VMR9Allocator::TerminateDevice(DWORD_PTR)
{
    return S_OK;
}

STDMETHODIMP VMR9Allocator::GetSurface(DWORD_PTR, DWORD SurfaceIndex, DWORD, IDirect3DSurface9** lplpSurface)
{
    RingLock lock;
    VideoTexture::ringIndex = int(SurfaceIndex % DWORD(VideoTexture::kRingSize));
    if (!lplpSurface)
        return E_POINTER;
    if (surfaces.empty() || SurfaceIndex >= surfaces.size())
        return E_FAIL;
    ComPtr<IDirect3DSurface9> surface(surfaces[SurfaceIndex]);
    return surface.copyTo(lplpSurface);
}

STDMETHODIMP VMR9Allocator::AdviseNotify(IVMRSurfaceAllocatorNotify9* lpIVMRSurfAllocNotify)
{
    RingLock lock;
    notify = ComPtr<IVMRSurfaceAllocatorNotify9>(lpIVMRSurfAllocNotify);
    return S_OK;
}

STDMETHODIMP VMR9Allocator::StartPresenting(DWORD_PTR)
{
    return S_OK;
}

STDMETHODIMP VMR9Allocator::StopPresenting(DWORD_PTR)
{
    return S_OK;
}

STDMETHODIMP VMR9Allocator::PresentImage(DWORD_PTR, VMR9PresentationInfo* lpPresInfo)
{
    if (!lpPresInfo || !lpPresInfo->lpSurf)
        return E_POINTER;
    RingLock lock;
    IDirect3DTexture9*& slot = VideoTexture::ring[VideoTexture::ringIndex];
    if (presentTexture) {
        IDirect3DSurface9* level0 = nullptr;
        IDirect3DDevice9* device = nullptr;
        if (SUCCEEDED(presentTexture->GetSurfaceLevel(0, &level0)) &&
            SUCCEEDED(presentTexture->GetDevice(&device))) {
            device->StretchRect(lpPresInfo->lpSurf, nullptr, level0, nullptr, D3DTEXF_NONE);
        }
        if (device)
            device->Release();
        if (level0)
            level0->Release();
        slot = presentTexture;
    } else {
        IDirect3DTexture9* container = nullptr;
        if (SUCCEEDED(lpPresInfo->lpSurf->GetContainer(IID_IDirect3DTexture9, reinterpret_cast<void**>(&container)))) {
            // The surface array keeps the texture alive: hold no count here.
            container->Release();
            slot = container;
        }
    }
    ++framesPresented;
    return S_OK;
}
