#include "platform/dshow/base_classes.h"

#include "platform/com/com.h"
#include "platform/com/com_object.h"

#include <cstring>
#include <cwchar>

// ---------------------------------------------------------------------------
// Media types

void WINAPI FreeMediaType(AM_MEDIA_TYPE& mt)
{
    if (mt.cbFormat)
        CoTaskMemFree(mt.pbFormat);
    mt.cbFormat = 0;
    mt.pbFormat = nullptr;
    if (mt.pUnk) {
        mt.pUnk->Release();
        mt.pUnk = nullptr;
    }
}

void WINAPI DeleteMediaType(AM_MEDIA_TYPE* pmt)
{
    if (!pmt)
        return;
    FreeMediaType(*pmt);
    CoTaskMemFree(pmt);
}

HRESULT WINAPI CopyMediaType(AM_MEDIA_TYPE* dest, const AM_MEDIA_TYPE* src)
{
    if (!dest || !src)
        return E_POINTER;
    *dest = *src;
    if (src->cbFormat) {
        dest->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(src->cbFormat));
        if (!dest->pbFormat) {
            dest->cbFormat = 0;
            return E_OUTOFMEMORY;
        }
        std::memcpy(dest->pbFormat, src->pbFormat, src->cbFormat);
    } else {
        dest->pbFormat = nullptr;
    }
    if (dest->pUnk)
        dest->pUnk->AddRef();
    return S_OK;
}

CMediaType::CMediaType() : AM_MEDIA_TYPE{}
{
    InitMediaType();
}

CMediaType::CMediaType(const AM_MEDIA_TYPE& other) : AM_MEDIA_TYPE{}
{
    CopyMediaType(this, &other);
}

CMediaType::CMediaType(const CMediaType& other) : AM_MEDIA_TYPE{}
{
    CopyMediaType(this, &other);
}

CMediaType& CMediaType::operator=(const AM_MEDIA_TYPE& other)
{
    if (&other != this) {
        FreeMediaType(*this);
        CopyMediaType(this, &other);
    }
    return *this;
}

CMediaType& CMediaType::operator=(const CMediaType& other)
{
    return *this = static_cast<const AM_MEDIA_TYPE&>(other);
}

CMediaType::~CMediaType()
{
    FreeMediaType(*this);
}

void CMediaType::InitMediaType()
{
    FreeMediaType(*this);
    majortype = subtype = formattype = GUID_NULL;
    bFixedSizeSamples = TRUE;
    bTemporalCompression = FALSE;
    lSampleSize = 1;
}

bool CMediaType::operator==(const CMediaType& other) const
{
    return majortype == other.majortype && subtype == other.subtype && formattype == other.formattype &&
           cbFormat == other.cbFormat && (cbFormat == 0 || std::memcmp(pbFormat, other.pbFormat, cbFormat) == 0);
}

void CMediaType::SetSampleSize(ULONG size)
{
    if (size == 0) {
        bFixedSizeSamples = FALSE;
    } else {
        bFixedSizeSamples = TRUE;
        lSampleSize = size;
    }
}

BYTE* CMediaType::AllocFormatBuffer(ULONG length)
{
    if (cbFormat)
        CoTaskMemFree(pbFormat);
    cbFormat = 0;
    pbFormat = nullptr;
    if (length == 0)
        return nullptr;
    pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(length));
    if (!pbFormat)
        return nullptr;
    std::memset(pbFormat, 0, length);
    cbFormat = length;
    return pbFormat;
}

// ---------------------------------------------------------------------------
// Samples and the memory allocator

CMediaSample::CMediaSample(CMemAllocator* allocator, long size)
    : m_allocator(allocator), m_buffer(size_t(size)), m_length(size)
{
}

CMediaSample::~CMediaSample() = default;

STDMETHODIMP CMediaSample::QueryInterface(REFIID riid, void** ppv)
{
    return platform::answerInterface<IMediaSample>(this, riid, ppv, {&IID_IMediaSample});
}

STDMETHODIMP_(ULONG) CMediaSample::AddRef()
{
    return ++m_refs;
}

STDMETHODIMP_(ULONG) CMediaSample::Release()
{
    const ULONG count = --m_refs;
    if (count == 0)
        m_allocator->ReleaseBuffer(this);
    return count;
}

STDMETHODIMP CMediaSample::GetPointer(BYTE** ppBuffer)
{
    if (!ppBuffer)
        return E_POINTER;
    *ppBuffer = m_buffer.data();
    return S_OK;
}

STDMETHODIMP CMediaSample::GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd)
{
    if (!pTimeStart || !pTimeEnd)
        return E_POINTER;
    if (!m_timeValid)
        return VFW_E_NOT_FOUND; // the sample carries no time
    *pTimeStart = m_start;
    *pTimeEnd = m_end;
    return S_OK;
}

STDMETHODIMP CMediaSample::SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd)
{
    if (!pTimeStart) {
        m_timeValid = false;
        return S_OK;
    }
    m_start = *pTimeStart;
    m_end = pTimeEnd ? *pTimeEnd : *pTimeStart + 1;
    m_timeValid = true;
    return S_OK;
}

STDMETHODIMP CMediaSample::SetSyncPoint(BOOL bIsSyncPoint)
{
    m_sync = bIsSyncPoint != FALSE;
    return S_OK;
}

STDMETHODIMP CMediaSample::SetActualDataLength(long length)
{
    if (length < 0 || size_t(length) > m_buffer.size())
        return VFW_E_BUFFER_OVERFLOW;
    m_length = length;
    return S_OK;
}

void CMediaSample::reset()
{
    m_length = long(m_buffer.size());
    m_timeValid = false;
    m_sync = false;
}

CMemAllocator::CMemAllocator() = default;

CMemAllocator::~CMemAllocator()
{
    freeSamples();
}

void CMemAllocator::freeSamples()
{
    for (CMediaSample* s : m_all)
        delete s;
    m_all.clear();
    m_free.clear();
}

STDMETHODIMP CMemAllocator::QueryInterface(REFIID riid, void** ppv)
{
    return platform::answerInterface<IMemAllocator>(this, riid, ppv, {&IID_IMemAllocator});
}

STDMETHODIMP_(ULONG) CMemAllocator::AddRef()
{
    return ++m_refs;
}

STDMETHODIMP_(ULONG) CMemAllocator::Release()
{
    const ULONG count = --m_refs;
    if (count == 0)
        delete this;
    return count;
}

STDMETHODIMP CMemAllocator::SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual)
{
    if (!pRequest || !pActual)
        return E_POINTER;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_committed)
        return VFW_E_ALREADY_CONNECTED; // cannot change while buffers exist
    if (pRequest->cBuffers < 0 || pRequest->cbBuffer < 0 || pRequest->cbPrefix < 0 ||
        (pRequest->cbAlign & (pRequest->cbAlign - 1)))
        return E_INVALIDARG;
    // A buffer is one allocation: keep it addressable by a long.
    if (pRequest->cbBuffer > 0x7FFF0000L - pRequest->cbPrefix)
        return E_OUTOFMEMORY;
    m_props = *pRequest;
    if (m_props.cbAlign == 0)
        m_props.cbAlign = 1;
    *pActual = m_props;
    return S_OK;
}

STDMETHODIMP CMemAllocator::GetProperties(ALLOCATOR_PROPERTIES* pProps)
{
    if (!pProps)
        return E_POINTER;
    std::lock_guard<std::mutex> lock(m_mutex);
    *pProps = m_props;
    return S_OK;
}

STDMETHODIMP CMemAllocator::Commit()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_committed)
        return S_OK;
    if (m_props.cBuffers <= 0 || m_props.cbBuffer <= 0)
        return VFW_E_SIZENOTSET;
    // Samples still out from an earlier commit are freed on their return.
    if (m_free.size() != m_all.size())
        return VFW_E_WRONG_STATE;
    freeSamples();
    try {
        for (long i = 0; i < m_props.cBuffers; ++i) {
            m_all.push_back(new CMediaSample(this, m_props.cbBuffer));
            m_free.push_back(m_all.back());
        }
    } catch (const std::bad_alloc&) {
        freeSamples();
        return E_OUTOFMEMORY;
    }
    m_committed = true;
    return S_OK;
}

STDMETHODIMP CMemAllocator::Decommit()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_committed = false;
    m_returned.notify_all();
    return S_OK;
}

STDMETHODIMP CMemAllocator::GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME*, REFERENCE_TIME*, DWORD)
{
    if (!ppBuffer)
        return E_POINTER;
    *ppBuffer = nullptr;
    std::unique_lock<std::mutex> lock(m_mutex);
    m_returned.wait(lock, [this] { return !m_committed || !m_free.empty(); });
    if (!m_committed)
        return VFW_E_NOT_COMMITTED;
    CMediaSample* s = m_free.back();
    m_free.pop_back();
    s->reset();
    // A sample out keeps its allocator alive.
    ++m_refs;
    s->AddRef();
    *ppBuffer = s;
    return S_OK;
}

STDMETHODIMP CMemAllocator::ReleaseBuffer(IMediaSample* pBuffer)
{
    auto* s = static_cast<CMediaSample*>(pBuffer);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_free.push_back(s);
        m_returned.notify_one();
    }
    Release();
    return S_OK;
}

// ---------------------------------------------------------------------------
// Filters

namespace {

void copyName(WCHAR* dest, size_t capacity, LPCWSTR name)
{
    dest[0] = 0;
    if (name) {
        std::wcsncpy(dest, name, capacity - 1);
        dest[capacity - 1] = 0;
    }
}

class PinEnumerator final : public platform::ComObject<PinEnumerator, IEnumPins, IID_IEnumPins> {
public:
    PinEnumerator(CBaseFilter* filter, int position) : m_filter(filter), m_position(position) { m_filter->AddRef(); }
    ~PinEnumerator() { m_filter->Release(); }

    STDMETHODIMP Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) override
    {
        if (!ppPins)
            return E_POINTER;
        ULONG fetched = 0;
        while (fetched < cPins && m_position < m_filter->GetPinCount()) {
            CBasePin* pin = m_filter->GetPin(m_position++);
            if (!pin)
                continue;
            pin->AddRef();
            ppPins[fetched++] = pin;
        }
        if (pcFetched)
            *pcFetched = fetched;
        return fetched == cPins ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG cPins) override
    {
        m_position += int(cPins);
        return m_position <= m_filter->GetPinCount() ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override
    {
        m_position = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumPins** ppEnum) override
    {
        if (!ppEnum)
            return E_POINTER;
        *ppEnum = new PinEnumerator(m_filter, m_position);
        return S_OK;
    }

private:
    CBaseFilter* m_filter;
    int m_position;
};

} // namespace

CBaseFilter::CBaseFilter(const char* name, LPUNKNOWN, CCritSec* lock, REFCLSID clsid)
    : m_pLock(lock), m_pName(name), m_clsid(clsid)
{
}

CBaseFilter::~CBaseFilter() = default;

STDMETHODIMP CBaseFilter::QueryInterface(REFIID riid, void** ppv)
{
    return platform::answerInterface<IBaseFilter>(this, riid, ppv, {&IID_IBaseFilter, &IID_IMediaFilter});
}

STDMETHODIMP_(ULONG) CBaseFilter::AddRef()
{
    return ++m_refs;
}

STDMETHODIMP_(ULONG) CBaseFilter::Release()
{
    const ULONG count = --m_refs;
    if (count == 0)
        delete this;
    return count;
}

STDMETHODIMP CBaseFilter::GetClassID(CLSID* pClassID)
{
    if (!pClassID)
        return E_POINTER;
    *pClassID = m_clsid;
    return S_OK;
}

STDMETHODIMP CBaseFilter::Stop()
{
    CAutoLock lock(m_pLock);
    HRESULT result = S_OK;
    if (m_State != State_Stopped) {
        for (int i = 0; i < GetPinCount(); ++i) {
            CBasePin* pin = GetPin(i);
            if (pin && pin->IsConnected()) {
                const HRESULT hr = pin->Inactive();
                if (FAILED(hr) && SUCCEEDED(result))
                    result = hr;
            }
        }
    }
    m_State = State_Stopped;
    return result;
}

STDMETHODIMP CBaseFilter::Pause()
{
    CAutoLock lock(m_pLock);
    if (m_State == State_Stopped) {
        for (int i = 0; i < GetPinCount(); ++i) {
            CBasePin* pin = GetPin(i);
            if (pin && pin->IsConnected()) {
                const HRESULT hr = pin->Active();
                if (FAILED(hr))
                    return hr;
            }
        }
    }
    m_State = State_Paused;
    return S_OK;
}

STDMETHODIMP CBaseFilter::Run(REFERENCE_TIME tStart)
{
    CAutoLock lock(m_pLock);
    if (m_State == State_Stopped) {
        const HRESULT hr = Pause();
        if (FAILED(hr))
            return hr;
    }
    m_tStart = tStart;
    m_State = State_Running;
    return S_OK;
}

STDMETHODIMP CBaseFilter::GetState(DWORD, FILTER_STATE* State)
{
    if (!State)
        return E_POINTER;
    *State = m_State;
    return S_OK;
}

STDMETHODIMP CBaseFilter::EnumPins(IEnumPins** ppEnum)
{
    if (!ppEnum)
        return E_POINTER;
    *ppEnum = new PinEnumerator(this, 0);
    return S_OK;
}

STDMETHODIMP CBaseFilter::FindPin(LPCWSTR Id, IPin** ppPin)
{
    if (!Id || !ppPin)
        return E_POINTER;
    *ppPin = nullptr;
    for (int i = 0; i < GetPinCount(); ++i) {
        CBasePin* pin = GetPin(i);
        if (pin && std::wcscmp(pin->pinName(), Id) == 0) {
            pin->AddRef();
            *ppPin = pin;
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

STDMETHODIMP CBaseFilter::QueryFilterInfo(FILTER_INFO* pInfo)
{
    if (!pInfo)
        return E_POINTER;
    copyName(pInfo->achName, MAX_FILTER_NAME, m_graphName);
    pInfo->pGraph = m_pGraph;
    if (m_pGraph)
        m_pGraph->AddRef();
    return S_OK;
}

STDMETHODIMP CBaseFilter::JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName)
{
    CAutoLock lock(m_pLock);
    m_pGraph = pGraph;
    copyName(m_graphName, MAX_FILTER_NAME, pGraph ? pName : nullptr);
    return S_OK;
}

STDMETHODIMP CBaseFilter::QueryVendorInfo(LPWSTR* pVendorInfo)
{
    if (pVendorInfo)
        *pVendorInfo = nullptr;
    return E_NOTIMPL;
}

// ---------------------------------------------------------------------------
// Pins

CBasePin::CBasePin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR pinName,
                   PIN_DIRECTION dir)
    : m_pFilter(filter), m_pLock(lock), m_dir(dir), m_objectName(objectName)
{
    copyName(m_pName, MAX_PIN_NAME, pinName);
    if (phr && !filter)
        *phr = E_POINTER;
}

CBasePin::~CBasePin()
{
    if (m_Connected)
        m_Connected->Release();
}

STDMETHODIMP CBasePin::QueryInterface(REFIID riid, void** ppv)
{
    return platform::answerInterface<IPin>(this, riid, ppv, {&IID_IPin});
}

HRESULT CBasePin::GetMediaType(int, CMediaType*)
{
    return VFW_S_NO_MORE_ITEMS;
}

HRESULT CBasePin::SetMediaType(const CMediaType* pmt)
{
    m_mt = *pmt;
    return S_OK;
}

HRESULT CBasePin::CompleteConnect(IPin*)
{
    return S_OK;
}

HRESULT CBasePin::BreakConnect()
{
    return S_OK;
}

HRESULT CBasePin::tryConnection(IPin* pReceivePin, const CMediaType& mt)
{
    if (CheckMediaType(&mt) != S_OK)
        return VFW_E_TYPE_NOT_ACCEPTED;
    m_Connected = pReceivePin;
    m_Connected->AddRef();
    HRESULT hr = SetMediaType(&mt);
    if (SUCCEEDED(hr))
        hr = pReceivePin->ReceiveConnection(this, &mt);
    if (SUCCEEDED(hr)) {
        hr = CompleteConnect(pReceivePin);
        if (SUCCEEDED(hr))
            return S_OK;
        pReceivePin->Disconnect();
    }
    BreakConnect();
    m_Connected->Release();
    m_Connected = nullptr;
    m_mt.InitMediaType();
    return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
}

STDMETHODIMP CBasePin::Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt)
{
    if (!pReceivePin)
        return E_POINTER;
    CAutoLock lock(m_pLock);
    if (m_Connected)
        return VFW_E_ALREADY_CONNECTED;
    if (!m_pFilter->IsStopped())
        return VFW_E_NOT_STOPPED;
    if (pmt && !CMediaType(*pmt).IsPartiallySpecified())
        return tryConnection(pReceivePin, CMediaType(*pmt));
    HRESULT last = VFW_E_NO_ACCEPTABLE_TYPES;
    for (int i = 0;; ++i) {
        CMediaType mt;
        if (GetMediaType(i, &mt) != S_OK)
            break;
        if (pmt && pmt->majortype != GUID_NULL && pmt->majortype != mt.majortype)
            continue;
        const HRESULT hr = tryConnection(pReceivePin, mt);
        if (SUCCEEDED(hr))
            return hr;
        last = hr;
    }
    return last == VFW_E_TYPE_NOT_ACCEPTED ? VFW_E_NO_ACCEPTABLE_TYPES : last;
}

STDMETHODIMP CBasePin::ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt)
{
    if (!pConnector || !pmt)
        return E_POINTER;
    CAutoLock lock(m_pLock);
    if (m_Connected)
        return VFW_E_ALREADY_CONNECTED;
    if (!m_pFilter->IsStopped())
        return VFW_E_NOT_STOPPED;
    const CMediaType mt(*pmt);
    if (CheckMediaType(&mt) != S_OK)
        return VFW_E_TYPE_NOT_ACCEPTED;
    m_Connected = pConnector;
    m_Connected->AddRef();
    HRESULT hr = SetMediaType(&mt);
    if (SUCCEEDED(hr))
        hr = CompleteConnect(pConnector);
    if (FAILED(hr)) {
        BreakConnect();
        m_Connected->Release();
        m_Connected = nullptr;
    }
    return hr;
}

STDMETHODIMP CBasePin::Disconnect()
{
    CAutoLock lock(m_pLock);
    if (!m_pFilter->IsStopped())
        return VFW_E_NOT_STOPPED;
    if (!m_Connected)
        return S_FALSE;
    BreakConnect();
    m_Connected->Release();
    m_Connected = nullptr;
    m_mt.InitMediaType();
    return S_OK;
}

STDMETHODIMP CBasePin::ConnectedTo(IPin** pPin)
{
    if (!pPin)
        return E_POINTER;
    *pPin = m_Connected;
    if (!m_Connected)
        return VFW_E_NOT_CONNECTED;
    m_Connected->AddRef();
    return S_OK;
}

STDMETHODIMP CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* pmt)
{
    if (!pmt)
        return E_POINTER;
    CAutoLock lock(m_pLock);
    if (!m_Connected) {
        *pmt = AM_MEDIA_TYPE{};
        return VFW_E_NOT_CONNECTED;
    }
    return CopyMediaType(pmt, &m_mt);
}

STDMETHODIMP CBasePin::QueryPinInfo(PIN_INFO* pInfo)
{
    if (!pInfo)
        return E_POINTER;
    pInfo->pFilter = m_pFilter;
    m_pFilter->AddRef();
    pInfo->dir = m_dir;
    copyName(pInfo->achName, MAX_PIN_NAME, m_pName);
    return S_OK;
}

STDMETHODIMP CBasePin::QueryDirection(PIN_DIRECTION* pPinDir)
{
    if (!pPinDir)
        return E_POINTER;
    *pPinDir = m_dir;
    return S_OK;
}

STDMETHODIMP CBasePin::QueryId(LPWSTR* Id)
{
    if (!Id)
        return E_POINTER;
    const size_t bytes = (std::wcslen(m_pName) + 1) * sizeof(WCHAR);
    *Id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (!*Id)
        return E_OUTOFMEMORY;
    std::memcpy(*Id, m_pName, bytes);
    return S_OK;
}

STDMETHODIMP CBasePin::QueryAccept(const AM_MEDIA_TYPE* pmt)
{
    if (!pmt)
        return E_POINTER;
    const CMediaType mt(*pmt);
    return CheckMediaType(&mt) == S_OK ? S_OK : S_FALSE;
}

STDMETHODIMP CBasePin::QueryInternalConnections(IPin**, ULONG*)
{
    return E_NOTIMPL;
}

CBaseOutputPin::CBaseOutputPin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr,
                               LPCWSTR pinName)
    : CBasePin(objectName, filter, lock, phr, pinName, PINDIR_OUTPUT)
{
}

CBaseOutputPin::~CBaseOutputPin()
{
    CBaseOutputPin::BreakConnect();
}

HRESULT CBaseOutputPin::CompleteConnect(IPin* pReceivePin)
{
    IMemInputPin* input = nullptr;
    HRESULT hr = pReceivePin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input));
    if (FAILED(hr))
        return hr;
    IMemAllocator* allocator = nullptr;
    hr = DecideAllocator(input, &allocator);
    if (FAILED(hr)) {
        input->Release();
        return hr;
    }
    m_pInputPin = input;
    m_pAllocator = allocator;
    return S_OK;
}

HRESULT CBaseOutputPin::BreakConnect()
{
    if (m_pAllocator) {
        m_pAllocator->Decommit();
        m_pAllocator->Release();
        m_pAllocator = nullptr;
    }
    if (m_pInputPin) {
        m_pInputPin->Release();
        m_pInputPin = nullptr;
    }
    return S_OK;
}

HRESULT CBaseOutputPin::DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc)
{
    *ppAlloc = nullptr;
    ALLOCATOR_PROPERTIES props{};
    pPin->GetAllocatorRequirements(&props);
    if (props.cbAlign == 0)
        props.cbAlign = 1;
    HRESULT hr = pPin->GetAllocator(ppAlloc);
    if (SUCCEEDED(hr)) {
        hr = DecideBufferSize(*ppAlloc, &props);
        if (SUCCEEDED(hr))
            hr = pPin->NotifyAllocator(*ppAlloc, FALSE);
        if (SUCCEEDED(hr))
            return S_OK;
        (*ppAlloc)->Release();
        *ppAlloc = nullptr;
    }
    auto* own = new CMemAllocator;
    hr = DecideBufferSize(own, &props);
    if (SUCCEEDED(hr))
        hr = pPin->NotifyAllocator(own, FALSE);
    if (FAILED(hr)) {
        own->Release();
        return hr;
    }
    *ppAlloc = own;
    return S_OK;
}

HRESULT CBaseOutputPin::Active()
{
    return m_pAllocator ? m_pAllocator->Commit() : VFW_E_NO_ALLOCATOR;
}

HRESULT CBaseOutputPin::Inactive()
{
    return m_pAllocator ? m_pAllocator->Decommit() : VFW_E_NO_ALLOCATOR;
}

HRESULT CBaseOutputPin::GetDeliveryBuffer(IMediaSample** ppSample, REFERENCE_TIME* pStartTime,
                                          REFERENCE_TIME* pEndTime, DWORD dwFlags)
{
    if (!ppSample)
        return E_POINTER;
    *ppSample = nullptr;
    if (!m_pAllocator)
        return VFW_E_NO_ALLOCATOR;
    return m_pAllocator->GetBuffer(ppSample, pStartTime, pEndTime, dwFlags);
}

HRESULT CBaseOutputPin::Deliver(IMediaSample* pSample)
{
    if (!m_pInputPin)
        return VFW_E_NOT_CONNECTED;
    return m_pInputPin->Receive(pSample);
}

HRESULT CBaseOutputPin::DeliverEndOfStream()
{
    if (!m_Connected)
        return VFW_E_NOT_CONNECTED;
    return m_Connected->EndOfStream();
}

CBaseInputPin::CBaseInputPin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr,
                             LPCWSTR pinName)
    : CBasePin(objectName, filter, lock, phr, pinName, PINDIR_INPUT)
{
}

CBaseInputPin::~CBaseInputPin()
{
    if (m_pAllocator)
        m_pAllocator->Release();
}

STDMETHODIMP CBaseInputPin::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv && riid == IID_IMemInputPin) {
        AddRef();
        *ppv = static_cast<IMemInputPin*>(this);
        return S_OK;
    }
    return CBasePin::QueryInterface(riid, ppv);
}

STDMETHODIMP CBaseInputPin::GetAllocator(IMemAllocator** ppAllocator)
{
    if (!ppAllocator)
        return E_POINTER;
    CAutoLock lock(m_pLock);
    if (!m_pAllocator)
        m_pAllocator = new CMemAllocator;
    m_pAllocator->AddRef();
    *ppAllocator = m_pAllocator;
    return S_OK;
}

STDMETHODIMP CBaseInputPin::NotifyAllocator(IMemAllocator* pAllocator, BOOL)
{
    if (!pAllocator)
        return E_POINTER;
    CAutoLock lock(m_pLock);
    pAllocator->AddRef();
    if (m_pAllocator)
        m_pAllocator->Release();
    m_pAllocator = pAllocator;
    return S_OK;
}

STDMETHODIMP CBaseInputPin::Receive(IMediaSample* pSample)
{
    if (!pSample)
        return E_POINTER;
    return m_pFilter->IsStopped() ? VFW_E_WRONG_STATE : S_OK;
}

HRESULT CBaseInputPin::BreakConnect()
{
    if (m_pAllocator) {
        m_pAllocator->Decommit();
        m_pAllocator->Release();
        m_pAllocator = nullptr;
    }
    return S_OK;
}
