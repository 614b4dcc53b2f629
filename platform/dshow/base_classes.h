// The base classes filters are written on: a lock, media types that own
// their format block, an allocator with its samples, and filters and pins
// that do connection, allocator negotiation and state changes, leaving
// only the media-specific decisions to the derived classes.
#pragma once

#include "platform/dshow/dshow_interfaces.h"
#include "platform/win32/critical_section.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

class CCritSec {
public:
    CCritSec() { InitializeCriticalSection(&m_section); }
    ~CCritSec() { DeleteCriticalSection(&m_section); }
    CCritSec(const CCritSec&) = delete;
    CCritSec& operator=(const CCritSec&) = delete;
    void Lock() { EnterCriticalSection(&m_section); }
    void Unlock() { LeaveCriticalSection(&m_section); }

private:
    CRITICAL_SECTION m_section;
};

class CAutoLock {
public:
    explicit CAutoLock(CCritSec* lock) : m_lock(lock) { m_lock->Lock(); }
    ~CAutoLock() { m_lock->Unlock(); }
    CAutoLock(const CAutoLock&) = delete;
    CAutoLock& operator=(const CAutoLock&) = delete;

private:
    CCritSec* m_lock;
};

// An AM_MEDIA_TYPE that owns its format block and its pUnk reference.
class CMediaType : public AM_MEDIA_TYPE {
public:
    CMediaType();
    CMediaType(const AM_MEDIA_TYPE& other);
    CMediaType(const CMediaType& other);
    CMediaType& operator=(const AM_MEDIA_TYPE& other);
    CMediaType& operator=(const CMediaType& other);
    ~CMediaType();

    // Equal major type, subtype, format type and format block.
    bool operator==(const CMediaType& other) const;
    bool operator!=(const CMediaType& other) const { return !(*this == other); }

    const GUID* Type() const { return &majortype; }
    void SetType(const GUID* type) { majortype = *type; }
    const GUID* Subtype() const { return &subtype; }
    void SetSubtype(const GUID* type) { subtype = *type; }
    const GUID* FormatType() const { return &formattype; }
    void SetFormatType(const GUID* type) { formattype = *type; }
    void SetSampleSize(ULONG size);
    void SetTemporalCompression(BOOL compressed) { bTemporalCompression = compressed; }
    // Replaces the format block with a zeroed one of that size; null when
    // out of memory.
    BYTE* AllocFormatBuffer(ULONG length);
    BYTE* Format() const { return pbFormat; }
    ULONG FormatLength() const { return cbFormat; }
    // Major, sub and format type all set.
    bool IsValid() const { return majortype != GUID_NULL; }
    bool IsPartiallySpecified() const { return majortype == GUID_NULL || formattype == GUID_NULL; }
    void InitMediaType();
};

class CMemAllocator;

// A buffer of an allocator. Released to a count of 0, it goes back to its
// allocator's free list.
class CMediaSample final : public IMediaSample {
public:
    CMediaSample(CMemAllocator* allocator, long size);
    ~CMediaSample();

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetPointer(BYTE** ppBuffer) override;
    STDMETHODIMP_(long) GetSize() override { return long(m_buffer.size()); }
    STDMETHODIMP GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
    STDMETHODIMP SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
    STDMETHODIMP IsSyncPoint() override { return m_sync ? S_OK : S_FALSE; }
    STDMETHODIMP SetSyncPoint(BOOL bIsSyncPoint) override;
    STDMETHODIMP_(long) GetActualDataLength() override { return m_length; }
    STDMETHODIMP SetActualDataLength(long length) override;

    // Fresh state when handed out again.
    void reset();

private:
    CMemAllocator* m_allocator;
    std::atomic<ULONG> m_refs{0};
    std::vector<BYTE> m_buffer;
    long m_length;
    REFERENCE_TIME m_start = 0, m_end = 0;
    bool m_timeValid = false;
    bool m_sync = false;
};

// Buffers in memory. GetBuffer waits while every buffer is out, and gives
// up once the allocator is decommitted.
class CMemAllocator final : public IMemAllocator {
public:
    CMemAllocator();
    ~CMemAllocator();

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) override;
    STDMETHODIMP GetProperties(ALLOCATOR_PROPERTIES* pProps) override;
    STDMETHODIMP Commit() override;
    STDMETHODIMP Decommit() override;
    STDMETHODIMP GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime, REFERENCE_TIME* pEndTime,
                           DWORD dwFlags) override;
    STDMETHODIMP ReleaseBuffer(IMediaSample* pBuffer) override;

private:
    void freeSamples();

    std::atomic<ULONG> m_refs{1};
    std::mutex m_mutex;
    std::condition_variable m_returned;
    ALLOCATOR_PROPERTIES m_props{0, 0, 1, 0};
    bool m_committed = false;
    std::vector<CMediaSample*> m_all;
    std::vector<CMediaSample*> m_free;
};

class CBasePin;

class CBaseFilter : public IBaseFilter {
public:
    CBaseFilter(const char* name, LPUNKNOWN unk, CCritSec* lock, REFCLSID clsid);
    virtual ~CBaseFilter();

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetClassID(CLSID* pClassID) override;
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Run(REFERENCE_TIME tStart) override;
    STDMETHODIMP GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* State) override;
    STDMETHODIMP EnumPins(IEnumPins** ppEnum) override;
    STDMETHODIMP FindPin(LPCWSTR Id, IPin** ppPin) override;
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* pInfo) override;
    STDMETHODIMP JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) override;
    STDMETHODIMP QueryVendorInfo(LPWSTR* pVendorInfo) override;

    virtual int GetPinCount() = 0;
    virtual CBasePin* GetPin(int n) = 0;
    virtual LPAMOVIESETUP_FILTER GetSetupData() { return nullptr; }

    bool IsStopped() const { return m_State == State_Stopped; }
    bool IsActive() const { return m_State != State_Stopped; }
    IFilterGraph* graph() const { return m_pGraph; }
    const char* objectName() const { return m_pName; }

protected:
    CCritSec* m_pLock;
    FILTER_STATE m_State = State_Stopped;
    REFERENCE_TIME m_tStart = 0;
    IFilterGraph* m_pGraph = nullptr; // not counted: the graph owns the filter
    WCHAR m_graphName[MAX_FILTER_NAME] = {};

private:
    const char* m_pName;
    CLSID m_clsid;
    std::atomic<ULONG> m_refs{1};
};

class CBasePin : public IPin {
public:
    CBasePin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR pinName,
             PIN_DIRECTION dir);
    virtual ~CBasePin();

    // Pins live as long as their filter and share its count.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return m_pFilter->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return m_pFilter->Release(); }

    STDMETHODIMP Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP ConnectedTo(IPin** pPin) override;
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP QueryPinInfo(PIN_INFO* pInfo) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* pPinDir) override;
    STDMETHODIMP QueryId(LPWSTR* Id) override;
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP QueryInternalConnections(IPin** apPin, ULONG* nPin) override;
    STDMETHODIMP EndOfStream() override { return S_OK; }
    STDMETHODIMP BeginFlush() override { return S_OK; }
    STDMETHODIMP EndFlush() override { return S_OK; }
    STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

    virtual HRESULT CheckMediaType(const CMediaType* pmt) = 0;
    // The types offered when connecting, from position 0 on.
    virtual HRESULT GetMediaType(int iPosition, CMediaType* pMediaType);
    virtual HRESULT SetMediaType(const CMediaType* pmt);
    virtual HRESULT CompleteConnect(IPin* pReceivePin);
    virtual HRESULT BreakConnect();
    virtual HRESULT Active() { return S_OK; }
    virtual HRESULT Inactive() { return S_OK; }

    bool IsConnected() const { return m_Connected != nullptr; }
    IPin* GetConnected() const { return m_Connected; }
    const CMediaType& CurrentMediaType() const { return m_mt; }
    CBaseFilter* filter() const { return m_pFilter; }
    const WCHAR* pinName() const { return m_pName; }

protected:
    HRESULT tryConnection(IPin* pReceivePin, const CMediaType& mt);

    CBaseFilter* m_pFilter;
    CCritSec* m_pLock;
    IPin* m_Connected = nullptr;
    CMediaType m_mt;
    PIN_DIRECTION m_dir;
    WCHAR m_pName[MAX_PIN_NAME] = {};
    const char* m_objectName;
};

class CBaseOutputPin : public CBasePin {
public:
    CBaseOutputPin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR pinName);
    ~CBaseOutputPin() override;

    HRESULT CompleteConnect(IPin* pReceivePin) override;
    HRESULT BreakConnect() override;
    HRESULT Active() override;
    HRESULT Inactive() override;

    virtual HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* ppropInputRequest) = 0;
    virtual HRESULT DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc);
    virtual HRESULT GetDeliveryBuffer(IMediaSample** ppSample, REFERENCE_TIME* pStartTime,
                                      REFERENCE_TIME* pEndTime, DWORD dwFlags);
    virtual HRESULT Deliver(IMediaSample* pSample);
    virtual HRESULT DeliverEndOfStream();

protected:
    IMemAllocator* m_pAllocator = nullptr;
    IMemInputPin* m_pInputPin = nullptr;
};

class CBaseInputPin : public CBasePin, public IMemInputPin {
public:
    CBaseInputPin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR pinName);
    ~CBaseInputPin() override;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return m_pFilter->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return m_pFilter->Release(); }
    STDMETHODIMP GetAllocator(IMemAllocator** ppAllocator) override;
    STDMETHODIMP NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) override;
    STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
    // Checks that the filter is streaming; derived pins process the sample.
    STDMETHODIMP Receive(IMediaSample* pSample) override;
    STDMETHODIMP ReceiveCanBlock() override { return S_OK; }

    HRESULT BreakConnect() override;

protected:
    IMemAllocator* m_pAllocator = nullptr;
};
