#include "materials/video_texture.h"

#include "foundation/log.h"
#include "foundation/stream.h"
#include "materials/engine.h"

#include <objbase.h>
#include <windows.h>

#include <atomic>
#include <string>

namespace {

std::wstring widen(const char* text)
{
    std::wstring out;
    for (const char* c = text; *c; ++c)
        out += wchar_t(static_cast<unsigned char>(*c));
    return out;
}

void logFailure(const char* what, const char* name, HRESULT hr)
{
    logStream << "VideoTexture: " << what << " \"" << name << "\" (" << formatHex(u32(hr)).c_str() << ")"
              << std::endl;
}

// An archive entry as the byte stream the graph reads on its streaming
// thread, through a reader of its own so the loaders' stream stays free.
class EntryStream final : public IStream {
public:
    explicit EntryStream(std::unique_ptr<Stream> opened) : stream(std::move(opened)) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_ISequentialStream && riid != IID_IStream)
            return E_NOINTERFACE;
        AddRef();
        *ppv = this;
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG count = --refs;
        if (count == 0)
            delete this;
        return count;
    }
    STDMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) override
    {
        if (!pv)
            return E_POINTER;
        const u32 n = stream->read(pv, cb);
        if (pcbRead)
            *pcbRead = n;
        return n == cb ? S_OK : S_FALSE;
    }
    STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override
    {
        i64 base = 0;
        if (origin == STREAM_SEEK_CUR)
            base = stream->tell();
        else if (origin == STREAM_SEEK_END)
            base = stream->size;
        else if (origin != STREAM_SEEK_SET)
            return STG_E_INVALIDFUNCTION;
        const i64 target = base + move.QuadPart;
        // Read only: a position outside the entry is refused, not made.
        if (target < 0 || target > i64(stream->size) || !stream->seek(u32(target)))
            return STG_E_INVALIDFUNCTION;
        if (newPosition)
            newPosition->QuadPart = ULONGLONG(target);
        return S_OK;
    }

private:
    ~EntryStream() = default;
    std::unique_ptr<Stream> stream;
    std::atomic<ULONG> refs{1};
};

// The ring's lock exists before any texture: made at start-up, never freed.
CRITICAL_SECTION makeRingLock()
{
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    return section;
}

} // namespace

CRITICAL_SECTION VideoTexture::ringLock = makeRingLock();
IDirect3DTexture9* VideoTexture::ring[VideoTexture::kRingSize] = {};
int VideoTexture::ringIndex = 0;

VideoTexture::VideoTexture(Engine* engine) : Texture(engine, 0), playback(std::make_shared<Playback>()) {}

VideoTexture::VideoTexture(const VideoTexture& other)
    : Texture(other)
    , fileName(other.fileName)
    , source(other.source ? other.source->clone() : nullptr)
    , playback(other.playback)
{
}

VideoTexture::~VideoTexture()
{
    releaseGraph();
}

void VideoTexture::releaseGraph()
{
    if (graph.p) {
        ComPtr<IMediaControl> control;
        // Joins the streaming thread: no allocator call runs after this.
        if (SUCCEEDED(graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control))))
            control->Stop();
    }
    removeFromRot();
    allocator.release();
    renderer.release();
    graph.release();
    if (playback->player == this)
        playback->player = nullptr;
    for (i32 i = 0; i < slotCount; ++i)
        currentTextures[i] = nullptr; // borrowed ring entries
}

Texture* VideoTexture::clone() const
{
    return new VideoTexture(*this);
}

void VideoTexture::setFileName(const char* name, Stream* from)
{
    fileName = String(name ? name : "");
    source.reset(from && fileName.length() && from->exists(fileName.c_str()) ? from->clone() : nullptr);
}

void VideoTexture::load()
{
    if (playback->player && playback->player != this)
        return; // a copy decodes the file already
    releaseGraph();
    if (fileName.length() == 0) {
        logStream << "VideoTexture: no file name" << std::endl;
        return;
    }
    const char* name = fileName.c_str();
    ComPtr<IVMRFilterConfig9> config;
    HRESULT hr = graph.coCreateInstance(CLSID_FilterGraph, IID_IGraphBuilder);
    if (SUCCEEDED(hr))
        hr = renderer.coCreateInstance(CLSID_VideoMixingRenderer9, IID_IBaseFilter);
    if (SUCCEEDED(hr))
        hr = graph->AddFilter(renderer, L"Video Mixing Renderer 9");
    if (SUCCEEDED(hr))
        hr = renderer->QueryInterface(IID_IVMRFilterConfig9, reinterpret_cast<void**>(&config));
    if (SUCCEEDED(hr))
        hr = config->SetRenderingMode(VMR9Mode_Renderless);
    if (SUCCEEDED(hr))
        hr = createAllocator();
    if (FAILED(hr)) {
        logFailure("could not build the graph for", name, hr);
        releaseGraph();
        return;
    }
    hr = render();
    if (FAILED(hr)) {
        logFailure("could not render", name, hr);
        releaseGraph();
        return;
    }
    addToRot();
    ComPtr<IMediaControl> control;
    hr = graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
    if (SUCCEEDED(hr))
        hr = control->Run();
    if (FAILED(hr))
        logFailure("could not run", name, hr);
    else
        playback->player = this;
}

HRESULT VideoTexture::render()
{
    if (!source)
        return graph->RenderFile(widen(fileName.c_str()).c_str(), nullptr);
    // A fresh reader each load, so a reloaded video starts at its beginning.
    std::unique_ptr<Stream> reader(source->clone());
    if (!reader->open(fileName.c_str()))
        return VFW_E_NOT_FOUND;
    ComPtr<IRenderByteStream> bytes;
    HRESULT hr = graph->QueryInterface(IID_IRenderByteStream, reinterpret_cast<void**>(&bytes));
    if (FAILED(hr))
        return hr;
    auto* entry = new EntryStream(std::move(reader));
    hr = bytes->RenderByteStream(entry);
    entry->Release();
    return hr;
}

HRESULT VideoTexture::createAllocator()
{
    if (!renderer.p || !engine || !engine->currentDevice)
        return E_FAIL;
    ComPtr<IVMRSurfaceAllocatorNotify9> notify;
    HRESULT hr = renderer->QueryInterface(IID_IVMRSurfaceAllocatorNotify9, reinterpret_cast<void**>(&notify));
    if (FAILED(hr))
        return hr;
    allocator.release();
    *&allocator = new VMR9Allocator(engine, this); // holds the new object's own count
    // The renderer makes the surfaces on the engine's device.
    hr = notify->SetD3DDevice(engine->currentDevice, nullptr);
    if (SUCCEEDED(hr))
        hr = notify->AdviseSurfaceAllocator(DWORD_PTR(this), allocator);
    if (SUCCEEDED(hr))
        hr = allocator->AdviseNotify(notify);
    return hr;
}

HRESULT VideoTexture::addToRot()
{
    IRunningObjectTable* table = nullptr;
    IMoniker* moniker = nullptr;
    HRESULT hr = GetRunningObjectTable(0, &table);
    if (SUCCEEDED(hr)) {
        // The address's low 32 bits: "%08x" takes 32.
        const char* entry = formatTemp("FilterGraph %08x pid %08x", unsigned(uintptr_t(graph.p) & 0xFFFFFFFFu),
                                       unsigned(GetCurrentProcessId()));
        hr = CreateItemMoniker(L"!", widen(entry).c_str(), &moniker);
    }
    if (SUCCEEDED(hr))
        hr = table->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, graph.p, moniker, &rotRegistration);
    if (moniker)
        moniker->Release();
    if (table)
        table->Release();
    return hr;
}

void VideoTexture::removeFromRot()
{
    if (!rotRegistration)
        return;
    IRunningObjectTable* table = nullptr;
    if (SUCCEEDED(GetRunningObjectTable(0, &table))) {
        table->Revoke(rotRegistration);
        table->Release();
    }
    rotRegistration = 0;
}

IDirect3DTexture9* VideoTexture::current(double time)
{
    for (AnimatedValue* adjustment : {&saturation, &brightness, &contrast})
        if (adjustment->source)
            adjustment->value = adjustment->source->evaluate(time);
    EnterCriticalSection(&ringLock);
    // The entry just behind the one the renderer is filling.
    IDirect3DTexture9* texture = ring[(ringIndex + kRingSize - 1) % kRingSize];
    LeaveCriticalSection(&ringLock);
    const i32 index = engine ? engine->currentIndex : 0;
    if (index >= 0 && index < slotCount)
        currentTextures[index] = texture;
    return texture;
}
