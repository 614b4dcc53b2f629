// The scene most pass tests draw, built in code: a floor, a box standing on
// it, a flat mirror (reflection 0.5, options 0, its local -Y towards the
// camera), a sphere that reflects through a cube map (options 3), spot
// light 0 casting a shadow map straight down on the box and a distant
// light, seen from camera 0 in front of it all. Either drawing mode, one or
// two devices.
#pragma once

#include "scene_test_support.h"

#include "foundation/file_stream.h"
#include "lightwave/lw_object.h"
#include "materials/surface.h"
#include "scene/camera.h"
#include "scene/light.h"
#include "scene/object.h"
#include "scene/poly_mesh.h"
#include "scene/scene_interaction.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <memory>
#include <vector>

namespace scenetest {

// An engine over 64 x 48 windowed outputs in the given mode.
class ModeEngine : public testsupport::Outputs {
public:
    explicit ModeEngine(bool fixedFunction, bool stereo = false)
        : Outputs({platform::defaultAdapterProfile()}, [=](DisplaySettings& s) {
              s.fixedFunction = fixedFunction ? 1 : 0;
              s.stereo = stereo ? 1 : 0;
          })
    {
        if (created) {
            engine = std::make_unique<Engine>(&manager);
            attachSceneInteraction(engine.get());
        }
    }
    ~ModeEngine() { engine.reset(); }

    Engine* get() const { return engine.get(); }
    Engine* operator->() const { return engine.get(); }
    explicit operator bool() const { return engine != nullptr; }

    std::unique_ptr<Engine> engine;
};

constexpr float kPi = 3.14159265f;

struct BuiltScene {
    ModeEngine engine;
    std::unique_ptr<MetaScene> meta;
    Scene* scene = nullptr;
    Camera* camera = nullptr;
    Object *floor = nullptr, *box = nullptr, *mirror = nullptr, *sphere = nullptr;
    Light *spot = nullptr, *distant = nullptr;

    explicit BuiltScene(bool fixedFunction = true, bool stereo = false) : engine(fixedFunction, stereo)
    {
        if (!engine)
            return;
        meta = std::make_unique<MetaScene>(engine.get(), "built.mts");
        scene = new Scene(meta.get());
        meta->scenes.push_back(scene);

        camera = scene->addCamera();
        place(camera, 0.0f, 2.0f, -6.0f);
        camera->channels[kPitch].value = std::atan2(1.5f, 6.0f);
        scene->currentCamera = camera;

        floor = addObject("floor.lwo", {{-5, 0, -5}, {-5, 0, 5}, {5, 0, 5}, {5, 0, -5}}, {{0, 1, 2, 3}});
        box = addObject("box.lwo", cubePoints(), cubeFaces());
        place(box, 0.0f, 0.5f, 0.0f);
        mirror = addObject("mirror.lwo", {{-1, 0, -1}, {1, 0, -1}, {1, 0, 1}, {-1, 0, 1}}, {{0, 1, 2, 3}});
        place(mirror, 2.5f, 1.0f, 1.0f);
        mirror->channels[kPitch].value = kPi / 2; // local -Y turns to -Z
        surfaceOf(mirror)->reflection.value = 0.5f;
        surfaceOf(mirror)->setReflectionOptions(0);
        // A flat mirror's surface is transparent: read from a file, its
        // layer sorts after the opaque ones.
        mirror->mesh->sortAfterOpaque = 1;
        const std::vector<D3DVECTOR> spherePoints = spherePointsOf(0.75f);
        sphere = addObject("sphere.lwo", spherePoints, sphereFacesOf(spherePoints));
        place(sphere, -2.5f, 1.0f, 0.0f);
        surfaceOf(sphere)->reflection.value = 1.0f;
        surfaceOf(sphere)->setReflectionOptions(3);
        surfaceOf(sphere)->createCubeMap(engine->currentDevice);

        spot = scene->addLight();
        spot->lightType = 2;
        spot->shadowType = 2;
        spot->shadowMapSize = 64;
        place(spot, 0.0f, 5.0f, 0.0f);
        spot->channels[kPitch].value = kPi / 2; // straight down
        distant = scene->addLight();
        distant->lightType = 0;
        distant->channels[kPitch].value = kPi / 4;
        for (Light* l : {spot, distant}) {
            l->red.value = l->green.value = l->blue.value = 1.0f;
            l->intensity.value = l == spot ? 1.0f : 0.5f;
        }
        scene->finishLoading(nullptr, 0.0f, 0.0f);
    }
    ~BuiltScene() { meta.reset(); }

    explicit operator bool() const { return scene != nullptr; }
    IDirect3DDevice9* device() const { return engine->currentDevice; }

    static void place(Node* n, float x, float y, float z)
    {
        n->channels[kPositionX].value = x;
        n->channels[kPositionY].value = y;
        n->channels[kPositionZ].value = z;
    }
    static Surface* surfaceOf(Object* o) { return o->mesh->object->tags[0]; }

    // Surfaces filled as a file would fill them (mesh drawing skips the
    // others) and the content effect files: needed before pixels are read.
    bool readyToDraw()
    {
        for (Object* o : scene->objects)
            surfaceOf(o)->loaded = 1;
        const char* data = std::getenv("QUILLON_TEST_DATA");
        FileStream fx((std::string(data ? data : "tests/data") + "/../../content/fx/").c_str());
        return engine->loadEffects(&fx);
    }

    // A new object whose mesh is one layer of its own object file with one
    // surface; polygons are clockwise seen from their front.
    Object* addObject(const char* file, const std::vector<D3DVECTOR>& points,
                      const std::vector<std::vector<u32>>& polys)
    {
        return scene->addMeshObject(file, addMesh(file, points, polys));
    }

    // That mesh alone, owned by its object file record.
    PolyMesh* addMesh(const char* file, const std::vector<D3DVECTOR>& points,
                      const std::vector<std::vector<u32>>& polys)
    {
        auto* record = new LWObject(meta.get(), file);
        meta->lwObjects.push_back(record);
        auto* surface = new Surface(meta.get(), (std::string(file) + "@s").c_str());
        meta->surfaces.push_back(surface);
        record->tagCount = 1;
        record->tags = new Surface*[1]{surface};
        auto* pointArray = new D3DVECTOR[points.size()];
        std::copy(points.begin(), points.end(), pointArray);
        auto* polygons = new PolyMesh::Polygon[polys.size()];
        for (size_t i = 0; i < polys.size(); ++i) {
            polygons[i].vertexCount = u32(polys[i].size());
            polygons[i].pointIndices = new u32[polys[i].size()];
            std::copy(polys[i].begin(), polys[i].end(), polygons[i].pointIndices);
        }
        auto* mesh = new PolyMesh(engine.get(), record, i32(polys.size()), polygons, pointArray, i32(points.size()));
        mesh->layerIndex = 0;
        record->layers.push_back(mesh);
        return mesh;
    }

    // The unit cube: point i takes x from bit 2, y from bit 1, z from bit 0.
    static std::vector<D3DVECTOR> cubePoints(float half = 0.5f)
    {
        std::vector<D3DVECTOR> p;
        for (int i = 0; i < 8; ++i)
            p.push_back({(i & 4) ? half : -half, (i & 2) ? half : -half, (i & 1) ? half : -half});
        return p;
    }
    static std::vector<std::vector<u32>> cubeFaces()
    {
        return {{0, 2, 6, 4}, {1, 5, 7, 3}, {0, 4, 5, 1}, {2, 3, 7, 6}, {0, 1, 3, 2}, {4, 6, 7, 5}};
    }

    // 8 slices x 6 stacks, the poles repeated per slice.
    static std::vector<D3DVECTOR> spherePointsOf(float r)
    {
        std::vector<D3DVECTOR> p;
        for (int stack = 0; stack <= 6; ++stack)
            for (int slice = 0; slice < 8; ++slice) {
                const float a = kPi * float(stack) / 6.0f, b = 2.0f * kPi * float(slice) / 8.0f;
                p.push_back({r * std::sin(a) * std::cos(b), r * std::cos(a), r * std::sin(a) * std::sin(b)});
            }
        return p;
    }
    // Quads turned so that their front faces outwards.
    static std::vector<std::vector<u32>> sphereFacesOf(const std::vector<D3DVECTOR>& p)
    {
        std::vector<std::vector<u32>> faces;
        for (u32 stack = 0; stack < 6; ++stack)
            for (u32 slice = 0; slice < 8; ++slice) {
                const u32 next = (slice + 1) % 8;
                std::vector<u32> f = {stack * 8 + slice, stack * 8 + next, (stack + 1) * 8 + next,
                                      (stack + 1) * 8 + slice};
                // The first stack's quads start with a repeated pole point.
                const u32 k = stack == 0 ? 1 : 0;
                const D3DVECTOR n = PolyMesh::triangleNormal(p[f[k]], p[f[k + 1]], p[f[k + 2]]);
                const D3DVECTOR& c = p[f[2]];
                if (n.x * c.x + n.y * c.y + n.z * c.z < 0.0f)
                    std::reverse(f.begin(), f.end());
                faces.push_back(f);
            }
        return faces;
    }
};

} // namespace scenetest
