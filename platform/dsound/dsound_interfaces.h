// DirectSound 8 as the engine uses it: the device, sound buffers (the
// primary one only for its 3-D listener), and the records, flags and result
// codes of those calls. Secondary buffers hold 16-bit stereo PCM at
// 44,100 Hz; the mixer behind them plays nothing else.
#pragma once

#include "platform/com/unknwn.h"
#include "platform/d3d9/d3d9_types.h"
#include "platform/win32/wave_format.h"
#include "platform/win32/win_types.h"

typedef float D3DVALUE;
typedef const GUID* LPCGUID;

// Cooperative levels.
#define DSSCL_NORMAL 0x00000001
#define DSSCL_PRIORITY 0x00000002
#define DSSCL_EXCLUSIVE 0x00000003
#define DSSCL_WRITEPRIMARY 0x00000004

// Buffer capabilities (DSBUFFERDESC::dwFlags).
#define DSBCAPS_PRIMARYBUFFER 0x00000001
#define DSBCAPS_STATIC 0x00000002
#define DSBCAPS_LOCHARDWARE 0x00000004
#define DSBCAPS_LOCSOFTWARE 0x00000008
#define DSBCAPS_CTRL3D 0x00000010
#define DSBCAPS_CTRLFREQUENCY 0x00000020
#define DSBCAPS_CTRLPAN 0x00000040
#define DSBCAPS_CTRLVOLUME 0x00000080
#define DSBCAPS_CTRLPOSITIONNOTIFY 0x00000100
#define DSBCAPS_CTRLFX 0x00000200
#define DSBCAPS_STICKYFOCUS 0x00004000
#define DSBCAPS_GLOBALFOCUS 0x00008000
#define DSBCAPS_GETCURRENTPOSITION2 0x00010000
#define DSBCAPS_MUTE3DATMAXDISTANCE 0x00020000
#define DSBCAPS_LOCDEFER 0x00040000

#define DSBPLAY_LOOPING 0x00000001

#define DSBSTATUS_PLAYING 0x00000001
#define DSBSTATUS_BUFFERLOST 0x00000002
#define DSBSTATUS_LOOPING 0x00000004

#define DSBLOCK_FROMWRITECURSOR 0x00000001
#define DSBLOCK_ENTIREBUFFER 0x00000002

#define DSBVOLUME_MIN (-10000)
#define DSBVOLUME_MAX 0
#define DSBSIZE_MIN 4
#define DSBSIZE_MAX 0x0FFFFFFF

#define DS3D_IMMEDIATE 0x00000000
#define DS3D_DEFERRED 0x00000001

#define DS_OK S_OK
#define DSERR_ALLOCATED ((HRESULT)0x8878000A)
#define DSERR_CONTROLUNAVAIL ((HRESULT)0x8878001E)
#define DSERR_INVALIDPARAM E_INVALIDARG
#define DSERR_INVALIDCALL ((HRESULT)0x88780032)
#define DSERR_GENERIC E_FAIL
#define DSERR_PRIOLEVELNEEDED ((HRESULT)0x88780046)
#define DSERR_OUTOFMEMORY E_OUTOFMEMORY
#define DSERR_BADFORMAT ((HRESULT)0x88780064)
#define DSERR_UNSUPPORTED E_NOTIMPL
#define DSERR_NODRIVER ((HRESULT)0x88780078)
#define DSERR_BUFFERLOST ((HRESULT)0x88780096)
#define DSERR_UNINITIALIZED ((HRESULT)0x887800AA)
#define DSERR_NOINTERFACE E_NOINTERFACE

DEFINE_GUID(IID_IDirectSound8, 0xC50A7E93, 0xF395, 0x4834, 0x9E, 0xF6, 0x7F, 0xA9, 0x9D, 0xE5, 0x09, 0x66);
DEFINE_GUID(IID_IDirectSoundBuffer, 0x279AFA85, 0x4981, 0x11CE, 0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60);
DEFINE_GUID(IID_IDirectSoundBuffer8, 0x6825A449, 0x7524, 0x4D82, 0x92, 0x0F, 0x50, 0xE3, 0x6A, 0xB3, 0xAB, 0x1E);
DEFINE_GUID(IID_IDirectSound3DListener, 0x279AFA84, 0x4981, 0x11CE, 0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60);
DEFINE_GUID(IID_IDirectSound3DBuffer, 0x279AFA86, 0x4981, 0x11CE, 0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60);

typedef struct _DSBUFFERDESC {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwBufferBytes;
    DWORD dwReserved;
    LPWAVEFORMATEX lpwfxFormat;
    GUID guid3DAlgorithm;
} DSBUFFERDESC, *LPDSBUFFERDESC;
typedef const DSBUFFERDESC* LPCDSBUFFERDESC;

typedef struct _DS3DLISTENER {
    DWORD dwSize;
    D3DVECTOR vPosition;
    D3DVECTOR vVelocity;
    D3DVECTOR vOrientFront;
    D3DVECTOR vOrientTop;
    D3DVALUE flDistanceFactor;
    D3DVALUE flRolloffFactor;
    D3DVALUE flDopplerFactor;
} DS3DLISTENER, *LPDS3DLISTENER;
typedef const DS3DLISTENER* LPCDS3DLISTENER;

typedef struct _DS3DBUFFER {
    DWORD dwSize;
    D3DVECTOR vPosition;
    D3DVECTOR vVelocity;
    DWORD dwInsideConeAngle;  // whole degrees
    DWORD dwOutsideConeAngle; // whole degrees
    D3DVECTOR vConeOrientation;
    LONG lConeOutsideVolume; // hundredths of a decibel
    D3DVALUE flMinDistance;
    D3DVALUE flMaxDistance;
    DWORD dwMode;
} DS3DBUFFER, *LPDS3DBUFFER;
typedef const DS3DBUFFER* LPCDS3DBUFFER;

static_assert(sizeof(DS3DLISTENER) == 64, "DS3DLISTENER has no pointers: 64 bytes");
static_assert(sizeof(DS3DBUFFER) == 64, "DS3DBUFFER has no pointers: 64 bytes");

class IDirectSoundBuffer : public IUnknown {
public:
    STDMETHOD(GetCurrentPosition)(LPDWORD playCursor, LPDWORD writeCursor) PURE;
    STDMETHOD(GetFormat)(LPWAVEFORMATEX format, DWORD sizeAllocated, LPDWORD sizeWritten) PURE;
    STDMETHOD(GetVolume)(LPLONG volume) PURE;
    STDMETHOD(GetStatus)(LPDWORD status) PURE;
    STDMETHOD(Lock)(DWORD offset, DWORD bytes, LPVOID* part1, LPDWORD bytes1, LPVOID* part2, LPDWORD bytes2,
                    DWORD flags) PURE;
    STDMETHOD(Play)(DWORD reserved, DWORD priority, DWORD flags) PURE;
    STDMETHOD(SetCurrentPosition)(DWORD position) PURE;
    STDMETHOD(SetVolume)(LONG volume) PURE;
    STDMETHOD(Stop)() PURE;
    STDMETHOD(Unlock)(LPVOID part1, DWORD bytes1, LPVOID part2, DWORD bytes2) PURE;
    STDMETHOD(Restore)() PURE;

protected:
    ~IDirectSoundBuffer() = default;
};

class IDirectSoundBuffer8 : public IDirectSoundBuffer {
protected:
    ~IDirectSoundBuffer8() = default;
};

class IDirectSound3DListener : public IUnknown {
public:
    STDMETHOD(GetAllParameters)(LPDS3DLISTENER listener) PURE;
    STDMETHOD(SetAllParameters)(LPCDS3DLISTENER listener, DWORD apply) PURE;
    STDMETHOD(CommitDeferredSettings)() PURE;

protected:
    ~IDirectSound3DListener() = default;
};

class IDirectSound3DBuffer : public IUnknown {
public:
    STDMETHOD(GetAllParameters)(LPDS3DBUFFER buffer) PURE;
    STDMETHOD(SetAllParameters)(LPCDS3DBUFFER buffer, DWORD apply) PURE;

protected:
    ~IDirectSound3DBuffer() = default;
};

class IDirectSound8 : public IUnknown {
public:
    STDMETHOD(CreateSoundBuffer)(LPCDSBUFFERDESC desc, IDirectSoundBuffer** buffer, LPUNKNOWN outer) PURE;
    STDMETHOD(SetCooperativeLevel)(HWND window, DWORD level) PURE;

protected:
    ~IDirectSound8() = default;
};

typedef IDirectSound8* LPDIRECTSOUND8;
typedef IDirectSoundBuffer* LPDIRECTSOUNDBUFFER;
typedef IDirectSoundBuffer8* LPDIRECTSOUNDBUFFER8;
typedef IDirectSound3DListener* LPDIRECTSOUND3DLISTENER;
typedef IDirectSound3DBuffer* LPDIRECTSOUND3DBUFFER;

// The default output device for a null guid; any other guid names no device
// here. Fails with DSERR_NODRIVER when no output, not even a silent one,
// can be opened.
HRESULT WINAPI DirectSoundCreate8(LPCGUID device, LPDIRECTSOUND8* ds, LPUNKNOWN outer);
