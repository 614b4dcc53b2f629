// A scene of 400 objects (4 shared meshes on a 20 x 20 grid, 6 lights, no
// shadow or mirror) drawn at 320 x 240 through Scene::render, against a
// plain loop of only the device calls that draw the same visible objects
// (view and projection and the surface's shaders once, then per object its
// world matrix and its subsets' buffers and draws), in the same process,
// in both drawing modes.
// Every frame ends with a read-back of the target so the GPU work counts.
// The two runs take turns, a few frames each; medians of the frame times.
// The last two lines are ratio_ff=R and ratio_fx=R (scene / loop time).
#include "bench_display.h"
#include "display/display_manager.h"
#include "foundation/file_stream.h"
#include "foundation/matrix.h"
#include "lightwave/lw_object.h"
#include "lightwave/meta_scene.h"
#include "materials/engine.h"
#include "materials/shader_pair.h"
#include "materials/shader_parameters.h"
#include "materials/surface.h"
#include "platform/d3d9/adapter_profiles.h"
#include "scene/camera.h"
#include "scene/light.h"
#include "scene/object.h"
#include "scene/poly_mesh.h"
#include "scene/scene.h"
#include "scene/subset.h"

#include <d3dx9.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kGrid = 20;
constexpr int kWarmupFrames = 3;
constexpr int kRounds = 8;
constexpr int kFramesPerRound = 3;
constexpr float kPi = 3.14159265f;

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A sphere of the given tessellation; quads turned outwards.
PolyMesh* makeSphere(Engine* engine, LWObject* object, int stacks, int slices)
{
    std::vector<D3DVECTOR> points;
    for (int i = 0; i <= stacks; ++i)
        for (int j = 0; j < slices; ++j) {
            const float a = kPi * float(i) / float(stacks), b = 2.0f * kPi * float(j) / float(slices);
            points.push_back({0.4f * std::sin(a) * std::cos(b), 0.4f * std::cos(a), 0.4f * std::sin(a) * std::sin(b)});
        }
    auto* pointArray = new D3DVECTOR[points.size()];
    std::copy(points.begin(), points.end(), pointArray);
    const int count = stacks * slices;
    auto* polygons = new PolyMesh::Polygon[size_t(count)];
    for (int i = 0; i < stacks; ++i)
        for (int j = 0; j < slices; ++j) {
            PolyMesh::Polygon& p = polygons[i * slices + j];
            p.vertexCount = 4;
            p.pointIndices = new u32[4]{u32(i * slices + j), u32((i + 1) * slices + j),
                                        u32((i + 1) * slices + (j + 1) % slices), u32(i * slices + (j + 1) % slices)};
        }
    auto* mesh = new PolyMesh(engine, object, count, polygons, pointArray, i32(points.size()));
    mesh->layerIndex = i32(object->layers.size());
    object->layers.push_back(mesh);
    return mesh;
}

struct Bench {
    Engine* engine;
    std::unique_ptr<MetaScene> meta;
    Scene* scene = nullptr;
    std::vector<Object*> visible;
    std::vector<D3DMATRIX> worldViewProj; // transposed, per visible object
    IDirect3DSurface9* readback = nullptr;

    explicit Bench(Engine* e) : engine(e)
    {
        meta = std::make_unique<MetaScene>(engine, "bench.mts");
        scene = new Scene(meta.get());
        meta->scenes.push_back(scene);
        auto* surface = new Surface(meta.get(), "bench.lwo@s");
        surface->loaded = 1; // as the object reader leaves it
        meta->surfaces.push_back(surface);
        auto* object = new LWObject(meta.get(), "bench.lwo");
        meta->lwObjects.push_back(object);
        object->tagCount = 1;
        object->tags = new Surface*[1]{surface};
        Mesh* meshes[4];
        for (int k = 0; k < 4; ++k)
            meshes[k] = makeSphere(engine, object, 6 + 2 * k, 8 + 2 * k);
        for (int i = 0; i < kGrid * kGrid; ++i) {
            Object* o = scene->addMeshObject("bench.lwo", meshes[i % 4]);
            o->channels[kPositionX].value = float(i % kGrid) - kGrid / 2.0f;
            o->channels[kPositionZ].value = float(i / kGrid);
        }
        Camera* camera = scene->addCamera();
        camera->channels[kPositionY].value = 4.0f;
        camera->channels[kPositionZ].value = -6.0f;
        camera->channels[kPitch].value = 0.35f;
        scene->currentCamera = camera;
        for (int k = 0; k < 6; ++k) {
            Light* l = scene->addLight();
            l->lightType = k % 3;
            l->red.value = l->green.value = l->blue.value = 1.0f;
            l->intensity.value = 0.3f + 0.1f * float(k);
            l->channels[kPositionX].value = float(3 * k - 8);
            l->channels[kPositionY].value = 3.0f;
            l->channels[kPositionZ].value = float(2 * k);
            l->channels[kPitch].value = 0.8f;
        }
        scene->finishLoading(nullptr, 0.0f, 0.0f);
        engine->currentDevice->CreateOffscreenPlainSurface(kWidth, kHeight, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM,
                                                           &readback, nullptr);

        // The objects the scene's culling keeps, found once outside the timing.
        camera->invalidate();
        camera->buildProjection(0.0);
        const D3DMATRIX& view = *camera->getInvMatrix(0.0);
        for (Object* o : scene->objects) {
            D3DMATRIX worldView, clip;
            matMulAffineFull(worldView, *o->getMatrix(0.0), view);
            matMul(clip, worldView, camera->projection);
            float corners[8][4];
            o->mesh->transformBoxCorners(clip, corners);
            if (!camera->isBoxOutside(corners)) {
                visible.push_back(o);
                D3DMATRIX rows;
                matTranspose(rows, clip);
                worldViewProj.push_back(rows);
            }
        }
    }
    ~Bench()
    {
        if (readback)
            readback->Release();
    }

    void finishFrame()
    {
        IDirect3DDevice9* d = engine->currentDevice;
        d->EndScene();
        d->GetRenderTargetData(engine->backBuffer, readback);
        D3DLOCKED_RECT lr{};
        if (SUCCEEDED(readback->LockRect(&lr, nullptr, D3DLOCK_READONLY)))
            readback->UnlockRect();
    }

    void sceneFrame()
    {
        engine->currentDevice->BeginScene();
        scene->render(true, 0, 1.0);
        finishFrame();
    }

    // The device calls alone: the states the pass leaves are kept.
    void loopFrame()
    {
        IDirect3DDevice9* d = engine->currentDevice;
        d->BeginScene();
        d->SetRenderTarget(0, engine->backBuffer);
        d->SetDepthStencilSurface(engine->depthSurface);
        d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
        Camera* camera = scene->cameras[0];
        d->SetTransform(D3DTS_VIEW, &camera->inverseWorld);
        d->SetTransform(D3DTS_PROJECTION, &camera->projection);
        // Every object shares one surface: the pair's shaders are bound once
        // and only the per-object constants change.
        Surface* surface = meta->surfaces[0];
        Subset* first = visible.empty() ? nullptr : visible[0]->mesh->asPolyMesh()->subsets[0];
        if (first)
            d->SetSoftwareVertexProcessing(first->layout.softwareProcessing);
        UINT wvpRegister = 0;
        bool shaders = false;
        if (!engine->fixedFunction && first) {
            engine->standardPair->setStates(surface, 1.0);
            d->SetVertexDeclaration(first->layout.declarations[0]);
            if (engine->standardPair->activate()) {
                engine->standardPair->setSources(surface, 1.0);
                ID3DXConstantTable* table = engine->standardPair->currentVertexShader->constants;
                D3DXCONSTANT_DESC desc{};
                UINT count = 1;
                if (D3DXHANDLE h = table->GetConstantByName(nullptr, "matWorldViewProj");
                    h && SUCCEEDED(table->GetConstantDesc(h, &desc, &count))) {
                    wvpRegister = desc.RegisterIndex;
                    shaders = true;
                }
            }
        }
        for (size_t i = 0; i < visible.size(); ++i) {
            Object* o = visible[i];
            d->SetTransform(D3DTS_WORLD, &o->world);
            if (shaders)
                d->SetVertexShaderConstantF(wvpRegister, &worldViewProj[i]._11, 4);
            for (Subset* s : o->mesh->asPolyMesh()->subsets) {
                d->SetVertexDeclaration(s->layout.declarations[0]);
                d->SetStreamSource(0, s->vertexBuffers[0], 0, s->layout.stride);
                d->SetIndices(s->indexBuffers[0]);
                d->DrawIndexedPrimitive(s->primitiveType, 0, 0, UINT(s->vertexCount), 0, UINT(s->primitiveCount));
            }
        }
        finishFrame();
    }
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

// Scene / loop frame time in one mode.
double run(DisplayManager& manager, bool fixedFunction, const std::string& effects)
{
    manager.settings->fixedFunction = fixedFunction ? 1 : 0;
    Engine engine(&manager);
    FileStream files(effects.c_str());
    if (!engine.loadEffects(&files))
        std::printf("%s: effects not loaded, surfaces draw with the fallback\n", fixedFunction ? "ff" : "fx");
    double ratio = 0.0;
    {
        Bench bench(&engine);
        for (int i = 0; i < kWarmupFrames; ++i)
            bench.sceneFrame(), bench.loopFrame();
        std::vector<double> sceneTimes, loopTimes;
        for (int round = 0; round < kRounds; ++round) {
            auto start = std::chrono::steady_clock::now();
            for (int i = 0; i < kFramesPerRound; ++i)
                bench.sceneFrame();
            sceneTimes.push_back(secondsSince(start) / kFramesPerRound);
            start = std::chrono::steady_clock::now();
            for (int i = 0; i < kFramesPerRound; ++i)
                bench.loopFrame();
            loopTimes.push_back(secondsSince(start) / kFramesPerRound);
        }
        const double s = median(sceneTimes), l = median(loopTimes);
        std::printf("%s: %zu of %d objects visible, scene %.2f ms, loop %.2f ms per frame\n",
                    fixedFunction ? "ff" : "fx", bench.visible.size(), kGrid * kGrid, s * 1e3, l * 1e3);
        ratio = l > 0.0 ? s / l : 0.0;
    }
    return ratio;
}

} // namespace

int main()
{
    std::unique_ptr<DisplayManager> manager = openBenchDisplay(kWidth, kHeight);
    if (!manager)
        return 1;
    // The effect files next to the sources.
    std::string here = __FILE__;
    here = here.substr(0, here.find_last_of('/') + 1);
    const std::string effects = here + "../content/fx/";

    const double ff = run(*manager, true, effects);
    const double fx = run(*manager, false, effects);
    manager.reset();
    platform::clearAdapterProfiles();
    std::printf("ratio_ff=%.2f\n", ff);
    std::printf("ratio_fx=%.2f\n", fx);
    return 0;
}
