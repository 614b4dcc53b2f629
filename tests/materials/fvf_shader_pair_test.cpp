// The fixed-function pair on a headless device: the states and material it
// sets from a surface, and what its texture stages draw, compared pixel by
// pixel with Direct3D's stage formulas worked out here.
#include "texture_test_support.h"

#include "foundation/matrix.h"
#include "materials/fvf_shader_pair.h"
#include "materials/shader_parameters.h"
#include "materials/surface.h"
#include "materials/texture_layer.h"
#include "platform/device_test_support.h"

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace texturetest;

namespace {

// The back buffer of the test engine's window.
constexpr int kWidth = 64;
constexpr int kHeight = 48;
constexpr D3DCOLOR kClear = 0xFF204060;

// value + rate x time.
class Ramp : public DynamicValue {
public:
    Ramp(float value, float rate) : value(value), rate(rate) {}
    float evaluate(double time) const override { return value + rate * float(time); }
    float value;
    float rate;
};

struct Rgba {
    double r = 0, g = 0, b = 0, a = 0;
};

Rgba rgba(u32 argb)
{
    return {((argb >> 16) & 0xFF) / 255.0, ((argb >> 8) & 0xFF) / 255.0, (argb & 0xFF) / 255.0, (argb >> 24) / 255.0};
}

double sat(double v)
{
    return v < 0 ? 0 : (v > 1 ? 1 : v);
}

Rgba sat(Rgba c)
{
    return {sat(c.r), sat(c.g), sat(c.b), sat(c.a)};
}

Rgba operator*(Rgba x, Rgba y)
{
    return {x.r * y.r, x.g * y.g, x.b * y.b, x.a * y.a};
}

Rgba operator+(Rgba x, Rgba y)
{
    return {x.r + y.r, x.g + y.g, x.b + y.b, x.a + y.a};
}

Rgba scaled(Rgba c, double k)
{
    return {c.r * k, c.g * k, c.b * k, c.a * k};
}

Rgba withAlpha(Rgba c, double a)
{
    c.a = a;
    return c;
}

// SRCALPHA / INVSRCALPHA on all four channels.
Rgba over(Rgba src, Rgba dst)
{
    return scaled(src, src.a) + scaled(dst, 1.0 - src.a);
}

testing::AssertionResult near(u32 actual, Rgba expected, int tolerance = 2)
{
    const Rgba e = sat(expected);
    const int want[4] = {int(std::lround(e.a * 255)), int(std::lround(e.r * 255)), int(std::lround(e.g * 255)),
                         int(std::lround(e.b * 255))};
    const int got[4] = {int(actual >> 24), int((actual >> 16) & 0xFF), int((actual >> 8) & 0xFF),
                        int(actual & 0xFF)};
    for (int i = 0; i < 4; ++i) {
        if (std::abs(want[i] - got[i]) > tolerance)
            return testing::AssertionFailure()
                   << "got " << formatHex(actual).c_str() << ", want a r g b " << want[0] << " " << want[1] << " "
                   << want[2] << " " << want[3];
    }
    return testing::AssertionSuccess();
}

// A quad over the whole target, corners top-left, top-right, bottom-left,
// bottom-right, with two three-component coordinate sets.
struct Quad {
    D3DCOLOR diffuse = 0xFFFFFFFF;
    D3DCOLOR specular = 0;
    D3DVECTOR normal = {0.0f, 0.0f, -1.0f};
    float set0[4][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}};
    // Mirrored left to right, so a stage shows which set it reads.
    float set1[4][3] = {{1, 0, 0}, {0, 0, 0}, {1, 1, 0}, {0, 1, 0}};
};

struct Vertex {
    float x, y, z;
    float nx, ny, nz;
    D3DCOLOR diffuse;
    D3DCOLOR specular;
    float t0[3];
    float t1[3];
};
constexpr DWORD kFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX2 |
                       D3DFVF_TEXCOORDSIZE3(0) | D3DFVF_TEXCOORDSIZE3(1);

// u (or v) at the centre of pixel column (row) p of n, for coordinates
// running 0..1 across the target.
double across(int p, int n)
{
    return (p + 0.5) / n;
}

// The point-sampled, wrapped texel index of a coordinate; -1 when the
// coordinate lies so near a texel edge that half a pixel could cross it.
int texelIndex(double u, int size)
{
    const double t = (u - std::floor(u)) * size;
    const double edge = t - std::floor(t);
    if (edge < 0.15 || edge > 0.85)
        return -1;
    return int(std::floor(t)) % size;
}

// An engine over a headless device with its fixed-function standard pair,
// and the textures of one test (released before the engine).
class Rig {
public:
    explicit Rig(platform::AdapterProfile profile = platform::defaultAdapterProfile())
        : engine(false, std::move(profile))
    {
        if (engine)
            pair = dynamic_cast<FVFShaderPair*>(engine->standardPair);
    }
    explicit operator bool() const { return engine && pair; }
    IDirect3DDevice9* device() const { return engine->currentDevice; }

    Texture* texture(int width, int height, const std::function<u32(int, int)>& texel)
    {
        auto t = std::make_unique<BuiltTexture>(engine.get(), 0);
        if (!t->create2D(width, height, 0, "(test)")) {
            ADD_FAILURE() << "no texture";
            return nullptr;
        }
        fillLevel0(*t, texel);
        t->finishCreation();
        textures.push_back(std::move(t));
        return textures.back().get();
    }
    Texture* solid(u32 argb)
    {
        return texture(1, 1, [argb](int, int) { return argb; });
    }
    // A texture from a picture in memory, kept at its size.
    Texture* picture(int width, int height, const std::function<u32(int, int)>& texel)
    {
        auto t = std::make_unique<ImageTexture>(engine.get());
        t->name = "tiny.bmp";
        t->colorImage = makeImage(width, height, texel);
        t->flags = Texture::kNoScale;
        t->load();
        EXPECT_NE(t->baseTexture(), nullptr);
        textures.push_back(std::move(t));
        return textures.back().get();
    }

    // The stages see the vertex colours.
    void unlit() { device()->SetRenderState(D3DRS_LIGHTING, FALSE); }
    // The stages see the material under a white ambient light and no lamps:
    // emissive + ambient, with the diffuse alpha.
    void litByAmbient()
    {
        device()->SetRenderState(D3DRS_LIGHTING, TRUE);
        device()->SetRenderState(D3DRS_COLORVERTEX, FALSE);
        device()->SetRenderState(D3DRS_AMBIENT, 0xFFFFFFFF);
    }

    // setStates, the vertex format, activate, setSources and the draw, as
    // the mesh drawing calls them.
    std::vector<u32> draw(Surface& surface, double time, const Quad& quad = Quad(), D3DCOLOR clear = kClear)
    {
        IDirect3DDevice9* d = device();
        d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clear, 1.0f, 0);
        d->BeginScene();
        pair->setStates(&surface, time);
        d->SetFVF(kFvf);
        EXPECT_TRUE(pair->activate());
        pair->setSources(&surface, time);
        static const float corners[4][2] = {{-1, 1}, {1, 1}, {-1, -1}, {1, -1}};
        Vertex v[4];
        for (int i = 0; i < 4; ++i) {
            v[i] = {corners[i][0], corners[i][1], 0.5f, quad.normal.x, quad.normal.y, quad.normal.z,
                    quad.diffuse, quad.specular, {}, {}};
            for (int k = 0; k < 3; ++k) {
                v[i].t0[k] = quad.set0[i][k];
                v[i].t1[k] = quad.set1[i][k];
            }
        }
        EXPECT_EQ(d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(Vertex)), D3D_OK);
        d->EndScene();
        std::vector<u32> pixels = readBackBuffer(d);
        EXPECT_EQ(pixels.size(), size_t(kWidth * kHeight));
        pixels.resize(size_t(kWidth * kHeight));
        return pixels;
    }

    DWORD stage(DWORD s, D3DTEXTURESTAGESTATETYPE type) const
    {
        DWORD value = 0xDEADBEEF;
        device()->GetTextureStageState(s, type, &value);
        return value;
    }
    DWORD render(D3DRENDERSTATETYPE type) const
    {
        DWORD value = 0xDEADBEEF;
        device()->GetRenderState(type, &value);
        return value;
    }
    DWORD sampler(DWORD s, D3DSAMPLERSTATETYPE type) const
    {
        DWORD value = 0xDEADBEEF;
        device()->GetSamplerState(s, type, &value);
        return value;
    }
    D3DMATERIAL9 material() const
    {
        D3DMATERIAL9 m = {};
        device()->GetMaterial(&m);
        return m;
    }
    // The texture bound on a stage (the reference is dropped at once).
    IDirect3DBaseTexture9* bound(DWORD s) const
    {
        IDirect3DBaseTexture9* t = nullptr;
        device()->GetTexture(s, &t);
        if (t)
            t->Release();
        return t;
    }

    TestEngine engine;
    FVFShaderPair* pair = nullptr;
    std::vector<std::unique_ptr<Texture>> textures;
};

#define REQUIRE_RIG(rig)                                                                                    \
    do {                                                                                                    \
        if (!(rig))                                                                                         \
            GTEST_SKIP() << "no Direct3D device can be created here";                                      \
    } while (0)

TextureLayer* addLayer(Surface& surface, u32 channel, Texture* texture)
{
    auto layer = std::make_unique<TextureLayer>();
    layer->channel = channel;
    layer->texture = texture;
    layer->projection = TextureLayer::projectionUV;
    layer->pixelBlending = 0; // exact texels at the sampled pixels
    TextureLayer* raw = layer.get();
    EXPECT_TRUE(surface.addLayer(std::move(layer)));
    return raw;
}

void setColor(Surface& s, float r, float g, float b)
{
    s.color[0].value = r;
    s.color[1].value = g;
    s.color[2].value = b;
}

u32 at(const std::vector<u32>& pixels, int x, int y)
{
    return pixels[size_t(y) * kWidth + x];
}

// The centre pixel of each quadrant, which shows one texel of a 2 x 2 (or,
// by row, 2 x 1) map read through set 0, against its expected colour.
void expectQuadrants(const std::vector<u32>& pixels, const std::function<Rgba(int x, int y)>& expected)
{
    for (int y : {0, 1})
        for (int x : {0, 1})
            EXPECT_TRUE(near(at(pixels, 16 + 32 * x, 12 + 24 * y), expected(x, y))) << x << "," << y;
}

void expectColor(const D3DCOLORVALUE& c, float r, float g, float b, float a)
{
    EXPECT_NEAR(c.r, r, 1e-6f);
    EXPECT_NEAR(c.g, g, 1e-6f);
    EXPECT_NEAR(c.b, b, 1e-6f);
    EXPECT_NEAR(c.a, a, 1e-6f);
}

// 2 x 2 textures with four clearly different texels; left and right halves
// differ in every channel.
u32 quadrantTexel(int x, int y)
{
    static const u32 texels[2][2] = {{0xFF3060C0, 0x80E0A020}, {0x40109050, 0xC0F0F0F0}};
    return texels[y][x];
}

// Left half alpha 0x40, right half 0xC0, colours unlike each other.
u32 alphaHalvesTexel(int x, int)
{
    return x == 0 ? 0x40A05010 : 0xC0205090;
}

// ---------------------------------------------------------------------------
// setStates and activate

TEST(FvfShaderPairStates, MaterialComesFromTheSurfaceValues)
{
    Rig rig;
    REQUIRE_RIG(rig);
    Surface s(nullptr, "m@plain");
    setColor(s, 0.2f, 0.4f, 0.6f);
    s.diffuse.value = 0.5f;
    s.luminosity.value = 0.25f;
    s.specularity.value = 0.5f;
    s.glossiness.value = 0.4f;

    rig.pair->setStates(&s, 0.0);
    D3DMATERIAL9 m = rig.material();
    expectColor(m.Diffuse, 0.1f, 0.2f, 0.3f, 1.0f);
    expectColor(m.Ambient, 0.1f, 0.2f, 0.3f, 1.0f);
    expectColor(m.Specular, 0.5f, 0.5f, 0.5f, 1.0f);
    expectColor(m.Emissive, 0.05f, 0.1f, 0.15f, 1.0f);
    EXPECT_NEAR(m.Power, 64.0f, 1e-3f); // 2^(10 x 0.4 + 2)
    EXPECT_EQ(rig.render(D3DRS_SPECULARENABLE), DWORD(TRUE));
    // srfColor is the diffuse colour with its alpha.
    const float* srf = rig.engine->uniforms->srfColor;
    EXPECT_NEAR(srf[0], 0.1f, 1e-6f);
    EXPECT_NEAR(srf[1], 0.2f, 1e-6f);
    EXPECT_NEAR(srf[2], 0.3f, 1e-6f);
    EXPECT_NEAR(srf[3], 1.0f, 1e-6f);

    // Coloured highlights take the surface colour.
    s.colorHighlights = 1;
    rig.pair->setStates(&s, 0.0);
    expectColor(rig.material().Specular, 0.1f, 0.2f, 0.3f, 1.0f);

    // The exponent goes above the shaders' 127.9961 and stops at 255.
    s.glossiness.value = 0.5f;
    rig.pair->setStates(&s, 0.0);
    EXPECT_NEAR(rig.material().Power, 128.0f, 1e-3f);
    s.glossiness.value = 1.0f;
    rig.pair->setStates(&s, 0.0);
    EXPECT_EQ(rig.material().Power, 255.0f);
    EXPECT_EQ(FVFShaderPair::specularPower(0.5f, std::nanf("")), 255.0f);

    // No specularity: no exponent and no highlight.
    s.specularity.value = 0.0f;
    rig.pair->setStates(&s, 0.0);
    EXPECT_EQ(rig.material().Power, 0.0f);
    EXPECT_EQ(rig.render(D3DRS_SPECULARENABLE), DWORD(FALSE));
}

TEST(FvfShaderPairStates, AColourMapReplacesTheSurfaceColourUnlessItBlendsOverIt)
{
    Rig rig;
    REQUIRE_RIG(rig);
    Surface s(nullptr, "m@mapped");
    setColor(s, 0.2f, 0.4f, 0.6f);
    s.diffuse.value = 0.5f;
    s.luminosity.value = 0.25f;
    s.specularity.value = 0.5f;
    s.colorHighlights = 1;
    TextureLayer* colr = addLayer(s, channelCOLR, rig.solid(0xFFFFFFFF));

    rig.pair->setStates(&s, 0.0);
    D3DMATERIAL9 m = rig.material();
    expectColor(m.Diffuse, 0.5f, 0.5f, 0.5f, 1.0f);
    expectColor(m.Ambient, 0.5f, 0.5f, 0.5f, 1.0f);
    expectColor(m.Specular, 0.5f, 0.5f, 0.5f, 1.0f);
    expectColor(m.Emissive, 0.25f, 0.25f, 0.25f, 1.0f);

    colr->opacityType = 3;
    rig.pair->setStates(&s, 0.0);
    m = rig.material();
    expectColor(m.Diffuse, 0.1f, 0.2f, 0.3f, 1.0f);
    expectColor(m.Emissive, 0.05f, 0.1f, 0.15f, 1.0f);

    // A specular map takes over the highlight.
    EXPECT_EQ(rig.render(D3DRS_SPECULARENABLE), DWORD(TRUE));
    addLayer(s, channelSPEC, rig.solid(0xFFFFFFFF));
    rig.pair->setStates(&s, 0.0);
    EXPECT_EQ(rig.render(D3DRS_SPECULARENABLE), DWORD(FALSE));
}

TEST(FvfShaderPairStates, BlendingAndDepthFollowTransparency)
{
    Rig rig;
    REQUIRE_RIG(rig);
    IDirect3DDevice9* d = rig.device();
    {
        Surface s(nullptr, "t@opaque");
        d->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
        d->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
        d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        rig.pair->setStates(&s, 0.0);
        EXPECT_EQ(rig.render(D3DRS_ALPHATESTENABLE), DWORD(FALSE));
        EXPECT_EQ(rig.render(D3DRS_ZWRITEENABLE), DWORD(TRUE));
        EXPECT_EQ(rig.render(D3DRS_ALPHABLENDENABLE), DWORD(FALSE));
        EXPECT_EQ(rig.render(D3DRS_CULLMODE), DWORD(D3DCULL_CCW));
        s.doubleSided = 1;
        rig.pair->setStates(&s, 0.0);
        EXPECT_EQ(rig.render(D3DRS_CULLMODE), DWORD(D3DCULL_NONE));
        s.doubleSided = 0;
        rig.engine->defaultCullMode = D3DCULL_CW;
        rig.pair->setStates(&s, 0.0);
        EXPECT_EQ(rig.render(D3DRS_CULLMODE), DWORD(D3DCULL_CW));
        rig.engine->defaultCullMode = D3DCULL_CCW;
    }
    {
        // An animated transparency, read at the draw time and kept.
        Surface s(nullptr, "t@glass");
        Ramp fade(0.0f, 0.5f);
        s.setTransparency(0.0f, &fade);
        rig.pair->setStates(&s, 1.0);
        EXPECT_EQ(s.transparency.value, 0.5f);
        EXPECT_EQ(rig.render(D3DRS_ZWRITEENABLE), DWORD(FALSE));
        EXPECT_EQ(rig.render(D3DRS_ALPHABLENDENABLE), DWORD(TRUE));
        EXPECT_EQ(rig.render(D3DRS_SRCBLEND), DWORD(D3DBLEND_SRCALPHA));
        EXPECT_EQ(rig.render(D3DRS_DESTBLEND), DWORD(D3DBLEND_INVSRCALPHA));
        EXPECT_NEAR(rig.material().Diffuse.a, 0.5f, 1e-6f);
        EXPECT_NEAR(rig.engine->uniforms->srfColor[3], 0.5f, 1e-6f);
        rig.pair->setStates(&s, 0.5);
        EXPECT_NEAR(rig.material().Diffuse.a, 0.75f, 1e-6f);
    }
    {
        // Additive transparency adds the colour and sets the alpha.
        Surface s(nullptr, "t@additive");
        s.setAdditiveTransparency(0.4f, nullptr);
        rig.pair->setStates(&s, 0.0);
        EXPECT_EQ(rig.render(D3DRS_ALPHABLENDENABLE), DWORD(TRUE));
        EXPECT_EQ(rig.render(D3DRS_SRCBLEND), DWORD(D3DBLEND_ONE));
        EXPECT_EQ(rig.render(D3DRS_DESTBLEND), DWORD(D3DBLEND_INVSRCALPHA));
        EXPECT_NEAR(rig.material().Diffuse.a, 0.6f, 1e-6f);
    }
    {
        // Reflection options 0 mix in what is behind, writing depth.
        Surface s(nullptr, "t@mirror");
        s.setReflectionOptions(0);
        s.reflection.value = 0.3f;
        rig.pair->setStates(&s, 0.0);
        EXPECT_EQ(rig.render(D3DRS_SRCBLEND), DWORD(D3DBLEND_ONE));
        EXPECT_EQ(rig.render(D3DRS_ZWRITEENABLE), DWORD(TRUE));
        EXPECT_NEAR(rig.material().Diffuse.a, 0.7f, 1e-6f);
        // Other options leave the blend alone.
        s.reflectionOptions = 1;
        rig.pair->setStates(&s, 0.0);
        EXPECT_EQ(rig.render(D3DRS_SRCBLEND), DWORD(D3DBLEND_SRCALPHA));
        EXPECT_NEAR(rig.material().Diffuse.a, 1.0f, 1e-6f);
    }
}

TEST(FvfShaderPairStates, ATransparencyMapBlendsOrCutsOut)
{
    Rig rig;
    REQUIRE_RIG(rig);
    Surface s(nullptr, "t@leaves");
    TextureLayer* tran = addLayer(s, channelTRAN, rig.solid(0x80FFFFFF));

    // Cut-out: an opaque surface with a map of another opacity type is
    // alpha-tested and keeps writing depth.
    rig.pair->setStates(&s, 0.0);
    EXPECT_EQ(rig.render(D3DRS_ALPHABLENDENABLE), DWORD(TRUE));
    EXPECT_EQ(rig.render(D3DRS_SRCBLEND), DWORD(D3DBLEND_SRCALPHA));
    EXPECT_EQ(rig.render(D3DRS_DESTBLEND), DWORD(D3DBLEND_INVSRCALPHA));
    EXPECT_EQ(rig.render(D3DRS_ALPHATESTENABLE), DWORD(TRUE));
    EXPECT_EQ(rig.render(D3DRS_ALPHAFUNC), DWORD(D3DCMP_GREATER));
    EXPECT_EQ(rig.render(D3DRS_ALPHAREF), 127u);
    EXPECT_EQ(rig.render(D3DRS_ZWRITEENABLE), DWORD(TRUE));
    EXPECT_NEAR(rig.material().Diffuse.a, 1.0f, 1e-6f);

    // Some transparency of its own: blended, no test, no depth writes.
    s.setTransparency(0.25f, nullptr);
    rig.pair->setStates(&s, 0.0);
    EXPECT_EQ(rig.render(D3DRS_ALPHATESTENABLE), DWORD(FALSE));
    EXPECT_EQ(rig.render(D3DRS_ZWRITEENABLE), DWORD(FALSE));
    EXPECT_NEAR(rig.material().Diffuse.a, 1.0f, 1e-6f);

    // Opacity type 3 keeps the surface transparency as alpha, even over
    // additive transparency.
    tran->opacityType = 3;
    s.setAdditiveTransparency(0.5f, nullptr);
    rig.pair->setStates(&s, 0.0);
    EXPECT_EQ(rig.render(D3DRS_SRCBLEND), DWORD(D3DBLEND_SRCALPHA));
    EXPECT_EQ(rig.render(D3DRS_ALPHATESTENABLE), DWORD(FALSE));
    EXPECT_NEAR(rig.material().Diffuse.a, 0.75f, 1e-6f);
}

TEST(FvfShaderPairStates, ActivateUnbindsShadersAndNeverFails)
{
    Rig rig;
    REQUIRE_RIG(rig);
    rig.engine->uniforms->derivedValid = 0;
    EXPECT_TRUE(rig.pair->activate());
    EXPECT_EQ(rig.engine->uniforms->derivedValid, 1);
    IDirect3DVertexShader9* vs = reinterpret_cast<IDirect3DVertexShader9*>(1);
    IDirect3DPixelShader9* ps = reinterpret_cast<IDirect3DPixelShader9*>(1);
    rig.device()->GetVertexShader(&vs);
    rig.device()->GetPixelShader(&ps);
    EXPECT_EQ(vs, nullptr);
    EXPECT_EQ(ps, nullptr);
    EXPECT_STREQ(rig.pair->vertexShaderName().c_str(), "vshader");
    EXPECT_STREQ(rig.pair->pixelShaderName().c_str(), "pshader");
    EXPECT_TRUE(rig.pair->variants.empty());
    EXPECT_EQ(rig.pair->compiler, nullptr);

    // Not even without a device.
    IDirect3DDevice9* saved = rig.engine->currentDevice;
    rig.engine->currentDevice = nullptr;
    Surface s(nullptr, "a@b");
    rig.pair->setStates(&s, 0.0);
    EXPECT_TRUE(rig.pair->activate());
    rig.pair->setSources(&s, 0.0);
    rig.engine->currentDevice = saved;
}

// ---------------------------------------------------------------------------
// What the stages draw

TEST(FvfShaderPairDraw, FlatColourPassesIgnoreTheLayers)
{
    Rig rig;
    REQUIRE_RIG(rig);
    rig.unlit();
    Surface s(nullptr, "f@flat");
    addLayer(s, channelCOLR, rig.solid(0xFF112233));
    addLayer(s, channelDIFF, rig.solid(0xFF808080));
    s.flatColor = 0xFF336699;

    for (int mode : {1, 2, 3}) {
        SCOPED_TRACE(mode);
        s.drawMode = mode;
        const std::vector<u32> pixels = rig.draw(s, 0.0);
        const u32 want = mode == 3 ? 0xFF336699u : 0xCDCDCDCDu;
        EXPECT_EQ(at(pixels, 5, 5), want);
        EXPECT_EQ(at(pixels, 40, 30), want);
        EXPECT_EQ(rig.bound(0), nullptr);
        EXPECT_EQ(rig.stage(1, D3DTSS_COLOROP), DWORD(D3DTOP_DISABLE));
    }
    // The ordinary pass draws the layers again.
    s.drawMode = 0;
    const std::vector<u32> pixels = rig.draw(s, 0.0);
    EXPECT_TRUE(near(at(pixels, 20, 20), rgba(0xFF112233) * rgba(0xFF808080)));
}

TEST(FvfShaderPairDraw, WithoutLayersTheMaterialAloneIsDrawn)
{
    Rig rig;
    REQUIRE_RIG(rig);
    rig.litByAmbient();
    Surface s(nullptr, "p@plain");
    setColor(s, 0.2f, 0.4f, 0.6f);
    s.diffuse.value = 0.5f;
    s.luminosity.value = 1.0f;
    // Emissive c + ambient c x 0.5 under a white ambient light.
    const Rgba lit = {0.3, 0.6, 0.9, 1.0};
    const std::vector<u32> pixels = rig.draw(s, 0.0);
    EXPECT_TRUE(near(at(pixels, 10, 10), lit));
    EXPECT_TRUE(near(at(pixels, 50, 40), lit));
    EXPECT_EQ(rig.stage(0, D3DTSS_COLOROP), DWORD(D3DTOP_DISABLE));
    EXPECT_EQ(rig.bound(0), nullptr);
}

TEST(FvfShaderPairDraw, AColourMapModulatesTheMaterial)
{
    Rig rig;
    REQUIRE_RIG(rig);
    rig.litByAmbient();
    Surface s(nullptr, "c@checker");
    setColor(s, 0.2f, 0.4f, 0.6f);
    s.diffuse.value = 0.5f;
    s.luminosity.value = 0.25f;
    TextureLayer* colr = addLayer(s, channelCOLR, rig.picture(2, 2, quadrantTexel));

    // The map carries the colour: the material is white x (0.5 + 0.25).
    const Rgba white = {0.75, 0.75, 0.75, 1.0};
    std::vector<u32> pixels = rig.draw(s, 0.0);
    expectQuadrants(pixels, [&](int x, int y) { return rgba(quadrantTexel(x, y)) * white; });

    // Blended over the surface colour, the material keeps that colour.
    colr->opacityType = 3;
    pixels = rig.draw(s, 0.0);
    EXPECT_TRUE(near(at(pixels, 48, 36), rgba(quadrantTexel(1, 1)) * Rgba{0.15, 0.3, 0.45, 1.0}));

    // Inverted, the map reads 1 - texel in colour and alpha.
    colr->opacityType = 0;
    colr->invert = 1;
    pixels = rig.draw(s, 0.0);
    const Rgba t = rgba(quadrantTexel(0, 1));
    EXPECT_TRUE(near(at(pixels, 16, 36), Rgba{1 - t.r, 1 - t.g, 1 - t.b, 1 - t.a} * white));
    colr->invert = 0;

    // Outside the map a border address shows the surface colour as it went
    // to srfColor: white x 0.5 here, quantised to 0x80.
    colr->wrapModeWidth = D3DTADDRESS_BORDER;
    Quad wide;
    wide.set0[0][0] = wide.set0[2][0] = -1.0f;
    pixels = rig.draw(s, 0.0, wide);
    EXPECT_EQ(rig.sampler(0, D3DSAMP_BORDERCOLOR), 0xFF808080u);
    EXPECT_TRUE(near(at(pixels, 16, 12), rgba(0xFF808080) * white));
    EXPECT_TRUE(near(at(pixels, 56, 12), rgba(quadrantTexel(1, 0)) * white));
}

TEST(FvfShaderPairDraw, SamplersFollowTheColourLayer)
{
    Rig rig;
    REQUIRE_RIG(rig);
    Surface s(nullptr, "c@sampled");
    TextureLayer* colr = addLayer(s, channelCOLR, rig.solid(0xFFFFFFFF));
    colr->wrapModeWidth = D3DTADDRESS_CLAMP;
    colr->wrapModeHeight = D3DTADDRESS_MIRROR;
    colr->antialiasingStrength = 0.0f;
    rig.device()->SetSamplerState(0, D3DSAMP_BORDERCOLOR, 0x12345678);
    rig.draw(s, 0.0);
    EXPECT_EQ(rig.sampler(0, D3DSAMP_ADDRESSU), DWORD(D3DTADDRESS_CLAMP));
    EXPECT_EQ(rig.sampler(0, D3DSAMP_ADDRESSV), DWORD(D3DTADDRESS_MIRROR));
    EXPECT_EQ(rig.sampler(0, D3DSAMP_MIPFILTER), DWORD(D3DTEXF_NONE));
    EXPECT_EQ(rig.sampler(0, D3DSAMP_MAGFILTER), DWORD(D3DTEXF_POINT));
    EXPECT_EQ(rig.sampler(0, D3DSAMP_BORDERCOLOR), 0x12345678u); // no border, no border colour
    EXPECT_EQ(rig.stage(0, D3DTSS_TEXCOORDINDEX), 0u);
    EXPECT_EQ(rig.stage(0, D3DTSS_TEXTURETRANSFORMFLAGS), DWORD(D3DTTFF_DISABLE));

    colr->antialiasingStrength = 0.5f;
    colr->pixelBlending = 1;
    colr->wrapModeHeight = D3DTADDRESS_BORDER;
    s.diffuse.value = 0.2f;
    rig.draw(s, 0.0);
    EXPECT_EQ(rig.sampler(0, D3DSAMP_MIPFILTER), DWORD(D3DTEXF_LINEAR));
    EXPECT_EQ(rig.sampler(0, D3DSAMP_MAGFILTER), DWORD(D3DTEXF_LINEAR));
    EXPECT_EQ(rig.sampler(0, D3DSAMP_BORDERCOLOR), 0xFF333333u); // 0.2 x 255 = 51
}

TEST(FvfShaderPairDraw, ATransparencyMapAloneScalesByItsAlpha)
{
    Rig rig;
    REQUIRE_RIG(rig);
    rig.unlit();
    Surface s(nullptr, "t@veil");
    TextureLayer* tran = addLayer(s, channelTRAN, rig.texture(2, 1, alphaHalvesTexel));
    s.setTransparency(0.5f, nullptr); // blended, not alpha-tested
    Quad q;
    q.diffuse = 0xF0CC9966;
    const Rgba d = rgba(q.diffuse);

    // Inverted, the map reads 1 - alpha.
    for (int invert : {0, 1}) {
        SCOPED_TRACE(invert);
        tran->invert = invert;
        const std::vector<u32> pixels = rig.draw(s, 0.0, q);
        expectQuadrants(pixels, [&](int x, int) {
            const double a = rgba(alphaHalvesTexel(x, 0)).a;
            return over(scaled(d, invert ? 1 - a : a), rgba(kClear));
        });
        EXPECT_EQ(rig.stage(1, D3DTSS_COLOROP), DWORD(D3DTOP_DISABLE));
    }
    tran->invert = 0;

    // On an opaque surface the map cuts out: alpha 0x40 x 0.94 fails the
    // test, 0xC0 x 0.94 passes and blends.
    s.transparency.value = 0.0f;
    const std::vector<u32> pixels = rig.draw(s, 0.0, q);
    EXPECT_EQ(at(pixels, 16, 24), kClear);
    EXPECT_TRUE(near(at(pixels, 48, 24), over(scaled(d, rgba(alphaHalvesTexel(1, 0)).a), rgba(kClear))));
}

TEST(FvfShaderPairDraw, ColourAndTransparencyMapsUseTwoStages)
{
    Rig rig;
    REQUIRE_RIG(rig);
    rig.unlit();
    Surface s(nullptr, "t@stained");
    addLayer(s, channelCOLR, rig.picture(2, 2, quadrantTexel));
    TextureLayer* tran = addLayer(s, channelTRAN, rig.texture(2, 1, alphaHalvesTexel));
    tran->opacityType = 3;
    Quad q;
    q.diffuse = 0xE0C0A080;
    const Rgba d = rgba(q.diffuse);

    // The colour map reads set 0, the transparency map set 1 (mirrored).
    expectQuadrants(rig.draw(s, 0.0, q), [&](int x, int y) {
        return over(scaled(rgba(quadrantTexel(x, y)) * d, rgba(alphaHalvesTexel(1 - x, 0)).a), rgba(kClear));
    });
    EXPECT_EQ(rig.stage(1, D3DTSS_TEXCOORDINDEX), 1u);
    EXPECT_EQ(rig.stage(2, D3DTSS_COLOROP), DWORD(D3DTOP_DISABLE));
    EXPECT_EQ(rig.sampler(1, D3DSAMP_MAGFILTER), DWORD(D3DTEXF_POINT));
}

TEST(FvfShaderPairDraw, ADiffuseMapReadsTheSecondSetUnderTheColourMap)
{
    Rig rig;
    REQUIRE_RIG(rig);
    rig.unlit();
    Surface s(nullptr, "d@dirt");
    addLayer(s, channelDIFF, rig.texture(2, 2, quadrantTexel));
    Quad q;
    q.diffuse = 0x80F0D0B0; // its alpha passes through both stages
    const Rgba d = rgba(q.diffuse);

    expectQuadrants(rig.draw(s, 0.0, q),
                    [&](int x, int y) { return withAlpha(rgba(quadrantTexel(1 - x, y)) * d, d.a); });
    EXPECT_EQ(rig.stage(1, D3DTSS_COLOROP), DWORD(D3DTOP_DISABLE));

    const u32 stripes[2] = {0xFF40C0FF, 0x10FF8040};
    addLayer(s, channelCOLR, rig.texture(2, 1, [&](int x, int) { return stripes[x]; }));
    expectQuadrants(rig.draw(s, 0.0, q), [&](int x, int y) {
        return withAlpha(rgba(quadrantTexel(1 - x, y)) * d * rgba(stripes[x]), d.a);
    });
    EXPECT_EQ(rig.stage(0, D3DTSS_TEXCOORDINDEX), 1u);
    EXPECT_EQ(rig.stage(1, D3DTSS_TEXCOORDINDEX), 0u);
    EXPECT_EQ(rig.stage(2, D3DTSS_COLOROP), DWORD(D3DTOP_DISABLE));
}

TEST(FvfShaderPairDraw, ASpecularMapScalesTheVertexHighlight)
{
    Rig rig;
    REQUIRE_RIG(rig);
    rig.unlit();
    Surface s(nullptr, "s@chrome");
    const u32 shine[2] = {0xFF402010, 0xFFC0E0FF};
    addLayer(s, channelSPEC, rig.texture(2, 1, [&](int x, int) { return shine[x]; }));
    Quad q;
    q.diffuse = 0x90605040;
    q.specular = 0xFF808080;
    const Rgba d = rgba(q.diffuse);
    const Rgba sp = rgba(q.specular);

    // Without a colour map: diffuse + specular x map.
    expectQuadrants(rig.draw(s, 0.0, q), [&](int x, int) { return withAlpha(sat(d + sp * rgba(shine[x])), d.a); });
    EXPECT_EQ(rig.stage(0, D3DTSS_COLOROP), DWORD(D3DTOP_MULTIPLYADD));
    EXPECT_EQ(rig.stage(1, D3DTSS_COLOROP), DWORD(D3DTOP_DISABLE));
    EXPECT_EQ(rig.render(D3DRS_SPECULARENABLE), DWORD(FALSE));

    // With one: twice colour x diffuse, then the highlight.
    addLayer(s, channelCOLR, rig.picture(2, 2, quadrantTexel));
    expectQuadrants(rig.draw(s, 0.0, q), [&](int x, int y) {
        const Rgba base = sat(scaled(rgba(quadrantTexel(x, y)) * d, 2.0));
        return withAlpha(sat(base + sp * rgba(shine[x])), d.a);
    });
    EXPECT_EQ(rig.stage(2, D3DTSS_COLOROP), DWORD(D3DTOP_DISABLE));
}

TEST(FvfShaderPairDraw, WithoutMultiplyAddASpecularMapFallsThrough)
{
    platform::AdapterProfile profile = platform::defaultAdapterProfile();
    profile.caps.TextureOpCaps &= ~DWORD(D3DTEXOPCAPS_MULTIPLYADD);
    Rig rig(profile);
    REQUIRE_RIG(rig);
    ASSERT_EQ(rig.engine->caps.TextureOpCaps & D3DTEXOPCAPS_MULTIPLYADD, 0u);
    rig.unlit();
    Surface s(nullptr, "s@dull");
    addLayer(s, channelSPEC, rig.solid(0xFFFFFFFF));
    addLayer(s, channelCOLR, rig.picture(2, 2, quadrantTexel));
    Quad q;
    q.diffuse = 0xF0A0B0C0;
    q.specular = 0xFFFFFFFF;
    const Rgba d = rgba(q.diffuse);

    // The plain colour-map rule: colour x diffuse in colour and alpha, no
    // highlight.
    expectQuadrants(rig.draw(s, 0.0, q), [&](int x, int y) { return rgba(quadrantTexel(x, y)) * d; });
    EXPECT_EQ(rig.stage(0, D3DTSS_COLOROP), DWORD(D3DTOP_MODULATE));
    EXPECT_EQ(rig.stage(1, D3DTSS_COLOROP), DWORD(D3DTOP_DISABLE));

    // And on to cube reflection where the surface asks for it.
    s.reflectionOptions = 3;
    rig.draw(s, 0.0, q);
    EXPECT_EQ(rig.stage(1, D3DTSS_TEXCOORDINDEX), DWORD(D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR));
}

// Fills each face of a one-level cube texture with its own colour.
IDirect3DCubeTexture9* faceColouredCube(IDirect3DDevice9* device, const u32 (&faces)[6])
{
    IDirect3DCubeTexture9* cube = nullptr;
    if (FAILED(device->CreateCubeTexture(4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &cube, nullptr)))
        return nullptr;
    for (int f = 0; f < 6; ++f) {
        D3DLOCKED_RECT locked{};
        if (FAILED(cube->LockRect(D3DCUBEMAP_FACES(f), 0, &locked, nullptr, 0)))
            continue;
        for (int y = 0; y < 4; ++y) {
            u32* row = reinterpret_cast<u32*>(static_cast<u8*>(locked.pBits) + size_t(y) * locked.Pitch);
            for (int x = 0; x < 4; ++x)
                row[x] = faces[f];
        }
        cube->UnlockRect(D3DCUBEMAP_FACES(f), 0);
    }
    return cube;
}

TEST(FvfShaderPairDraw, CubeReflectionShowsTheCubeWithTheStrengthAsAlpha)
{
    Rig rig;
    REQUIRE_RIG(rig);
    rig.unlit();
    // The viewer at infinity: every pixel reflects the same direction.
    rig.device()->SetRenderState(D3DRS_LOCALVIEWER, FALSE);
    rig.device()->SetRenderState(D3DRS_NORMALIZENORMALS, FALSE);
    const u32 faces[6] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00, 0xFFFF00FF, 0xFF00FFFF};
    Surface s(nullptr, "r@ball");
    s.cubeTexture = faceColouredCube(rig.device(), faces);
    ASSERT_NE(s.cubeTexture, nullptr);
    s.reflectionOptions = 3;
    s.reflection.value = 0.5f;
    addLayer(s, channelCOLR, rig.solid(0xFF102030));

    // Facing the viewer, the reflection points back along -z.
    std::vector<u32> pixels = rig.draw(s, 0.0);
    EXPECT_EQ(at(pixels, 32, 24), (faces[D3DCUBEMAP_FACE_NEGATIVE_Z] & 0xFFFFFF) | 0x7F000000u);
    EXPECT_EQ(rig.sampler(0, D3DSAMP_ADDRESSU), DWORD(D3DTADDRESS_MIRROR));
    EXPECT_EQ(rig.sampler(0, D3DSAMP_ADDRESSV), DWORD(D3DTADDRESS_MIRROR));
    EXPECT_EQ(rig.sampler(1, D3DSAMP_MAGFILTER), DWORD(D3DTEXF_LINEAR));
    EXPECT_EQ(rig.stage(1, D3DTSS_TEXTURETRANSFORMFLAGS), DWORD(D3DTTFF_COUNT3));
    EXPECT_EQ(rig.stage(2, D3DTSS_COLOROP), DWORD(D3DTOP_DISABLE));

    // A short normal half-way between -x and -z: only once normalised does
    // it reflect onto the -x face (unnormalised it would stay on +z).
    Quad q;
    q.normal = {-0.2f, 0.0f, -0.2f};
    s.reflection.value = 1.0f;
    pixels = rig.draw(s, 0.0, q);
    EXPECT_EQ(rig.render(D3DRS_NORMALIZENORMALS), DWORD(TRUE));
    EXPECT_EQ(at(pixels, 32, 24), faces[D3DCUBEMAP_FACE_NEGATIVE_X]);

    // A strength beyond 0..1 (an envelope overshoot) is clamped rather
    // than wrapped in the alpha byte.
    s.reflection.value = 1.25f;
    pixels = rig.draw(s, 0.0, q);
    EXPECT_EQ(rig.render(D3DRS_TEXTUREFACTOR), 0xFF000000u);
    EXPECT_EQ(at(pixels, 10, 10) >> 24, 0xFFu);
    s.reflection.value = -0.5f;
    pixels = rig.draw(s, 0.0, q);
    EXPECT_EQ(at(pixels, 10, 10) >> 24, 0u);
}

// The direction a unit normal reflects for a viewer at infinity, taken to
// world space and mapped as the sphere-map rule maps it; the texel of a
// 2 x 2 image, or -1 near an edge.
int sphereTexel(const D3DVECTOR& n, const D3DMATRIX& view, int axis)
{
    const D3DVECTOR r = {-2 * n.z * n.x, -2 * n.z * n.y, 1 - 2 * n.z * n.z};
    D3DMATRIX inverse;
    matInvertAffine(inverse, view);
    D3DVECTOR w;
    vecTransformCoord(w, r, inverse);
    double u = 0.5 * w.z + 0.5;
    double v = 0.5 * w.y + 0.5;
    if (axis == TextureLayer::axisY) {
        u = 0.5 * w.x + 0.5;
        v = 0.5 * w.z + 0.5;
    } else if (axis == TextureLayer::axisZ) {
        u = 0.5 * w.x + 0.5;
        v = 0.5 * w.y + 0.5;
    }
    const int x = texelIndex(u, 2);
    const int y = texelIndex(v, 2);
    return x < 0 || y < 0 ? -1 : y * 2 + x;
}

D3DMATRIX rotationY(double angle)
{
    const float c = float(std::cos(angle));
    const float s = float(std::sin(angle));
    D3DMATRIX m;
    makeAffineMatrix(m, c, 0, -s, 0, 1, 0, s, 0, c, 0, 0, 0);
    return m;
}

TEST(FvfShaderPairDraw, SphereReflectionAddsTheImageByStrength)
{
    Rig rig;
    REQUIRE_RIG(rig);
    rig.unlit();
    rig.device()->SetRenderState(D3DRS_LOCALVIEWER, FALSE);
    const u32 image[4] = {0xFF402000, 0xFF004020, 0xFF200040, 0xFF303030};
    Surface s(nullptr, "r@pot");
    s.sphericalReflectionTexture = rig.texture(2, 2, [&](int x, int y) { return image[y * 2 + x]; });
    s.reflectionOptions = 2;
    s.reflection.value = 0.5f; // 127 of 255
    Quad q;
    q.diffuse = 0xC0604020;
    const Rgba d = rgba(q.diffuse);
    const double g = 127 / 255.0;

    // Unit normals whose reflections land inside texels.
    D3DVECTOR normals[] = {{0.408f, 0.289f, -0.866f}, {-0.408f, -0.289f, -0.866f}, {0.408f, -0.289f, -0.866f},
                           {0.707f, -0.5f, -0.5f},    {-0.707f, 0.5f, -0.5f},      {0.707f, 0.5f, -0.5f}};
    for (D3DVECTOR& n : normals)
        vecNormalize(n);
    const D3DMATRIX views[] = {rotationY(0.0), rotationY(std::acos(-1.0) / 2)};
    D3DMATRIX identity;
    makeAffineMatrix(identity, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0);

    // Without a colour map the image goes on stage 0 over the diffuse
    // colour, mapped across the X axis.
    int seen = 0;
    for (const D3DMATRIX& view : views) {
        // World = view inverse: the quad stays where it was in camera space
        // while the reflection turns back through the view.
        D3DMATRIX world;
        matInvertAffine(world, view);
        rig.engine->uniforms->setView(view);
        rig.engine->uniforms->setWorld(world);
        for (const D3DVECTOR& n : normals) {
            const int texel = sphereTexel(n, view, TextureLayer::axisX);
            if (texel < 0)
                continue;
            seen |= 1 << texel;
            q.normal = n;
            const std::vector<u32> pixels = rig.draw(s, 0.0, q);
            EXPECT_TRUE(near(at(pixels, 32, 24), withAlpha(sat(d + scaled(rgba(image[texel]), g)), d.a)))
                << n.x << " " << n.y << " " << n.z << " texel " << texel;
        }
    }
    EXPECT_EQ(seen, 15) << "every texel reached";
    EXPECT_EQ(rig.stage(0, D3DTSS_TEXCOORDINDEX), DWORD(D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR));
    EXPECT_EQ(rig.stage(0, D3DTSS_TEXTURETRANSFORMFLAGS), DWORD(D3DTTFF_COUNT2));
    EXPECT_EQ(rig.stage(1, D3DTSS_COLOROP), DWORD(D3DTOP_DISABLE));
    EXPECT_EQ(rig.sampler(0, D3DSAMP_ADDRESSU), DWORD(D3DTADDRESS_WRAP));
    EXPECT_EQ(rig.render(D3DRS_TEXTUREFACTOR), 0x7F7F7F7Fu);

    // With a planar colour map on Y or Z: the image on stage 1 over colour
    // x diffuse, mapped across that axis; a strength above 1 counts as 1.
    rig.engine->uniforms->setView(identity);
    rig.engine->uniforms->setWorld(identity);
    const u32 paint = 0xFF80C0FF;
    TextureLayer* colr = addLayer(s, channelCOLR, rig.solid(paint));
    colr->projection = TextureLayer::projectionPlanar;
    s.reflection.value = 3.0f;
    const Rgba base = rgba(paint) * d;
    for (int axis : {TextureLayer::axisY, TextureLayer::axisZ}) {
        colr->axis = axis;
        seen = 0;
        for (const D3DVECTOR& n : normals) {
            const int texel = sphereTexel(n, identity, axis);
            if (texel < 0)
                continue;
            seen |= 1 << texel;
            q.normal = n;
            const std::vector<u32> pixels = rig.draw(s, 0.0, q);
            EXPECT_TRUE(near(at(pixels, 32, 24), withAlpha(sat(base + rgba(image[texel])), base.a)))
                << "axis " << axis << ": " << n.x << " " << n.y << " " << n.z << " texel " << texel;
        }
        EXPECT_EQ(seen, 15) << "every texel reached on axis " << axis;
    }
    EXPECT_EQ(rig.stage(1, D3DTSS_COLOROP), DWORD(D3DTOP_MULTIPLYADD));
    EXPECT_EQ(rig.stage(2, D3DTSS_COLOROP), DWORD(D3DTOP_DISABLE));
    EXPECT_EQ(rig.render(D3DRS_TEXTUREFACTOR), 0xFFFFFFFFu);

    // Other reflection options draw no image.
    s.reflectionOptions = 1;
    const std::vector<u32> pixels = rig.draw(s, 0.0, q);
    EXPECT_TRUE(near(at(pixels, 32, 24), base));
}

// One row of a 4 x 1 stripe texture as the animated colour map shows it:
// coordinate c along the U axis runs -0.5..0.5 across the target, u =
// (c - centre) / size + 0.5.
void expectStripes(const std::vector<u32>& pixels, const u32 (&stripes)[4], double centre, double size)
{
    int checked = 0;
    for (int x = 0; x < kWidth; ++x) {
        const double c = across(x, kWidth) - 0.5;
        const int i = texelIndex((c - centre) / size + 0.5, 4);
        if (i < 0)
            continue;
        ++checked;
        EXPECT_EQ(at(pixels, x, 24), stripes[i]) << "column " << x;
    }
    EXPECT_GT(checked, kWidth / 2);
}

TEST(FvfShaderPairDraw, AnimatedPlacementMovesTheMapOverTime)
{
    Rig rig;
    REQUIRE_RIG(rig);
    rig.unlit();
    const u32 stripes[4] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF};
    Texture* map = rig.texture(4, 1, [&](int x, int) { return stripes[x]; });

    struct Case {
        int axis;
        int component; // of the corner position that crosses the target
    } cases[] = {{TextureLayer::axisZ, 0}, {TextureLayer::axisX, 2}, {TextureLayer::axisY, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.axis);
        Surface s(nullptr, "a@scroll");
        TextureLayer* colr = addLayer(s, channelCOLR, map);
        colr->axis = c.axis;
        Ramp slide(0.0f, 0.25f);
        Ramp grow(1.0f, 1.0f);
        colr->center[c.component].source = &slide;
        colr->size[c.component].source = &grow;
        EXPECT_TRUE(FVFShaderPair::hasTextures(colr));
        // The corners' own positions as coordinates.
        Quad q;
        const float edge[4] = {-0.5f, 0.5f, -0.5f, 0.5f};
        for (int i = 0; i < 4; ++i) {
            q.set0[i][0] = q.set0[i][1] = q.set0[i][2] = 0.0f;
            q.set0[i][c.component] = edge[i];
        }

        std::vector<u32> pixels = rig.draw(s, 0.0, q);
        expectStripes(pixels, stripes, 0.0, 1.0);
        EXPECT_EQ(rig.stage(0, D3DTSS_TEXTURETRANSFORMFLAGS), DWORD(D3DTTFF_COUNT2));

        pixels = rig.draw(s, 1.0, q);
        expectStripes(pixels, stripes, 0.25, 2.0);
        EXPECT_EQ(colr->center[c.component].value, 0.25f); // kept
        EXPECT_EQ(colr->size[c.component].value, 2.0f);
    }

    // A still layer turns the transform of stage 0 off again.
    Surface still(nullptr, "a@still");
    addLayer(still, channelCOLR, map);
    EXPECT_FALSE(FVFShaderPair::hasTextures(still.findLayer(channelCOLR, 1)));
    EXPECT_FALSE(FVFShaderPair::hasTextures(nullptr));
    const std::vector<u32> pixels = rig.draw(still, 0.0);
    EXPECT_EQ(rig.stage(0, D3DTSS_TEXTURETRANSFORMFLAGS), DWORD(D3DTTFF_DISABLE));
    EXPECT_EQ(at(pixels, 8, 24), stripes[0]);
    EXPECT_EQ(at(pixels, 56, 24), stripes[3]);
}

TEST(FvfShaderPairDraw, AGradientIsReadAtTheDepthOverItsRange)
{
    Rig rig;
    REQUIRE_RIG(rig);
    rig.unlit();
    const u32 stripes[4] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF};
    Texture* row = rig.texture(4, 1, [&](int x, int) { return stripes[x]; });
    Surface s(nullptr, "g@gradient");
    TextureLayer* colr = addLayer(s, channelCOLR, row);
    colr->gradientParameter = 8; // "Y Distance to Object"
    // The quad lies at depth 0.5: u = 0.5 / range end, the same all over,
    // whatever the corners' own coordinates.
    for (auto [rangeEnd, stripe] : {std::pair{2.5f, 0}, {0.8f, 2}}) {
        SCOPED_TRACE(rangeEnd);
        colr->gradientRangeEnd = rangeEnd;
        const std::vector<u32> pixels = rig.draw(s, 0.0);
        for (auto [x, y] : {std::pair{8, 8}, {56, 8}, {8, 40}, {56, 40}})
            EXPECT_EQ(at(pixels, x, y), stripes[stripe]) << x << "," << y;
    }
}

D3DMATRIX transformOf(IDirect3DDevice9* device, int stage)
{
    D3DMATRIX m = {};
    device->GetTransform(D3DTRANSFORMSTATETYPE(D3DTS_TEXTURE0 + stage), &m);
    return m;
}

TEST(FvfShaderPairDraw, TheColourTransformAlsoMovesTheTransparencyMapUnlessThatMovesItself)
{
    Rig rig;
    REQUIRE_RIG(rig);
    rig.unlit();
    Surface s(nullptr, "a@curtain");
    TextureLayer* colr = addLayer(s, channelCOLR, rig.solid(0xFFFFFFFF));
    TextureLayer* tran = addLayer(s, channelTRAN, rig.solid(0xFFFFFFFF));
    colr->axis = TextureLayer::axisZ;
    tran->axis = TextureLayer::axisZ;
    Ramp colrCentre(0.0f, 0.25f);
    colr->center[0].source = &colrCentre;

    rig.draw(s, 1.0);
    // u = x - 0.25 + 0.5, v = y + 0.5 on both stages.
    for (int stage : {0, 1}) {
        SCOPED_TRACE(stage);
        const D3DMATRIX m = transformOf(rig.device(), stage);
        EXPECT_EQ(rig.stage(DWORD(stage), D3DTSS_TEXTURETRANSFORMFLAGS), DWORD(D3DTTFF_COUNT2));
        EXPECT_FLOAT_EQ(m._11, 1.0f);
        EXPECT_FLOAT_EQ(m._22, 1.0f);
        EXPECT_FLOAT_EQ(m._41, 0.25f);
        EXPECT_FLOAT_EQ(m._42, 0.5f);
        EXPECT_FLOAT_EQ(m._31, 0.0f);
        EXPECT_FLOAT_EQ(m._33, 0.0f);
        EXPECT_FLOAT_EQ(m._44, 1.0f);
    }

    Ramp tranCentre(0.0f, -0.5f);
    tran->center[1].source = &tranCentre;
    rig.draw(s, 1.0);
    const D3DMATRIX m0 = transformOf(rig.device(), 0);
    const D3DMATRIX m1 = transformOf(rig.device(), 1);
    EXPECT_FLOAT_EQ(m0._41, 0.25f);
    EXPECT_FLOAT_EQ(m0._42, 0.5f);
    EXPECT_FLOAT_EQ(m1._41, 0.5f);
    EXPECT_FLOAT_EQ(m1._42, 1.0f);

    // Only the transparency map moving: stage 0 stays untransformed.
    colr->center[0].source = nullptr;
    rig.draw(s, 1.0);
    EXPECT_EQ(rig.stage(0, D3DTSS_TEXTURETRANSFORMFLAGS), DWORD(D3DTTFF_DISABLE));
    EXPECT_EQ(rig.stage(1, D3DTSS_TEXTURETRANSFORMFLAGS), DWORD(D3DTTFF_COUNT2));
}

TEST(FvfShaderPairDraw, StagesOfThePreviousSurfaceDoNotLeak)
{
    Rig rig;
    REQUIRE_RIG(rig);
    rig.litByAmbient();
    Surface layered(nullptr, "l@layered");
    addLayer(layered, channelCOLR, rig.solid(0xFF0000FF));
    addLayer(layered, channelTRAN, rig.solid(0x80FFFFFF))->opacityType = 3;
    rig.draw(layered, 0.0);
    EXPECT_EQ(rig.stage(1, D3DTSS_COLOROP), DWORD(D3DTOP_MODULATE));

    // A colour map alone: stage 1 ends the chain.
    Surface mapped(nullptr, "l@mapped");
    addLayer(mapped, channelCOLR, rig.solid(0xFF00FF00));
    std::vector<u32> pixels = rig.draw(mapped, 0.0);
    EXPECT_EQ(rig.stage(1, D3DTSS_COLOROP), DWORD(D3DTOP_DISABLE));
    EXPECT_TRUE(near(at(pixels, 32, 24), Rgba{0, 1, 0, 1}));

    // No layers: stage 0 ends it, and only the material shows.
    Surface plain(nullptr, "l@plain");
    setColor(plain, 0.4f, 0.2f, 0.6f);
    pixels = rig.draw(plain, 0.0);
    EXPECT_TRUE(near(at(pixels, 32, 24), Rgba{0.4, 0.2, 0.6, 1.0}));
    EXPECT_EQ(rig.bound(0), nullptr);
}

} // namespace
