// The parts of IUnknown every object of this platform writes the same way:
// QueryInterface over a fixed list of IIDs and a thread-safe reference count.
#pragma once

#include "platform/com/unknwn.h"

#include <atomic>
#include <initializer_list>

namespace platform {

// QueryInterface for an object reachable through the one interface pointer
// self: IID_IUnknown or any of iids gets self, AddRef'd.
template <class Interface>
HRESULT answerInterface(Interface* self, REFIID riid, void** ppv, std::initializer_list<const IID*> iids)
{
    if (!ppv)
        return E_POINTER;
    bool known = riid == IID_IUnknown;
    for (const IID* iid : iids)
        known = known || riid == *iid;
    if (!known) {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    self->AddRef();
    *ppv = self;
    return S_OK;
}

// An object implementing Interface, answering IID_IUnknown and Iids, made
// with a count of 1 and deleted (as Derived) when the count reaches 0.
template <class Derived, class Interface, const IID&... Iids>
class ComObject : public Interface {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        return answerInterface<Interface>(this, riid, ppv, {&Iids...});
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG count = --m_refs;
        if (count == 0)
            delete static_cast<Derived*>(this);
        return count;
    }

protected:
    ComObject() = default;
    ~ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

private:
    std::atomic<ULONG> m_refs{1};
};

} // namespace platform
