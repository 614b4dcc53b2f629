// The COM byte stream: reading and seeking, the calls this build makes.
#pragma once

#include "platform/com/unknwn.h"

typedef union _ULARGE_INTEGER {
    struct {
        DWORD LowPart;
        DWORD HighPart;
    };
    ULONGLONG QuadPart;
} ULARGE_INTEGER;

#define STG_E_INVALIDFUNCTION ((HRESULT)0x80030001L)

enum STREAM_SEEK { STREAM_SEEK_SET = 0, STREAM_SEEK_CUR = 1, STREAM_SEEK_END = 2 };

DEFINE_GUID(IID_ISequentialStream, 0x0c733a30, 0x2a1c, 0x11ce, 0xad, 0xe5, 0x00, 0xaa, 0x00, 0x44, 0x77, 0x3d);
DEFINE_GUID(IID_IStream, 0x0000000c, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

class ISequentialStream : public IUnknown {
public:
    // S_FALSE when fewer than cb bytes were left.
    STDMETHOD(Read)(void* pv, ULONG cb, ULONG* pcbRead) PURE;
};

class IStream : public ISequentialStream {
public:
    STDMETHOD(Seek)(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) PURE;
};
