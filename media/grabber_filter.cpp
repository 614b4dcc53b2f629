#include "media/grabber_filter.h"

#include "media/frame_grabber.h"

namespace {

constexpr REFERENCE_TIME kFrameTime = 400000; // 25 frames per second

} // namespace

GrabberOutputPin::GrabberOutputPin(FrameGrabber* grabber, GrabberFilter* filter, CCritSec* lock, HRESULT* phr)
    : CBaseOutputPin("GrabberOutputPin", filter, lock, phr, L"GrabberOutputPin"), grabber(grabber)
{
}

HRESULT GrabberOutputPin::GetMediaType(int iPosition, CMediaType* pMediaType)
{
    if (!pMediaType)
        return E_POINTER;
    if (iPosition < 0)
        return E_INVALIDARG;
    if (iPosition > 0)
        return VFW_S_NO_MORE_ITEMS;
    pMediaType->InitMediaType();
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(pMediaType->AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    if (!vih)
        return E_OUTOFMEMORY;
    vih->AvgTimePerFrame = kFrameTime;
    BITMAPINFOHEADER& bih = vih->bmiHeader;
    bih.biSize = sizeof(BITMAPINFOHEADER);
    bih.biWidth = grabber->width;
    bih.biHeight = grabber->height;
    bih.biPlanes = 1;
    bih.biBitCount = 32;
    bih.biCompression = BI_RGB;
    bih.biSizeImage = DWORD(grabber->width) * DWORD(grabber->height) * 4;
    pMediaType->SetType(&MEDIATYPE_Video);
    pMediaType->SetSubtype(&MEDIASUBTYPE_RGB32);
    pMediaType->SetFormatType(&FORMAT_VideoInfo);
    pMediaType->SetTemporalCompression(FALSE);
    pMediaType->SetSampleSize(bih.biSizeImage);
    return S_OK;
}

HRESULT GrabberOutputPin::CheckMediaType(const CMediaType* pmt)
{
    if (!pmt)
        return E_POINTER;
    CMediaType own;
    if (GetMediaType(0, &own) != S_OK)
        return E_FAIL;
    return own == *pmt ? S_OK : E_FAIL;
}

HRESULT GrabberOutputPin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* ppropInputRequest)
{
    if (!pAlloc || !ppropInputRequest)
        return E_POINTER;
    ppropInputRequest->cBuffers = 1;
    ppropInputRequest->cbBuffer = long(grabber->width) * long(grabber->height) * 4;
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = pAlloc->SetProperties(ppropInputRequest, &actual);
    if (FAILED(hr))
        return hr;
    if (actual.cBuffers < 1)
        return E_FAIL;
    return actual.cbBuffer >= ppropInputRequest->cbBuffer ? S_OK : E_FAIL;
}

STDMETHODIMP GrabberOutputPin::QueryInternalConnections(IPin**, ULONG*)
{
    return E_NOTIMPL;
}

GrabberFilter::GrabberFilter(FrameGrabber* grabber) : GrabberFilter(grabber, new CCritSec) {}

GrabberFilter::GrabberFilter(FrameGrabber* grabber, CCritSec* lock)
    : CBaseFilter("GrabberFilter", nullptr, lock, GUID_NULL), filterLock(lock)
{
    HRESULT hr = S_OK;
    pin = new GrabberOutputPin(grabber, this, filterLock, &hr);
}

GrabberFilter::~GrabberFilter()
{
    delete pin;
    delete filterLock;
}

CBasePin* GrabberFilter::GetPin(int n)
{
    return n == 0 ? pin : nullptr;
}
