#include "media/frame_grabber.h"

#include "display/display_settings.h"
#include "foundation/file_stream.h"
#include "foundation/log.h"
#include "media/grabber_filter.h"

#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr REFERENCE_TIME kFrameTime = 400000;

template <class T>
void release(T*& p)
{
    if (p)
        p->Release();
    p = nullptr;
}

std::wstring widen(const char* text)
{
    std::wstring out;
    // Names are bytes; each one becomes a character.
    for (const char* c = text; *c; ++c)
        out += wchar_t(static_cast<unsigned char>(*c));
    return out;
}

void put16(u8* p, u32 v)
{
    p[0] = u8(v);
    p[1] = u8(v >> 8);
}

void put32(u8* p, u32 v)
{
    put16(p, v);
    put16(p + 2, v >> 16);
}

} // namespace

FrameGrabber::FrameGrabber(IDirect3DDevice9* const* currentDevice, const DisplaySettings* settings)
    : currentDevice(currentDevice)
{
    if (settings->windowed) {
        DEVMODEA mode{};
        mode.dmSize = sizeof mode;
        EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &mode);
        width = i32(mode.dmPelsWidth);
        height = i32(mode.dmPelsHeight);
    } else {
        width = settings->width;
        height = settings->height;
    }
    backBufferMode =
        settings->backBufferFormat == D3DFMT_A8R8G8B8 && settings->multiSampleType == D3DMULTISAMPLE_NONE ? 1 : 0;
    // A back buffer smaller than the capture size (a window on a larger
    // desktop) would be read past its end: take the front buffer instead,
    // which shows the window on the desktop.
    IDirect3DSurface9* back = nullptr;
    if (backBufferMode && *currentDevice &&
        SUCCEEDED((*currentDevice)->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back)) && back) {
        D3DSURFACE_DESC desc{};
        back->GetDesc(&desc);
        if (i32(desc.Width) != width || i32(desc.Height) != height)
            backBufferMode = 0;
        back->Release();
    }
}

FrameGrabber::~FrameGrabber()
{
    stopGraph();
    release(surface);
}

void FrameGrabber::ensureSurface()
{
    if (surfaceChecked)
        return;
    surfaceChecked = true;
    IDirect3DDevice9* device = *currentDevice;
    if (!device)
        return;
    if (backBufferMode) {
        IDirect3DSurface9* back = nullptr;
        D3DLOCKED_RECT locked{};
        if (SUCCEEDED(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back)) && back &&
            SUCCEEDED(back->LockRect(&locked, nullptr, D3DLOCK_READONLY))) {
            back->UnlockRect();
            back->Release();
            return;
        }
        release(back);
        backBufferMode = 0;
    }
    device->CreateOffscreenPlainSurface(UINT(width), UINT(height), D3DFMT_A8R8G8B8, D3DPOOL_SCRATCH, &surface,
                                        nullptr);
}

IDirect3DSurface9* FrameGrabber::lockFrame(D3DLOCKED_RECT& locked)
{
    ensureSurface();
    IDirect3DDevice9* device = *currentDevice;
    if (!device)
        return nullptr;
    IDirect3DSurface9* source = nullptr;
    if (backBufferMode) {
        if (FAILED(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &source)))
            return nullptr;
    } else {
        if (!surface)
            return nullptr; // its creation failed: no frames
        device->GetFrontBufferData(0, surface);
        source = surface;
        source->AddRef();
    }
    if (!source)
        return nullptr;
    if (FAILED(source->LockRect(&locked, nullptr, D3DLOCK_READONLY))) {
        source->Release();
        return nullptr;
    }
    return source;
}

void FrameGrabber::unlockFrame(IDirect3DSurface9* source)
{
    source->UnlockRect();
    source->Release();
}

bool FrameGrabber::copyFrame(u8* dest)
{
    D3DLOCKED_RECT locked{};
    IDirect3DSurface9* source = lockFrame(locked);
    if (!source)
        return false;
    D3DSURFACE_DESC desc{};
    source->GetDesc(&desc);
    // Never read past the locked surface; what it lacks stays black.
    const size_t rowBytes = size_t(width) * 4;
    const size_t copyBytes = std::min(rowBytes, size_t(desc.Width) * 4);
    for (i32 y = 0; y < height; ++y) {
        u8* out = dest + size_t(height - 1 - y) * rowBytes;
        if (u32(y) < desc.Height) {
            std::memcpy(out, static_cast<const u8*>(locked.pBits) + size_t(y) * size_t(locked.Pitch), copyBytes);
            std::memset(out + copyBytes, 0, rowBytes - copyBytes);
        } else {
            std::memset(out, 0, rowBytes);
        }
    }
    unlockFrame(source);
    return true;
}

void FrameGrabber::startBmpSequence(const char* baseName)
{
    ensureSurface();
    bmpBaseName = String(baseName);
}

HRESULT FrameGrabber::startAvi(const char* fileName, i32 compressorIndex)
{
    stopGraph();
    if (!fileName)
        return E_POINTER;
    filter = new GrabberFilter(this);
    IBaseFilter* mux = nullptr;
    IBaseFilter* compressor = nullptr;
    ICreateDevEnum* devices = nullptr;
    IEnumMoniker* monikers = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_ICaptureGraphBuilder2, reinterpret_cast<void**>(&builder));
    if (SUCCEEDED(hr))
        hr = builder->SetOutputFileName(&MEDIASUBTYPE_Avi, widen(fileName).c_str(), &mux, nullptr);
    if (SUCCEEDED(hr))
        hr = builder->GetFiltergraph(&graph);
    if (SUCCEEDED(hr))
        hr = graph->AddFilter(filter, L"GrabberFilter");
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                              reinterpret_cast<void**>(&devices));
    if (SUCCEEDED(hr)) {
        hr = devices->CreateClassEnumerator(CLSID_VideoCompressorCategory, &monikers, 0);
        if (hr == S_FALSE)
            hr = VFW_E_NOT_FOUND;
    }
    if (SUCCEEDED(hr)) {
        IMoniker* moniker = nullptr;
        hr = compressorIndex >= 0 && monikers->Skip(ULONG(compressorIndex)) == S_OK &&
                     monikers->Next(1, &moniker, nullptr) == S_OK
                 ? S_OK
                 : VFW_E_NOT_FOUND;
        if (SUCCEEDED(hr))
            hr = moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&compressor));
        release(moniker);
    }
    if (SUCCEEDED(hr))
        hr = graph->AddFilter(compressor, L"Compressor");
    if (SUCCEEDED(hr))
        hr = builder->RenderStream(nullptr, nullptr, static_cast<IBaseFilter*>(filter), compressor, mux);
    if (SUCCEEDED(hr))
        hr = graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
    if (SUCCEEDED(hr))
        hr = control->Run();
    release(monikers);
    release(devices);
    release(compressor);
    release(mux);
    if (FAILED(hr))
        stopGraph();
    return hr;
}

void FrameGrabber::grabAviFrame(i32 frame)
{
    if (!graph || !filter)
        return;
    IMediaSample* sample = nullptr;
    if (FAILED(filter->pin->GetDeliveryBuffer(&sample, nullptr, nullptr, 0)) || !sample)
        return;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    if (data && size_t(sample->GetSize()) >= size_t(width) * size_t(height) * 4 && copyFrame(data)) {
        // 64-bit times: a 32-bit product wraps after 5368 frames.
        REFERENCE_TIME start = REFERENCE_TIME(frame) * kFrameTime;
        REFERENCE_TIME end = REFERENCE_TIME(frame + 1LL) * kFrameTime;
        sample->SetTime(&start, &end);
        sample->SetSyncPoint(TRUE);
        filter->pin->Deliver(sample);
    }
    sample->Release();
}

void FrameGrabber::writeBmpFrame(const char* baseName, i32 number)
{
    D3DLOCKED_RECT locked{};
    IDirect3DSurface9* source = lockFrame(locked);
    if (!source)
        return;
    D3DSURFACE_DESC desc{};
    source->GetDesc(&desc);
    const u32 rowBytes = (u32(width) * 3 + 3) & ~3u;
    const u32 imageBytes = rowBytes * u32(height);
    std::vector<u8> file(54 + size_t(imageBytes), 0);
    u8* h = file.data();
    h[0] = 'B';
    h[1] = 'M';
    put32(h + 2, 54 + imageBytes);
    put32(h + 10, 54);
    put32(h + 14, 40);
    put32(h + 18, u32(width));
    put32(h + 22, u32(height));
    put16(h + 26, 1);
    put16(h + 28, 24);
    put32(h + 34, imageBytes);
    for (i32 y = 0; y < height && u32(y) < desc.Height; ++y) {
        const u8* in = static_cast<const u8*>(locked.pBits) + size_t(y) * size_t(locked.Pitch);
        u8* out = h + 54 + size_t(height - 1 - y) * rowBytes;
        for (i32 x = 0; x < width && u32(x) < desc.Width; ++x)
            std::memcpy(out + 3 * x, in + 4 * x, 3);
    }
    FileStream stream(".\\;..\\");
    // Written even when the creation failed: the writes then count nothing.
    const char* name = formatTemp("%s%04d.bmp", baseName, number);
    if (!stream.create(name) && unwrittenFrames++ == 0)
        logStream << "Frame file \"" << name << "\" is not written: " << platform::outputRefusal(errno) << std::endl;
    stream.write(file.data(), u32(file.size()));
    stream.close();
    unlockFrame(source);
}

void FrameGrabber::stopGraph()
{
    if (control)
        control->Stop();
    release(control);
    release(graph);
    release(builder);
    release(filter);
}
