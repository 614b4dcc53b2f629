// A built cube drawn through its subsets on a headless device: with the
// fixed-function pair each visible face shows its texel under its own
// light, and with a pair that cannot activate the fallback's white
// material shows the bare texels, whether or not a vertex shader was left
// bound.
#include "mesh_test_support.h"

#include "foundation/matrix.h"
#include "materials/shader_pair.h"
#include "materials/shader_parameters.h"
#include "platform/device_test_support.h"

#include <d3dx9.h>

#include <cmath>

using namespace meshtest;

namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 48;

// Face f shows texel (f % 4, f / 4) of a 4 x 2 map.
u32 faceTexel(int x, int y)
{
    static const u32 texels[2][4] = {{0xFFE03020, 0xFF20C040, 0xFF3050E0, 0xFFC0C020},
                                     {0xFF20C0C0, 0xFFC020C0, 0xFF808080, 0xFFF0A060}};
    return texels[y][x];
}

struct V3 {
    double x, y, z;
};
V3 sub(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
double dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
V3 cross(V3 a, V3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
V3 unit(V3 a)
{
    const double l = std::sqrt(dot(a, a));
    return {a.x / l, a.y / l, a.z / l};
}

// Looking from eye at the origin (left-handed, y up), and a 60 degree
// perspective.
void camera(D3DMATRIX& view, D3DMATRIX& projection, V3 eye)
{
    const V3 z = unit(sub({0, 0, 0}, eye));
    const V3 x = unit(cross({0, 1, 0}, z));
    const V3 y = cross(z, x);
    makeAffineMatrix(view, float(x.x), float(y.x), float(z.x), float(x.y), float(y.y), float(z.y), float(x.z),
                     float(y.z), float(z.z), float(-dot(x, eye)), float(-dot(y, eye)), float(-dot(z, eye)));
    const float ys = 1.0f / std::tan(3.14159265f / 6), xs = ys * kHeight / kWidth, zn = 0.5f, zf = 10.0f;
    projection = {};
    projection._11 = xs;
    projection._22 = ys;
    projection._33 = zf / (zf - zn);
    projection._34 = 1.0f;
    projection._43 = -zn * zf / (zf - zn);
}

// The pixel a model point lands on.
std::pair<int, int> pixelOf(const D3DVECTOR& p, const D3DMATRIX& viewProjection)
{
    float clip[4];
    vecTransform(clip, p, viewProjection);
    return {int((clip[0] / clip[3] + 1) * 0.5f * kWidth), int((1 - clip[1] / clip[3]) * 0.5f * kHeight)};
}

int channel(u32 c, int shift) { return int((c >> shift) & 0xFF); }

testing::AssertionResult near(u32 got, u32 texel, double light)
{
    for (int shift : {16, 8, 0}) {
        const int want = int(std::lround(channel(texel, shift) * std::min(light, 1.0)));
        if (std::abs(channel(got, shift) - want) > 3)
            return testing::AssertionFailure() << std::hex << "got " << got << ", texel " << texel << std::dec
                                               << " x " << light;
    }
    return testing::AssertionSuccess();
}

// A pair without shaders for anything; it may leave a vertex shader bound.
class FailingPair : public ShaderPair {
public:
    FailingPair(Engine* engine, IDirect3DVertexShader9* leftBound) : ShaderPair(engine), leftBound(leftBound) {}
    bool activate() override
    {
        engine->currentDevice->SetVertexShader(leftBound);
        return false;
    }
    void setSources(Surface*, double) override {}
    void setStates(Surface*, double) override
    {
        *engine->switches->numTexBUMP = 0;
        *engine->switches->numTexCOLR = 1;
        *engine->switches->numTexSPEC = 0;
    }
    IDirect3DVertexShader9* leftBound;
};

// A vertex shader that would put every vertex on one point: if it drew,
// nothing would show.
IDirect3DVertexShader9* collapsingShader(IDirect3DDevice9* device)
{
    static const char text[] = "float4 vmain(float3 p : POSITION) : POSITION { return float4(0, 0, 0.5, 1); }\n";
    ID3DXEffectCompiler* compiler = nullptr;
    if (FAILED(D3DXCreateEffectCompiler(text, UINT(sizeof text - 1), nullptr, nullptr, 0, &compiler, nullptr)))
        return nullptr;
    ID3DXBuffer* code = nullptr;
    IDirect3DVertexShader9* shader = nullptr;
    if (SUCCEEDED(compiler->CompileShader("vmain", "vs_2_0", 0, &code, nullptr, nullptr)))
        device->CreateVertexShader(static_cast<const DWORD*>(code->GetBufferPointer()), &shader);
    if (code)
        code->Release();
    compiler->Release();
    return shader;
}

TEST(MeshPixels, CubeFacesShowTheirTexelsLitAndUnlit)
{
    MeshRig rig;
    REQUIRE_ENGINE(rig.engine);
    IDirect3DDevice9* d = rig.device();
    auto texture = std::make_unique<texturetest::BuiltTexture>(rig.get(), 0);
    ASSERT_TRUE(texture->create2D(4, 2, 0, "(faces)"));
    texturetest::fillLevel0(*texture, faceTexel);
    texture->finishCreation();

    Surface* s = rig.addSurface();
    auto* map = new UVMap;
    map->u.assign(8, 0.0f);
    map->v.assign(8, 0.0f);
    const std::vector<Poly> faces = cubeFaces();
    for (u32 f = 0; f < faces.size(); ++f)
        for (u32 p : faces[f].points)
            map->addDiscontinuous(p, f, (float(f % 4) + 0.5f) / 4, (float(f / 4) + 0.5f) / 2);
    MeshRig::addUVLayer(s, map, channelCOLR, texture.get());
    auto cube = rig.mesh(cubePoints(), faces);
    ASSERT_TRUE(cube->prepare());
    ASSERT_EQ(cube->subsets.size(), 1u);

    // Seen from -x, +y, -z: faces 4 (-x), 3 (+y) and 0 (-z).
    D3DMATRIX view, projection, identity, viewProjection;
    camera(view, projection, {-2.0, 2.5, -3.0});
    makeAffineMatrix(identity, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0);
    matMul(viewProjection, view, projection);
    rig->uniforms->setWorld(identity);
    rig->uniforms->setView(view);
    rig->uniforms->setProjection(projection);
    // One white directional light, no ambient.
    const V3 towards = {0.3, -0.5, 0.8};
    D3DLIGHT9 light = {};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = {1, 1, 1, 1};
    light.Direction = {0.3f, -0.5f, 0.8f};
    d->SetLight(0, &light);
    d->LightEnable(0, TRUE);
    d->SetRenderState(D3DRS_LIGHTING, TRUE);
    d->SetRenderState(D3DRS_AMBIENT, 0);

    struct Face {
        int index;
        D3DVECTOR centre;
        V3 normal;
    } visible[] = {{4, {-0.5f, 0, 0}, {-1, 0, 0}}, {3, {0, 0.5f, 0}, {0, 1, 0}}, {0, {0, 0, -0.5f}, {0, 0, -1}}};

    IDirect3DVertexShader9* shader = collapsingShader(d);
    ASSERT_NE(shader, nullptr);
    FailingPair plain(rig.get(), nullptr), leaving(rig.get(), shader);
    struct Case {
        const char* name;
        ShaderPair* pair;
        bool lit;
    } cases[] = {{"fixed-function pair", rig->standardPair, true},
                 {"fallback", &plain, false},
                 {"fallback behind a vertex shader", &leaving, false}};
    for (const Case& c : cases) {
        d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        d->BeginScene();
        // The texture the fallback's stage reads is the one left bound.
        d->SetTexture(0, texture->baseTexture());
        cube->subsets[0]->render(c.pair, 0.0);
        d->SetVertexShader(nullptr);
        d->EndScene();
        const std::vector<u32> pixels = readBackBuffer(d);
        ASSERT_EQ(pixels.size(), size_t(kWidth * kHeight));
        for (const Face& f : visible) {
            const auto [x, y] = pixelOf(f.centre, viewProjection);
            const double shade = c.lit ? std::max(0.0, -dot(f.normal, unit(towards))) : 1.0;
            EXPECT_TRUE(near(pixels[size_t(y * kWidth + x)], faceTexel(f.index % 4, f.index / 4), shade))
                << c.name << ", face " << f.index;
        }
    }
    shader->Release();
}

} // namespace
