// What every object made by a device shares: the COM reference count, the
// link to its device (kept alive by its children, apart from the
// application's own count) and, for resources, private data and priority.
#pragma once

#include "platform/com/com_object.h"
#include "platform/d3d9/d3d9_interfaces.h"

#include <array>
#include <atomic>
#include <cstring>
#include <map>
#include <vector>

namespace platform::d3d9 {

class Device;

// A child keeps its device object alive (not the application's count of
// it), so that GL objects can always be deleted in the device's context.
void retainDeviceForChild(Device* device);
void releaseDeviceForChild(Device* device);
// The device's public interface, AddRef'd (GetDevice).
IDirect3DDevice9* publicDevice(Device* device);

// Makes slot hold value (either may be null). The new object gains its
// reference before the old one loses its own, so that re-setting the held
// object never frees it.
template <class T>
void holdRef(T*& slot, T* value)
{
    if (value)
        value->AddRef();
    if (slot)
        slot->Release();
    slot = value;
}

// Hands a held object (or null) to a caller, with a reference of its own.
template <class Out, class T>
void shareRef(Out** out, T* held)
{
    *out = held;
    if (held)
        held->AddRef();
}

template <class Interface>
class DeviceChild : public Interface {
public:
    explicit DeviceChild(Device* device)
        : m_device(device)
    {
        retainDeviceForChild(device);
    }
    virtual ~DeviceChild() { releaseDeviceForChild(m_device); }
    DeviceChild(const DeviceChild&) = delete;
    DeviceChild& operator=(const DeviceChild&) = delete;

    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG count = --m_refs;
        if (count == 0)
            delete this;
        return count;
    }
    STDMETHODIMP GetDevice(IDirect3DDevice9** ppDevice) override
    {
        if (!ppDevice)
            return D3DERR_INVALIDCALL;
        *ppDevice = publicDevice(m_device);
        return D3D_OK;
    }

    Device* device() const { return m_device; }
    ULONG refCount() const { return m_refs; }

protected:
    std::atomic<ULONG> m_refs{1};
    Device* m_device;
};

// SetPrivateData and friends, keyed by GUID.
class PrivateData {
public:
    ~PrivateData() { clear(); }
    HRESULT set(REFGUID guid, const void* data, DWORD size, DWORD flags);
    HRESULT get(REFGUID guid, void* data, DWORD* size) const;
    HRESULT free(REFGUID guid);
    void clear();

private:
    struct Entry {
        std::vector<unsigned char> bytes;
        IUnknown* object = nullptr; // D3DSPD_IUNKNOWN
    };
    using Key = std::array<unsigned char, sizeof(GUID)>;
    static Key keyOf(REFGUID guid)
    {
        Key k;
        std::memcpy(k.data(), &guid, sizeof(GUID));
        return k;
    }
    std::map<Key, Entry> m_entries;
};

// The IDirect3DResource9 part of a resource interface.
template <class Interface>
class Resource : public DeviceChild<Interface> {
public:
    Resource(Device* device, D3DRESOURCETYPE type)
        : DeviceChild<Interface>(device)
        , m_type(type)
    {
    }

    STDMETHODIMP SetPrivateData(REFGUID refguid, const void* pData, DWORD SizeOfData, DWORD Flags) override
    {
        return m_privateData.set(refguid, pData, SizeOfData, Flags);
    }
    STDMETHODIMP GetPrivateData(REFGUID refguid, void* pData, DWORD* pSizeOfData) override
    {
        return m_privateData.get(refguid, pData, pSizeOfData);
    }
    STDMETHODIMP FreePrivateData(REFGUID refguid) override { return m_privateData.free(refguid); }
    STDMETHODIMP_(DWORD) SetPriority(DWORD PriorityNew) override
    {
        const DWORD old = m_priority;
        m_priority = PriorityNew;
        return old;
    }
    STDMETHODIMP_(DWORD) GetPriority() override { return m_priority; }
    STDMETHODIMP_(D3DRESOURCETYPE) GetType() override { return m_type; }

protected:
    PrivateData m_privateData;
    DWORD m_priority = 0;
    D3DRESOURCETYPE m_type;
};

} // namespace platform::d3d9
