// The Video Mixing Renderer 9 in renderless mode: the renderer asks an
// allocator-presenter of the application for surfaces of the
// application's device and hands each decoded frame back to it.
#pragma once

#include "platform/d3d9/d3d9_interfaces.h"
#include "platform/dshow/dshow_interfaces.h"

DEFINE_GUID(IID_IVMRFilterConfig9, 0x5a804648, 0x4f66, 0x4867, 0x9c, 0x43, 0x4f, 0x5c, 0x82, 0x2c, 0xf1, 0xb8);
DEFINE_GUID(IID_IVMRSurfaceAllocatorNotify9, 0xdca3f5df, 0xbb3a, 0x4d03, 0xbd, 0x81, 0x84, 0x61, 0x4b, 0xfb, 0xfa,
            0x0c);
DEFINE_GUID(IID_IVMRSurfaceAllocator9, 0x8d5148ea, 0x3f5d, 0x46cf, 0x9d, 0xf1, 0xd1, 0xb8, 0x96, 0xee, 0xdb, 0x1f);
DEFINE_GUID(IID_IVMRImagePresenter9, 0x69188c61, 0x12a3, 0x40f0, 0x8f, 0xfc, 0x34, 0x2e, 0x7b, 0x43, 0x3f, 0xd7);

typedef enum {
    VMR9Mode_Windowed = 0x1,
    VMR9Mode_Windowless = 0x2,
    VMR9Mode_Renderless = 0x4,
} VMR9Mode;

typedef enum {
    VMR9AllocFlag_3DRenderTarget = 0x1,
    VMR9AllocFlag_DXVATarget = 0x2,
    VMR9AllocFlag_TextureSurface = 0x4,
    VMR9AllocFlag_OffscreenSurface = 0x8,
} VMR9SurfaceAllocationFlags;

typedef struct _VMR9AllocationInfo {
    DWORD dwFlags;
    DWORD dwWidth;
    DWORD dwHeight;
    D3DFORMAT Format;
    D3DPOOL Pool;
    DWORD MinBuffers;
    SIZE szAspectRatio;
    SIZE szNativeSize;
} VMR9AllocationInfo;

typedef struct _VMR9PresentationInfo {
    DWORD dwFlags;
    IDirect3DSurface9* lpSurf;
    REFERENCE_TIME rtStart;
    REFERENCE_TIME rtEnd;
    SIZE szAspectRatio;
    RECT rcSrc;
    RECT rcDst;
    DWORD dwReserved1;
    DWORD dwReserved2;
} VMR9PresentationInfo;

class IVMRSurfaceAllocatorNotify9;

class IVMRSurfaceAllocator9 : public IUnknown {
public:
    STDMETHOD(InitializeDevice)(DWORD_PTR dwUserID, VMR9AllocationInfo* lpAllocInfo, DWORD* lpNumBuffers) PURE;
    STDMETHOD(TerminateDevice)(DWORD_PTR dwID) PURE;
    STDMETHOD(GetSurface)(DWORD_PTR dwUserID, DWORD SurfaceIndex, DWORD SurfaceFlags,
                          IDirect3DSurface9** lplpSurface) PURE;
    STDMETHOD(AdviseNotify)(IVMRSurfaceAllocatorNotify9* lpIVMRSurfAllocNotify) PURE;
};

class IVMRImagePresenter9 : public IUnknown {
public:
    STDMETHOD(StartPresenting)(DWORD_PTR dwUserID) PURE;
    STDMETHOD(StopPresenting)(DWORD_PTR dwUserID) PURE;
    STDMETHOD(PresentImage)(DWORD_PTR dwUserID, VMR9PresentationInfo* lpPresInfo) PURE;
};

class IVMRSurfaceAllocatorNotify9 : public IUnknown {
public:
    STDMETHOD(AdviseSurfaceAllocator)(DWORD_PTR dwUserID, IVMRSurfaceAllocator9* lpIVRMSurfaceAllocator) PURE;
    STDMETHOD(SetD3DDevice)(IDirect3DDevice9* lpD3DDevice, HMONITOR hMonitor) PURE;
    STDMETHOD(ChangeD3DDevice)(IDirect3DDevice9* lpD3DDevice, HMONITOR hMonitor) PURE;
    STDMETHOD(AllocateSurfaceHelper)(VMR9AllocationInfo* lpAllocInfo, DWORD* lpNumBuffers,
                                     IDirect3DSurface9** lplpSurface) PURE;
    STDMETHOD(NotifyEvent)(LONG EventCode, LONG_PTR Param1, LONG_PTR Param2) PURE;
};

class IVMRFilterConfig9 : public IUnknown {
public:
    STDMETHOD(SetNumberOfStreams)(DWORD dwMaxStreams) PURE;
    STDMETHOD(GetNumberOfStreams)(DWORD* pdwMaxStreams) PURE;
    STDMETHOD(SetRenderingMode)(DWORD Mode) PURE;
    STDMETHOD(GetRenderingMode)(DWORD* pMode) PURE;
};
