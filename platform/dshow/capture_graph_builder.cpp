// The capture graph builder: makes the graph with the AVI multiplexer for
// an output file and connects a source through a compressor to it.
#include "platform/com/com_object.h"
#include "platform/dshow/dshow_internal.h"
#include "platform/win32/file_io.h"

namespace platform::dshow {
namespace {

class CaptureGraphBuilder2 final
    : public ComObject<CaptureGraphBuilder2, ICaptureGraphBuilder2, IID_ICaptureGraphBuilder2> {
public:
    ~CaptureGraphBuilder2()
    {
        if (m_graph)
            m_graph->Release();
    }

    STDMETHODIMP SetFiltergraph(IGraphBuilder* pfg) override
    {
        if (!pfg)
            return E_POINTER;
        if (m_graph)
            return E_UNEXPECTED;
        pfg->AddRef();
        m_graph = pfg;
        return S_OK;
    }
    STDMETHODIMP GetFiltergraph(IGraphBuilder** ppfg) override
    {
        if (!ppfg)
            return E_POINTER;
        *ppfg = m_graph;
        if (!m_graph)
            return E_UNEXPECTED;
        m_graph->AddRef();
        return S_OK;
    }
    STDMETHODIMP SetOutputFileName(const GUID* pType, LPCOLESTR lpstrFile, IBaseFilter** ppf,
                                   IFileSinkFilter** ppSink) override
    {
        if (ppf)
            *ppf = nullptr;
        if (ppSink)
            *ppSink = nullptr; // the multiplexer writes its file itself
        if (!pType || !lpstrFile || !ppf)
            return E_POINTER;
        if (*pType != MEDIASUBTYPE_Avi)
            return E_INVALIDARG;
        HRESULT hr = S_OK;
        IBaseFilter* mux = createAviMux(platform::diskPath(narrow(lpstrFile).c_str()), &hr);
        if (!mux)
            return hr;
        if (!m_graph)
            m_graph = static_cast<IGraphBuilder*>(createFilterGraph());
        hr = m_graph->AddFilter(mux, L"AVI Mux");
        if (FAILED(hr)) {
            mux->Release();
            return hr;
        }
        *ppf = mux;
        return S_OK;
    }
    STDMETHODIMP RenderStream(const GUID*, const GUID*, IUnknown* pSource, IBaseFilter* pfCompressor,
                              IBaseFilter* pfRenderer) override
    {
        if (!pSource || !pfRenderer)
            return E_POINTER;
        if (!m_graph)
            return E_UNEXPECTED;
        IBaseFilter* source = nullptr;
        if (FAILED(pSource->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&source))))
            return E_NOINTERFACE;
        HRESULT hr = connect(source, pfCompressor ? pfCompressor : pfRenderer);
        if (SUCCEEDED(hr) && pfCompressor)
            hr = connect(pfCompressor, pfRenderer);
        source->Release();
        return hr;
    }

private:
    HRESULT connect(IBaseFilter* from, IBaseFilter* to)
    {
        IPin* out = freePin(from, PINDIR_OUTPUT);
        IPin* in = freePin(to, PINDIR_INPUT);
        HRESULT hr = out && in ? m_graph->ConnectDirect(out, in, nullptr) : VFW_E_CANNOT_CONNECT;
        if (out)
            out->Release();
        if (in)
            in->Release();
        return hr;
    }

    IGraphBuilder* m_graph = nullptr;
    LiveObject m_live;
};

} // namespace

IUnknown* createCaptureGraphBuilder()
{
    return new CaptureGraphBuilder2;
}

} // namespace platform::dshow
