#include "scene/poly_mesh.h"

#include "foundation/diagnostics.h"
#include "foundation/matrix.h"
#include "foundation/vec3.h"
#include "materials/engine.h"
#include "materials/pass_state.h"
#include "materials/shader_pair.h"
#include "materials/shader_parameters.h"
#include "materials/surface.h"
#include "scene/mirror_node.h"
#include "scene/object.h"
#include "scene/scene.h"
#include "scene/subset.h"

#include <windows.h>

#include <algorithm>
#include <cmath>

i32 meshDrawDepth = 0;
i32 mirrorStencil = 1;

namespace {

constexpr i32 kReflectCubeMap = 3;
constexpr i32 kReflectFlat = 0;
constexpr i32 kCastsShadows = 2;

void reportMissingReflectionScene()
{
    if (diagnosticsLevel >= 1)
        MessageBoxA(nullptr, "reflection scene ist nicht zugeordnet!\n", "Error", MB_ICONEXCLAMATION);
}

// Homogeneous corner in clip space, reduced to (x, y, w).
void clipXYW(const D3DVECTOR& p, const D3DMATRIX& m, float out[3])
{
    float v[4];
    vecTransform(v, p, m);
    out[0] = v[0];
    out[1] = v[1];
    out[2] = v[3];
}

// A reflection pass chose lights and set the shadow switches for the
// objects it drew; the object carrying the mirror needs its own back before
// its surface draws.
void reselectLights(Object* object, i32 pass, double t)
{
    Scene* scene = object && object->scene ? object->scene->asScene() : nullptr;
    if (!scene)
        return;
    scene->selectLightsFor(*object, t);
    scene->setupSurfaces(*object, pass, t);
}

} // namespace

void PolyMesh::render(double t, Object* object, Node* camera, i32 pass)
{
    activeRenders += 1;
    meshDrawDepth += 1;
    // A mirror inside a reflection inside a reflection is not drawn at all.
    if (meshDrawDepth <= 2 && engine) {
        ShaderSwitches* switches = engine->switches;
        const bool baking = !engine->fixedFunction && switches && switches->bake && *switches->bake != 0;
        const bool shadowPass = !engine->fixedFunction && shadowPassMode != 0;
        for (Subset* subset : subsets) {
            Surface* s = subset ? subset->surface : nullptr;
            if (!s || !s->loaded)
                continue;
            s->drawMode = pass;
            if (baking) {
                if (s->bakeLayer && s->bakeLayer == engine->bakeTarget)
                    subset->render(engine->bakePair, t);
                continue;
            }
            if (shadowPass) {
                if (object && (object->shadowOptions & kCastsShadows))
                    subset->render(engine->plainPair, t);
                continue;
            }
            const float r = s->reflection.valueAt(t);
            if (r != 0.0f && s->reflectionOptions == kReflectCubeMap) {
                renderCubeReflection(s, t, object);
                subset->render(engine->standardPair, t);
            } else if (r != 0.0f && s->reflectionOptions == kReflectFlat && meshDrawDepth <= 1 && object &&
                       camera) {
                renderFlatMirror(subset, t, object, camera);
            } else {
                subset->render(engine->standardPair, t);
            }
        }
    }
    activeRenders -= 1;
    meshDrawDepth -= 1;
}

void PolyMesh::renderCubeReflection(Surface* s, double t, Object* object)
{
    if (!s->reflectionScene) {
        reportMissingReflectionScene();
        return;
    }
    Node* saved = mirrorCamera;
    mirrorCamera = object;
    const float c[3] = {center.x, center.y, center.z};
    Scene::renderMirror(c, s->reflectionScene, object, s->cubeTexture, s->cubeDepthSurface, t);
    mirrorCamera = saved;
    reselectLights(object, s->drawMode, t);
}

void PolyMesh::renderFlatMirror(Subset* subset, double t, Object* object, Node* camera)
{
    IDirect3DDevice9* device = engine->currentDevice;
    ShaderUniforms* uniforms = engine->uniforms;
    Surface* s = subset->surface;
    if (!device || !uniforms)
        return;
    const i32 depth = meshDrawDepth;

    DWORD savedStencilEnable = FALSE, savedStencilRef = 0;
    device->GetRenderState(D3DRS_STENCILENABLE, &savedStencilEnable);
    device->GetRenderState(D3DRS_STENCILREF, &savedStencilRef);

    // Tag the visible mirror pixels with stencil D.
    device->SetRenderState(D3DRS_STENCILENABLE, DWORD(mirrorStencil));
    device->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_EQUAL);
    device->SetRenderState(D3DRS_STENCILREF, DWORD(depth - 1));
    device->SetRenderState(D3DRS_STENCILMASK, 0xFFFFFFFF);
    device->SetRenderState(D3DRS_STENCILWRITEMASK, 0xFFFFFFFF);
    device->SetRenderState(D3DRS_STENCILZFAIL, D3DSTENCILOP_KEEP);
    device->SetRenderState(D3DRS_STENCILFAIL, D3DSTENCILOP_KEEP);
    device->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_INCR);
    device->SetRenderState(D3DRS_COLORWRITEENABLE, 0);
    subset->render(engine->standardPair, t);

    // Push depth inside the tagged pixels to far, so the reflection can draw there.
    device->SetRenderState(D3DRS_COLORWRITEENABLE, engine->colorWriteMask);
    device->SetRenderState(D3DRS_STENCILZFAIL, D3DSTENCILOP_KEEP);
    device->SetRenderState(D3DRS_STENCILFAIL, D3DSTENCILOP_KEEP);
    device->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_KEEP);
    device->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_LESSEQUAL);
    device->SetRenderState(D3DRS_STENCILREF, DWORD(depth));
    device->SetRenderState(D3DRS_ZENABLE, TRUE);
    device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    device->SetRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS);
    subset->render(engine->mirrorPair, t);
    device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
    device->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_LESSEQUAL);

    // A reflection flips the winding once per level.
    const u32 savedCull = engine->defaultCullMode;
    engine->defaultCullMode = u32(((~depth) & 1) | 2);
    const D3DMATRIX savedView = uniforms->view;
    const D3DMATRIX savedWorld = uniforms->world;
    const D3DMATRIX savedProjection = uniforms->projection;

    // The mirror plane: through the object's origin, its local -Y as normal.
    const D3DMATRIX w = *object->worldMatrixAt(t);
    float n[3] = {-w._21, -w._22, -w._23};
    vec3Normalize(n);
    const float d = -(n[0] * w._41 + n[1] * w._42 + n[2] * w._43);

    D3DMATRIX reflect = {};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            reflect.m[i][j] = (i == j ? 1.0f : 0.0f) - 2.0f * n[i] * n[j];
        reflect.m[3][i] = -2.0f * d * n[i];
    }
    reflect._44 = 1.0f;
    D3DMATRIX reflectedView;
    matMul(reflectedView, reflect, savedView);

    const float worldPlane[4] = {n[0], n[1], n[2], d};
    float plane[4] = {n[0], n[1], n[2], d};
    // Vertex shaders clip in clip space.
    if (!engine->fixedFunction)
        clipSpacePlane(worldPlane, reflectedView, savedProjection, plane);

    if (s->reflectionScene) {
        // The mirror's outline on screen bounds what the reflection may show.
        D3DMATRIX worldView, toClip;
        matMul(worldView, w, savedView);
        matMul(toClip, worldView, savedProjection);
        float c0[3], c1[3], c4[3], c5[3];
        clipXYW(boxCorners[0], toClip, c0);
        clipXYW(boxCorners[1], toClip, c1);
        clipXYW(boxCorners[4], toClip, c4);
        clipXYW(boxCorners[5], toClip, c5);

        const i32 own = camera->planes ? std::max(camera->planeCount, 0) : 0;
        auto* planes = new float[size_t(own) + 4][3];
        for (i32 i = 0; i < own; ++i)
            for (int k = 0; k < 3; ++k)
                planes[i][k] = camera->planes[i][k];
        const float* edges[4][2] = {{c0, c4}, {c5, c1}, {c4, c5}, {c1, c0}};
        const float sign = (depth & 1) ? -1.0f : 1.0f;
        for (int e = 0; e < 4; ++e) {
            float* p = planes[own + e];
            vec3Cross(p, edges[e][0], edges[e][1]);
            vec3Normalize(p);
            for (int k = 0; k < 3; ++k)
                p[k] *= sign;
        }
        const float a[3] = {c4[0] - c0[0], c4[1] - c0[1], c4[2] - c0[2]};
        const float b[3] = {c1[0] - c0[0], c1[1] - c0[1], c1[2] - c0[2]};
        float outline[3];
        vec3Cross(outline, a, b);
        vec3Normalize(outline);
        for (float& v : outline)
            v *= sign;

        const float apex[3] = {0.0f, 0.0f, 0.0f};
        // The node owns the plane list from here on and frees it.
        auto* node = new MirrorNode(reflectedView, apex, c0, outline, own + 4, planes, camera);
        node->clipPlaneInClipSpace = !engine->fixedFunction;
        std::copy(worldPlane, worldPlane + 4, node->worldPlane);
        Node* savedMirrorCamera = mirrorCamera;
        mirrorCamera = node;
        device->SetClipPlane(0, plane);
        device->SetRenderState(D3DRS_CLIPPLANEENABLE, 1);
        s->reflectionScene->renderFrom(node, 0, t);
        device->SetRenderState(D3DRS_CLIPPLANEENABLE, 0);
        mirrorCamera = savedMirrorCamera;
        delete node;
    } else {
        reportMissingReflectionScene();
    }

    engine->defaultCullMode = savedCull;
    // These also set the device's transforms.
    uniforms->setWorld(savedWorld);
    uniforms->setView(savedView);
    uniforms->setProjection(savedProjection);
    if (s->reflectionScene)
        reselectLights(object, s->drawMode, t);

    // The surface over its reflection; the stencil returns to D - 1. The
    // reflection's depths may come from a longer range than the mirror's,
    // and the tagged pixels are the mirror's own visible ones, so the depth
    // test is left out here.
    device->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_EQUAL);
    device->SetRenderState(D3DRS_STENCILREF, DWORD(depth));
    device->SetRenderState(D3DRS_STENCILZFAIL, D3DSTENCILOP_KEEP);
    device->SetRenderState(D3DRS_STENCILFAIL, D3DSTENCILOP_KEEP);
    device->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_DECR);
    device->SetRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS);
    subset->render(engine->standardPair, t);
    device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);

    device->SetRenderState(D3DRS_STENCILZFAIL, D3DSTENCILOP_KEEP);
    device->SetRenderState(D3DRS_STENCILFAIL, D3DSTENCILOP_KEEP);
    device->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_KEEP);
    device->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_LESSEQUAL);
    device->SetRenderState(D3DRS_STENCILENABLE, savedStencilEnable);
    device->SetRenderState(D3DRS_STENCILREF, savedStencilRef);
}
