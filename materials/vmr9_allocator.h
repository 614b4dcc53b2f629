// The allocator-presenter of the video texture: asks the renderer's notify
// interface for as many texture surfaces of the engine's device as it asks
// for (none for a video larger than the engine plays, or past the texture's
// budget) and puts each presented frame's texture into the video ring. GetSurface and
// PresentImage run on DirectShow's streaming thread.
#pragma once

#include "foundation/types.h"
#include "materials/com_ptr.h"
#include "materials/engine_resource.h"

#include <dshow.h>

#include <vector>

class TexelBudget;
class VideoTexture;

class VMR9Allocator : public EngineResource, public IVMRSurfaceAllocator9, public IVMRImagePresenter9 {
public:
    VMR9Allocator(Engine* engine, VideoTexture* videoTexture);

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP InitializeDevice(DWORD_PTR dwUserID, VMR9AllocationInfo* lpAllocInfo, DWORD* lpNumBuffers) override;
    STDMETHODIMP TerminateDevice(DWORD_PTR dwID) override;
    STDMETHODIMP GetSurface(DWORD_PTR dwUserID, DWORD SurfaceIndex, DWORD SurfaceFlags,
                            IDirect3DSurface9** lplpSurface) override;
    STDMETHODIMP AdviseNotify(IVMRSurfaceAllocatorNotify9* lpIVMRSurfAllocNotify) override;
    STDMETHODIMP StartPresenting(DWORD_PTR dwUserID) override;
    STDMETHODIMP StopPresenting(DWORD_PTR dwUserID) override;
    STDMETHODIMP PresentImage(DWORD_PTR dwUserID, VMR9PresentationInfo* lpPresInfo) override;

    LONG refCount = 1;
    ComPtr<IVMRSurfaceAllocatorNotify9> notify;
    VideoTexture* videoTexture;
    std::vector<IDirect3DSurface9*> surfaces;
    // When set, presented frames are copied into its level 0 and it is
    // shown instead of the surfaces' own textures. Owned.
    IDirect3DTexture9* presentTexture = nullptr;
    u32 framesPresented = 0; // for diagnostics
    // The video texture's budget, which the surfaces' texels came from.
    TexelBudget* budget = nullptr;
    u64 texelsTaken = 0;
    bool refusedSize = false; // the size was logged as too large once

protected:
    virtual ~VMR9Allocator();

private:
    void releaseSurfaces();
};
