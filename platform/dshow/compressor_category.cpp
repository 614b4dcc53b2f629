// The system device enumerator with its one category, the video
// compressors: one device moniker per FFmpeg encoder that an AVI can hold,
// with a property bag giving "FriendlyName", bound to an encoder filter.
#include "platform/com/com.h"
#include "platform/com/com_object.h"
#include "platform/dshow/dshow_internal.h"
#include "platform/dshow/dshow_test_api.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cwchar>
#include <mutex>

namespace platform::dshow {
namespace {

struct KnownEncoder {
    const char* encoder;
    const char* friendlyName;
};

// The fixed order of the list; the index selects the compressor.
constexpr KnownEncoder kKnownEncoders[] = {
    {"mjpeg", "Motion JPEG"},
    {"ffv1", "FFV1 lossless"},
    {"utvideo", "Ut Video lossless"},
    {"libx264", "H.264"},
};

std::mutex& testMutex()
{
    static std::mutex m;
    return m;
}

std::vector<CompressorEntry>& testEntries()
{
    static std::vector<CompressorEntry> entries;
    return entries;
}

std::wstring widen(const std::string& text)
{
    // Friendly names are ASCII.
    return std::wstring(text.begin(), text.end());
}

class PropertyBag final : public ComObject<PropertyBag, IPropertyBag, IID_IPropertyBag> {
public:
    explicit PropertyBag(const CompressorEntry& entry) : m_entry(entry) {}

    STDMETHODIMP Read(LPCOLESTR propName, VARIANT* var, IErrorLog*) override
    {
        if (!propName || !var)
            return E_POINTER;
        if (std::wcscmp(propName, L"FriendlyName") != 0 || !m_entry.hasName)
            return E_INVALIDARG; // no such property
        if (var->vt != VT_EMPTY && var->vt != VT_BSTR)
            return DISP_E_TYPEMISMATCH;
        VariantClear(var);
        var->bstrVal = SysAllocString(widen(m_entry.friendlyName).c_str());
        if (!var->bstrVal)
            return E_OUTOFMEMORY;
        var->vt = VT_BSTR;
        return S_OK;
    }
    STDMETHODIMP Write(LPCOLESTR, VARIANT*) override { return E_ACCESSDENIED; }

private:
    CompressorEntry m_entry;
    LiveObject m_live;
};

class DeviceMoniker final : public ComObject<DeviceMoniker, IMoniker, IID_IMoniker> {
public:
    explicit DeviceMoniker(CompressorEntry entry) : m_entry(std::move(entry)) {}

    STDMETHODIMP BindToObject(IBindCtx*, IMoniker*, REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        IBaseFilter* filter = createEncoderFilter(m_entry.encoder);
        if (!filter)
            return MK_E_NOOBJECT;
        const HRESULT hr = filter->QueryInterface(riid, ppv);
        filter->Release();
        return hr;
    }
    STDMETHODIMP BindToStorage(IBindCtx*, IMoniker*, REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IPropertyBag)
            return E_NOINTERFACE;
        *ppv = static_cast<IPropertyBag*>(new PropertyBag(m_entry));
        return S_OK;
    }
    STDMETHODIMP GetDisplayName(IBindCtx*, IMoniker*, LPWSTR* displayName) override
    {
        if (!displayName)
            return E_POINTER;
        const std::wstring name = L"@device:cm:" + widen(m_entry.encoder);
        const size_t bytes = (name.size() + 1) * sizeof(wchar_t);
        *displayName = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
        if (!*displayName)
            return E_OUTOFMEMORY;
        std::wmemcpy(*displayName, name.c_str(), name.size() + 1);
        return S_OK;
    }
    STDMETHODIMP IsEqual(IMoniker* other) override { return other == this ? S_OK : S_FALSE; }

private:
    CompressorEntry m_entry;
    LiveObject m_live;
};

class MonikerEnumerator final : public ComObject<MonikerEnumerator, IEnumMoniker, IID_IEnumMoniker> {
public:
    MonikerEnumerator(std::vector<CompressorEntry> entries, size_t position)
        : m_entries(std::move(entries)), m_position(position)
    {
    }

    STDMETHODIMP Next(ULONG celt, IMoniker** rgelt, ULONG* fetched) override
    {
        if (!rgelt)
            return E_POINTER;
        if (celt > 1 && !fetched)
            return E_INVALIDARG;
        ULONG n = 0;
        while (n < celt && m_position < m_entries.size())
            rgelt[n++] = new DeviceMoniker(m_entries[m_position++]);
        if (fetched)
            *fetched = n;
        return n == celt ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG celt) override
    {
        m_position += celt;
        if (m_position > m_entries.size()) {
            m_position = m_entries.size();
            return S_FALSE;
        }
        return S_OK;
    }
    STDMETHODIMP Reset() override
    {
        m_position = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumMoniker** ppenum) override
    {
        if (!ppenum)
            return E_POINTER;
        *ppenum = new MonikerEnumerator(m_entries, m_position);
        return S_OK;
    }

private:
    std::vector<CompressorEntry> m_entries;
    size_t m_position;
    LiveObject m_live;
};

class SystemDeviceEnum final : public ComObject<SystemDeviceEnum, ICreateDevEnum, IID_ICreateDevEnum> {
public:
    STDMETHODIMP CreateClassEnumerator(REFCLSID category, IEnumMoniker** ppEnumMoniker, DWORD) override
    {
        if (!ppEnumMoniker)
            return E_POINTER;
        *ppEnumMoniker = nullptr;
        // Other categories exist but are empty here: S_FALSE, no enumerator.
        if (category != CLSID_VideoCompressorCategory)
            return S_FALSE;
        std::vector<CompressorEntry> entries = compressorEntries();
        if (entries.empty())
            return S_FALSE;
        *ppEnumMoniker = new MonikerEnumerator(std::move(entries), 0);
        return S_OK;
    }

private:
    LiveObject m_live;
};

} // namespace

std::vector<CompressorEntry> compressorEntries()
{
    initFfmpeg();
    std::vector<CompressorEntry> entries;
    for (const KnownEncoder& e : kKnownEncoders)
        if (avcodec_find_encoder_by_name(e.encoder))
            entries.push_back({e.encoder, e.friendlyName, true});
    std::lock_guard<std::mutex> lock(testMutex());
    entries.insert(entries.end(), testEntries().begin(), testEntries().end());
    return entries;
}

IUnknown* createSystemDeviceEnum()
{
    return new SystemDeviceEnum;
}

void addTestCompressor(const char* encoder, const char* friendlyName)
{
    std::lock_guard<std::mutex> lock(testMutex());
    testEntries().push_back({encoder ? encoder : "", friendlyName ? friendlyName : "", friendlyName != nullptr});
}

void clearTestCompressors()
{
    std::lock_guard<std::mutex> lock(testMutex());
    testEntries().clear();
}

} // namespace platform::dshow
