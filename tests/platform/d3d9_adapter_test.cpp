#include <d3d9.h>
#include <objbase.h>

#include "platform/com/com_object.h"
#include "platform/d3d9/adapter_profiles.h"
#include "platform/d3d9/gl_adapter_info.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

// ---------------------------------------------------------------------------
// COM

DEFINE_GUID(CLSID_TestThing, 0x11111111, 0x2222, 0x3333, 0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55);
DEFINE_GUID(IID_ITestThing, 0x11111111, 0x2222, 0x3333, 0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x56);

int liveThings = 0;

class TestThing final : public platform::ComObject<TestThing, IUnknown, IID_ITestThing> {
public:
    TestThing() { ++liveThings; }

private:
    friend ComObject;
    ~TestThing() { --liveThings; }
};

struct ComSession {
    ComSession() { CoInitialize(nullptr); }
    ~ComSession() { CoUninitialize(); }
};

TEST(Com, InitialisationIsCountedPerThread)
{
    std::thread([] {
        EXPECT_EQ(CoInitialize(nullptr), S_OK);
        EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
        EXPECT_EQ(platform::comInitializeCount(), 2);
        std::thread([] { EXPECT_EQ(platform::comInitializeCount(), 0); }).join();
        CoUninitialize();
        CoUninitialize();
        EXPECT_EQ(platform::comInitializeCount(), 0);
        CoUninitialize(); // unbalanced: ignored
        EXPECT_EQ(platform::comInitializeCount(), 0);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        CoUninitialize();
    }).join();
}

TEST(Com, CreateInstanceGoesThroughTheClassRegistry)
{
    // A thread that never initialised COM cannot create objects.
    std::thread([] {
        void* p = reinterpret_cast<void*>(1);
        EXPECT_EQ(CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p),
                  CO_E_NOTINITIALIZED);
        EXPECT_EQ(p, nullptr);
    }).join();

    ComSession com;
    void* p = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr), E_POINTER);

    platform::registerComClass(CLSID_TestThing, [] { return new TestThing; });
    ASSERT_TRUE(platform::isComClassRegistered(CLSID_TestThing));
    ASSERT_EQ(CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_INPROC_SERVER, IID_ITestThing, &p), S_OK);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(liveThings, 1);
    EXPECT_EQ(static_cast<IUnknown*>(p)->Release(), 0u);
    EXPECT_EQ(liveThings, 0);

    // A refused interface or aggregation leaves no object behind.
    EXPECT_EQ(CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_INPROC_SERVER, IID_IDirect3D9, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    TestThing* outer = new TestThing;
    EXPECT_EQ(CoCreateInstance(CLSID_TestThing, outer, CLSCTX_INPROC_SERVER, IID_IUnknown, &p),
              CLASS_E_NOAGGREGATION);
    outer->Release();
    EXPECT_EQ(CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, &p), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(liveThings, 0);

    EXPECT_TRUE(platform::unregisterComClass(CLSID_TestThing));
    EXPECT_FALSE(platform::unregisterComClass(CLSID_TestThing));
    EXPECT_EQ(CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p), REGDB_E_CLASSNOTREG);
}

TEST(Com, GuidsCompareByValue)
{
    GUID copy = IID_IDirect3D9;
    EXPECT_TRUE(IsEqualGUID(copy, IID_IDirect3D9));
    copy.Data4[7] ^= 1;
    EXPECT_FALSE(IsEqualIID(copy, IID_IDirect3D9));
    EXPECT_NE(IID_IDirect3DTexture9, IID_IDirect3DCubeTexture9);
}

// ---------------------------------------------------------------------------
// Direct3D 9 adapters

// Releases the object and the installed profiles at the end of a test.
struct D3D {
    IDirect3D9* d3d = nullptr;
    explicit D3D(std::vector<platform::AdapterProfile>* profiles = nullptr)
    {
        if (profiles)
            platform::installAdapterProfiles(*profiles);
        d3d = Direct3DCreate9(D3D_SDK_VERSION);
    }
    ~D3D()
    {
        if (d3d)
            d3d->Release();
        platform::clearAdapterProfiles();
    }
    IDirect3D9* operator->() const { return d3d; }
};

// The rows of the engine's format table: format and flag bits.
struct Row {
    DWORD format;
    DWORD flags;
};

const Row kFormatTable[] = {
    {20, 0x0},    {21, 0x1},    {22, 0x1},    {23, 0x1},    {24, 0x1},    {25, 0x1},    {26, 0x0},    {27, 0x0},
    {28, 0x0},    {29, 0x0},    {30, 0x0},    {31, 0x10},   {32, 0x10},   {33, 0x10},   {34, 0x10},   {35, 0x1},
    {36, 0x10},   {40, 0xa0},   {41, 0xa0},   {50, 0x0},    {51, 0x0},    {52, 0x0},    {60, 0x0},    {61, 0x0},
    {62, 0x0},    {63, 0x0},    {64, 0x0},    {67, 0x0},
    {MAKEFOURCC('U', 'Y', 'V', 'Y'), 0x220}, {MAKEFOURCC('R', 'G', 'B', 'G'), 0x420},
    {MAKEFOURCC('Y', 'U', 'Y', '2'), 0x220}, {MAKEFOURCC('G', 'R', 'G', 'B'), 0x420},
    {MAKEFOURCC('D', 'X', 'T', '1'), 0x20},  {MAKEFOURCC('D', 'X', 'T', '2'), 0x820},
    {MAKEFOURCC('D', 'X', 'T', '3'), 0x20},  {MAKEFOURCC('D', 'X', 'T', '4'), 0x860},
    {MAKEFOURCC('D', 'X', 'T', '5'), 0x60},
    {70, 0x2},    {71, 0x6},    {73, 0x6},    {75, 0x6},    {77, 0x6},    {79, 0x6},    {80, 0x6},    {82, 0x2},
    {83, 0x6},    {81, 0x0},    {110, 0x0},
    {MAKEFOURCC('M', 'E', 'T', '1'), 0xc},   {MAKEFOURCC('N', 'V', 'E', '0'), 0xc},
    {MAKEFOURCC('N', 'V', 'E', '1'), 0xc},   {MAKEFOURCC('N', 'V', 'E', '2'), 0xc},
    {MAKEFOURCC('N', 'V', 'E', '3'), 0xc},   {MAKEFOURCC('N', 'V', 'E', '4'), 0xc},
    {MAKEFOURCC('N', 'V', 'E', '5'), 0xc},   {MAKEFOURCC('N', 'V', 'E', '6'), 0xc},
    {MAKEFOURCC('N', 'V', 'E', '7'), 0xc},   {MAKEFOURCC('N', 'V', 'E', '8'), 0xc},
    {MAKEFOURCC('N', 'V', 'E', '9'), 0xc},   {MAKEFOURCC('N', 'V', 'E', 'a'), 0xc},
    {MAKEFOURCC('N', 'V', 'E', 'b'), 0xc},   {MAKEFOURCC('N', 'V', 'E', 'c'), 0xc},
    {MAKEFOURCC('N', 'V', 'E', 'd'), 0xc},   {MAKEFOURCC('N', 'V', 'E', 'e'), 0xc},
    {111, 0x10},  {112, 0x10},  {113, 0x10},  {114, 0x10},  {115, 0x10},  {116, 0x10},  {117, 0x120},
};
static_assert(sizeof(kFormatTable) / sizeof(kFormatTable[0]) == 71, "the table has 71 rows");

// One candidate list as the display manager collects it: the table rows the
// check accepts, in table order.
std::vector<DWORD> collect(IDirect3D9* d3d, DWORD usage, DWORD depthUsage, D3DRESOURCETYPE type)
{
    std::vector<DWORD> accepted;
    for (const Row& row : kFormatTable) {
        const DWORD u = (row.flags & 0x2) ? depthUsage : usage;
        if (SUCCEEDED(d3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, u, type, D3DFORMAT(row.format))))
            accepted.push_back(row.format);
    }
    return accepted;
}

const std::vector<DWORD> kTextureList = {21, 22, 23, 25, 26, 28, 50, 51, 111, 113, 114, 116};
const std::vector<DWORD> kRenderTargetList = {21, 22, 23, 25, 26, 111, 113, 114, 116};

TEST(Direct3DCreate9, FailsForAnotherSdkVersionAndUnderTheSwitch)
{
    EXPECT_EQ(Direct3DCreate9(31), nullptr);
    platform::setDirect3DCreate9Fails(true);
    EXPECT_EQ(Direct3DCreate9(D3D_SDK_VERSION), nullptr);
    platform::setDirect3DCreate9Fails(false);

    const int before = platform::liveDirect3D9Objects();
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(d3d, nullptr);
    EXPECT_EQ(platform::liveDirect3D9Objects(), before + 1);

    IUnknown* unknown = nullptr;
    ASSERT_EQ(d3d->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    void* device = reinterpret_cast<void*>(1);
    EXPECT_EQ(d3d->QueryInterface(IID_IDirect3DDevice9, &device), E_NOINTERFACE);
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(unknown->Release(), 1u);
    EXPECT_EQ(d3d->Release(), 0u);
    EXPECT_EQ(platform::liveDirect3D9Objects(), before);
}

TEST(DefaultAdapter, IdentifiesTheGlRenderer)
{
    D3D d3d;
    ASSERT_NE(d3d.d3d, nullptr);
    ASSERT_GE(d3d->GetAdapterCount(), 1u);
    D3DADAPTER_IDENTIFIER9 id;
    ASSERT_EQ(d3d->GetAdapterIdentifier(0, 0, &id), D3D_OK);
    const platform::GlAdapterInfo& gl = platform::glAdapterInfo();
    EXPECT_STREQ(id.Description, gl.available ? gl.renderer.c_str() : "Software Renderer");
    EXPECT_GT(std::strlen(id.Description), 0u);
    EXPECT_NE(id.DriverVersion.QuadPart, 0);
    EXPECT_GT(HIWORD(id.DriverVersion.HighPart), 0);
    EXPECT_STREQ(id.DeviceName, "\\\\.\\DISPLAY1");
    EXPECT_EQ(d3d->GetAdapterIdentifier(d3d->GetAdapterCount(), 0, &id), D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d->GetAdapterIdentifier(0, 0, nullptr), D3DERR_INVALIDCALL);
}

TEST(DefaultAdapter, EnumeratesSortedModesInBothDisplayFormats)
{
    D3D d3d;
    for (D3DFORMAT format : {D3DFMT_X8R8G8B8, D3DFMT_R5G6B5}) {
        const UINT count = d3d->GetAdapterModeCount(0, format);
        ASSERT_GT(count, 0u);
        D3DDISPLAYMODE previous = {};
        for (UINT i = 0; i < count; ++i) {
            D3DDISPLAYMODE m;
            ASSERT_EQ(d3d->EnumAdapterModes(0, format, i, &m), D3D_OK);
            EXPECT_EQ(m.Format, format);
            EXPECT_GT(m.RefreshRate, 0u);
            if (i > 0) {
                EXPECT_TRUE(std::tie(previous.Width, previous.Height, previous.RefreshRate) <
                            std::tie(m.Width, m.Height, m.RefreshRate));
            }
            previous = m;
        }
        D3DDISPLAYMODE m;
        EXPECT_EQ(d3d->EnumAdapterModes(0, format, count, &m), D3DERR_INVALIDCALL);
    }
    D3DDISPLAYMODE m;
    EXPECT_EQ(d3d->GetAdapterModeCount(0, D3DFMT_A8R8G8B8), 0u);
    EXPECT_EQ(d3d->EnumAdapterModes(0, D3DFMT_A8R8G8B8, 0, &m), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(d3d->GetAdapterModeCount(99, D3DFMT_X8R8G8B8), 0u);

    ASSERT_EQ(d3d->GetAdapterDisplayMode(0, &m), D3D_OK);
    EXPECT_TRUE(m.Format == D3DFMT_X8R8G8B8 || m.Format == D3DFMT_R5G6B5);
    EXPECT_NE(d3d->GetAdapterMonitor(0), nullptr);
    EXPECT_EQ(platform::monitorAdapter(d3d->GetAdapterMonitor(0)), 0);
    EXPECT_EQ(d3d->GetAdapterMonitor(d3d->GetAdapterCount()), nullptr);
}

TEST(DefaultAdapter, HeadlessRunsGetTheCommonModes)
{
    const std::vector<D3DDISPLAYMODE> modes = platform::headlessDisplayModes();
    ASSERT_EQ(modes.size(), 28u);
    EXPECT_EQ(modes.front().Width, 640u);
    EXPECT_EQ(modes.front().Height, 480u);
    EXPECT_EQ(modes[13].Width, 1920u);
    EXPECT_EQ(modes[13].Height, 1080u);
    for (size_t i = 0; i < modes.size(); ++i) {
        EXPECT_EQ(modes[i].RefreshRate, 60u);
        EXPECT_EQ(modes[i].Format, i < 14 ? D3DFMT_X8R8G8B8 : D3DFMT_R5G6B5);
    }
    EXPECT_TRUE(std::any_of(modes.begin(), modes.end(),
                            [](const D3DDISPLAYMODE& m) { return m.Width == 800 && m.Height == 600; }));

    if (std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY"))
        GTEST_SKIP() << "a display is attached";
    D3D d3d;
    ASSERT_EQ(d3d->GetAdapterCount(), 1u);
    ASSERT_EQ(d3d->GetAdapterModeCount(0, D3DFMT_X8R8G8B8), 14u);
    D3DDISPLAYMODE desktop;
    ASSERT_EQ(d3d->GetAdapterDisplayMode(0, &desktop), D3D_OK);
    EXPECT_EQ(desktop.Width, 1024u);
    EXPECT_EQ(desktop.Height, 768u);
    EXPECT_EQ(desktop.Format, D3DFMT_X8R8G8B8);
}

TEST(DefaultAdapter, AcceptsBackBuffersOfTheDisplayFormat)
{
    D3D d3d;
    const D3DFORMAT six[] = {D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5,
                             D3DFMT_X1R5G5B5, D3DFMT_A1R5G5B5, D3DFMT_A2R10G10B10};
    std::vector<D3DFORMAT> fullscreen, windowed;
    for (D3DFORMAT f : six) {
        if (d3d->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, f, FALSE) == D3D_OK)
            fullscreen.push_back(f);
        if (d3d->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, f, TRUE) == D3D_OK)
            windowed.push_back(f);
    }
    EXPECT_EQ(fullscreen, (std::vector<D3DFORMAT>{D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8}));
    EXPECT_EQ(windowed, (std::vector<D3DFORMAT>{D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5}));
    EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_R5G6B5, D3DFMT_R5G6B5, FALSE), D3D_OK);
    // Not a format the adapter displays.
    EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_A2R10G10B10, D3DFMT_A2R10G10B10, FALSE),
              D3DERR_NOTAVAILABLE);
    EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_REF, D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, FALSE), D3D_OK);
    EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_SW, D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, FALSE), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(d3d->CheckDeviceType(7, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, FALSE), D3DERR_INVALIDCALL);
}

TEST(DefaultAdapter, FormatListsOverTheWholeTable)
{
    D3D d3d;
    // Depth rows are asked with the depth-stencil usage, all others as render
    // targets: no depth format is a texture, so shadow maps use colour.
    for (D3DRESOURCETYPE type : {D3DRTYPE_TEXTURE, D3DRTYPE_CUBETEXTURE, D3DRTYPE_VOLUMETEXTURE})
        EXPECT_EQ(collect(d3d.d3d, 0, 0, type), kTextureList) << type;
    for (D3DRESOURCETYPE type : {D3DRTYPE_TEXTURE, D3DRTYPE_CUBETEXTURE})
        EXPECT_EQ(collect(d3d.d3d, D3DUSAGE_RENDERTARGET, D3DUSAGE_DEPTHSTENCIL, type), kRenderTargetList) << type;
    EXPECT_TRUE(collect(d3d.d3d, D3DUSAGE_DMAP, D3DUSAGE_DMAP, D3DRTYPE_TEXTURE).empty());

    std::vector<DWORD> depth;
    for (const Row& row : kFormatTable) {
        if ((row.flags & 0x2) &&
            d3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE,
                                   D3DFORMAT(row.format)) == D3D_OK &&
            d3d->CheckDepthStencilMatch(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8,
                                        D3DFORMAT(row.format)) == D3D_OK)
            depth.push_back(row.format);
    }
    EXPECT_EQ(depth, (std::vector<DWORD>{D3DFMT_D24S8, D3DFMT_D24X8, D3DFMT_D16}));

    // Compressed, YUV, palette and multi-element rows are answered no in
    // every role, also as plain surfaces.
    for (const Row& row : kFormatTable) {
        if (!(row.flags & 0x28))
            continue;
        for (DWORD usage : {DWORD(0), DWORD(D3DUSAGE_RENDERTARGET)}) {
            for (D3DRESOURCETYPE type : {D3DRTYPE_SURFACE, D3DRTYPE_TEXTURE, D3DRTYPE_CUBETEXTURE}) {
                EXPECT_EQ(d3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, usage, type,
                                                 D3DFORMAT(row.format)),
                          D3DERR_NOTAVAILABLE)
                    << std::hex << row.format;
            }
        }
    }
}

TEST(DefaultAdapter, FormatQuestionsOutsideTheTable)
{
    D3D d3d;
    auto check = [&](D3DFORMAT adapterFormat, DWORD usage, D3DRESOURCETYPE type, D3DFORMAT format) {
        return d3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, adapterFormat, usage, type, format);
    };
    // Depth-stencil only as a surface, never as a plain surface or texture.
    EXPECT_EQ(check(D3DFMT_X8R8G8B8, D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, D3DFMT_D24S8), D3D_OK);
    EXPECT_EQ(check(D3DFMT_X8R8G8B8, 0, D3DRTYPE_SURFACE, D3DFMT_D24S8), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(check(D3DFMT_X8R8G8B8, D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_TEXTURE, D3DFMT_D16), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(check(D3DFMT_X8R8G8B8, D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, D3DFMT_A8R8G8B8), D3DERR_NOTAVAILABLE);
    // Two roles at once, dynamic render targets, volume render targets.
    EXPECT_EQ(check(D3DFMT_X8R8G8B8, D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE,
                    D3DFMT_D24S8),
              D3DERR_NOTAVAILABLE);
    EXPECT_EQ(check(D3DFMT_X8R8G8B8, D3DUSAGE_RENDERTARGET | D3DUSAGE_DYNAMIC, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8),
              D3DERR_NOTAVAILABLE);
    EXPECT_EQ(check(D3DFMT_X8R8G8B8, D3DUSAGE_DYNAMIC, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8), D3D_OK);
    EXPECT_EQ(check(D3DFMT_X8R8G8B8, D3DUSAGE_RENDERTARGET, D3DRTYPE_VOLUMETEXTURE, D3DFMT_A8R8G8B8),
              D3DERR_NOTAVAILABLE);
    // Mipmaps are not generated by the device.
    EXPECT_EQ(check(D3DFMT_X8R8G8B8, D3DUSAGE_AUTOGENMIPMAP, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8), D3DOK_NOAUTOGEN);
    EXPECT_EQ(check(D3DFMT_X8R8G8B8, D3DUSAGE_AUTOGENMIPMAP, D3DRTYPE_SURFACE, D3DFMT_A8R8G8B8),
              D3DERR_NOTAVAILABLE);
    EXPECT_EQ(check(D3DFMT_X8R8G8B8, D3DUSAGE_QUERY_SRGBREAD, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8),
              D3DERR_NOTAVAILABLE);
    EXPECT_EQ(check(D3DFMT_X8R8G8B8, D3DUSAGE_QUERY_VERTEXTEXTURE, D3DRTYPE_TEXTURE, D3DFMT_R32F), D3D_OK);
    EXPECT_EQ(check(D3DFMT_X8R8G8B8, D3DUSAGE_QUERY_VERTEXTEXTURE, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8),
              D3DERR_NOTAVAILABLE);
    EXPECT_EQ(check(D3DFMT_X8R8G8B8, 0, D3DRTYPE_INDEXBUFFER, D3DFMT_INDEX32), D3D_OK);
    EXPECT_EQ(check(D3DFMT_X8R8G8B8, 0, D3DRTYPE_VERTEXBUFFER, D3DFMT_VERTEXDATA), D3D_OK);
    // The adapter format must be one the adapter displays.
    EXPECT_EQ(check(D3DFMT_A8R8G8B8, 0, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(check(D3DFMT_UNKNOWN, 0, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(check(D3DFMT_R5G6B5, 0, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8), D3D_OK);

    EXPECT_EQ(d3d->CheckDepthStencilMatch(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_L8, D3DFMT_D24S8),
              D3DERR_NOTAVAILABLE);
    EXPECT_EQ(d3d->CheckDepthStencilMatch(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5, D3DFMT_D16), D3D_OK);
    EXPECT_EQ(d3d->CheckDeviceFormatConversion(0, D3DDEVTYPE_HAL, D3DFMT_A8R8G8B8, D3DFMT_R5G6B5), D3D_OK);
    EXPECT_EQ(d3d->CheckDeviceFormatConversion(0, D3DDEVTYPE_HAL, D3DFMT_YUY2, D3DFMT_X8R8G8B8),
              D3DERR_NOTAVAILABLE);
}

TEST(DefaultAdapter, MultisamplingUpToTheGlLimit)
{
    D3D d3d;
    const platform::GlAdapterInfo& gl = platform::glAdapterInfo();
    const int limit = gl.available && gl.maxSamples > 0 ? std::min(gl.maxSamples, 16) : 4;
    DWORD quality = 99;
    for (int t = 2; t <= 16; ++t) {
        const HRESULT hr = d3d->CheckDeviceMultiSampleType(0, D3DDEVTYPE_HAL, D3DFMT_A8R8G8B8, TRUE,
                                                           D3DMULTISAMPLE_TYPE(t), &quality);
        EXPECT_EQ(hr, t <= limit ? D3D_OK : D3DERR_NOTAVAILABLE) << t;
        EXPECT_EQ(quality, t <= limit ? 1u : 0u);
    }
    ASSERT_EQ(d3d->CheckDeviceMultiSampleType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, FALSE, D3DMULTISAMPLE_NONMASKABLE,
                                              &quality),
              D3D_OK);
    EXPECT_EQ(quality, DWORD(limit - 1));
    EXPECT_EQ(d3d->CheckDeviceMultiSampleType(0, D3DDEVTYPE_HAL, D3DFMT_D24S8, FALSE, D3DMULTISAMPLE_2_SAMPLES,
                                              nullptr),
              D3D_OK);
    EXPECT_EQ(d3d->CheckDeviceMultiSampleType(0, D3DDEVTYPE_HAL, D3DFMT_DXT1, FALSE, D3DMULTISAMPLE_2_SAMPLES,
                                              &quality),
              D3DERR_NOTAVAILABLE);
    EXPECT_EQ(quality, 0u);
    EXPECT_EQ(d3d->CheckDeviceMultiSampleType(0, D3DDEVTYPE_HAL, D3DFMT_A8R8G8B8, FALSE, D3DMULTISAMPLE_TYPE(17),
                                              nullptr),
              D3DERR_INVALIDCALL);
}

TEST(DefaultAdapter, CapsDescribeAShaderModel3HardwareDevice)
{
    D3D d3d;
    D3DCAPS9 caps;
    ASSERT_EQ(d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps), D3D_OK);
    EXPECT_EQ(caps.DeviceType, D3DDEVTYPE_HAL);
    EXPECT_EQ(caps.AdapterOrdinal, 0u);
    EXPECT_TRUE(caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT);
    EXPECT_TRUE(caps.DevCaps & D3DDEVCAPS_PUREDEVICE);
    EXPECT_EQ(caps.VertexShaderVersion, D3DVS_VERSION(3, 0));
    EXPECT_EQ(caps.PixelShaderVersion, D3DPS_VERSION(3, 0));
    EXPECT_EQ(caps.MaxSimultaneousTextures, 8u);
    EXPECT_EQ(caps.MaxTextureBlendStages, 8u);
    EXPECT_TRUE(caps.TextureOpCaps & D3DTEXOPCAPS_MULTIPLYADD);
    EXPECT_TRUE(caps.TextureOpCaps & D3DTEXOPCAPS_MODULATE2X);
    EXPECT_TRUE(caps.TextureOpCaps & D3DTEXOPCAPS_DOTPRODUCT3);
    EXPECT_TRUE(caps.TextureCaps & D3DPTEXTURECAPS_NONPOW2CONDITIONAL);
    EXPECT_FALSE(caps.Caps2 & D3DCAPS2_CANAUTOGENMIPMAP);
    EXPECT_GE(caps.MaxTextureWidth, 2048u);
    EXPECT_EQ(caps.MaxTextureWidth, caps.MaxTextureHeight);
    EXPECT_GE(caps.MaxVertexIndex, 0x10000u);
    EXPECT_GE(caps.MaxActiveLights, 8u);

    D3DCAPS9 ref;
    ASSERT_EQ(d3d->GetDeviceCaps(0, D3DDEVTYPE_REF, &ref), D3D_OK);
    EXPECT_EQ(ref.DeviceType, D3DDEVTYPE_REF);
    EXPECT_EQ(ref.DevCaps, caps.DevCaps);
    EXPECT_EQ(d3d->GetDeviceCaps(0, D3DDEVTYPE_SW, &caps), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(d3d->GetDeviceCaps(0, D3DDEVTYPE(9), &caps), D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d->GetDeviceCaps(5, D3DDEVTYPE_HAL, &caps), D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, nullptr), D3DERR_INVALIDCALL);
}

TEST(DefaultAdapter, NoDeviceWithoutAWindowAndNoSoftwareDevice)
{
    D3D d3d;
    D3DPRESENT_PARAMETERS pp = {};
    pp.Windowed = TRUE;
    pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    IDirect3DDevice9* device = reinterpret_cast<IDirect3DDevice9*>(1);
    EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, &device),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(d3d->CreateDevice(3, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, &device),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d->RegisterSoftwareDevice(nullptr), D3DERR_NOTAVAILABLE);
}

// ---------------------------------------------------------------------------
// Installed profiles

platform::AdapterProfile smallProfile(const char* description, std::vector<D3DDISPLAYMODE> modes)
{
    platform::AdapterProfile p = platform::defaultAdapterProfile();
    p.description = description;
    p.modes = std::move(modes);
    p.desktopMode = {1280, 1024, 75, D3DFMT_X8R8G8B8};
    return p;
}

TEST(InstalledProfiles, DriveSeveralAdapters)
{
    std::vector<platform::AdapterProfile> profiles = {
        smallProfile("First", {{800, 600, 60, D3DFMT_X8R8G8B8}, {800, 600, 60, D3DFMT_R5G6B5},
                               {1024, 768, 85, D3DFMT_X8R8G8B8}, {640, 480, 60, D3DFMT_X8R8G8B8}}),
        smallProfile(std::string(600, 'x').c_str(), {{1920, 1080, 60, D3DFMT_X8R8G8B8}}),
    };
    profiles[0].driverVersion = platform::makeDriverVersion(6, 14, 10, 9999);
    D3D d3d(&profiles);
    ASSERT_EQ(d3d->GetAdapterCount(), 2u);

    D3DADAPTER_IDENTIFIER9 id;
    ASSERT_EQ(d3d->GetAdapterIdentifier(0, 0, &id), D3D_OK);
    EXPECT_STREQ(id.Description, "First");
    EXPECT_EQ(HIWORD(id.DriverVersion.HighPart), 6);
    EXPECT_EQ(LOWORD(id.DriverVersion.HighPart), 14);
    EXPECT_EQ(HIWORD(id.DriverVersion.LowPart), 10);
    EXPECT_EQ(LOWORD(id.DriverVersion.LowPart), 9999);
    ASSERT_EQ(d3d->GetAdapterIdentifier(1, 0, &id), D3D_OK);
    EXPECT_EQ(std::strlen(id.Description), sizeof(id.Description) - 1);

    // Modes of one format in the profile's own order.
    ASSERT_EQ(d3d->GetAdapterModeCount(0, D3DFMT_X8R8G8B8), 3u);
    D3DDISPLAYMODE m;
    ASSERT_EQ(d3d->EnumAdapterModes(0, D3DFMT_X8R8G8B8, 1, &m), D3D_OK);
    EXPECT_EQ(m.Width, 1024u);
    EXPECT_EQ(m.RefreshRate, 85u);
    ASSERT_EQ(d3d->EnumAdapterModes(0, D3DFMT_X8R8G8B8, 2, &m), D3D_OK);
    EXPECT_EQ(m.Width, 640u);
    EXPECT_EQ(d3d->GetAdapterModeCount(1, D3DFMT_R5G6B5), 0u);
    ASSERT_EQ(d3d->GetAdapterDisplayMode(1, &m), D3D_OK);
    EXPECT_EQ(m.Width, 1280u);
    EXPECT_EQ(m.RefreshRate, 75u);

    EXPECT_NE(d3d->GetAdapterMonitor(0), d3d->GetAdapterMonitor(1));
    EXPECT_EQ(platform::monitorAdapter(d3d->GetAdapterMonitor(1)), 1);
    D3DCAPS9 caps;
    ASSERT_EQ(d3d->GetDeviceCaps(1, D3DDEVTYPE_HAL, &caps), D3D_OK);
    EXPECT_EQ(caps.AdapterOrdinal, 1u);
    EXPECT_EQ(caps.MasterAdapterOrdinal, 1u);
}

TEST(InstalledProfiles, ObjectsKeepTheProfilesTheyStartedWith)
{
    std::vector<platform::AdapterProfile> one = {smallProfile("Kept", {{800, 600, 60, D3DFMT_X8R8G8B8}})};
    D3D d3d(&one);
    platform::clearAdapterProfiles();
    std::vector<platform::AdapterProfile> none;
    D3D empty(&none);
    ASSERT_EQ(d3d->GetAdapterCount(), 1u);
    D3DADAPTER_IDENTIFIER9 id;
    ASSERT_EQ(d3d->GetAdapterIdentifier(0, 0, &id), D3D_OK);
    EXPECT_STREQ(id.Description, "Kept");

    EXPECT_EQ(empty->GetAdapterCount(), 0u);
    EXPECT_EQ(empty->GetAdapterIdentifier(0, 0, &id), D3DERR_INVALIDCALL);
    D3DCAPS9 caps;
    EXPECT_EQ(empty->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps), D3DERR_INVALIDCALL);
    EXPECT_EQ(empty->GetAdapterMonitor(0), nullptr);
}

TEST(InstalledProfiles, AdapterWithoutModesStillRunsInAWindow)
{
    std::vector<platform::AdapterProfile> profiles = {smallProfile("No modes", {})};
    D3D d3d(&profiles);
    EXPECT_EQ(d3d->GetAdapterModeCount(0, D3DFMT_X8R8G8B8), 0u);
    D3DDISPLAYMODE m;
    EXPECT_EQ(d3d->EnumAdapterModes(0, D3DFMT_X8R8G8B8, 0, &m), D3DERR_NOTAVAILABLE);
    // The desktop format is still displayed, so windowed checks pass.
    EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, TRUE), D3D_OK);
    EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_R5G6B5, D3DFMT_R5G6B5, FALSE), D3DERR_NOTAVAILABLE);
}

TEST(InstalledProfiles, AdapterWithoutFormatsRefusesEveryCheck)
{
    platform::AdapterProfile p = smallProfile("No formats", {{800, 600, 60, D3DFMT_X8R8G8B8}});
    p.deviceType = nullptr;
    p.deviceFormat = nullptr;
    p.depthStencilMatch = nullptr;
    std::vector<platform::AdapterProfile> profiles = {p};
    D3D d3d(&profiles);
    EXPECT_TRUE(collect(d3d.d3d, 0, 0, D3DRTYPE_TEXTURE).empty());
    EXPECT_TRUE(collect(d3d.d3d, D3DUSAGE_RENDERTARGET, D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_TEXTURE).empty());
    EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, TRUE), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(d3d->CheckDepthStencilMatch(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, D3DFMT_D24S8),
              D3DERR_NOTAVAILABLE);
    DWORD quality = 5;
    EXPECT_EQ(d3d->CheckDeviceMultiSampleType(0, D3DDEVTYPE_HAL, D3DFMT_A8R8G8B8, TRUE, D3DMULTISAMPLE_NONE,
                                              &quality),
              D3DERR_NOTAVAILABLE);
    EXPECT_EQ(quality, 0u);
}

TEST(InstalledProfiles, ScriptedAnswers)
{
    // An adapter without hardware T&L, a rejected R5G6B5 back buffer,
    // multisampling 2 and 4 only, no non-maskable levels, no REF device.
    platform::AdapterProfile p = smallProfile("Old", {{800, 600, 60, D3DFMT_X8R8G8B8}});
    p.caps.DevCaps &= ~DWORD(D3DDEVCAPS_HWTRANSFORMANDLIGHT | D3DDEVCAPS_PUREDEVICE);
    p.caps.VertexShaderVersion = D3DVS_VERSION(1, 0);
    p.deviceType = [](D3DFORMAT, D3DFORMAT backBuffer, BOOL) { return backBuffer != D3DFMT_R5G6B5; };
    p.multiSampleTypes = {D3DMULTISAMPLE_2_SAMPLES, D3DMULTISAMPLE_4_SAMPLES};
    p.nonMaskableQualityLevels = 0;
    p.referenceDevice = false;
    std::vector<platform::AdapterProfile> profiles = {p};
    D3D d3d(&profiles);

    D3DCAPS9 caps;
    ASSERT_EQ(d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps), D3D_OK);
    EXPECT_FALSE(caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT);
    EXPECT_EQ(caps.VertexShaderVersion & 0xFFFF, 0x100u);
    EXPECT_EQ(d3d->GetDeviceCaps(0, D3DDEVTYPE_REF, &caps), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_REF, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, TRUE), D3DERR_NOTAVAILABLE);

    EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5, TRUE), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, TRUE), D3D_OK);

    std::vector<int> types;
    for (int t = 2; t <= 16; ++t) {
        if (d3d->CheckDeviceMultiSampleType(0, D3DDEVTYPE_HAL, D3DFMT_A8R8G8B8, TRUE, D3DMULTISAMPLE_TYPE(t),
                                            nullptr) == D3D_OK)
            types.push_back(t);
    }
    EXPECT_EQ(types, (std::vector<int>{2, 4}));
    DWORD quality = 7;
    EXPECT_EQ(d3d->CheckDeviceMultiSampleType(0, D3DDEVTYPE_HAL, D3DFMT_A8R8G8B8, TRUE, D3DMULTISAMPLE_NONMASKABLE,
                                              &quality),
              D3DERR_NOTAVAILABLE);
    EXPECT_EQ(quality, 0u);
}

} // namespace
