// Device creation, present parameters, Clear and its viewport rules,
// Present, Reset and simulated loss.
#include "device_test_support.h"
#include "planted_files.h"
#include "scoped_state.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

constexpr uint32_t kRed = 0xFFFF0000u, kGreen = 0xFF00FF00u, kBlue = 0xFF0000FFu;

TEST(DeviceCreation, WindowedBackBufferTakesTheClientSize)
{
    DeviceFixture f(24, 10);
    ASSERT_EQ(f.created, D3D_OK);
    // The chosen size and count go back to the caller.
    EXPECT_EQ(f.pp.BackBufferWidth, 24u);
    EXPECT_EQ(f.pp.BackBufferHeight, 10u);
    ComRef<IDirect3DSurface9> back;
    ASSERT_EQ(f->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, back.out()), D3D_OK);
    D3DSURFACE_DESC desc{};
    back->GetDesc(&desc);
    EXPECT_EQ(desc.Width, 24u);
    EXPECT_EQ(desc.Height, 10u);
    EXPECT_EQ(desc.Format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(desc.Usage, DWORD(D3DUSAGE_RENDERTARGET));

    D3DVIEWPORT9 vp{};
    f->GetViewport(&vp);
    EXPECT_EQ(vp.Width, 24u);
    EXPECT_EQ(vp.Height, 10u);
    ComRef<IDirect3DSurface9> depth;
    ASSERT_EQ(f->GetDepthStencilSurface(depth.out()), D3D_OK);
    depth->GetDesc(&desc);
    EXPECT_EQ(desc.Format, D3DFMT_D24S8);
    DWORD z = 0;
    f->GetRenderState(D3DRS_ZENABLE, &z);
    EXPECT_EQ(z, DWORD(D3DZB_TRUE));
    ComRef<IDirect3DSurface9> second;
    EXPECT_EQ(f->GetBackBuffer(0, 1, D3DBACKBUFFER_TYPE_MONO, second.out()), D3DERR_INVALIDCALL); // one buffer asked for
    EXPECT_EQ(f->GetBackBuffer(1, 0, D3DBACKBUFFER_TYPE_MONO, second.out()), D3DERR_INVALIDCALL);
}

TEST(DeviceCreation, RecordsItsParameters)
{
    ComRef<IDirect3D9> d3d(Direct3DCreate9(D3D_SDK_VERSION));
    HWND focus = deviceTestWindow(8, 8);
    HWND second = deviceTestWindow(8, 8);
    D3DPRESENT_PARAMETERS pp = windowedParameters(second, false);
    ComRef<IDirect3DDevice9> device;
    const DWORD behaviour = D3DCREATE_MIXED_VERTEXPROCESSING | D3DCREATE_MULTITHREADED;
    ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, focus, behaviour, &pp, device.out()), D3D_OK);
    D3DDEVICE_CREATION_PARAMETERS cp{};
    ASSERT_EQ(device->GetCreationParameters(&cp), D3D_OK);
    EXPECT_EQ(cp.AdapterOrdinal, 0u);
    EXPECT_EQ(cp.DeviceType, D3DDEVTYPE_HAL);
    EXPECT_EQ(cp.hFocusWindow, focus);
    EXPECT_EQ(cp.BehaviorFlags, behaviour);
    DWORD z = 1;
    device->GetRenderState(D3DRS_ZENABLE, &z);
    EXPECT_EQ(z, DWORD(D3DZB_FALSE)); // no automatic depth buffer
    ComRef<IDirect3DSurface9> depth;
    EXPECT_EQ(device->GetDepthStencilSurface(depth.out()), D3DERR_NOTFOUND);

    // A mixed device switches vertex processing and records it.
    EXPECT_FALSE(device->GetSoftwareVertexProcessing());
    EXPECT_EQ(device->SetSoftwareVertexProcessing(TRUE), D3D_OK);
    EXPECT_TRUE(device->GetSoftwareVertexProcessing());

    ComRef<IDirect3D9> parent;
    ASSERT_EQ(device->GetDirect3D(parent.out()), D3D_OK);
    EXPECT_EQ(parent.get(), d3d.get());
    D3DCAPS9 caps{};
    ASSERT_EQ(device->GetDeviceCaps(&caps), D3D_OK);
    EXPECT_TRUE(caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT);
    EXPECT_EQ(caps.MaxSimultaneousTextures, 8u);
    D3DDISPLAYMODE mode{};
    ASSERT_EQ(device->GetDisplayMode(0, &mode), D3D_OK);
    EXPECT_GT(mode.Width, 0u);
    device.reset();
    DestroyWindow(focus);
    DestroyWindow(second);
}

TEST(DeviceCreation, HardwareDeviceRefusesTheVertexProcessingSwitch)
{
    DeviceFixture f;
    ASSERT_EQ(f.created, D3D_OK);
    EXPECT_EQ(f->SetSoftwareVertexProcessing(TRUE), D3DERR_INVALIDCALL);
    EXPECT_FALSE(f->GetSoftwareVertexProcessing());
}

TEST(DeviceCreation, RefusesBadParameters)
{
    ComRef<IDirect3D9> d3d(Direct3DCreate9(D3D_SDK_VERSION));
    HWND window = deviceTestWindow(8, 8);
    ComRef<IDirect3DDevice9> device;
    auto attempt = [&](D3DPRESENT_PARAMETERS pp, DWORD behaviour = D3DCREATE_HARDWARE_VERTEXPROCESSING) {
        return d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, behaviour, &pp, device.out());
    };
    D3DPRESENT_PARAMETERS pp = windowedParameters(window);
    pp.BackBufferCount = 4;
    EXPECT_EQ(attempt(pp), D3DERR_INVALIDCALL);
    pp = windowedParameters(window);
    pp.MultiSampleType = D3DMULTISAMPLE_4_SAMPLES; // with a lockable back buffer
    EXPECT_EQ(attempt(pp), D3DERR_INVALIDCALL);
    pp = windowedParameters(window);
    pp.AutoDepthStencilFormat = D3DFMT_A8R8G8B8;
    EXPECT_EQ(attempt(pp), D3DERR_INVALIDCALL);
    pp = windowedParameters(window);
    pp.Windowed = FALSE; // full screen needs a size
    EXPECT_EQ(attempt(pp), D3DERR_INVALIDCALL);
    pp = windowedParameters(window);
    EXPECT_EQ(attempt(pp, D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_SOFTWARE_VERTEXPROCESSING),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(attempt(pp, D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_PUREDEVICE), D3DERR_INVALIDCALL);
    EXPECT_EQ(device.get(), nullptr);
    DestroyWindow(window);
}

TEST(DeviceCreation, FullScreenTakesTheGivenSizeAndMultisamplingIsResolved)
{
    ComRef<IDirect3D9> d3d(Direct3DCreate9(D3D_SDK_VERSION));
    HWND window = deviceTestWindow(8, 8);
    D3DPRESENT_PARAMETERS pp = windowedParameters(window);
    pp.Windowed = FALSE;
    pp.BackBufferWidth = 32;
    pp.BackBufferHeight = 20;
    pp.Flags = D3DPRESENTFLAG_DISCARD_DEPTHSTENCIL;
    pp.MultiSampleType = D3DMULTISAMPLE_4_SAMPLES;
    ComRef<IDirect3DDevice9> device;
    ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, device.out()),
              D3D_OK);
    ComRef<IDirect3DSurface9> back;
    ASSERT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, back.out()), D3D_OK);
    D3DSURFACE_DESC desc{};
    back->GetDesc(&desc);
    EXPECT_EQ(desc.Width, 32u);
    EXPECT_EQ(desc.Height, 20u);
    EXPECT_EQ(desc.MultiSampleType, D3DMULTISAMPLE_4_SAMPLES);
    // Not lockable, not readable directly; the presented image is.
    D3DLOCKED_RECT lr{};
    EXPECT_EQ(back->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3DERR_INVALIDCALL);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kBlue, 1.0f, 0), D3D_OK);
    ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    ComRef<IDirect3DSurface9> front;
    ASSERT_EQ(device->CreateOffscreenPlainSurface(32, 20, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, front.out(), nullptr),
              D3D_OK);
    ASSERT_EQ(device->GetFrontBufferData(0, front.get()), D3D_OK);
    ASSERT_EQ(front->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(static_cast<const uint32_t*>(lr.pBits)[0], kBlue);
    EXPECT_EQ(*reinterpret_cast<const uint32_t*>(static_cast<const char*>(lr.pBits) + 19 * lr.Pitch + 31 * 4), kBlue);
    front->UnlockRect();
    device.reset();
    DestroyWindow(window);
}

// ---------------------------------------------------------------------------
// Clear

TEST(DeviceClear, WholeTargetThenRectanglesInsideTheViewport)
{
    DeviceFixture f(8, 8);
    ASSERT_EQ(f.created, D3D_OK);
    ASSERT_EQ(f->Clear(0, nullptr, D3DCLEAR_TARGET, kRed, 1.0f, 0), D3D_OK);
    std::vector<uint32_t> p = readBackBuffer(f.device.get());
    ASSERT_EQ(p.size(), 64u);
    for (uint32_t c : p)
        ASSERT_EQ(c, kRed);

    // Rectangles are clipped to the viewport: {2,2}-{6,6} here.
    D3DVIEWPORT9 vp{2, 2, 4, 4, 0.0f, 1.0f};
    ASSERT_EQ(f->SetViewport(&vp), D3D_OK);
    const D3DRECT rects[2] = {{0, 0, 3, 3}, {5, 5, 8, 8}};
    ASSERT_EQ(f->Clear(2, rects, D3DCLEAR_TARGET, kGreen, 1.0f, 0), D3D_OK);
    p = readBackBuffer(f.device.get());
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            const bool inFirst = x >= 2 && x < 3 && y >= 2 && y < 3;
            const bool inSecond = x >= 5 && x < 6 && y >= 5 && y < 6;
            EXPECT_EQ(p[y * 8 + x], inFirst || inSecond ? kGreen : kRed) << x << "," << y;
        }
    }
    // No rectangles: the whole viewport.
    ASSERT_EQ(f->Clear(0, nullptr, D3DCLEAR_TARGET, kBlue, 1.0f, 0), D3D_OK);
    p = readBackBuffer(f.device.get());
    EXPECT_EQ(p[0], kRed);
    EXPECT_EQ(p[2 * 8 + 2], kBlue);
    EXPECT_EQ(p[5 * 8 + 5], kBlue);
    EXPECT_EQ(p[6 * 8 + 6], kRed);
}

TEST(DeviceClear, IgnoresTheColourWriteMaskAndHonoursTheScissorTest)
{
    DeviceFixture f(8, 8);
    ASSERT_EQ(f.created, D3D_OK);
    f->SetRenderState(D3DRS_COLORWRITEENABLE, 0);
    ASSERT_EQ(f->Clear(0, nullptr, D3DCLEAR_TARGET, kRed, 1.0f, 0), D3D_OK);
    RECT scissor{0, 0, 4, 8};
    f->SetScissorRect(&scissor);
    f->SetRenderState(D3DRS_SCISSORTESTENABLE, TRUE);
    ASSERT_EQ(f->Clear(0, nullptr, D3DCLEAR_TARGET, kGreen, 1.0f, 0), D3D_OK);
    const std::vector<uint32_t> p = readBackBuffer(f.device.get());
    EXPECT_EQ(p[0], kGreen);
    EXPECT_EQ(p[3], kGreen);
    EXPECT_EQ(p[4], kRed);
    DWORD mask = 1;
    f->GetRenderState(D3DRS_COLORWRITEENABLE, &mask);
    EXPECT_EQ(mask, 0u); // the state itself is untouched
}

TEST(DeviceClear, RefusesWhatDirect3DRefusesAndChangesNothing)
{
    DeviceFixture f(4, 4, false);
    ASSERT_EQ(f.created, D3D_OK);
    ASSERT_EQ(f->Clear(0, nullptr, D3DCLEAR_TARGET, kRed, 1.0f, 0), D3D_OK);
    const D3DRECT r{0, 0, 2, 2};
    EXPECT_EQ(f->Clear(1, nullptr, D3DCLEAR_TARGET, kGreen, 1.0f, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(f->Clear(0, &r, D3DCLEAR_TARGET, kGreen, 1.0f, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(f->Clear(0, nullptr, 0, kGreen, 1.0f, 0), D3DERR_INVALIDCALL);
    // No depth buffer: depth and stencil clears fail as a whole.
    EXPECT_EQ(f->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kGreen, 1.0f, 0), D3DERR_INVALIDCALL);
    for (uint32_t c : readBackBuffer(f.device.get()))
        EXPECT_EQ(c, kRed);
}

TEST(DeviceClear, StencilNeedsAStencilFormat)
{
    DeviceFixture f(4, 4);
    ASSERT_EQ(f.created, D3D_OK);
    ComRef<IDirect3DSurface9> depthOnly;
    ASSERT_EQ(f->CreateDepthStencilSurface(4, 4, D3DFMT_D16, D3DMULTISAMPLE_NONE, 0, FALSE, depthOnly.out(), nullptr),
              D3D_OK);
    ASSERT_EQ(f->SetDepthStencilSurface(depthOnly.get()), D3D_OK);
    EXPECT_EQ(f->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3D_OK);
    EXPECT_EQ(f->Clear(0, nullptr, D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0, 1.0f, 0), D3DERR_INVALIDCALL);
}

// ---------------------------------------------------------------------------
// Frame, present and loss

TEST(DeviceFrame, ScenesDoNotNest)
{
    DeviceFixture f(4, 4);
    ASSERT_EQ(f.created, D3D_OK);
    EXPECT_EQ(f->EndScene(), D3DERR_INVALIDCALL);
    EXPECT_EQ(f->BeginScene(), D3D_OK);
    EXPECT_EQ(f->BeginScene(), D3DERR_INVALIDCALL);
    EXPECT_EQ(f->EndScene(), D3D_OK);
    EXPECT_EQ(f->EndScene(), D3DERR_INVALIDCALL);
}

TEST(DeviceFrame, ReadOnlyRectangleLocksReadWhatWasDrawnLast)
{
    DeviceFixture f(8, 6);
    ASSERT_EQ(f.created, D3D_OK);
    ComRef<IDirect3DSurface9> back;
    ASSERT_EQ(f->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, back.out()), D3D_OK);
    ASSERT_EQ(f->Clear(0, nullptr, D3DCLEAR_TARGET, kRed, 1.0f, 0), D3D_OK);
    const D3DRECT top{0, 0, 8, 3};
    ASSERT_EQ(f->Clear(1, &top, D3DCLEAR_TARGET, kGreen, 1.0f, 0), D3D_OK);
    D3DLOCKED_RECT lr{};
    auto at = [&](int x, int y) {
        return *reinterpret_cast<const uint32_t*>(static_cast<const char*>(lr.pBits) + y * lr.Pitch + x * 4);
    };
    // The block straddles the two clears; after a further draw into it, a
    // second lock sees that draw.
    const RECT block{2, 2, 5, 5};
    ASSERT_EQ(back->LockRect(&lr, &block, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(at(0, 0), kGreen);
    EXPECT_EQ(at(2, 2), kRed);
    back->UnlockRect();
    const D3DRECT corner{4, 4, 5, 5};
    ASSERT_EQ(f->Clear(1, &corner, D3DCLEAR_TARGET, kBlue, 1.0f, 0), D3D_OK);
    ASSERT_EQ(back->LockRect(&lr, &block, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(at(2, 2), kBlue);
    EXPECT_EQ(at(1, 2), kRed);
    back->UnlockRect();
    // A whole lock still gets every pixel, also those no block read.
    ASSERT_EQ(back->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(at(0, 0), kGreen);
    EXPECT_EQ(at(7, 2), kGreen);
    EXPECT_EQ(at(4, 4), kBlue);
    EXPECT_EQ(at(7, 5), kRed);
    back->UnlockRect();
}

TEST(DeviceFrame, PresentKeepsTheFrameForTheFrontBufferCopy)
{
    DeviceFixture f(6, 4);
    ASSERT_EQ(f.created, D3D_OK);
    ASSERT_EQ(f->Clear(0, nullptr, D3DCLEAR_TARGET, kGreen, 1.0f, 0), D3D_OK);
    ASSERT_EQ(f->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    ASSERT_EQ(f->Clear(0, nullptr, D3DCLEAR_TARGET, kRed, 1.0f, 0), D3D_OK);
    // Windowed: a desktop-sized copy with the window's image at its place.
    ComRef<IDirect3DSurface9> front;
    ASSERT_EQ(f->CreateOffscreenPlainSurface(10, 6, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, front.out(), nullptr), D3D_OK);
    ASSERT_EQ(f->GetFrontBufferData(0, front.get()), D3D_OK);
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(front->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    auto at = [&](int x, int y) {
        return *reinterpret_cast<const uint32_t*>(static_cast<const char*>(lr.pBits) + y * lr.Pitch + x * 4);
    };
    EXPECT_EQ(at(0, 0), kGreen);
    EXPECT_EQ(at(5, 3), kGreen);
    EXPECT_EQ(at(6, 3), 0xFF000000u);
    EXPECT_EQ(at(0, 5), 0xFF000000u);
    front->UnlockRect();
    ComRef<IDirect3DSurface9> wrongFormat;
    ASSERT_EQ(f->CreateOffscreenPlainSurface(10, 6, D3DFMT_R5G6B5, D3DPOOL_SYSTEMMEM, wrongFormat.out(), nullptr),
              D3D_OK);
    EXPECT_EQ(f->GetFrontBufferData(0, wrongFormat.get()), D3DERR_INVALIDCALL);
}

// Frames go to new files only: never through a link planted under a frame's
// name, nor into a FIFO, whose reader Present would wait for.
TEST(DeviceFrame, ScreenFilesAreTopDown24BitBitmaps)
{
    const std::filesystem::path folder = std::filesystem::current_path() / "device_screens";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const std::string target = testsupport::plantLink(folder / "screen000002.bmp");
    {
        testsupport::PlantedFifo fifo(folder / "screen000003.bmp");
        {
            testsupport::ScopedEnv screens("QUILLON_SCREEN_DIR", folder.c_str());
            DeviceFixture f(3, 2);
            ASSERT_EQ(f.created, D3D_OK);
            const D3DRECT top{0, 0, 3, 1};
            f->Clear(0, nullptr, D3DCLEAR_TARGET, kBlue, 1.0f, 0);
            f->Clear(1, &top, D3DCLEAR_TARGET, kRed, 1.0f, 0);
            for (int frame = 0; frame < 4; ++frame)
                EXPECT_EQ(f->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK) << frame;
        } // a writer of its own would have ended with the device
        EXPECT_FALSE(fifo.rescued());
    }
    EXPECT_EQ(fileBytes(target), "keep");
    const auto bytes = fileBytes<std::vector<unsigned char>>((folder / "screen000000.bmp").string());
    ASSERT_EQ(bytes.size(), 54u + 2 * 12u); // rows of 9 bytes padded to 12
    int32_t height;
    std::memcpy(&height, &bytes[22], 4);
    EXPECT_EQ(height, -2);
    EXPECT_EQ(bytes[28], 24);
    // First row red (B, G, R), second row blue.
    EXPECT_EQ(bytes[54], 0);
    EXPECT_EQ(bytes[56], 255);
    EXPECT_EQ(bytes[54 + 12], 255);
    EXPECT_EQ(bytes[54 + 14], 0);
    EXPECT_TRUE(std::filesystem::exists(folder / "screen000001.bmp"));
    std::filesystem::remove_all(folder);
}

TEST(DeviceLoss, MinimisingLosesTheDeviceAndRestoringWantsAReset)
{
    DeviceFixture f(8, 8);
    ASSERT_EQ(f.created, D3D_OK);
    EXPECT_EQ(f->TestCooperativeLevel(), D3D_OK);
    ShowWindow(f.window, SW_MINIMIZE);
    EXPECT_EQ(f->TestCooperativeLevel(), D3DERR_DEVICELOST);
    EXPECT_EQ(f->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    EXPECT_EQ(f->Reset(&f.pp), D3DERR_DEVICELOST);
    ShowWindow(f.window, SW_RESTORE);
    EXPECT_EQ(f->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    EXPECT_EQ(f->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    ASSERT_EQ(f->Reset(&f.pp), D3D_OK);
    EXPECT_EQ(f->TestCooperativeLevel(), D3D_OK);
    EXPECT_EQ(f->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
}

TEST(DeviceLoss, ForcedLossAndAFailedReset)
{
    DeviceFixture f(8, 8);
    ASSERT_EQ(f.created, D3D_OK);
    platform::d3d9::forceDeviceLost(f.device.get());
    EXPECT_EQ(f->TestCooperativeLevel(), D3DERR_DEVICELOST);
    platform::d3d9::forceDeviceLost(f.device.get(), false);
    EXPECT_EQ(f->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    platform::d3d9::failNextReset(f.device.get());
    EXPECT_TRUE(FAILED(f->Reset(&f.pp)));
    EXPECT_EQ(f->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    EXPECT_EQ(f->Reset(&f.pp), D3D_OK);
    EXPECT_EQ(f->TestCooperativeLevel(), D3D_OK);
}

TEST(DeviceReset, RebuildsTheBackBufferAndKeepsResources)
{
    DeviceFixture f(8, 8);
    ASSERT_EQ(f.created, D3D_OK);
    ComRef<IDirect3DTexture9> target;
    ASSERT_EQ(f->CreateTexture(4, 4, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, target.out(), nullptr),
              D3D_OK);
    ComRef<IDirect3DSurface9> level;
    target->GetSurfaceLevel(0, level.out());
    f->SetRenderTarget(0, level.get());
    f->Clear(0, nullptr, D3DCLEAR_TARGET, kGreen, 1.0f, 0);
    f->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    ComRef<IDirect3DSurface9> heldBack;
    f->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, heldBack.out());

    D3DPRESENT_PARAMETERS pp = f.pp;
    pp.BackBufferWidth = 12;
    pp.BackBufferHeight = 6;
    ASSERT_EQ(f->Reset(&pp), D3D_OK);
    // States back to their defaults, the back buffer bound again, new size.
    DWORD cull = 0;
    f->GetRenderState(D3DRS_CULLMODE, &cull);
    EXPECT_EQ(cull, DWORD(D3DCULL_CCW));
    ComRef<IDirect3DSurface9> bound;
    f->GetRenderTarget(0, bound.out());
    EXPECT_EQ(bound.get(), heldBack.get()); // a held back buffer stays the back buffer
    D3DSURFACE_DESC desc{};
    bound->GetDesc(&desc);
    EXPECT_EQ(desc.Width, 12u);
    D3DVIEWPORT9 vp{};
    f->GetViewport(&vp);
    EXPECT_EQ(vp.Width, 12u);
    EXPECT_EQ(vp.Height, 6u);
    // The default-pool target kept its contents.
    const std::vector<uint32_t> p = readTarget(f.device.get(), level.get());
    ASSERT_EQ(p.size(), 16u);
    EXPECT_EQ(p[5], kGreen);
}

} // namespace
