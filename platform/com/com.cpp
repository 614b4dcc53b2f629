#include "platform/com/com.h"

#include <cstdlib>
#include <mutex>
#include <vector>

namespace {

struct ComClass {
    CLSID clsid;
    platform::ComClassFactory factory;
};

std::mutex& registryMutex()
{
    static std::mutex m;
    return m;
}

std::vector<ComClass>& registry()
{
    static std::vector<ComClass> classes;
    return classes;
}

// COM keeps its initialisation per thread: each CoInitialize that succeeds
// (S_OK or S_FALSE) must be balanced by a CoUninitialize on the same thread.
struct ThreadApartment {
    int count = 0;
    DWORD model = COINIT_APARTMENTTHREADED;
};

thread_local ThreadApartment apartment;

} // namespace

HRESULT WINAPI CoInitializeEx(LPVOID /*reserved*/, DWORD coInit)
{
    const DWORD model = coInit & COINIT_APARTMENTTHREADED;
    if (apartment.count > 0) {
        if (apartment.model != model)
            return RPC_E_CHANGED_MODE;
        ++apartment.count;
        return S_FALSE;
    }
    apartment.model = model;
    apartment.count = 1;
    return S_OK;
}

HRESULT WINAPI CoInitialize(LPVOID reserved)
{
    return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED);
}

void WINAPI CoUninitialize()
{
    if (apartment.count > 0)
        --apartment.count;
}

HRESULT WINAPI CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD clsContext, REFIID riid, LPVOID* ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (apartment.count <= 0)
        return CO_E_NOTINITIALIZED;
    // None of this platform's classes supports aggregation.
    if (outer)
        return CLASS_E_NOAGGREGATION;
    if (!(clsContext & CLSCTX_INPROC_SERVER))
        return REGDB_E_CLASSNOTREG;

    // The built-in classes come with the library; tests may replace them.
    platform::registerBuiltInClasses();
    platform::ComClassFactory factory;
    {
        std::lock_guard<std::mutex> lock(registryMutex());
        for (const ComClass& c : registry()) {
            if (c.clsid == clsid) {
                factory = c.factory;
                break;
            }
        }
    }
    if (!factory)
        return REGDB_E_CLASSNOTREG;

    // The factory runs outside the lock: constructors may create other COM
    // objects in turn.
    IUnknown* object = factory();
    if (!object)
        return E_OUTOFMEMORY;
    HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    if (FAILED(hr))
        *ppv = nullptr;
    return hr;
}

LPVOID WINAPI CoTaskMemAlloc(size_t size)
{
    return std::malloc(size ? size : 1);
}

void WINAPI CoTaskMemFree(LPVOID p)
{
    std::free(p);
}

namespace platform {

void registerComClass(REFCLSID clsid, ComClassFactory factory)
{
    std::lock_guard<std::mutex> lock(registryMutex());
    for (ComClass& c : registry()) {
        if (c.clsid == clsid) {
            c.factory = std::move(factory);
            return;
        }
    }
    registry().push_back({clsid, std::move(factory)});
}

bool unregisterComClass(REFCLSID clsid)
{
    std::lock_guard<std::mutex> lock(registryMutex());
    auto& classes = registry();
    for (auto it = classes.begin(); it != classes.end(); ++it) {
        if (it->clsid == clsid) {
            classes.erase(it);
            return true;
        }
    }
    return false;
}

bool isComClassRegistered(REFCLSID clsid)
{
    std::lock_guard<std::mutex> lock(registryMutex());
    for (const ComClass& c : registry()) {
        if (c.clsid == clsid)
            return true;
    }
    return false;
}

int comInitializeCount()
{
    return apartment.count;
}

} // namespace platform
