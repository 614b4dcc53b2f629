// Polygon-mesh drawing by pass (which pair draws which subset), the flat
// mirror's stencil procedure and what it restores, the clip plane in both
// spaces, and the shadow-map pass and its debug quad.
#include "mesh_test_support.h"
#include "scene_test_support.h"

#include "foundation/matrix.h"
#include "lightwave/meta_scene.h"
#include "materials/pass_state.h"
#include "materials/shader_pair.h"
#include "materials/shader_parameters.h"
#include "platform/device_test_support.h"
#include "scene/camera.h"
#include "scene/light.h"
#include "scene/object.h"
#include "scene/scene.h"

#include <algorithm>
#include <cmath>

using namespace meshtest;
using platform::d3d9::DeviceCall;
using scenetest::callsNamed;
using scenetest::renderStateValues;

namespace {

D3DMATRIX identity()
{
    D3DMATRIX m = {};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    return m;
}

// Counts the subset draws it was asked for; draws through the fallback.
class CountingPair : public ShaderPair {
public:
    explicit CountingPair(Engine* engine) : ShaderPair(engine) {}
    bool activate() override { return false; }
    void setStates(Surface*, double) override { ++draws; }
    int draws = 0;
};

// A one-quad mesh (the mirror: a unit square in the xz plane) on an engine
// whose four pairs count, an object and a camera in a scene of its own.
struct MirrorRig {
    MeshRig rig;
    Surface* surface = nullptr;
    std::unique_ptr<PolyMesh> mesh;
    std::unique_ptr<MetaScene> meta;
    Scene* scene = nullptr;
    Object* object = nullptr;
    Camera* camera = nullptr;
    ShaderPair* saved[4] = {};
    CountingPair* pairs[4] = {}; // standard, plain, bake, mirror

    MirrorRig()
    {
        if (!rig.engine)
            return;
        surface = rig.addSurface();
        surface->loaded = 1;
        mesh = rig.mesh({{-1, 0, -1}, {-1, 0, 1}, {1, 0, 1}, {1, 0, -1}}, {{{0, 1, 2, 3}}});
        mesh->prepare();
        meta = std::make_unique<MetaScene>(rig.get(), "test.mts");
        scene = new Scene(meta.get());
        meta->scenes.push_back(scene);
        object = new Object(scene, 0);
        object->mesh = mesh.get();
        scene->objects.push_back(object);
        camera = new Camera(scene, 0);
        scene->cameras.push_back(camera);
        ShaderPair** slots[4] = {&rig->standardPair, &rig->plainPair, &rig->bakePair, &rig->mirrorPair};
        for (int i = 0; i < 4; ++i) {
            saved[i] = *slots[i];
            *slots[i] = pairs[i] = new CountingPair(rig.get());
        }
    }
    ~MirrorRig()
    {
        if (!rig.engine)
            return;
        ShaderPair** slots[4] = {&rig->standardPair, &rig->plainPair, &rig->bakePair, &rig->mirrorPair};
        for (int i = 0; i < 4; ++i) {
            delete *slots[i];
            *slots[i] = saved[i];
        }
        meta.reset();
    }
    std::vector<int> draws() const
    {
        std::vector<int> out;
        for (CountingPair* p : pairs) {
            out.push_back(p->draws);
            p->draws = 0;
        }
        return out;
    }
    void render(i32 pass = 0) { mesh->render(0.0, object, camera, pass); }
};

struct PassCase {
    const char* name;
    u8 loaded;
    u8 fixedFunction;
    i32 shadowMode;
    i32 bake;
    bool bakesThisLayer;
    i32 shadowOptions;
    float reflection;
    i32 reflectionOptions;
    i32 depthBefore;
    std::vector<int> draws; // standard, plain, bake, mirror
    int boxes;
    bool withScene = false; // a reflection scene (and no cube)
};

} // namespace

TEST(MeshDrawing, PassChoosesThePairPerSubset)
{
    const PassCase cases[] = {
        {"not loaded", 0, 1, 0, 0, false, 7, 0.0f, 1, 0, {0, 0, 0, 0}, 0},
        {"normal", 1, 1, 0, 0, false, 7, 0.0f, 1, 0, {1, 0, 0, 0}, 0},
        {"shadow, casts", 1, 0, 2, 0, false, 2, 0.0f, 1, 0, {0, 1, 0, 0}, 0},
        {"shadow, casts none", 1, 0, 1, 0, false, 5, 0.0f, 1, 0, {0, 0, 0, 0}, 0},
        {"shadow mode ignored fixed-function", 1, 1, 2, 0, false, 0, 0.0f, 1, 0, {1, 0, 0, 0}, 0},
        {"bake, this layer", 1, 0, 0, 1, true, 7, 0.0f, 1, 0, {0, 0, 1, 0}, 0},
        {"bake, another layer", 1, 0, 0, 1, false, 7, 0.0f, 1, 0, {0, 0, 0, 0}, 0},
        {"reflects by options 2", 1, 1, 0, 0, false, 7, 1.0f, 2, 0, {1, 0, 0, 0}, 0},
        {"flat mirror, no scene", 1, 1, 0, 0, false, 7, 0.5f, 0, 0, {2, 0, 0, 1}, 1},
        {"flat mirror in a reflection", 1, 1, 0, 0, false, 7, 0.5f, 0, 1, {1, 0, 0, 0}, 0},
        {"depth 3", 1, 1, 0, 0, false, 7, 0.0f, 1, 2, {0, 0, 0, 0}, 0},
        {"cube map, no scene", 1, 1, 0, 0, false, 7, 1.0f, 3, 0, {1, 0, 0, 0}, 1},
        {"cube map without its cube", 1, 1, 0, 0, false, 7, 1.0f, 3, 0, {1, 0, 0, 0}, 0, true},
    };
    for (const PassCase& c : cases) {
        MirrorRig r;
        REQUIRE_ENGINE(r.rig.engine);
        texturetest::Diagnostics level(1);
        r.surface->loaded = c.loaded;
        r.rig->fixedFunction = c.fixedFunction;
        shadowPassMode = c.shadowMode;
        *r.rig->switches->bake = c.bake;
        TextureLayer layer;
        r.surface->bakeLayer = &layer;
        r.rig->bakeTarget = c.bakesThisLayer ? &layer : nullptr;
        r.object->shadowOptions = c.shadowOptions;
        r.surface->reflection.value = c.reflection;
        r.surface->reflectionOptions = c.reflectionOptions;
        meshDrawDepth = c.depthBefore;
        r.surface->reflectionScene = c.withScene ? r.scene : nullptr;
        platform::d3d9::setCallLogging(r.rig.device(), true);
        r.render(5);
        const std::vector<DeviceCall> log = platform::d3d9::takeCallLog(r.rig.device());
        platform::d3d9::setCallLogging(r.rig.device(), false);
        EXPECT_TRUE(callsNamed(log, "SetRenderTarget").empty()) << c.name;
        EXPECT_EQ(r.draws(), c.draws) << c.name;
        EXPECT_EQ(int(texturetest::boxTexts().size()), c.boxes) << c.name;
        EXPECT_EQ(meshDrawDepth, c.depthBefore) << c.name;
        EXPECT_EQ(r.mesh->activeRenders, 0) << c.name;
        if (c.loaded && c.draws != std::vector<int>{0, 0, 0, 0}) {
            EXPECT_EQ(r.surface->drawMode, 5) << c.name;
        }
        meshDrawDepth = 0;
        shadowPassMode = 0;
        *r.rig->switches->bake = 0;
        r.surface->bakeLayer = nullptr;
    }
}

// The mirror plane (the object's local -Y through its origin) as the user
// clip plane, world space for fixed function, clip space for shaders: a
// point on the plane lies on it, one in front is kept.
// A turned, moved flat mirror with a reflection scene: the stencil runs
// tag (INCR at D - 1), surface (DECR at D), and stencil, cull mode and
// transforms are the ones in force before.
TEST(MeshDrawing, FlatMirrorRestoresWhatItChanged)
{
    for (u8 fixedFunction : {1, 0}) {
        MirrorRig r;
        REQUIRE_ENGINE(r.rig.engine);
        IDirect3DDevice9* d = r.rig.device();
        r.rig->fixedFunction = fixedFunction;
        r.surface->reflection.value = 0.5f;
        r.surface->reflectionOptions = 0;
        r.surface->reflectionScene = r.scene;
        r.object->channels[kPositionZ].value = 2.0f;
        r.object->channels[kPitch].value = 1.2f;
        r.object->channels[kHeading].value = 0.4f;
        D3DMATRIX view = identity(), projection = identity(), world = identity();
        view._43 = 5.0f;
        projection._34 = 1.0f;
        projection._44 = 0.0f;
        projection._43 = -0.1f;
        world._41 = 7.0f;
        r.rig->uniforms->setView(view);
        r.rig->uniforms->setProjection(projection);
        r.rig->uniforms->setWorld(world);
        d->SetRenderState(D3DRS_STENCILENABLE, TRUE);
        d->SetRenderState(D3DRS_STENCILREF, 9);
        const u32 cull = r.rig->defaultCullMode;
        platform::d3d9::setCallLogging(d, true);
        r.render();
        const std::vector<DeviceCall> log = platform::d3d9::takeCallLog(d);
        platform::d3d9::setCallLogging(d, false);

        EXPECT_EQ(renderStateValues(log, D3DRS_CLIPPLANEENABLE), (std::vector<double>{1, 0}));
        DWORD enable = 0, ref = 0;
        d->GetRenderState(D3DRS_STENCILENABLE, &enable);
        d->GetRenderState(D3DRS_STENCILREF, &ref);
        EXPECT_EQ(enable, DWORD(TRUE));
        EXPECT_EQ(ref, 9u);
        EXPECT_EQ(r.rig->defaultCullMode, cull);
        EXPECT_EQ(std::memcmp(&r.rig->uniforms->view, &view, sizeof view), 0);
        EXPECT_EQ(std::memcmp(&r.rig->uniforms->projection, &projection, sizeof projection), 0);
        EXPECT_EQ(std::memcmp(&r.rig->uniforms->world, &world, sizeof world), 0);
        EXPECT_EQ(renderStateValues(log, D3DRS_STENCILPASS),
                  (std::vector<double>{D3DSTENCILOP_INCR, D3DSTENCILOP_KEEP, D3DSTENCILOP_DECR, D3DSTENCILOP_KEEP}));
        EXPECT_EQ(renderStateValues(log, D3DRS_STENCILREF), (std::vector<double>{0, 1, 1, 9}));
    }
}

struct ShadowCase {
    const char* name;
    D3DFORMAT depthFormat;
    u8 debugView;
    double clearFlags;
    double clearColor;
    double colorWrite;
};

// One shadow-map light and one without its targets: only the first map is
// drawn, with the clear and colour writes of its path; afterwards the pass
// mode is 0, every light is on again and the frame's target is back.
TEST(ShadowMaps, PathsOnTheCallLog)
{
    const double zs = D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, all = zs + D3DCLEAR_TARGET;
    const ShadowCase cases[] = {
        {"colour", D3DFMT_UNKNOWN, 0, all, double(0xFDFDFDFDu), 0x0F},
        {"depth", D3DFMT_D24S8, 0, zs, double(0xFFFFFFFFu), 0},
        {"depth, debug view", D3DFMT_D24S8, 1, all, double(0xFFFFFFFFu), 0x0F},
    };
    for (const ShadowCase& c : cases) {
        MirrorRig r;
        REQUIRE_ENGINE(r.rig.engine);
        IDirect3DDevice9* d = r.rig.device();
        r.rig->fixedFunction = 0;
        r.rig->shadowMapDebugView = c.debugView;
        Light* mapped = new Light(r.scene, 0);
        Light* broken = new Light(r.scene, 1);
        Light* plain = new Light(r.scene, 2);
        r.scene->lights = {mapped, broken, plain};
        mapped->shadowType = broken->shadowType = 2;
        mapped->shadowMapSize = 32;
        mapped->createResources();
        ASSERT_TRUE(mapped->shadowColorSurface && mapped->shadowDepthSurface) << c.name;
        // The depth texture format only chooses the path here; the map's
        // depth surface is the colour path's.
        r.rig->depthTextureFormat = c.depthFormat;

        ComRef<IDirect3DSurface9> before;
        d->GetRenderTarget(0, before.out());
        platform::d3d9::setCallLogging(d, true);
        r.scene->renderShadowMaps(0.0);
        const std::vector<DeviceCall> log = platform::d3d9::takeCallLog(d);
        platform::d3d9::setCallLogging(d, false);

        const std::vector<DeviceCall> clears = callsNamed(log, "Clear");
        ASSERT_EQ(clears.size(), 1u) << c.name;
        EXPECT_EQ(clears[0].args[1], c.clearFlags) << c.name;
        EXPECT_EQ(clears[0].args[2], c.clearColor) << c.name;
        EXPECT_EQ(renderStateValues(log, D3DRS_COLORWRITEENABLE)[0], c.colorWrite) << c.name;
        EXPECT_EQ(shadowPassMode, 0);
        for (Light* l : r.scene->lights)
            EXPECT_EQ(l->off, 0) << c.name;
        ComRef<IDirect3DSurface9> after;
        d->GetRenderTarget(0, after.out());
        EXPECT_EQ(before.get(), after.get()) << c.name;
        r.rig->depthTextureFormat = D3DFMT_UNKNOWN;
    }
}

// The debug quad covers pixels 0 to 511 and no more.
TEST(ShadowMaps, DebugQuadCovers512Pixels)
{
    MirrorRig r;
    REQUIRE_ENGINE(r.rig.engine);
    IDirect3DDevice9* d = r.rig.device();
    ComRef<IDirect3DTexture9> white, target;
    ASSERT_EQ(d->CreateTexture(1, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, white.out(), nullptr), D3D_OK);
    D3DLOCKED_RECT lr{};
    white->LockRect(0, &lr, nullptr, 0);
    *static_cast<u32*>(lr.pBits) = 0xFFFFFFFF;
    white->UnlockRect(0);
    ASSERT_EQ(d->CreateTexture(520, 520, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, target.out(),
                               nullptr),
              D3D_OK);
    ComRef<IDirect3DSurface9> surface, saved, savedDepth;
    target->GetSurfaceLevel(0, surface.out());
    d->GetRenderTarget(0, saved.out());
    d->GetDepthStencilSurface(savedDepth.out());
    d->SetRenderTarget(0, surface.get());
    d->SetDepthStencilSurface(nullptr);
    d->SetRenderState(D3DRS_ZENABLE, FALSE);
    d->SetRenderState(D3DRS_LIGHTING, FALSE);
    d->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    d->BeginScene();
    r.scene->showShadowMap(white.get());
    d->EndScene();
    const std::vector<uint32_t> p = readTarget(d, surface.get());
    d->SetRenderTarget(0, saved.get());
    d->SetDepthStencilSurface(savedDepth.get());
    ASSERT_EQ(p.size(), 520u * 520u);
    EXPECT_EQ(p[0] & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(p[511 * 520 + 511] & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(p[511 * 520 + 512] & 0xFFFFFF, 0u);
    EXPECT_EQ(p[512 * 520 + 511] & 0xFFFFFF, 0u);
}

// A mirror reflecting its own scene: the nested pass reuses the frame's shadow
// map; the next frame at the same time draws its own.
TEST(ShadowMaps, NestedPassOfTheSameSceneReusesTheFramesMaps)
{
    MirrorRig r;
    REQUIRE_ENGINE(r.rig.engine);
    IDirect3DDevice9* d = r.rig.device();
    r.rig->fixedFunction = 0;
    r.surface->reflection.value = 0.5f;
    r.surface->reflectionOptions = 0;
    r.surface->reflectionScene = r.scene;
    r.object->channels[kPositionZ].value = 3.0f;
    r.object->channels[kPitch].value = -1.5707963f;
    Light* spot = new Light(r.scene, 0);
    r.scene->lights = {spot};
    spot->shadowType = 2;
    spot->shadowMapSize = 32;
    spot->createResources();
    ASSERT_TRUE(spot->shadowColorSurface && spot->shadowDepthSurface);
    r.rig->depthTextureFormat = D3DFMT_UNKNOWN;
    platform::d3d9::setCallLogging(d, true);
    for (int frame = 0; frame < 2; ++frame) {
        r.scene->renderFrom(r.camera, 0, 0.0);
        const std::vector<DeviceCall> clears = callsNamed(platform::d3d9::takeCallLog(d), "Clear");
        EXPECT_EQ(std::count_if(clears.begin(), clears.end(),
                                [](const DeviceCall& c) { return c.args[2] == double(0xFDFDFDFDu); }),
                  1)
            << "frame " << frame;
    }
    platform::d3d9::setCallLogging(d, false);
}
