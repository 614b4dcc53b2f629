// ID3DXBuffer: a reference-counted block of bytes (compiled code, error
// text, constant tables).
#pragma once

#include "platform/com/unknwn.h"

#include <cstddef>
#include <string>

DEFINE_GUID(IID_ID3DXBuffer, 0x8ba5fb08, 0x5195, 0x40e2, 0xac, 0x58, 0x0d, 0x98, 0x9c, 0x3a, 0x01, 0x02);

class ID3DXBuffer : public IUnknown {
public:
    STDMETHOD_(LPVOID, GetBufferPointer)() PURE;
    STDMETHOD_(DWORD, GetBufferSize)() PURE;

protected:
    ~ID3DXBuffer() = default;
};

typedef ID3DXBuffer* LPD3DXBUFFER;

// A zero-filled buffer of numBytes bytes.
HRESULT WINAPI D3DXCreateBuffer(DWORD numBytes, LPD3DXBUFFER* ppBuffer);

namespace platform::d3dx9 {

// A buffer holding a copy of the bytes (its pointer is 16-byte aligned).
ID3DXBuffer* makeBuffer(const void* data, size_t bytes);
// A buffer holding the text and a terminating NUL.
ID3DXBuffer* makeTextBuffer(const std::string& text);

} // namespace platform::d3dx9
