#include "materials/sourcefile.h"

#include "foundation/stream.h"

#include <new>

Sourcefile::Sourcefile(Stream* stream)
    : stream(stream)
{
}

Sourcefile::~Sourcefile()
{
    delete stream;
}

HRESULT Sourcefile::loadFile(const char* name, void** data, u32* size)
{
    if (!data || !size)
        return E_INVALIDARG;
    *data = nullptr;
    *size = 0;
    if (!stream || !name || !stream->open(name))
        return E_FAIL;
    const u32 length = stream->size;
    // One byte more than needed so that an empty file still has a buffer
    // to hand out and free.
    u8* buffer = new (std::nothrow) u8[static_cast<size_t>(length) + 1];
    if (!buffer) {
        stream->close();
        return E_OUTOFMEMORY;
    }
    // A content that delivers fewer bytes than it announced is damaged:
    // nothing of it is handed on.
    const u32 got = stream->read(buffer, length);
    stream->close();
    if (got != length) {
        delete[] buffer;
        return E_FAIL;
    }
    *data = buffer;
    *size = length;
    return S_OK;
}

STDMETHODIMP Sourcefile::Open(D3DXINCLUDE_TYPE, LPCSTR fileName, LPCVOID, LPCVOID* data, UINT* bytes)
{
    if (!data || !bytes)
        return E_INVALIDARG;
    void* buffer = nullptr;
    u32 size = 0;
    const HRESULT hr = loadFile(fileName, &buffer, &size);
    *data = buffer;
    *bytes = size;
    return hr;
}

STDMETHODIMP Sourcefile::Close(LPCVOID data)
{
    delete[] static_cast<const u8*>(data);
    return S_OK;
}
