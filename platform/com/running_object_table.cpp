#include "platform/com/com_object.h"
#include "platform/com/moniker.h"

#include "platform/com/com.h"

#include <cstring>
#include <mutex>

namespace {

class ItemMoniker final : public platform::ComObject<ItemMoniker, IMoniker, IID_IMoniker> {
public:
    explicit ItemMoniker(std::wstring name) : name(std::move(name)) {}

    STDMETHODIMP BindToObject(IBindCtx*, IMoniker*, REFIID, void** ppv) override
    {
        if (ppv)
            *ppv = nullptr;
        return MK_E_NOOBJECT;
    }
    STDMETHODIMP BindToStorage(IBindCtx*, IMoniker*, REFIID, void** ppv) override
    {
        if (ppv)
            *ppv = nullptr;
        return MK_E_NOOBJECT;
    }
    STDMETHODIMP GetDisplayName(IBindCtx*, IMoniker*, LPWSTR* displayName) override;
    STDMETHODIMP IsEqual(IMoniker* other) override
    {
        auto* item = dynamic_cast<ItemMoniker*>(other);
        return item && item->name == name ? S_OK : S_FALSE;
    }

    std::wstring name;
};

STDMETHODIMP ItemMoniker::GetDisplayName(IBindCtx*, IMoniker*, LPWSTR* displayName)
{
    if (!displayName)
        return E_POINTER;
    const size_t bytes = (name.size() + 1) * sizeof(wchar_t);
    *displayName = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (!*displayName)
        return E_OUTOFMEMORY;
    std::memcpy(*displayName, name.c_str(), bytes);
    return S_OK;
}

class BindContext final : public platform::ComObject<BindContext, IBindCtx, IID_IBindCtx> {};

struct Entry {
    DWORD cookie;
    IUnknown* object;
    IMoniker* name;
    std::wstring displayName;
};

// The table keeps one reference on each registered object and name until
// the registration is revoked.
class RunningObjectTable final
    : public platform::ComObject<RunningObjectTable, IRunningObjectTable, IID_IRunningObjectTable> {
public:
    STDMETHODIMP Register(DWORD, IUnknown* object, IMoniker* name, DWORD* cookie) override
    {
        if (!object || !name || !cookie)
            return E_INVALIDARG;
        LPWSTR display = nullptr;
        if (FAILED(name->GetDisplayName(nullptr, nullptr, &display)))
            return E_INVALIDARG;
        std::wstring text = display;
        CoTaskMemFree(display);
        std::lock_guard<std::mutex> lock(mutex);
        for (const Entry& e : entries)
            if (e.displayName == text) {
                *cookie = 0;
                return E_INVALIDARG; // one entry per name
            }
        object->AddRef();
        name->AddRef();
        *cookie = nextCookie++;
        entries.push_back({*cookie, object, name, std::move(text)});
        return S_OK;
    }
    STDMETHODIMP Revoke(DWORD cookie) override
    {
        Entry found{};
        {
            std::lock_guard<std::mutex> lock(mutex);
            for (auto it = entries.begin(); it != entries.end(); ++it)
                if (it->cookie == cookie) {
                    found = *it;
                    entries.erase(it);
                    break;
                }
        }
        if (!found.object)
            return E_INVALIDARG;
        // Released outside the lock: the object may revoke others as it dies.
        found.name->Release();
        found.object->Release();
        return S_OK;
    }
    STDMETHODIMP IsRunning(IMoniker* name) override
    {
        IUnknown* object = nullptr;
        const HRESULT hr = GetObject(name, &object);
        if (object)
            object->Release();
        return hr == S_OK ? S_OK : S_FALSE;
    }
    STDMETHODIMP GetObject(IMoniker* name, IUnknown** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (!name)
            return E_INVALIDARG;
        std::lock_guard<std::mutex> lock(mutex);
        for (const Entry& e : entries)
            if (name->IsEqual(e.name) == S_OK) {
                e.object->AddRef();
                *object = e.object;
                return S_OK;
            }
        return MK_E_UNAVAILABLE;
    }

    std::mutex mutex;
    std::vector<Entry> entries;
    DWORD nextCookie = 1;
};

// The process-wide table: made on first use, never freed, so that its
// entries outlive every caller's reference to it.
RunningObjectTable& table()
{
    static RunningObjectTable* rot = new RunningObjectTable;
    return *rot;
}

} // namespace

HRESULT WINAPI GetRunningObjectTable(DWORD, LPRUNNINGOBJECTTABLE* pprot)
{
    if (!pprot)
        return E_POINTER;
    table().AddRef();
    *pprot = &table();
    return S_OK;
}

HRESULT WINAPI CreateItemMoniker(LPCOLESTR delim, LPCOLESTR item, LPMONIKER* ppmk)
{
    if (!ppmk)
        return E_POINTER;
    *ppmk = nullptr;
    if (!item)
        return E_INVALIDARG;
    std::wstring name = delim ? delim : L"";
    name += item;
    *ppmk = new ItemMoniker(std::move(name));
    return S_OK;
}

HRESULT WINAPI CreateBindCtx(DWORD, IBindCtx** ppbc)
{
    if (!ppbc)
        return E_POINTER;
    *ppbc = new BindContext;
    return S_OK;
}

namespace platform {

size_t runningObjectCount()
{
    std::lock_guard<std::mutex> lock(table().mutex);
    return table().entries.size();
}

std::vector<std::wstring> runningObjectNames()
{
    std::lock_guard<std::mutex> lock(table().mutex);
    std::vector<std::wstring> names;
    for (const Entry& e : table().entries)
        names.push_back(e.displayName);
    return names;
}

} // namespace platform
