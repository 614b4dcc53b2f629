#include "platform/d3d9/buffers.h"

#include "platform/d3d9/device.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>

namespace platform::d3d9 {

namespace {

// From this size on a block is mapped straight from the system: its pages
// are zero and untouched until used. The allocator linked into the engine
// writes calloc's zeros itself, which would touch every page of a buffer
// that is mostly never filled.
constexpr size_t kMappedFrom = size_t(256) << 10;

} // namespace

BufferStorage::ZeroedMemory::ZeroedMemory(size_t length)
{
    if (length >= kMappedFrom) {
        void* p = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p != MAP_FAILED) {
            m_data = static_cast<unsigned char*>(p);
            m_mapped = length;
        }
        return;
    }
    m_data = static_cast<unsigned char*>(std::calloc(length ? length : 1, 1));
}

BufferStorage::ZeroedMemory::~ZeroedMemory()
{
    if (m_mapped)
        munmap(m_data, m_mapped);
    else
        std::free(m_data);
}

BufferStorage::BufferStorage(Device* device, UINT length, DWORD usage)
    : m_owner(device)
    , m_usage(usage)
    , m_memory(length)
    , m_length(m_memory ? length : 0)
{
}

BufferStorage::~BufferStorage()
{
    if (m_buffer) {
        Device::forgetBufferName(m_buffer);
        ContextScope scope(m_owner->glContext());
        if (scope.ok())
            glDeleteBuffers(1, &m_buffer);
    }
}

HRESULT BufferStorage::lock(UINT offset, UINT size, void** data, DWORD flags)
{
    DeviceLock guard(m_owner);
    if (!data)
        return D3DERR_INVALIDCALL;
    *data = nullptr;
    const UINT total = UINT(m_length);
    // Size 0 locks the rest of the buffer.
    if (offset > total || (size != 0 && size > total - offset))
        return D3DERR_INVALIDCALL;
    if (size == 0)
        size = total - offset;
    *data = m_memory.get() + offset;
    ++m_lockCount;
    if (!(flags & D3DLOCK_READONLY) && size) {
        if (m_dirtyEnd <= m_dirtyBegin) {
            m_dirtyBegin = offset;
            m_dirtyEnd = offset + size;
        } else {
            m_dirtyBegin = std::min(m_dirtyBegin, offset);
            m_dirtyEnd = std::max(m_dirtyEnd, offset + size);
        }
        if ((flags & D3DLOCK_DISCARD) && (m_usage & D3DUSAGE_DYNAMIC))
            m_discard = true;
    }
    return D3D_OK;
}

HRESULT BufferStorage::unlock()
{
    DeviceLock guard(m_owner);
    if (m_lockCount == 0)
        return D3DERR_INVALIDCALL;
    if (--m_lockCount > 0 || m_dirtyEnd <= m_dirtyBegin)
        return D3D_OK;
    m_pending = true;
    if (m_buffer && m_owner->onDeviceThread()) {
        ContextScope scope(m_owner->glContext());
        if (scope.ok())
            prepareSlow();
    }
    return D3D_OK;
}

GLuint BufferStorage::prepareSlow()
{
    if (m_lockCount > 0 && m_buffer)
        return m_buffer; // still being written; draw with what GL has
    if (!m_buffer) {
        glCreateBuffers(1, &m_buffer);
        glNamedBufferData(m_buffer, GLsizeiptr(std::max<size_t>(m_length, 1)), m_memory.get(),
                          (m_usage & D3DUSAGE_DYNAMIC) ? GL_DYNAMIC_DRAW : GL_STATIC_DRAW);
        m_pending = false;
        m_discard = false;
        m_dirtyBegin = m_dirtyEnd = 0;
        if (!checkGlErrors("buffer storage")) {
            glDeleteBuffers(1, &m_buffer);
            m_buffer = 0;
        }
        return m_buffer;
    }
    if (m_pending && m_dirtyEnd > m_dirtyBegin) {
        if (m_discard && m_drawn && m_drawnFrame == m_owner->frameNumber()) {
            // Fresh storage: a draw of this frame may still read the old one.
            glNamedBufferData(m_buffer, GLsizeiptr(m_length), nullptr, GL_DYNAMIC_DRAW);
            glNamedBufferSubData(m_buffer, 0, GLsizeiptr(m_length), m_memory.get());
        } else {
            glNamedBufferSubData(m_buffer, GLintptr(m_dirtyBegin), GLsizeiptr(m_dirtyEnd - m_dirtyBegin),
                                 m_memory.get() + m_dirtyBegin);
        }
        checkGlErrors("buffer upload");
    }
    m_pending = false;
    m_discard = false;
    m_dirtyBegin = m_dirtyEnd = 0;
    return m_buffer;
}

VertexBuffer::VertexBuffer(Device* device, UINT length, DWORD usage, DWORD fvf, D3DPOOL pool)
    : Resource<IDirect3DVertexBuffer9>(device, D3DRTYPE_VERTEXBUFFER)
    , BufferStorage(device, length, usage)
{
    m_desc = D3DVERTEXBUFFER_DESC{D3DFMT_VERTEXDATA, D3DRTYPE_VERTEXBUFFER, usage, pool, length, fvf};
}

STDMETHODIMP VertexBuffer::QueryInterface(REFIID riid, void** ppvObject)
{
    return answerInterface<IDirect3DVertexBuffer9>(
        this, riid, ppvObject, {&IID_IDirect3DResource9, &IID_IDirect3DVertexBuffer9});
}

STDMETHODIMP VertexBuffer::Lock(UINT OffsetToLock, UINT SizeToLock, void** ppbData, DWORD Flags)
{
    return lock(OffsetToLock, SizeToLock, ppbData, Flags);
}

STDMETHODIMP VertexBuffer::Unlock()
{
    return unlock();
}

STDMETHODIMP VertexBuffer::GetDesc(D3DVERTEXBUFFER_DESC* pDesc)
{
    if (!pDesc)
        return D3DERR_INVALIDCALL;
    *pDesc = m_desc;
    return D3D_OK;
}

IndexBuffer::IndexBuffer(Device* device, UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool)
    : Resource<IDirect3DIndexBuffer9>(device, D3DRTYPE_INDEXBUFFER)
    , BufferStorage(device, length, usage)
{
    m_desc = D3DINDEXBUFFER_DESC{format, D3DRTYPE_INDEXBUFFER, usage, pool, length};
}

STDMETHODIMP IndexBuffer::QueryInterface(REFIID riid, void** ppvObject)
{
    return answerInterface<IDirect3DIndexBuffer9>(
        this, riid, ppvObject, {&IID_IDirect3DResource9, &IID_IDirect3DIndexBuffer9});
}

STDMETHODIMP IndexBuffer::Lock(UINT OffsetToLock, UINT SizeToLock, void** ppbData, DWORD Flags)
{
    return lock(OffsetToLock, SizeToLock, ppbData, Flags);
}

STDMETHODIMP IndexBuffer::Unlock()
{
    return unlock();
}

STDMETHODIMP IndexBuffer::GetDesc(D3DINDEXBUFFER_DESC* pDesc)
{
    if (!pDesc)
        return D3DERR_INVALIDCALL;
    *pDesc = m_desc;
    return D3D_OK;
}

VertexBuffer* asVertexBuffer(IDirect3DVertexBuffer9* buffer)
{
    return buffer ? dynamic_cast<VertexBuffer*>(buffer) : nullptr;
}

IndexBuffer* asIndexBuffer(IDirect3DIndexBuffer9* buffer)
{
    return buffer ? dynamic_cast<IndexBuffer*>(buffer) : nullptr;
}

} // namespace platform::d3d9
