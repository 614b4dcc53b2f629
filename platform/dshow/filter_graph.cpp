// The filter graph manager: holds the filters under their names, connects
// pins directly (no intelligent connect), renders a video file into the
// graph's Video Mixing Renderer 9, and starts and stops the filters in
// stream order.
#include "platform/dshow/dshow_internal.h"
#include "platform/win32/file_io.h"
#include "platform/win32/utf8.h"

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <string>

namespace platform::dshow {

std::string narrow(LPCWSTR text)
{
    std::string out;
    if (!text)
        return out;
    for (; *text; ++text) {
        const uint32_t c = uint32_t(*text);
        if (c < 0x110000)
            appendUtf8(out, c);
    }
    return out;
}

IPin* freePin(IBaseFilter* filter, PIN_DIRECTION dir)
{
    IEnumPins* pins = nullptr;
    if (!filter || FAILED(filter->EnumPins(&pins)))
        return nullptr;
    IPin* pin = nullptr;
    IPin* found = nullptr;
    while (!found && pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_DIRECTION d;
        IPin* other = nullptr;
        if (SUCCEEDED(pin->QueryDirection(&d)) && d == dir && pin->ConnectedTo(&other) == VFW_E_NOT_CONNECTED)
            found = pin;
        else
            pin->Release();
        if (other)
            other->Release();
    }
    pins->Release();
    return found;
}

namespace {

struct GraphEntry {
    IBaseFilter* filter;
    std::wstring name;
};

// The filters feeding filter's input pins.
std::vector<IBaseFilter*> upstreamOf(IBaseFilter* filter)
{
    std::vector<IBaseFilter*> result;
    IEnumPins* pins = nullptr;
    if (FAILED(filter->EnumPins(&pins)))
        return result;
    IPin* pin = nullptr;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_DIRECTION d;
        IPin* other = nullptr;
        if (SUCCEEDED(pin->QueryDirection(&d)) && d == PINDIR_INPUT && SUCCEEDED(pin->ConnectedTo(&other))) {
            PIN_INFO info{};
            if (SUCCEEDED(other->QueryPinInfo(&info)) && info.pFilter) {
                result.push_back(info.pFilter);
                info.pFilter->Release();
            }
            other->Release();
        }
        pin->Release();
    }
    pins->Release();
    return result;
}

class FilterGraph final : public IGraphBuilder, public IMediaControl, public IRenderByteStream {
public:
    ~FilterGraph()
    {
        Stop();
        // Connections hold references both ways: break them all first.
        for (GraphEntry& e : m_filters)
            disconnectAll(e.filter);
        for (GraphEntry& e : m_filters) {
            e.filter->JoinFilterGraph(nullptr, nullptr);
            e.filter->Release();
        }
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IGraphBuilder || riid == IID_IFilterGraph)
            *ppv = static_cast<IGraphBuilder*>(this);
        else if (riid == IID_IMediaControl)
            *ppv = static_cast<IMediaControl*>(this);
        else if (riid == IID_IRenderByteStream)
            *ppv = static_cast<IRenderByteStream*>(this);
        else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG count = --m_refs;
        if (count == 0)
            delete this;
        return count;
    }

    STDMETHODIMP AddFilter(IBaseFilter* pFilter, LPCWSTR pName) override
    {
        if (!pFilter)
            return E_POINTER;
        for (const GraphEntry& e : m_filters)
            if (e.filter == pFilter)
                return VFW_E_WRONG_STATE;
        // Names are unique in a graph: a taken one gets a number.
        std::wstring name = pName ? pName : L"Filter";
        for (int n = 2; nameTaken(name); ++n)
            name = (pName ? pName : L"Filter") + std::wstring(L" ") + std::to_wstring(n);
        const HRESULT hr = pFilter->JoinFilterGraph(this, name.c_str());
        if (FAILED(hr))
            return hr;
        pFilter->AddRef();
        m_filters.push_back({pFilter, name});
        return name == (pName ? pName : L"") ? S_OK : S_FALSE;
    }
    STDMETHODIMP RemoveFilter(IBaseFilter* pFilter) override
    {
        auto it = std::find_if(m_filters.begin(), m_filters.end(),
                               [pFilter](const GraphEntry& e) { return e.filter == pFilter; });
        if (it == m_filters.end())
            return VFW_E_NOT_FOUND;
        pFilter->Stop();
        disconnectAll(pFilter);
        pFilter->JoinFilterGraph(nullptr, nullptr);
        m_filters.erase(it);
        pFilter->Release();
        return S_OK;
    }
    STDMETHODIMP EnumFilters(IEnumFilters** ppEnum) override
    {
        if (ppEnum)
            *ppEnum = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP FindFilterByName(LPCWSTR pName, IBaseFilter** ppFilter) override
    {
        if (!pName || !ppFilter)
            return E_POINTER;
        *ppFilter = nullptr;
        for (const GraphEntry& e : m_filters)
            if (e.name == pName) {
                e.filter->AddRef();
                *ppFilter = e.filter;
                return S_OK;
            }
        return VFW_E_NOT_FOUND;
    }
    STDMETHODIMP ConnectDirect(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) override
    {
        if (!ppinOut || !ppinIn)
            return E_POINTER;
        if (m_state != State_Stopped)
            return VFW_E_NOT_STOPPED;
        return ppinOut->Connect(ppinIn, pmt);
    }
    STDMETHODIMP Reconnect(IPin*) override { return E_NOTIMPL; }
    STDMETHODIMP Disconnect(IPin* ppin) override
    {
        if (!ppin)
            return E_POINTER;
        return ppin->Disconnect();
    }
    STDMETHODIMP SetDefaultSyncSource() override { return S_OK; }

    STDMETHODIMP Connect(IPin* ppinOut, IPin* ppinIn) override { return ConnectDirect(ppinOut, ppinIn, nullptr); }
    STDMETHODIMP Render(IPin*) override { return E_NOTIMPL; }
    STDMETHODIMP RenderFile(LPCWSTR lpcwstrFile, LPCWSTR) override
    {
        if (!lpcwstrFile)
            return E_POINTER;
        return renderSource([lpcwstrFile](HRESULT* hr) {
            if (std::wcsncmp(lpcwstrFile, L"test:", 5) == 0)
                return openTestVideoSource(lpcwstrFile + 5);
            return openVideoFile(platform::diskPath(narrow(lpcwstrFile).c_str()), hr);
        });
    }
    STDMETHODIMP RenderByteStream(IStream* pStream) override
    {
        if (!pStream)
            return E_POINTER;
        return renderSource([pStream](HRESULT* hr) { return openVideoStream(pStream, hr); });
    }
    STDMETHODIMP AddSourceFilter(LPCWSTR, LPCWSTR, IBaseFilter** ppFilter) override
    {
        if (ppFilter)
            *ppFilter = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP Abort() override { return S_OK; }

    STDMETHODIMP Run() override
    {
        if (m_state == State_Running)
            return S_OK;
        const std::vector<IBaseFilter*> order = streamOrder();
        HRESULT hr = S_OK;
        // Renderers first, so that nothing delivers into a stopped filter.
        for (auto it = order.rbegin(); it != order.rend() && SUCCEEDED(hr); ++it)
            hr = (*it)->Pause();
        for (auto it = order.rbegin(); it != order.rend() && SUCCEEDED(hr); ++it)
            hr = (*it)->Run(0);
        if (FAILED(hr)) {
            stopAll(order);
            return hr;
        }
        m_state = State_Running;
        return S_OK;
    }
    STDMETHODIMP Pause() override
    {
        const std::vector<IBaseFilter*> order = streamOrder();
        for (auto it = order.rbegin(); it != order.rend(); ++it) {
            const HRESULT hr = (*it)->Pause();
            if (FAILED(hr)) {
                stopAll(order);
                return hr;
            }
        }
        m_state = State_Paused;
        return S_OK;
    }
    STDMETHODIMP Stop() override
    {
        stopAll(streamOrder());
        return S_OK;
    }
    STDMETHODIMP GetState(LONG, OAFilterState* pfs) override
    {
        if (!pfs)
            return E_POINTER;
        *pfs = m_state;
        return S_OK;
    }
    STDMETHODIMP StopWhenReady() override { return Stop(); }

private:
    // Hands the source open makes to the renderer a caller added.
    template <class Open>
    HRESULT renderSource(Open open)
    {
        if (m_state != State_Stopped)
            return VFW_E_NOT_STOPPED;
        IBaseFilter* renderer = nullptr;
        for (const GraphEntry& e : m_filters)
            if (isVmr9(e.filter))
                renderer = e.filter;
        if (!renderer)
            return VFW_E_CANNOT_RENDER; // only the renderer a caller added plays video
        HRESULT hr = S_OK;
        VideoSource* source = open(&hr);
        if (!source)
            return FAILED(hr) ? hr : VFW_E_INVALID_FILE_FORMAT;
        return attachVideoSource(renderer, source);
    }

    bool nameTaken(const std::wstring& name) const
    {
        for (const GraphEntry& e : m_filters)
            if (e.name == name)
                return true;
        return false;
    }

    static void disconnectAll(IBaseFilter* filter)
    {
        IEnumPins* pins = nullptr;
        if (FAILED(filter->EnumPins(&pins)))
            return;
        IPin* pin = nullptr;
        while (pins->Next(1, &pin, nullptr) == S_OK) {
            IPin* other = nullptr;
            if (SUCCEEDED(pin->ConnectedTo(&other))) {
                other->Disconnect();
                other->Release();
            }
            pin->Disconnect();
            pin->Release();
        }
        pins->Release();
    }

    // Sources first: a filter comes after every filter feeding it. The
    // stop goes in this order, so that an encoder's last packets still
    // reach a running multiplexer.
    std::vector<IBaseFilter*> streamOrder() const
    {
        std::vector<IBaseFilter*> done;
        std::vector<IBaseFilter*> left;
        for (const GraphEntry& e : m_filters)
            left.push_back(e.filter);
        while (!left.empty()) {
            bool progress = false;
            for (auto it = left.begin(); it != left.end();) {
                bool ready = true;
                for (IBaseFilter* up : upstreamOf(*it))
                    if (std::find(done.begin(), done.end(), up) == done.end() &&
                        std::find(left.begin(), left.end(), up) != left.end())
                        ready = false;
                if (ready) {
                    done.push_back(*it);
                    it = left.erase(it);
                    progress = true;
                } else {
                    ++it;
                }
            }
            if (!progress) { // a cycle: take the rest as they are
                done.insert(done.end(), left.begin(), left.end());
                break;
            }
        }
        return done;
    }

    void stopAll(const std::vector<IBaseFilter*>& order)
    {
        for (IBaseFilter* f : order)
            f->Stop();
        m_state = State_Stopped;
    }

    std::atomic<ULONG> m_refs{1};
    std::vector<GraphEntry> m_filters;
    FILTER_STATE m_state = State_Stopped;
    LiveObject m_live;
};

} // namespace

IUnknown* createFilterGraph()
{
    return static_cast<IGraphBuilder*>(new FilterGraph);
}

} // namespace platform::dshow
