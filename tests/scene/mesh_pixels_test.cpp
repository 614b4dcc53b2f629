// A built cube drawn through its subset on a headless device: through the
// fixed-function pair each visible face shows its texel under its own light;
// through a pair that cannot activate, the fallback's white material shows
// the bare texels, whether or not a vertex shader was left bound.
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

// Face f shows texel (f % 4, f / 4).
u32 faceTexel(int x, int y)
{
    static const u32 texels[2][4] = {{0xFFE03020, 0xFF20C040, 0xFF3050E0, 0xFFC0C020},
                                     {0xFF20C0C0, 0xFFC020C0, 0xFF808080, 0xFFF0A060}};
    return texels[y][x];
}

testing::AssertionResult near(u32 got, u32 texel, float light)
{
    for (int shift : {16, 8, 0}) {
        const int want = int(std::lround(float((texel >> shift) & 0xFF) * light));
        if (std::abs(int((got >> shift) & 0xFF) - want) > 3)
            return testing::AssertionFailure() << std::hex << got << " for " << texel << " x " << light;
    }
    return testing::AssertionSuccess();
}

// No shaders for anything; may leave a vertex shader bound.
class FailingPair : public ShaderPair {
public:
    FailingPair(Engine* engine, IDirect3DVertexShader9* leftBound) : ShaderPair(engine), leftBound(leftBound) {}
    bool activate() override
    {
        engine->currentDevice->SetVertexShader(leftBound);
        return false;
    }
    void setStates(Surface*, double) override
    {
        *engine->switches->numTexBUMP = *engine->switches->numTexSPEC = 0;
        *engine->switches->numTexCOLR = 1;
    }
    IDirect3DVertexShader9* leftBound;
};

// Puts every vertex on one point: if it drew, nothing would show.
IDirect3DVertexShader9* collapsingShader(IDirect3DDevice9* device)
{
    static const char text[] = "float4 vmain(float3 p : POSITION) : POSITION { return float4(0, 0, 0.5, 1); }\n";
    ID3DXEffectCompiler* compiler = nullptr;
    ID3DXBuffer* code = nullptr;
    IDirect3DVertexShader9* shader = nullptr;
    if (SUCCEEDED(D3DXCreateEffectCompiler(text, UINT(sizeof text - 1), nullptr, nullptr, 0, &compiler, nullptr)) &&
        SUCCEEDED(compiler->CompileShader("vmain", "vs_2_0", 0, &code, nullptr, nullptr)))
        device->CreateVertexShader(static_cast<const DWORD*>(code->GetBufferPointer()), &shader);
    if (code)
        code->Release();
    if (compiler)
        compiler->Release();
    return shader;
}

TEST(MeshPixels, CubeFacesThroughThePairAndTheFallback)
{
    MeshRig rig;
    REQUIRE_ENGINE(rig.engine);
    IDirect3DDevice9* d = rig.device();
    texturetest::BuiltTexture texture(rig.get(), 0);
    ASSERT_TRUE(texture.create2D(4, 2, 0, "(faces)"));
    texturetest::fillLevel0(texture, faceTexel);
    texture.finishCreation();
    // Every corner of face f takes the centre of texel f.
    auto* map = new UVMap;
    map->u.assign(8, 0.0f);
    map->v.assign(8, 0.0f);
    const std::vector<Poly> faces = cubeFaces();
    for (u32 f = 0; f < faces.size(); ++f)
        for (u32 p : faces[f].points)
            map->addDiscontinuous(p, f, (float(f % 4) + 0.5f) / 4, (float(f / 4) + 0.5f) / 2);
    addLayer(rig.addSurface(), channelCOLR, map, &texture);
    auto cube = rig.mesh(cubePoints(), faces);
    ASSERT_TRUE(cube->prepare());

    // Turned so that faces 4 (-x), 3 (+y) and 0 (-z) face the viewer, who
    // looks along +z through an orthographic projection.
    D3DMATRIX turnY, turnX, world, view, projection, transform;
    const float c = std::cos(0.6f), s = std::sin(0.6f);
    makeAffineMatrix(turnY, c, 0, s, 0, 1, 0, -s, 0, c, 0, 0, 0);
    makeAffineMatrix(turnX, 1, 0, 0, 0, c, -s, 0, s, c, 0, 0, 0);
    matMul(world, turnY, turnX);
    makeAffineMatrix(view, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 3);
    makeAffineMatrix(projection, 0.75f, 0, 0, 0, 1, 0, 0, 0, 0.1f, 0, 0, 0);
    matMul(transform, world, view);
    matMul(transform, transform, projection);
    rig->uniforms->setWorld(world);
    rig->uniforms->setView(view);
    rig->uniforms->setProjection(projection);
    // One white directional light (unit direction), no ambient.
    D3DLIGHT9 light = {};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = {1, 1, 1, 1};
    light.Direction = {0.3f, -0.5f, 0.8f};
    vecNormalize(light.Direction);
    d->SetLight(0, &light);
    d->LightEnable(0, TRUE);
    d->SetRenderState(D3DRS_LIGHTING, TRUE);
    d->SetRenderState(D3DRS_AMBIENT, 0);

    IDirect3DVertexShader9* shader = collapsingShader(d);
    ASSERT_NE(shader, nullptr);
    FailingPair plain(rig.get(), nullptr), leaving(rig.get(), shader);
    const std::pair<ShaderPair*, bool> pairs[] = {{rig->standardPair, true}, {&plain, false}, {&leaving, false}};
    for (const auto& [pair, lit] : pairs) {
        d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        d->BeginScene();
        d->SetTexture(0, texture.baseTexture()); // what the fallback's stage reads
        cube->subsets[0]->render(pair, 0.0);
        d->SetVertexShader(nullptr);
        d->EndScene();
        const std::vector<u32> pixels = readBackBuffer(d);
        ASSERT_EQ(pixels.size(), size_t(kWidth * kHeight));
        // The centres of the faces seen: 4 (-x), 3 (+y) and 0 (-z).
        for (int f : {4, 3, 0}) {
            const D3DVECTOR local = {f == 4 ? -1.0f : 0.0f, f == 3 ? 1.0f : 0.0f, f == 0 ? -1.0f : 0.0f};
            float clip[4];
            vecTransform(clip, {local.x / 2, local.y / 2, local.z / 2}, transform);
            const int x = int((clip[0] + 1) * 0.5f * kWidth), y = int((1 - clip[1]) * 0.5f * kHeight);
            D3DVECTOR normal;
            vecTransformNormalTo(normal, local, world);
            const D3DVECTOR& l = light.Direction;
            const float shade = lit ? -(normal.x * l.x + normal.y * l.y + normal.z * l.z) : 1.0f;
            EXPECT_TRUE(near(pixels[size_t(y * kWidth + x)], faceTexel(f % 4, f / 4), shade))
                << (pair == &leaving ? "behind a vertex shader" : lit ? "lit" : "fallback") << ", face " << f;
        }
    }
    shader->Release();
}

} // namespace
