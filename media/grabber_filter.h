// The push source of the capture graph: one output pin that offers
// bottom-up RGB32 frames of the grabber's size, 25 per second.
#pragma once

#include <dshow.h>

class FrameGrabber;
class GrabberFilter;

class GrabberOutputPin : public CBaseOutputPin {
public:
    GrabberOutputPin(FrameGrabber* grabber, GrabberFilter* filter, CCritSec* lock, HRESULT* phr);

    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* ppropInputRequest) override;
    STDMETHODIMP QueryInternalConnections(IPin** apPin, ULONG* nPin) override;

private:
    FrameGrabber* grabber;
};

class GrabberFilter : public CBaseFilter {
public:
    explicit GrabberFilter(FrameGrabber* grabber);
    ~GrabberFilter() override;

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override;
    LPAMOVIESETUP_FILTER GetSetupData() override { return nullptr; }

    GrabberOutputPin* pin;

private:
    GrabberFilter(FrameGrabber* grabber, CCritSec* lock);

    CCritSec* filterLock; // the filter lock, owned
};
