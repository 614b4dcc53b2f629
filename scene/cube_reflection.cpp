#include "foundation/matrix.h"
#include "foundation/vec3.h"
#include "materials/engine.h"
#include "materials/shader_parameters.h"
#include "scene/scene.h"
#include "scene/target_save.h"

#include <cmath>

namespace {

struct CubeFace {
    float target[3];
    float up[3];
    float clear[4];
};

// In D3DCUBEMAP_FACES order; each face clears to its own colour, so what
// the reflection leaves uncovered tells the faces apart.
constexpr CubeFace kFaces[6] = {
    {{1, 0, 0}, {0, 1, 0}, {1, 0, 0, 0}},  {{-1, 0, 0}, {0, 1, 0}, {0, 1, 0, 0}},
    {{0, 1, 0}, {0, 0, -1}, {0, 0, 1, 0}}, {{0, -1, 0}, {0, 0, 1}, {0, 1, 1, 0}},
    {{0, 0, 1}, {0, 1, 0}, {1, 0, 1, 0}},  {{0, 0, -1}, {0, 1, 0}, {1, 1, 0, 0}},
};

} // namespace

D3DMATRIX buildLookAt(const float eye[3], const float target[3], const float up[3])
{
    float z[3] = {target[0] - eye[0], target[1] - eye[1], target[2] - eye[2]};
    vec3Normalize(z);
    float x[3];
    vec3Cross(x, up, z);
    vec3Normalize(x);
    float y[3];
    vec3Cross(y, z, x);
    D3DMATRIX m = {};
    for (int i = 0; i < 3; ++i) {
        m.m[i][0] = x[i];
        m.m[i][1] = y[i];
        m.m[i][2] = z[i];
    }
    m._41 = -vec3Dot(x, eye);
    m._42 = -vec3Dot(y, eye);
    m._43 = -vec3Dot(z, eye);
    m._44 = 1.0f;
    return m;
}

void Scene::renderMirror(const float c[3], Scene* reflectionScene, Node* viewer, IDirect3DCubeTexture9* cube,
                         IDirect3DSurface9* depth, double t)
{
    Engine* engine = reflectionScene ? reflectionScene->engine : nullptr;
    IDirect3DDevice9* device = engine ? engine->currentDevice : nullptr;
    ShaderUniforms* uniforms = engine ? engine->uniforms : nullptr;
    // A cube whose texture or depth surface could not be made has nothing
    // to draw into.
    if (!device || !uniforms || !cube || !depth || !viewer)
        return;
    const D3DMATRIX savedWorld = uniforms->world;
    const D3DMATRIX savedView = uniforms->view;
    const D3DMATRIX savedProjection = uniforms->projection;
    {
        SavedTargets saved(device);
        // The faces keep the camera's axes, as the camera-space reflection
        // vector that samples them does; the eye is the mesh's centre in
        // world space, taken into the camera's space.
        D3DVECTOR centre = {c[0], c[1], c[2]};
        vecTransformCoord(centre, centre, savedWorld);
        vecTransformCoord(centre, centre, savedView);
        const float eye[3] = {centre.x, centre.y, centre.z};
        for (int f = 0; f < 6; ++f) {
            const float* dir = kFaces[f].target;
            const float target[3] = {eye[0] + dir[0], eye[1] + dir[1], eye[2] + dir[2]};
            const D3DMATRIX look = buildLookAt(eye, target, kFaces[f].up);
            D3DMATRIX view;
            matMul(view, savedView, look);
            uniforms->setView(view); // and the device's view
            IDirect3DSurface9* face = nullptr;
            if (FAILED(cube->GetCubeMapSurface(D3DCUBEMAP_FACES(f), 0, &face)) || !face)
                continue;
            device->SetRenderTarget(0, face);
            device->SetDepthStencilSurface(depth);
            device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL,
                          colorToARGB(kFaces[f].clear), 1.0f, 0);
            face->Release();
            reflectionScene->drawObjects(viewer, 0, t);
        }
    }
    uniforms->setWorld(savedWorld);
    uniforms->setView(savedView);
    uniforms->setProjection(savedProjection);
}
