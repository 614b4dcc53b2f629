#include "platform/d3dx9/d3dx_buffer.h"

#include "platform/com/com_object.h"
#include "platform/d3d9/d3d9_defs.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

class Buffer final : public platform::ComObject<Buffer, ID3DXBuffer, IID_ID3DXBuffer> {
public:
    explicit Buffer(size_t bytes)
        : data_(new (std::nothrow) Word[(bytes + sizeof(Word) - 1) / sizeof(Word) + 1]()), size_(bytes)
    {
    }
    bool valid() const { return data_ != nullptr; }

    STDMETHODIMP_(LPVOID) GetBufferPointer() override { return data_.get(); }
    STDMETHODIMP_(DWORD) GetBufferSize() override { return DWORD(size_); }

private:
    // 16-byte units keep the data aligned for any use, compiled code included.
    struct alignas(16) Word {
        unsigned char b[16];
    };
    std::unique_ptr<Word[]> data_;
    size_t size_;
};

} // namespace

HRESULT WINAPI D3DXCreateBuffer(DWORD numBytes, LPD3DXBUFFER* ppBuffer)
{
    if (!ppBuffer)
        return D3DERR_INVALIDCALL;
    *ppBuffer = nullptr;
    Buffer* b = new (std::nothrow) Buffer(numBytes);
    if (!b || !b->valid()) {
        delete b;
        return E_OUTOFMEMORY;
    }
    *ppBuffer = b;
    return S_OK;
}

namespace platform::d3dx9 {

ID3DXBuffer* makeBuffer(const void* data, size_t bytes)
{
    if (bytes > 0xFFFFFFFFu)
        return nullptr;
    ID3DXBuffer* b = nullptr;
    if (FAILED(D3DXCreateBuffer(DWORD(bytes), &b)))
        return nullptr;
    if (bytes)
        std::memcpy(b->GetBufferPointer(), data, bytes);
    return b;
}

ID3DXBuffer* makeTextBuffer(const std::string& text)
{
    return makeBuffer(text.c_str(), text.size() + 1);
}

} // namespace platform::d3dx9
