// The include opener handed to the effect compiler: effect files and every
// file they #include are read whole through one stream over the mounted
// archives, so an include comes from the same archive as its effect.
#pragma once

#include "foundation/types.h"

#include <d3dx9.h>

class Stream;

class Sourcefile : public ID3DXInclude {
public:
    // Takes the stream (a fresh clone of the file source) and deletes it.
    explicit Sourcefile(Stream* stream);
    ~Sourcefile() override;
    Sourcefile(const Sourcefile&) = delete;
    Sourcefile& operator=(const Sourcefile&) = delete;

    // Include type and parent do not matter: names are looked up on the
    // stream as written.
    STDMETHOD(Open)(D3DXINCLUDE_TYPE includeType, LPCSTR fileName, LPCVOID parentData, LPCVOID* data,
                    UINT* bytes) override;
    // Frees what Open or loadFile gave out.
    STDMETHOD(Close)(LPCVOID data) override;

    // The whole content of name in a new buffer (not NUL-terminated; its
    // length is *size), the stream closed again. E_INVALIDARG for a missing
    // out pointer, E_FAIL when the name cannot be opened or its bytes cannot
    // all be read, E_OUTOFMEMORY when the buffer cannot be had.
    HRESULT loadFile(const char* name, void** data, u32* size);

    Stream* stream; // owned
};
