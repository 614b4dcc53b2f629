#include "platform/d3d9/device_child.h"

namespace platform::d3d9 {

HRESULT PrivateData::set(REFGUID guid, const void* data, DWORD size, DWORD flags)
{
    if (!data && size != 0)
        return D3DERR_INVALIDCALL;
    Entry entry;
    if (flags & D3DSPD_IUNKNOWN) {
        if (size != sizeof(IUnknown*) || !data)
            return D3DERR_INVALIDCALL;
        entry.object = *static_cast<IUnknown* const*>(data);
        if (entry.object)
            entry.object->AddRef();
    } else if (size) {
        const auto* bytes = static_cast<const unsigned char*>(data);
        entry.bytes.assign(bytes, bytes + size);
    }
    free(guid);
    m_entries.emplace(keyOf(guid), std::move(entry));
    return D3D_OK;
}

HRESULT PrivateData::get(REFGUID guid, void* data, DWORD* size) const
{
    if (!size)
        return D3DERR_INVALIDCALL;
    auto it = m_entries.find(keyOf(guid));
    if (it == m_entries.end())
        return D3DERR_NOTFOUND;
    const Entry& e = it->second;
    const DWORD needed = e.object ? DWORD(sizeof(IUnknown*)) : DWORD(e.bytes.size());
    if (!data) {
        *size = needed;
        return D3D_OK;
    }
    if (*size < needed) {
        *size = needed;
        return D3DERR_MOREDATA;
    }
    if (e.object) {
        e.object->AddRef();
        *static_cast<IUnknown**>(data) = e.object;
    } else if (needed) {
        std::memcpy(data, e.bytes.data(), needed);
    }
    *size = needed;
    return D3D_OK;
}

HRESULT PrivateData::free(REFGUID guid)
{
    auto it = m_entries.find(keyOf(guid));
    if (it == m_entries.end())
        return D3DERR_NOTFOUND;
    if (it->second.object)
        it->second.object->Release();
    m_entries.erase(it);
    return D3D_OK;
}

void PrivateData::clear()
{
    for (auto& [key, entry] : m_entries) {
        if (entry.object)
            entry.object->Release();
    }
    m_entries.clear();
}

} // namespace platform::d3d9
