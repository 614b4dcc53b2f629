// Draws through the fixed-function pipeline, checked pixel by pixel against
// Direct3D 9's rules: pixel centres, depth, blending, stencil, write masks,
// culling, fill mode, clip planes, index sizes and the UP draws.
#include "device_test_support.h"

#include <cmath>

namespace {

constexpr uint32_t kRed = 0xFFFF0000u, kGreen = 0xFF00FF00u, kBlue = 0xFF0000FFu, kBlack = 0xFF000000u;

int channel(uint32_t c, int shift)
{
    return int((c >> shift) & 0xFF);
}

// A 4 x 4 A8R8G8B8 texture whose texel (x, y) is white when x + y is odd.
ComRef<IDirect3DTexture9> checker(IDirect3DDevice9* device)
{
    ComRef<IDirect3DTexture9> t;
    if (FAILED(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, t.out(), nullptr)))
        return t;
    D3DLOCKED_RECT lr{};
    t->LockRect(0, &lr, nullptr, 0);
    for (int y = 0; y < 4; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(static_cast<char*>(lr.pBits) + y * lr.Pitch);
        for (int x = 0; x < 4; ++x)
            row[x] = ((x + y) & 1) ? 0xFFFFFFFFu : kBlack;
    }
    t->UnlockRect(0);
    return t;
}

void drawTlQuad(IDirect3DDevice9* device, float x0, float y0, float x1, float y1, D3DCOLOR colour, float z = 0.5f)
{
    TlVertex v[4];
    tlQuad(v, x0, y0, x1, y1, colour, z);
    device->SetFVF(kTlFvf);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(TlVertex)), D3D_OK);
}

TEST(DeviceDraw, PretransformedQuadCoversExactlyItsPixels)
{
    DeviceFixture f(8, 8);
    ASSERT_EQ(f.created, D3D_OK);
    flatColourStates(f.device.get());
    f->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kBlack, 1.0f, 0);
    // Corners at -0.5 put the edges between pixels: pixels 2..5 exactly.
    drawTlQuad(f.device.get(), 1.5f, 1.5f, 5.5f, 5.5f, kRed);
    const std::vector<uint32_t> p = readBackBuffer(f.device.get());
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            const bool inside = x >= 2 && x <= 5 && y >= 2 && y <= 5;
            EXPECT_EQ(p[y * 8 + x], inside ? kRed : kBlack) << x << "," << y;
        }
    }
}

class TexelExact : public ::testing::TestWithParam<DWORD> {};

TEST_P(TexelExact, CheckerMapsTexelForPixel)
{
    DeviceFixture f(4, 4);
    ASSERT_EQ(f.created, D3D_OK);
    ComRef<IDirect3DTexture9> t = checker(f.device.get());
    ASSERT_TRUE(t);
    f->SetTexture(0, t.get());
    f->SetRenderState(D3DRS_LIGHTING, FALSE);
    f->SetSamplerState(0, D3DSAMP_MINFILTER, GetParam());
    f->SetSamplerState(0, D3DSAMP_MAGFILTER, GetParam());
    f->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kBlue, 1.0f, 0);
    drawTlQuad(f.device.get(), -0.5f, -0.5f, 3.5f, 3.5f, 0xFFFFFFFFu);
    const std::vector<uint32_t> p = readBackBuffer(f.device.get());
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(p[y * 4 + x], ((x + y) & 1) ? 0xFFFFFFFFu : kBlack) << x << "," << y;
    }
}

INSTANTIATE_TEST_SUITE_P(Filters, TexelExact, ::testing::Values(DWORD(D3DTEXF_POINT), DWORD(D3DTEXF_LINEAR)));

TEST(DeviceDraw, LinearFilterBlendsNeighboursHalfATexelOff)
{
    DeviceFixture f(4, 4);
    ASSERT_EQ(f.created, D3D_OK);
    ComRef<IDirect3DTexture9> t = checker(f.device.get());
    f->SetTexture(0, t.get());
    f->SetRenderState(D3DRS_ZENABLE, FALSE);
    f->SetRenderState(D3DRS_LIGHTING, FALSE);
    f->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    f->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    f->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    f->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    // Edges on pixel centres: pixel x samples halfway between texels x - 1
    // and x (clamped at the left edge), rows stay exact.
    drawTlQuad(f.device.get(), 0.0f, -0.5f, 4.0f, 3.5f, 0xFFFFFFFFu);
    const std::vector<uint32_t> p = readBackBuffer(f.device.get());
    for (int y = 0; y < 4; ++y) {
        EXPECT_EQ(p[y * 4], (y & 1) ? 0xFFFFFFFFu : kBlack) << y;
        for (int x = 1; x < 4; ++x)
            EXPECT_NEAR(channel(p[y * 4 + x], 8), 128, 1) << x << "," << y;
    }
}

TEST(DeviceDraw, DepthTestAndWrite)
{
    DeviceFixture f(4, 4);
    ASSERT_EQ(f.created, D3D_OK);
    flatColourStates(f.device.get());
    f->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kBlack, 1.0f, 0);
    drawTlQuad(f.device.get(), -0.5f, -0.5f, 3.5f, 3.5f, kRed, 0.5f);
    drawTlQuad(f.device.get(), -0.5f, -0.5f, 3.5f, 3.5f, kGreen, 0.7f); // behind
    EXPECT_EQ(readBackBuffer(f.device.get())[5], kRed);
    drawTlQuad(f.device.get(), -0.5f, -0.5f, 3.5f, 3.5f, kBlue, 0.3f); // in front
    EXPECT_EQ(readBackBuffer(f.device.get())[5], kBlue);
    f->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    drawTlQuad(f.device.get(), -0.5f, -0.5f, 3.5f, 3.5f, kGreen, 0.2f); // drawn, depth kept
    f->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    drawTlQuad(f.device.get(), -0.5f, -0.5f, 3.5f, 3.5f, kRed, 0.25f); // still in front of 0.3
    EXPECT_EQ(readBackBuffer(f.device.get())[5], kRed);
    f->SetRenderState(D3DRS_ZFUNC, D3DCMP_GREATER);
    drawTlQuad(f.device.get(), -0.5f, -0.5f, 3.5f, 3.5f, kBlue, 0.9f);
    EXPECT_EQ(readBackBuffer(f.device.get())[5], kBlue);
    f->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    f->SetRenderState(D3DRS_ZFUNC, D3DCMP_NEVER);
    drawTlQuad(f.device.get(), -0.5f, -0.5f, 3.5f, 3.5f, kGreen, 0.95f);
    EXPECT_EQ(readBackBuffer(f.device.get())[5], kGreen);
}

TEST(DeviceDraw, BlendingFollowsTheFactors)
{
    DeviceFixture f(4, 4);
    ASSERT_EQ(f.created, D3D_OK);
    flatColourStates(f.device.get());
    f->SetRenderState(D3DRS_ZENABLE, FALSE);
    f->Clear(0, nullptr, D3DCLEAR_TARGET, kRed, 1.0f, 0);
    f->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    f->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    f->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    drawTlQuad(f.device.get(), -0.5f, -0.5f, 3.5f, 3.5f, 0x8000FF00u);
    uint32_t c = readBackBuffer(f.device.get())[0];
    // src * a + dst * (1 - a), a = 128 / 255
    EXPECT_NEAR(channel(c, 8), 128, 1);
    EXPECT_NEAR(channel(c, 16), 127, 1);
    EXPECT_EQ(channel(c, 0), 0);

    f->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF404040u, 1.0f, 0);
    f->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    f->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    drawTlQuad(f.device.get(), -0.5f, -0.5f, 3.5f, 3.5f, 0x00302010u);
    c = readBackBuffer(f.device.get())[0];
    EXPECT_EQ(c & 0xFFFFFFu, 0x706050u);
}

TEST(DeviceDraw, StencilWrittenThenTested)
{
    DeviceFixture f(4, 4);
    ASSERT_EQ(f.created, D3D_OK);
    flatColourStates(f.device.get());
    f->SetRenderState(D3DRS_ZENABLE, FALSE);
    f->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_STENCIL, kBlack, 1.0f, 0);
    f->SetRenderState(D3DRS_STENCILENABLE, TRUE);
    f->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_ALWAYS);
    f->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_REPLACE);
    f->SetRenderState(D3DRS_STENCILREF, 1);
    f->SetRenderState(D3DRS_COLORWRITEENABLE, 0);
    drawTlQuad(f.device.get(), -0.5f, -0.5f, 1.5f, 3.5f, kRed); // left half: stencil 1
    f->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
    f->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_EQUAL);
    f->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_INCR);
    drawTlQuad(f.device.get(), -0.5f, -0.5f, 3.5f, 3.5f, kGreen);
    std::vector<uint32_t> p = readBackBuffer(f.device.get());
    EXPECT_EQ(p[0], kGreen);
    EXPECT_EQ(p[1], kGreen);
    EXPECT_EQ(p[2], kBlack);
    EXPECT_EQ(p[3], kBlack);
    // The pass incremented the left half to 2.
    f->SetRenderState(D3DRS_STENCILREF, 2);
    f->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_KEEP);
    drawTlQuad(f.device.get(), -0.5f, -0.5f, 3.5f, 3.5f, kBlue);
    p = readBackBuffer(f.device.get());
    EXPECT_EQ(p[0], kBlue);
    EXPECT_EQ(p[3], kBlack);
    DWORD value = 0;
    f->GetRenderState(D3DRS_STENCILREF, &value);
    EXPECT_EQ(value, 2u);
}

TEST(DeviceDraw, ColourWriteMaskKeepsMaskedChannels)
{
    DeviceFixture f(4, 4);
    ASSERT_EQ(f.created, D3D_OK);
    flatColourStates(f.device.get());
    f->SetRenderState(D3DRS_ZENABLE, FALSE);
    f->Clear(0, nullptr, D3DCLEAR_TARGET, 0x110000FFu, 1.0f, 0);
    f->SetRenderState(D3DRS_COLORWRITEENABLE, D3DCOLORWRITEENABLE_RED | D3DCOLORWRITEENABLE_ALPHA);
    drawTlQuad(f.device.get(), -0.5f, -0.5f, 3.5f, 3.5f, 0xFFFFFFFFu);
    EXPECT_EQ(readBackBuffer(f.device.get())[0], 0xFFFF00FFu);
}

TEST(DeviceDraw, CullingByScreenWinding)
{
    DeviceFixture f(4, 4);
    ASSERT_EQ(f.created, D3D_OK);
    flatColourStates(f.device.get());
    f->SetRenderState(D3DRS_ZENABLE, FALSE);
    f->SetFVF(kTlFvf);
    TlVertex cw[4];
    tlQuad(cw, -0.5f, -0.5f, 3.5f, 3.5f, kRed);
    TlVertex ccw[4] = {cw[0], cw[2], cw[1], cw[3]};
    struct Case {
        DWORD cull;
        bool drawsClockwise, drawsCounterClockwise;
    } cases[] = {{D3DCULL_CCW, true, false}, {D3DCULL_CW, false, true}, {D3DCULL_NONE, true, true}};
    for (const Case& c : cases) {
        f->SetRenderState(D3DRS_CULLMODE, c.cull);
        f->Clear(0, nullptr, D3DCLEAR_TARGET, kBlack, 1.0f, 0);
        f->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, cw, sizeof(TlVertex));
        EXPECT_EQ(readBackBuffer(f.device.get())[5], c.drawsClockwise ? kRed : kBlack) << c.cull;
        f->Clear(0, nullptr, D3DCLEAR_TARGET, kBlack, 1.0f, 0);
        f->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, ccw, sizeof(TlVertex));
        EXPECT_EQ(readBackBuffer(f.device.get())[5], c.drawsCounterClockwise ? kRed : kBlack) << c.cull;
    }
}

TEST(DeviceDraw, WireframeDrawsOnlyEdges)
{
    DeviceFixture f(8, 8);
    ASSERT_EQ(f.created, D3D_OK);
    flatColourStates(f.device.get());
    f->SetRenderState(D3DRS_ZENABLE, FALSE);
    f->SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME);
    f->Clear(0, nullptr, D3DCLEAR_TARGET, kBlack, 1.0f, 0);
    TlVertex v[3] = {{1, 1, 0.5f, 1, kGreen, 0, 0}, {6, 1, 0.5f, 1, kGreen, 0, 0}, {1, 6, 0.5f, 1, kGreen, 0, 0}};
    f->SetFVF(kTlFvf);
    ASSERT_EQ(f->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, sizeof(TlVertex)), D3D_OK);
    const std::vector<uint32_t> p = readBackBuffer(f.device.get());
    EXPECT_EQ(p[1 * 8 + 3], kGreen); // on the top edge
    EXPECT_EQ(p[3 * 8 + 1], kGreen); // on the left edge
    EXPECT_EQ(p[2 * 8 + 2], kBlack); // inside
}

TEST(DeviceDraw, WorldSpaceClipPlaneOnTheFixedFunctionPath)
{
    DeviceFixture f(8, 8);
    ASSERT_EQ(f.created, D3D_OK);
    flatColourStates(f.device.get());
    f->SetRenderState(D3DRS_ZENABLE, FALSE);
    f->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    f->Clear(0, nullptr, D3DCLEAR_TARGET, kBlack, 1.0f, 0);
    // Identity transforms: world space is clip space. Keep x >= 0.1.
    const float plane[4] = {1.0f, 0.0f, 0.0f, -0.1f};
    ASSERT_EQ(f->SetClipPlane(0, plane), D3D_OK);
    f->SetRenderState(D3DRS_CLIPPLANEENABLE, D3DCLIPPLANE0);
    ColourVertex quad[4] = {{-1, 1, 0.5f, kRed}, {1, 1, 0.5f, kRed}, {-1, -1, 0.5f, kRed}, {1, -1, 0.5f, kRed}};
    f->SetFVF(kColourFvf);
    ASSERT_EQ(f->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(ColourVertex)), D3D_OK);
    std::vector<uint32_t> p = readBackBuffer(f.device.get());
    for (int x = 0; x < 4; ++x)
        EXPECT_EQ(p[3 * 8 + x], kBlack) << x;
    for (int x = 5; x < 8; ++x)
        EXPECT_EQ(p[3 * 8 + x], kRed) << x;
    // Off again: everything drawn.
    f->SetRenderState(D3DRS_CLIPPLANEENABLE, 0);
    f->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(ColourVertex));
    p = readBackBuffer(f.device.get());
    EXPECT_EQ(p[3 * 8 + 0], kRed);
    float back[4] = {};
    f->GetClipPlane(0, back);
    EXPECT_EQ(back[3], -0.1f);
}

TEST(DeviceDraw, TransformsPlaceWorldGeometry)
{
    DeviceFixture f(8, 8);
    ASSERT_EQ(f.created, D3D_OK);
    flatColourStates(f.device.get());
    f->SetRenderState(D3DRS_ZENABLE, FALSE);
    f->Clear(0, nullptr, D3DCLEAR_TARGET, kBlack, 1.0f, 0);
    // A unit quad scaled by 0.5 and moved right by 0.5 (row-vector matrices,
    // translation in row 4): it covers x in [0, 1], y in [-0.5, 0.5].
    D3DMATRIX world{};
    world._11 = world._22 = 0.5f;
    world._33 = world._44 = 1.0f;
    world._41 = 0.5f;
    ASSERT_EQ(f->SetTransform(D3DTS_WORLD, &world), D3D_OK);
    D3DMATRIX got{};
    f->GetTransform(D3DTS_WORLDMATRIX(0), &got);
    EXPECT_EQ(got._41, 0.5f);
    ColourVertex quad[4] = {{-1, 1, 0.5f, kGreen}, {1, 1, 0.5f, kGreen}, {-1, -1, 0.5f, kGreen}, {1, -1, 0.5f, kGreen}};
    f->SetFVF(kColourFvf);
    ASSERT_EQ(f->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(ColourVertex)), D3D_OK);
    const std::vector<uint32_t> p = readBackBuffer(f.device.get());
    EXPECT_EQ(p[3 * 8 + 2], kBlack);
    EXPECT_EQ(p[3 * 8 + 5], kGreen);
    EXPECT_EQ(p[0 * 8 + 5], kBlack);
}

// ---------------------------------------------------------------------------
// Buffers and index sizes

struct QuadBuffers {
    ComRef<IDirect3DVertexBuffer9> vb;
    ComRef<IDirect3DIndexBuffer9> ib;
};

QuadBuffers makeQuadBuffers(IDirect3DDevice9* device, D3DFORMAT indexFormat, D3DCOLOR colour)
{
    QuadBuffers b;
    // Vertices 0-3 off screen, 4-7 the full-target quad: drawn with base 4.
    TlVertex v[8];
    TlVertex off[4];
    tlQuad(off, 100, 100, 101, 101, kBlue);
    TlVertex on[4];
    tlQuad(on, -0.5f, -0.5f, 3.5f, 3.5f, colour);
    for (int i = 0; i < 4; ++i) {
        v[i] = off[i];
        v[4 + i] = on[i];
    }
    device->CreateVertexBuffer(sizeof v, D3DUSAGE_WRITEONLY, kTlFvf, D3DPOOL_MANAGED, b.vb.out(), nullptr);
    void* data = nullptr;
    b.vb->Lock(0, 0, &data, 0);
    std::memcpy(data, v, sizeof v);
    b.vb->Unlock();
    const unsigned indices[6] = {0, 1, 2, 2, 1, 3};
    const UINT size = indexFormat == D3DFMT_INDEX32 ? 4 : 2;
    device->CreateIndexBuffer(6 * size + 4 * size, D3DUSAGE_WRITEONLY, indexFormat, D3DPOOL_MANAGED, b.ib.out(), nullptr);
    b.ib->Lock(0, 0, &data, 0);
    auto* bytes = static_cast<unsigned char*>(data);
    for (int i = 0; i < 6; ++i) {
        // Two leading unused indices: the draw starts at index 2.
        if (size == 4) {
            const uint32_t value = indices[i];
            std::memcpy(bytes + (i + 2) * 4, &value, 4);
        } else {
            const uint16_t value = uint16_t(indices[i]);
            std::memcpy(bytes + (i + 2) * 2, &value, 2);
        }
    }
    b.ib->Unlock();
    return b;
}

class IndexSizes : public ::testing::TestWithParam<D3DFORMAT> {};

TEST_P(IndexSizes, IndexedDrawWithBaseVertexAndStartIndex)
{
    DeviceFixture f(4, 4);
    ASSERT_EQ(f.created, D3D_OK);
    flatColourStates(f.device.get());
    f->SetRenderState(D3DRS_ZENABLE, FALSE);
    f->Clear(0, nullptr, D3DCLEAR_TARGET, kBlack, 1.0f, 0);
    QuadBuffers b = makeQuadBuffers(f.device.get(), GetParam(), kGreen);
    ASSERT_TRUE(b.vb && b.ib);
    f->SetFVF(kTlFvf);
    f->SetStreamSource(0, b.vb.get(), 0, sizeof(TlVertex));
    f->SetIndices(b.ib.get());
    ASSERT_EQ(f->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 4, 0, 4, 2, 2), D3D_OK);
    for (uint32_t c : readBackBuffer(f.device.get()))
        EXPECT_EQ(c, kGreen);
    // Out of range: past the indices, past the vertices.
    EXPECT_EQ(f->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 4, 0, 4, 5, 2), D3DERR_INVALIDCALL);
    EXPECT_EQ(f->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 5, 0, 4, 2, 2), D3DERR_INVALIDCALL);
}

INSTANTIATE_TEST_SUITE_P(Formats, IndexSizes, ::testing::Values(D3DFMT_INDEX16, D3DFMT_INDEX32));

TEST(DeviceDraw, DrawPrimitiveFromAStreamWithOffset)
{
    DeviceFixture f(4, 4);
    ASSERT_EQ(f.created, D3D_OK);
    flatColourStates(f.device.get());
    f->SetRenderState(D3DRS_ZENABLE, FALSE);
    f->Clear(0, nullptr, D3DCLEAR_TARGET, kBlack, 1.0f, 0);
    QuadBuffers b = makeQuadBuffers(f.device.get(), D3DFMT_INDEX16, kRed);
    f->SetFVF(kTlFvf);
    // The stream offset skips the off-screen vertices.
    f->SetStreamSource(0, b.vb.get(), 4 * sizeof(TlVertex), sizeof(TlVertex));
    ASSERT_EQ(f->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
    EXPECT_EQ(readBackBuffer(f.device.get())[10], kRed);
    EXPECT_EQ(f->DrawPrimitive(D3DPT_TRIANGLESTRIP, 1, 2), D3DERR_INVALIDCALL); // one vertex too many
    // A start vertex near the top of the range must not wrap past the check.
    EXPECT_EQ(f->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0xFFFFFFFEu, 2), D3DERR_INVALIDCALL);
}

TEST(DeviceDraw, UpDrawsLeaveStreamZeroAndIndicesUnset)
{
    DeviceFixture f(4, 4);
    ASSERT_EQ(f.created, D3D_OK);
    flatColourStates(f.device.get());
    f->SetRenderState(D3DRS_ZENABLE, FALSE);
    QuadBuffers b = makeQuadBuffers(f.device.get(), D3DFMT_INDEX16, kRed);
    f->SetStreamSource(0, b.vb.get(), 0, sizeof(TlVertex));
    f->SetIndices(b.ib.get());
    f->Clear(0, nullptr, D3DCLEAR_TARGET, kBlack, 1.0f, 0);
    TlVertex v[4];
    tlQuad(v, -0.5f, -0.5f, 3.5f, 3.5f, kBlue);
    const uint16_t indices[6] = {0, 1, 2, 2, 1, 3};
    f->SetFVF(kTlFvf);
    ASSERT_EQ(f->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 4, 2, indices, D3DFMT_INDEX16, v, sizeof(TlVertex)),
              D3D_OK);
    EXPECT_EQ(readBackBuffer(f.device.get())[15], kBlue);
    ComRef<IDirect3DVertexBuffer9> stream;
    UINT offset = 1, stride = 1;
    f->GetStreamSource(0, stream.out(), &offset, &stride);
    EXPECT_EQ(stream.get(), nullptr);
    EXPECT_EQ(offset, 0u);
    EXPECT_EQ(stride, 0u);
    ComRef<IDirect3DIndexBuffer9> indexBuffer;
    f->GetIndices(indexBuffer.out());
    EXPECT_EQ(indexBuffer.get(), nullptr);
}

// A dynamic vertex buffer of this many vertices, bound as stream 0 with flat
// colours and no depth test.
ComRef<IDirect3DVertexBuffer9> boundDynamicBuffer(DeviceFixture& f, UINT vertices)
{
    flatColourStates(f.device.get());
    f->SetRenderState(D3DRS_ZENABLE, FALSE);
    ComRef<IDirect3DVertexBuffer9> vb;
    EXPECT_EQ(f->CreateVertexBuffer(vertices * sizeof(TlVertex), D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, kTlFvf,
                                    D3DPOOL_DEFAULT, vb.out(), nullptr),
              D3D_OK);
    f->SetFVF(kTlFvf);
    f->SetStreamSource(0, vb.get(), 0, sizeof(TlVertex));
    return vb;
}

TEST(DeviceDraw, DynamicBufferDiscardEveryFrame)
{
    DeviceFixture f(4, 4);
    ASSERT_EQ(f.created, D3D_OK);
    ComRef<IDirect3DVertexBuffer9> vb = boundDynamicBuffer(f, 4);
    ASSERT_TRUE(vb.get());
    const D3DCOLOR colours[3] = {kRed, kGreen, kBlue};
    for (D3DCOLOR c : colours) {
        TlVertex v[4];
        tlQuad(v, -0.5f, -0.5f, 3.5f, 3.5f, c);
        void* data = nullptr;
        ASSERT_EQ(vb->Lock(0, 0, &data, D3DLOCK_DISCARD), D3D_OK);
        std::memcpy(data, v, sizeof v);
        vb->Unlock();
        ASSERT_EQ(f->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
        EXPECT_EQ(readBackBuffer(f.device.get())[0], c);
    }
    // Locks past the end are refused.
    void* data = nullptr;
    EXPECT_EQ(vb->Lock(4 * sizeof(TlVertex) - 4, 8, &data, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(vb->Lock(0, 0, nullptr, 0), D3DERR_INVALIDCALL);
}

// Discard locks of part of a buffer, with and without a Present since its
// last draw: the part not locked keeps what was written before.
TEST(DeviceDraw, DynamicBufferPartialDiscardAcrossFrames)
{
    DeviceFixture f(4, 4);
    ASSERT_EQ(f.created, D3D_OK);
    ComRef<IDirect3DVertexBuffer9> vb = boundDynamicBuffer(f, 8);
    ASSERT_TRUE(vb.get());
    struct Step {
        bool present;
        UINT first, count; // quads locked: 0 the left half, 1 the right half
        D3DCOLOR colour, left, right;
    } const steps[] = {
        {false, 0, 2, kRed, kRed, kRed},
        {true, 0, 1, kBlue, kBlue, kRed},    // drawn last frame: written in place
        {false, 1, 1, kGreen, kBlue, kGreen}, // drawn this frame: fresh storage
        {true, 1, 1, kRed, kBlue, kRed},
    };
    for (const Step& step : steps) {
        if (step.present) {
            ASSERT_EQ(f->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
        }
        TlVertex v[2][4];
        tlQuad(v[0], -0.5f, -0.5f, 1.5f, 3.5f, step.colour);
        tlQuad(v[1], 1.5f, -0.5f, 3.5f, 3.5f, step.colour);
        void* data = nullptr;
        ASSERT_EQ(vb->Lock(step.first * sizeof v[0], step.count * sizeof v[0], &data, D3DLOCK_DISCARD), D3D_OK);
        std::memcpy(data, v[step.first], step.count * sizeof v[0]);
        vb->Unlock();
        ASSERT_EQ(f->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
        ASSERT_EQ(f->DrawPrimitive(D3DPT_TRIANGLESTRIP, 4, 2), D3D_OK);
        const std::vector<uint32_t> pixels = readBackBuffer(f.device.get());
        ASSERT_EQ(pixels.size(), 16u);
        EXPECT_EQ(pixels[0], step.left);
        EXPECT_EQ(pixels[3], step.right);
    }
}

// ---------------------------------------------------------------------------
// Invalid draws

TEST(DeviceDraw, InvalidDrawsAreRefusedAndDrawNothing)
{
    DeviceFixture f(4, 4);
    ASSERT_EQ(f.created, D3D_OK);
    flatColourStates(f.device.get());
    f->Clear(0, nullptr, D3DCLEAR_TARGET, kBlack, 1.0f, 0);
    // No declaration or FVF at all.
    EXPECT_EQ(f->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3DERR_INVALIDCALL);
    f->SetFVF(kTlFvf);
    // No vertex buffer on the stream.
    EXPECT_EQ(f->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3DERR_INVALIDCALL);
    // No index buffer.
    EXPECT_EQ(f->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 3, 0, 1), D3DERR_INVALIDCALL);
    TlVertex v[4];
    tlQuad(v, -0.5f, -0.5f, 3.5f, 3.5f, kRed);
    EXPECT_EQ(f->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, nullptr, sizeof(TlVertex)), D3DERR_INVALIDCALL);
    EXPECT_EQ(f->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(f->DrawPrimitiveUP(D3DPRIMITIVETYPE(9), 2, v, sizeof(TlVertex)), D3DERR_INVALIDCALL);
    EXPECT_EQ(f->DrawIndexedPrimitiveUP(D3DPT_TRIANGLESTRIP, 0, 4, 2, v, D3DFMT_A8R8G8B8, v, sizeof(TlVertex)),
              D3DERR_INVALIDCALL);
    // A vertex range that wraps in 32 bits, and one past the device's indices.
    const WORD indices[4] = {0, 1, 2, 3};
    EXPECT_EQ(f->DrawIndexedPrimitiveUP(D3DPT_TRIANGLESTRIP, 0xFFFFFFFFu, 2, 2, indices, D3DFMT_INDEX16, v,
                                        sizeof(TlVertex)),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(f->DrawIndexedPrimitiveUP(D3DPT_TRIANGLESTRIP, 0x1000000u, 4, 2, indices, D3DFMT_INDEX16, v,
                                        sizeof(TlVertex)),
              D3DERR_INVALIDCALL);
    for (uint32_t c : readBackBuffer(f.device.get()))
        EXPECT_EQ(c, kBlack);
}

// ---------------------------------------------------------------------------
// Targets

TEST(DeviceTargets, SwitchingTargetsResetsTheViewport)
{
    DeviceFixture f(8, 8);
    ASSERT_EQ(f.created, D3D_OK);
    flatColourStates(f.device.get());
    f->SetRenderState(D3DRS_ZENABLE, FALSE);
    ComRef<IDirect3DSurface9> back, target;
    f->GetRenderTarget(0, back.out());
    ASSERT_EQ(f->CreateRenderTarget(4, 4, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 0, FALSE, target.out(), nullptr),
              D3D_OK);
    D3DVIEWPORT9 small{1, 1, 2, 2, 0.0f, 1.0f};
    f->SetViewport(&small);
    ASSERT_EQ(f->SetRenderTarget(0, target.get()), D3D_OK);
    D3DVIEWPORT9 vp{};
    f->GetViewport(&vp);
    EXPECT_EQ(vp.X, 0u);
    EXPECT_EQ(vp.Width, 4u);
    EXPECT_EQ(vp.Height, 4u);
    // Larger than the target: refused, the old viewport stays.
    D3DVIEWPORT9 large{0, 0, 8, 8, 0.0f, 1.0f};
    EXPECT_EQ(f->SetViewport(&large), D3DERR_INVALIDCALL);
    f->GetViewport(&vp);
    EXPECT_EQ(vp.Width, 4u);
    f->Clear(0, nullptr, D3DCLEAR_TARGET, kBlack, 1.0f, 0);
    drawTlQuad(f.device.get(), -0.5f, -0.5f, 1.5f, 1.5f, kGreen);
    std::vector<uint32_t> p = readTarget(f.device.get(), target.get());
    EXPECT_EQ(p[0], kGreen);
    EXPECT_EQ(p[2], kBlack);

    ASSERT_EQ(f->SetRenderTarget(0, back.get()), D3D_OK);
    f->GetViewport(&vp);
    EXPECT_EQ(vp.Width, 8u);
    EXPECT_EQ(f->SetRenderTarget(0, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(f->SetRenderTarget(4, target.get()), D3DERR_INVALIDCALL);
    ComRef<IDirect3DSurface9> none;
    EXPECT_EQ(f->GetRenderTarget(1, none.out()), D3DERR_NOTFOUND);
    // A texture that is no render target cannot be one.
    ComRef<IDirect3DTexture9> plain;
    f->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, plain.out(), nullptr);
    ComRef<IDirect3DSurface9> level;
    plain->GetSurfaceLevel(0, level.out());
    EXPECT_EQ(f->SetRenderTarget(0, level.get()), D3DERR_INVALIDCALL);
}

TEST(DeviceTargets, RenderToTextureThenSampleIt)
{
    DeviceFixture f(4, 4);
    ASSERT_EQ(f.created, D3D_OK);
    f->SetRenderState(D3DRS_ZENABLE, FALSE);
    f->SetRenderState(D3DRS_LIGHTING, FALSE);
    ComRef<IDirect3DTexture9> rt;
    ASSERT_EQ(f->CreateTexture(4, 4, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, rt.out(), nullptr),
              D3D_OK);
    ComRef<IDirect3DSurface9> back, level;
    f->GetRenderTarget(0, back.out());
    rt->GetSurfaceLevel(0, level.out());
    f->SetRenderTarget(0, level.get());
    f->Clear(0, nullptr, D3DCLEAR_TARGET, kGreen, 1.0f, 0);
    const D3DRECT corner{0, 0, 1, 1};
    f->Clear(1, &corner, D3DCLEAR_TARGET, kRed, 1.0f, 0);
    f->SetRenderTarget(0, back.get());
    f->SetTexture(0, rt.get());
    drawTlQuad(f.device.get(), -0.5f, -0.5f, 3.5f, 3.5f, 0xFFFFFFFFu);
    const std::vector<uint32_t> p = readBackBuffer(f.device.get());
    EXPECT_EQ(p[0], kRed);
    EXPECT_EQ(p[5], kGreen);
}

TEST(DeviceTargets, StretchRectScalesAndColorFillFills)
{
    DeviceFixture f(4, 4);
    ASSERT_EQ(f.created, D3D_OK);
    ComRef<IDirect3DSurface9> small, big;
    f->CreateRenderTarget(2, 2, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 0, FALSE, small.out(), nullptr);
    f->CreateRenderTarget(4, 4, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 0, FALSE, big.out(), nullptr);
    ASSERT_EQ(f->ColorFill(small.get(), nullptr, kRed), D3D_OK);
    const RECT one{1, 1, 2, 2};
    ASSERT_EQ(f->ColorFill(small.get(), &one, kBlue), D3D_OK);
    ASSERT_EQ(f->StretchRect(small.get(), nullptr, big.get(), nullptr, D3DTEXF_NONE), D3D_OK);
    const std::vector<uint32_t> p = readTarget(f.device.get(), big.get());
    EXPECT_EQ(p[0], kRed);
    EXPECT_EQ(p[1], kRed);
    EXPECT_EQ(p[2 * 4 + 2], kBlue);
    EXPECT_EQ(p[3 * 4 + 3], kBlue);
    const RECT outside{0, 0, 5, 5};
    EXPECT_EQ(f->StretchRect(small.get(), &outside, big.get(), nullptr, D3DTEXF_NONE), D3DERR_INVALIDCALL);
    EXPECT_EQ(f->StretchRect(small.get(), nullptr, big.get(), nullptr, D3DTEXF_ANISOTROPIC), D3DERR_INVALIDCALL);
}

// ---------------------------------------------------------------------------
// Two devices in one share group (stereo)

TEST(DeviceStereo, TextureOfTheFirstDeviceDrawnByTheSecond)
{
    DeviceFixture first(4, 4);
    ASSERT_EQ(first.created, D3D_OK);
    HWND window = deviceTestWindow(4, 4);
    D3DPRESENT_PARAMETERS pp = windowedParameters(window);
    ComRef<IDirect3DDevice9> second;
    ASSERT_EQ(first.d3d->CreateDevice(0, D3DDEVTYPE_HAL, first.window, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp,
                                      second.out()),
              D3D_OK);
    ComRef<IDirect3DTexture9> t = checker(first.device.get());
    // Used on the first device once, then drawn by the second.
    first->SetTexture(0, t.get());
    first->SetRenderState(D3DRS_LIGHTING, FALSE);
    drawTlQuad(first.device.get(), -0.5f, -0.5f, 3.5f, 3.5f, 0xFFFFFFFFu);
    second->SetTexture(0, t.get());
    second->SetRenderState(D3DRS_LIGHTING, FALSE);
    second->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kBlue, 1.0f, 0);
    drawTlQuad(second.get(), -0.5f, -0.5f, 3.5f, 3.5f, 0xFFFFFFFFu);
    const std::vector<uint32_t> p = readBackBuffer(second.get());
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(p[y * 4 + x], ((x + y) & 1) ? 0xFFFFFFFFu : kBlack) << x << "," << y;
    }
    // The texture outlives the second device's binding and its own device's
    // public reference.
    second.reset();
    DestroyWindow(window);
}

} // namespace

// The second eye draws into targets made on the first device, but never
// into the first device's window surfaces.
TEST(DeviceStereo, ForeignWindowSurfacesRefusedOffscreenTargetsShared)
{
    DeviceFixture first(4, 4);
    ASSERT_EQ(first.created, D3D_OK);
    HWND window = deviceTestWindow(4, 4);
    D3DPRESENT_PARAMETERS pp = windowedParameters(window);
    ComRef<IDirect3DDevice9> second;
    ASSERT_EQ(first.d3d->CreateDevice(0, D3DDEVTYPE_HAL, first.window, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp,
                                      second.out()),
              D3D_OK);
    ComRef<IDirect3DSurface9> firstBack, firstDepth, ownBack, ownDepth;
    ASSERT_EQ(first->GetRenderTarget(0, firstBack.out()), D3D_OK);
    ASSERT_EQ(first->GetDepthStencilSurface(firstDepth.out()), D3D_OK);
    ASSERT_EQ(second->GetRenderTarget(0, ownBack.out()), D3D_OK);
    ASSERT_EQ(second->GetDepthStencilSurface(ownDepth.out()), D3D_OK);

    EXPECT_EQ(second->SetRenderTarget(0, firstBack.get()), D3DERR_INVALIDCALL);
    EXPECT_EQ(second->SetDepthStencilSurface(firstDepth.get()), D3DERR_INVALIDCALL);
    ComRef<IDirect3DSurface9> bound;
    ASSERT_EQ(second->GetRenderTarget(0, bound.out()), D3D_OK);
    EXPECT_EQ(bound.get(), ownBack.get());
    ASSERT_EQ(second->GetDepthStencilSurface(bound.out()), D3D_OK);
    EXPECT_EQ(bound.get(), ownDepth.get());
    // Its own window surfaces stay acceptable.
    EXPECT_EQ(first->SetRenderTarget(0, firstBack.get()), D3D_OK);
    EXPECT_EQ(first->SetDepthStencilSurface(firstDepth.get()), D3D_OK);

    // A texture target and a depth surface of the first device, drawn into
    // by the second: a near quad on the left, and a far one that the depth
    // test against the cleared 0.25 keeps out.
    ComRef<IDirect3DTexture9> target;
    ComRef<IDirect3DSurface9> level, depth;
    ASSERT_EQ(first->CreateTexture(4, 4, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, target.out(),
                                   nullptr),
              D3D_OK);
    ASSERT_EQ(target->GetSurfaceLevel(0, level.out()), D3D_OK);
    ASSERT_EQ(first->CreateDepthStencilSurface(4, 4, D3DFMT_D24S8, D3DMULTISAMPLE_NONE, 0, TRUE, depth.out(), nullptr),
              D3D_OK);
    ASSERT_EQ(second->SetRenderTarget(0, level.get()), D3D_OK);
    ASSERT_EQ(second->SetDepthStencilSurface(depth.get()), D3D_OK);
    second->SetRenderState(D3DRS_LIGHTING, FALSE);
    second->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    second->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kBlue, 0.25f, 0);
    drawTlQuad(second.get(), -0.5f, -0.5f, 1.5f, 3.5f, 0xFFFFFFFFu, 0.125f);
    drawTlQuad(second.get(), -0.5f, -0.5f, 3.5f, 3.5f, kRed, 0.5f);
    const std::vector<uint32_t> p = readTarget(second.get(), level.get());
    ASSERT_EQ(p.size(), 16u);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(p[y * 4 + x], x < 2 ? 0xFFFFFFFFu : kBlue) << x << "," << y;
    second->SetRenderTarget(0, ownBack.get());
    second->SetDepthStencilSurface(ownDepth.get());
    bound.reset();
    second.reset();
    DestroyWindow(window);
}
