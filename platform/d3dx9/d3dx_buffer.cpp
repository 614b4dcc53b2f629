#include "platform/d3dx9/d3dx_buffer.h"

#include "platform/d3d9/d3d9_defs.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <new>

namespace {

class Buffer final : public ID3DXBuffer {
public:
    explicit Buffer(size_t bytes)
        : data_(new (std::nothrow) Word[(bytes + sizeof(Word) - 1) / sizeof(Word) + 1]()), size_(bytes)
    {
    }
    bool valid() const { return data_ != nullptr; }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_ID3DXBuffer) {
            AddRef();
            *ppv = static_cast<ID3DXBuffer*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override
    {
        ULONG n = --refs_;
        if (n == 0)
            delete this;
        return n;
    }
    STDMETHODIMP_(LPVOID) GetBufferPointer() override { return data_.get(); }
    STDMETHODIMP_(DWORD) GetBufferSize() override { return DWORD(size_); }

private:
    // 16-byte units keep the data aligned for any use, compiled code included.
    struct alignas(16) Word {
        unsigned char b[16];
    };
    std::unique_ptr<Word[]> data_;
    size_t size_;
    std::atomic<ULONG> refs_{1};
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
