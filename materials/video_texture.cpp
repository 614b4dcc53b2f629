#include "materials/video_texture.h"

#include "foundation/log.h"
#include "materials/engine.h"

#include <windows.h>

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

VideoTexture::VideoTexture(Engine* engine) : Texture(engine, 0) {}

VideoTexture::VideoTexture(const VideoTexture& other) : Texture(other), fileName(other.fileName) {}

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
    for (i32 i = 0; i < slotCount; ++i)
        currentTextures[i] = nullptr; // borrowed ring entries
}

Texture* VideoTexture::clone() const
{
    return new VideoTexture(*this);
}

void VideoTexture::setFileName(const char* name, Stream*)
{
    fileName = String(name ? name : "");
}

void VideoTexture::load()
{
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
    hr = graph->RenderFile(widen(name).c_str(), nullptr);
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
