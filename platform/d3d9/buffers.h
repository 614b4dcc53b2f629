// Vertex and index buffers: a CPU copy that Lock hands out and a GL buffer
// that gets the locked range at Unlock (or before the next draw when the
// lock came from another thread). DISCARD orphans the GL storage when a draw
// since the last Present may still read it, else the range is written in
// place (a fresh store per frame would cost an allocation of the whole
// buffer every time).
#pragma once

#include "platform/d3d9/device_child.h"
#include "platform/d3d9/gl_context.h"

#include <cstddef>

namespace platform::d3d9 {

class BufferStorage {
public:
    BufferStorage(Device* device, UINT length, DWORD usage);
    ~BufferStorage();

    HRESULT lock(UINT offset, UINT size, void** data, DWORD flags);
    HRESULT unlock();
    // The GL buffer with every CPU write (device thread, context current)
    // for a draw of the device's frame `frame`; 0 when it cannot be made.
    GLuint prepareForDraw(unsigned frame)
    {
        m_drawnFrame = frame;
        m_drawn = true;
        return (m_buffer && !m_pending) ? m_buffer : prepareSlow();
    }
    UINT length() const { return UINT(m_length); }
    const unsigned char* memory() const { return m_memory.get(); }

private:
    GLuint prepareSlow();

    Device* m_owner;
    DWORD m_usage;
    // Zero-filled memory that costs no page until it is written or uploaded,
    // so a buffer made at its full size costs what is used of it. Null when
    // it cannot be had.
    class ZeroedMemory {
    public:
        explicit ZeroedMemory(size_t length);
        ~ZeroedMemory();
        ZeroedMemory(const ZeroedMemory&) = delete;
        ZeroedMemory& operator=(const ZeroedMemory&) = delete;
        unsigned char* get() const { return m_data; }
        explicit operator bool() const { return m_data != nullptr; }

    private:
        unsigned char* m_data = nullptr;
        size_t m_mapped = 0; // the mapping's length; 0 for a calloc block
    };
    ZeroedMemory m_memory;
    size_t m_length = 0;
    GLuint m_buffer = 0;
    int m_lockCount = 0;
    UINT m_dirtyBegin = 0, m_dirtyEnd = 0; // CPU range GL lacks
    bool m_pending = false;
    bool m_discard = false;
    bool m_drawn = false;      // m_drawnFrame is valid
    unsigned m_drawnFrame = 0; // the device frame of the last draw from it
};

class VertexBuffer final : public Resource<IDirect3DVertexBuffer9>, public BufferStorage {
public:
    VertexBuffer(Device* device, UINT length, DWORD usage, DWORD fvf, D3DPOOL pool);

    STDMETHODIMP QueryInterface(REFIID riid, void** ppvObject) override;
    STDMETHODIMP_(void) PreLoad() override {}
    STDMETHODIMP Lock(UINT OffsetToLock, UINT SizeToLock, void** ppbData, DWORD Flags) override;
    STDMETHODIMP Unlock() override;
    STDMETHODIMP GetDesc(D3DVERTEXBUFFER_DESC* pDesc) override;

private:
    D3DVERTEXBUFFER_DESC m_desc;
};

class IndexBuffer final : public Resource<IDirect3DIndexBuffer9>, public BufferStorage {
public:
    IndexBuffer(Device* device, UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool);

    STDMETHODIMP QueryInterface(REFIID riid, void** ppvObject) override;
    STDMETHODIMP_(void) PreLoad() override {}
    STDMETHODIMP Lock(UINT OffsetToLock, UINT SizeToLock, void** ppbData, DWORD Flags) override;
    STDMETHODIMP Unlock() override;
    STDMETHODIMP GetDesc(D3DINDEXBUFFER_DESC* pDesc) override;

    UINT indexSize() const { return m_desc.Format == D3DFMT_INDEX32 ? 4 : 2; }

private:
    D3DINDEXBUFFER_DESC m_desc;
};

VertexBuffer* asVertexBuffer(IDirect3DVertexBuffer9* buffer);
IndexBuffer* asIndexBuffer(IDirect3DIndexBuffer9* buffer);

} // namespace platform::d3d9
