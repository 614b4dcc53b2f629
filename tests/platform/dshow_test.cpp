// The DirectShow stand-in below the engine: base classes, the graph, the
// compressor category, the renderer's notify side, and the COM naming
// pieces they use.
#include "com_scope.h"
#include "device_test_support.h"

#include "platform/dshow/dshow_test_api.h"

#include <dshow.h>

#include <atomic>
#include <chrono>
#include <cwchar>
#include <thread>

namespace {

CMediaType rgb32(LONG width, LONG height)
{
    CMediaType mt;
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    vih->AvgTimePerFrame = 400000;
    vih->bmiHeader = {40, width, height, 1, 32, BI_RGB, DWORD(width * (height < 0 ? -height : height) * 4), 0, 0, 0, 0};
    mt.SetType(&MEDIATYPE_Video);
    mt.SetSubtype(&MEDIASUBTYPE_RGB32);
    mt.SetFormatType(&FORMAT_VideoInfo);
    return mt;
}

// A source offering one RGB32 type.
class TypeSource : public CBaseFilter {
public:
    class Pin : public CBaseOutputPin {
    public:
        Pin(TypeSource* f) : CBaseOutputPin("TestPin", f, &f->lock, nullptr, L"Out"), source(f) {}
        HRESULT GetMediaType(int position, CMediaType* mt) override
        {
            if (position != 0)
                return VFW_S_NO_MORE_ITEMS;
            *mt = source->type;
            return S_OK;
        }
        HRESULT CheckMediaType(const CMediaType* mt) override { return *mt == source->type ? S_OK : E_FAIL; }
        HRESULT DecideBufferSize(IMemAllocator* a, ALLOCATOR_PROPERTIES* p) override
        {
            p->cBuffers = 1;
            p->cbBuffer = 4096;
            ALLOCATOR_PROPERTIES actual{};
            return a->SetProperties(p, &actual);
        }
        TypeSource* source;
    };
    explicit TypeSource(CMediaType t) : CBaseFilter("TestSource", nullptr, &lock, GUID_NULL), type(t), pin(this) {}
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &pin : nullptr; }
    CCritSec lock;
    CMediaType type;
    Pin pin;
};

IBaseFilter* compressor(ULONG index)
{
    ComRef<ICreateDevEnum> devices;
    ComRef<IEnumMoniker> monikers;
    ComRef<IMoniker> moniker;
    IBaseFilter* filter = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                   reinterpret_cast<void**>(devices.out()))) &&
        devices->CreateClassEnumerator(CLSID_VideoCompressorCategory, monikers.out(), 0) == S_OK &&
        monikers->Skip(index) == S_OK && monikers->Next(1, moniker.out(), nullptr) == S_OK)
        moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter));
    return filter;
}

} // namespace

TEST(DirectShowAllocator, PropertiesCommitAndBlockingBuffers)
{
    auto* allocator = new CMemAllocator;
    ALLOCATOR_PROPERTIES actual{};
    struct Case {
        ALLOCATOR_PROPERTIES request;
        HRESULT expected;
    } cases[] = {{{-1, 10, 1, 0}, E_INVALIDARG}, {{1, 10, 3, 0}, E_INVALIDARG}, {{1, 0x7FFFFFFF, 1, 0}, E_OUTOFMEMORY},
                 {{2, 16, 0, 0}, S_OK}};
    for (Case& c : cases)
        EXPECT_EQ(allocator->SetProperties(&c.request, &actual), c.expected) << c.request.cBuffers;
    EXPECT_EQ(actual.cbAlign, 1);

    IMediaSample* a = nullptr;
    IMediaSample* b = nullptr;
    EXPECT_EQ(allocator->GetBuffer(&a, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
    ASSERT_EQ(allocator->Commit(), S_OK);
    ASSERT_EQ(allocator->GetBuffer(&a, nullptr, nullptr, 0), S_OK);
    ASSERT_EQ(allocator->GetBuffer(&b, nullptr, nullptr, 0), S_OK);
    EXPECT_EQ(a->SetActualDataLength(17), VFW_E_BUFFER_OVERFLOW);
    REFERENCE_TIME start = 0, end = 0;
    EXPECT_EQ(a->GetTime(&start, &end), VFW_E_NOT_FOUND);

    // Every buffer out: GetBuffer waits for one to come back, and gives up
    // when the allocator is decommitted meanwhile.
    std::atomic<HRESULT> waited{S_FALSE};
    std::atomic<bool> started{false};
    // Still waiting 20 ms after the thread began its call.
    auto stillWaiting = [&] {
        while (!started.load())
            std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return waited.load() == S_FALSE;
    };
    IMediaSample* c = nullptr;
    std::thread taker([&] {
        started = true;
        waited = allocator->GetBuffer(&c, nullptr, nullptr, 0);
    });
    EXPECT_TRUE(stillWaiting());
    a->Release();
    taker.join();
    EXPECT_EQ(waited.load(), S_OK);
    waited = S_FALSE;
    started = false;
    std::thread blocked([&] {
        started = true;
        waited = allocator->GetBuffer(&a, nullptr, nullptr, 0);
    });
    EXPECT_TRUE(stillWaiting());
    allocator->Decommit();
    blocked.join();
    EXPECT_EQ(waited.load(), VFW_E_NOT_COMMITTED);
    b->Release();
    c->Release();
    allocator->Release(); // the samples kept it alive until here
}

// Pins connect through the encoder's checks; the graph names, finds and
// removes filters.
TEST(DirectShowGraph, ConnectionsAndNames)
{
    ComScope com;
    IGraphBuilder* graph = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               reinterpret_cast<void**>(&graph)),
              S_OK);
    struct Case {
        LONG width, height;
        bool connects;
    } cases[] = {{16, 8, true}, {16, -8, false}, {0, 8, false}, {20000, 8, false}};
    for (const Case& c : cases) {
        auto* source = new TypeSource(rgb32(c.width, c.height));
        IBaseFilter* encoder = compressor(0);
        ASSERT_NE(encoder, nullptr);
        EXPECT_EQ(graph->AddFilter(source, L"Source"), S_OK);
        EXPECT_EQ(graph->AddFilter(encoder, L"Encoder"), S_OK);
        IPin* in = nullptr;
        ASSERT_EQ(encoder->FindPin(L"In", &in), S_OK);
        EXPECT_EQ(SUCCEEDED(graph->ConnectDirect(&source->pin, in, nullptr)), c.connects) << c.width << "x" << c.height;
        if (c.connects) {
            EXPECT_EQ(graph->ConnectDirect(&source->pin, in, nullptr), VFW_E_ALREADY_CONNECTED);
        }
        in->Release();
        EXPECT_EQ(graph->RemoveFilter(source), S_OK);
        EXPECT_EQ(graph->RemoveFilter(encoder), S_OK);
        EXPECT_EQ(graph->RemoveFilter(encoder), VFW_E_NOT_FOUND);
        source->Release();
        encoder->Release();
    }
    // A taken name gets a number; the filters are found by their names.
    auto* first = new TypeSource(rgb32(4, 4));
    auto* second = new TypeSource(rgb32(4, 4));
    EXPECT_EQ(graph->AddFilter(first, L"Same"), S_OK);
    EXPECT_EQ(graph->AddFilter(second, L"Same"), S_FALSE);
    IBaseFilter* found = nullptr;
    EXPECT_EQ(graph->FindFilterByName(L"Same 2", &found), S_OK);
    EXPECT_EQ(found, static_cast<IBaseFilter*>(second));
    found->Release();
    EXPECT_EQ(graph->RenderFile(L"test:4,4,1", nullptr), VFW_E_CANNOT_RENDER); // no renderer added
    first->Release();
    second->Release();
    graph->Release();
    EXPECT_EQ(platform::dshow::liveObjectCount(), 0);
}

TEST(DirectShowCategory, MonikersAndPropertyBags)
{
    ComScope com;
    ComRef<ICreateDevEnum> devices;
    ASSERT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                               reinterpret_cast<void**>(devices.out())),
              S_OK);
    IEnumMoniker* none = reinterpret_cast<IEnumMoniker*>(1);
    EXPECT_EQ(devices->CreateClassEnumerator(CLSID_FilterGraph, &none, 0), S_FALSE);
    EXPECT_EQ(none, nullptr);
    ComRef<IEnumMoniker> monikers;
    ASSERT_EQ(devices->CreateClassEnumerator(CLSID_VideoCompressorCategory, monikers.out(), 0), S_OK);
    IMoniker* batch[8] = {};
    ULONG fetched = 0;
    EXPECT_EQ(monikers->Next(8, batch, &fetched), S_FALSE);
    ASSERT_GE(fetched, 2u);
    ComRef<IPropertyBag> bag;
    ASSERT_EQ(batch[0]->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(bag.out())), S_OK);
    struct Case {
        const wchar_t* property;
        VARTYPE type;
        bool found;
    } cases[] = {{L"FriendlyName", VT_EMPTY, true}, {L"FriendlyName", VT_I4, false}, {L"CLSID", VT_EMPTY, false}};
    for (const Case& c : cases) {
        VARIANT v;
        VariantInit(&v);
        v.vt = c.type;
        EXPECT_EQ(SUCCEEDED(bag->Read(c.property, &v, nullptr)), c.found);
        if (c.found) {
            EXPECT_EQ(v.vt, VT_BSTR);
            EXPECT_EQ(SysStringLen(v.bstrVal), std::wcslen(L"Motion JPEG"));
            EXPECT_EQ(std::wcscmp(v.bstrVal, L"Motion JPEG"), 0);
        }
        VariantClear(&v);
    }
    void* wrong = nullptr;
    EXPECT_EQ(batch[0]->BindToStorage(nullptr, nullptr, IID_IBaseFilter, &wrong), E_NOINTERFACE);
    ComRef<IEnumMoniker> copy;
    monikers->Reset();
    monikers->Skip(1);
    ASSERT_EQ(monikers->Clone(copy.out()), S_OK);
    IMoniker* next = nullptr;
    ASSERT_EQ(copy->Next(1, &next, nullptr), S_OK);
    LPWSTR name = nullptr;
    next->GetDisplayName(nullptr, nullptr, &name);
    LPWSTR expected = nullptr;
    batch[1]->GetDisplayName(nullptr, nullptr, &expected);
    EXPECT_EQ(std::wcscmp(name, expected), 0);
    CoTaskMemFree(name);
    CoTaskMemFree(expected);
    next->Release();
    for (ULONG i = 0; i < fetched; ++i)
        batch[i]->Release();
}

TEST(DirectShowCaptureBuilder, BadArgumentsFail)
{
    ComScope com;
    ComRef<ICaptureGraphBuilder2> builder;
    ASSERT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                               reinterpret_cast<void**>(builder.out())),
              S_OK);
    IBaseFilter* mux = nullptr;
    auto* source = new TypeSource(rgb32(4, 4));
    EXPECT_EQ(builder->RenderStream(nullptr, nullptr, static_cast<IBaseFilter*>(source), nullptr, source), E_UNEXPECTED);
    EXPECT_EQ(builder->SetOutputFileName(&MEDIASUBTYPE_RGB32, L"x.avi", &mux, nullptr), E_INVALIDARG);
    EXPECT_EQ(builder->SetOutputFileName(&MEDIASUBTYPE_Avi, L"no/such/folder/x.avi", &mux, nullptr), E_ACCESSDENIED);
    EXPECT_EQ(mux, nullptr);
    source->Release();
}

// The renderer takes only renderless mode; its helper makes surfaces on
// the device it was given, or fails cleanly.
TEST(DirectShowVmr9, NotifyInterfaceMakesSurfaces)
{
    ComScope com;
    DeviceFixture f;
    ASSERT_EQ(f.created, D3D_OK);
    ComRef<IVMRFilterConfig9> config;
    ASSERT_EQ(CoCreateInstance(CLSID_VideoMixingRenderer9, nullptr, CLSCTX_INPROC_SERVER, IID_IVMRFilterConfig9,
                               reinterpret_cast<void**>(config.out())),
              S_OK);
    EXPECT_EQ(config->SetRenderingMode(VMR9Mode_Windowed), E_NOTIMPL);
    EXPECT_EQ(config->SetRenderingMode(VMR9Mode_Renderless), S_OK);
    ComRef<IVMRSurfaceAllocatorNotify9> notify;
    ASSERT_EQ(config->QueryInterface(IID_IVMRSurfaceAllocatorNotify9, reinterpret_cast<void**>(notify.out())), S_OK);
    IDirect3DSurface9* surfaces[3] = {};
    DWORD count = 3;
    VMR9AllocationInfo info{VMR9AllocFlag_TextureSurface, 8, 4, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, 3, {8, 4}, {8, 4}};
    EXPECT_EQ(notify->AllocateSurfaceHelper(&info, &count, surfaces), E_FAIL); // no device yet
    ASSERT_EQ(notify->SetD3DDevice(f.device.get(), nullptr), S_OK);
    struct Case {
        DWORD flags, width;
        bool made;
    } cases[] = {{VMR9AllocFlag_TextureSurface, 8, true},
                 {VMR9AllocFlag_OffscreenSurface, 8, true},
                 {VMR9AllocFlag_TextureSurface, 1u << 20, false}};
    for (const Case& c : cases) {
        info.dwFlags = c.flags;
        info.dwWidth = c.width;
        EXPECT_EQ(SUCCEEDED(notify->AllocateSurfaceHelper(&info, &count, surfaces)), c.made) << c.flags;
        for (IDirect3DSurface9*& s : surfaces) {
            EXPECT_EQ(s != nullptr, c.made);
            IDirect3DTexture9* container = nullptr;
            if (s && c.flags == VMR9AllocFlag_TextureSurface) {
                EXPECT_EQ(s->GetContainer(IID_IDirect3DTexture9, reinterpret_cast<void**>(&container)), D3D_OK);
                container->Release();
            }
            if (s)
                s->Release();
            s = nullptr;
        }
    }
}

TEST(ComNaming, RunningObjectTableAndStrings)
{
    IRunningObjectTable* table = nullptr;
    ASSERT_EQ(GetRunningObjectTable(0, &table), S_OK);
    IMoniker* name = nullptr;
    ASSERT_EQ(CreateItemMoniker(L"!", L"Entry", &name), S_OK);
    auto* object = new CMemAllocator; // any object
    const size_t before = platform::runningObjectCount();
    DWORD cookie = 0, again = 0;
    ASSERT_EQ(table->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, object, name, &cookie), S_OK);
    EXPECT_EQ(table->Register(0, object, name, &again), E_INVALIDARG); // one entry per name
    EXPECT_EQ(object->Release(), 1u);                                   // the table keeps it alive
    EXPECT_EQ(table->IsRunning(name), S_OK);
    EXPECT_EQ(platform::runningObjectNames().back(), L"!Entry");
    EXPECT_EQ(table->Revoke(cookie), S_OK);
    EXPECT_EQ(table->Revoke(cookie), E_INVALIDARG);
    EXPECT_EQ(table->IsRunning(name), S_FALSE);
    EXPECT_EQ(platform::runningObjectCount(), before);
    name->Release();
    table->Release();

    BSTR s = SysAllocStringLen(L"abc", 2);
    EXPECT_EQ(SysStringLen(s), 2u);
    EXPECT_EQ(s[2], L'\0');
    VARIANT a, b;
    VariantInit(&a);
    VariantInit(&b);
    a.vt = VT_BSTR;
    a.bstrVal = s;
    ASSERT_EQ(VariantCopy(&b, &a), S_OK);
    EXPECT_NE(b.bstrVal, a.bstrVal);
    EXPECT_EQ(std::wcscmp(b.bstrVal, L"ab"), 0);
    VariantClear(&a);
    VariantClear(&b);
    EXPECT_EQ(SysStringLen(nullptr), 0u);

    DEVMODEA mode{};
    mode.dmSize = sizeof mode;
    ASSERT_TRUE(EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &mode));
    EXPECT_EQ(mode.dmPelsWidth, DWORD(GetSystemMetrics(SM_CXSCREEN)));
    EXPECT_EQ(mode.dmPelsHeight, DWORD(GetSystemMetrics(SM_CYSCREEN)));
    EXPECT_EQ(mode.dmBitsPerPel, 32u);
    EXPECT_FALSE(EnumDisplaySettingsA(nullptr, 1, &mode));
    EXPECT_FALSE(EnumDisplaySettingsA("\\\\.\\DISPLAY2", ENUM_CURRENT_SETTINGS, &mode));
}
