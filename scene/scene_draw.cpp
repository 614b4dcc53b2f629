#include "foundation/diagnostics.h"
#include "foundation/matrix.h"
#include "foundation/vec3.h"
#include "materials/engine.h"
#include "materials/pass_state.h"
#include "materials/shader_parameters.h"
#include "materials/surface.h"
#include "scene/anti_portal.h"
#include "scene/lens_flare.h"
#include "scene/light.h"
#include "scene/mesh.h"
#include "scene/mesh_file.h"
#include "scene/poly_mesh.h"
#include "scene/scene.h"
#include "scene/scene_interaction.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

struct DrawRecord {
    Object* object;
    float key;
    u8 translucent;
};

struct RankedLight {
    Light* light;
    float rank;
};

void clipMatrix(D3DMATRIX& out, const D3DMATRIX& world, Node& camera)
{
    D3DMATRIX worldView;
    matMulAffineFull(worldView, world, camera.inverseWorld);
    matMul(out, worldView, camera.projection);
}

void updateProjection(Node& camera, double t)
{
    if (!camera.projectionValid || camera.depthFitted) {
        camera.buildProjection(t);
        camera.depthFitted = 0;
    }
}

} // namespace

AntiPortal::AntiPortal(SceneBase* scene, i32 index) : Object(scene, index), sidePlanes(new float[4][3]) {}

AntiPortal::~AntiPortal()
{
    delete[] sidePlanes;
}

bool AntiPortal::prepareOccluder(const D3DMATRIX& clip)
{
    PolyMesh* poly = mesh ? mesh->asPolyMesh() : nullptr;
    // A quad left without a polygon occludes nothing.
    if (!poly || poly->polygonCount < 1 || poly->polygons[0].vertexCount < 3 || !poly->pointArray)
        return false;
    const PolyMesh::Polygon& first = poly->polygons[0];
    for (u32 k = 0; k < 3; ++k)
        if (first.pointIndices[k] >= u32(poly->pointCount))
            return false;
    const D3DVECTOR& p0 = poly->pointArray[first.pointIndices[0]];
    const D3DVECTOR& p1 = poly->pointArray[first.pointIndices[1]];
    const D3DVECTOR& p2 = poly->pointArray[first.pointIndices[2]];
    const float e2[3] = {p2.x - p0.x, p2.y - p0.y, p2.z - p0.z};
    const float e1[3] = {p1.x - p0.x, p1.y - p0.y, p1.z - p0.z};
    float n[3];
    vec3Cross(n, e2, e1);

    // The flat axis is the one of least extent; the quad's corners run
    // cyclically over the other two.
    const D3DVECTOR& lo = mesh->boxCorners[0];
    const D3DVECTOR& hi = mesh->boxCorners[7];
    const float mins[3] = {lo.x, lo.y, lo.z};
    const float maxs[3] = {hi.x, hi.y, hi.z};
    int flat = 0;
    for (int a = 1; a < 3; ++a)
        if (maxs[a] - mins[a] < maxs[flat] - mins[flat])
            flat = a;
    const float s = n[flat] < 0.0f ? -1.0f : 1.0f;
    const int b = (flat + 1) % 3, c = (flat + 2) % 3;
    const int cycle[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    float corners[4][3];
    for (int i = 0; i < 4; ++i) {
        float p[3];
        p[flat] = mins[flat];
        p[b] = cycle[i][0] ? maxs[b] : mins[b];
        p[c] = cycle[i][1] ? maxs[c] : mins[c];
        float out[4];
        vecTransform(out, D3DVECTOR{p[0], p[1], p[2]}, clip);
        corners[i][0] = out[0], corners[i][1] = out[1], corners[i][2] = out[3];
    }
    apex[0] = apex[1] = apex[2] = 0.0f;
    for (int i = 0; i < 4; ++i) {
        vec3Cross(sidePlanes[i], corners[i], corners[(i + 1) % 4]);
        for (float& v : sidePlanes[i])
            v *= s;
        vec3Normalize(sidePlanes[i]);
    }
    const float d1[3] = {corners[1][0] - corners[0][0], corners[1][1] - corners[0][1], corners[1][2] - corners[0][2]};
    const float d2[3] = {corners[2][0] - corners[0][0], corners[2][1] - corners[0][1], corners[2][2] - corners[0][2]};
    vec3Cross(portalNormal, d2, d1);
    for (float& v : portalNormal)
        v *= s;
    vec3Normalize(portalNormal);
    float q[4];
    vecTransform(q, p1, clip);
    portalPoint[0] = q[0], portalPoint[1] = q[1], portalPoint[2] = q[3];
    const float toEye[3] = {apex[0] - portalPoint[0], apex[1] - portalPoint[1], apex[2] - portalPoint[2]};
    return vec3Dot(toEye, portalNormal) > 0.000001f;
}

bool AntiPortal::occludes(const float corners[8][4]) const
{
    for (int k = 0; k < 8; ++k) {
        const float q[3] = {corners[k][0], corners[k][1], corners[k][3]};
        const float fromApex[3] = {q[0] - apex[0], q[1] - apex[1], q[2] - apex[2]};
        for (int i = 0; i < 4; ++i)
            if (!(vec3Dot(fromApex, sidePlanes[i]) > 0.0f))
                return false;
        const float fromPortal[3] = {q[0] - portalPoint[0], q[1] - portalPoint[1], q[2] - portalPoint[2]};
        if (!(vec3Dot(fromPortal, portalNormal) < 0.0f))
            return false;
    }
    return true;
}

void GhostObject::render(double t, Node* camera, i32 pass)
{
    engine->wireframe = !engine->wireframe;
    engine->debugToggle1 = !engine->debugToggle1;
    Object::render(t, camera, pass);
    engine->wireframe = !engine->wireframe;
    engine->debugToggle1 = !engine->debugToggle1;
}

void Scene::drawObjects(Node* camera, i32 pass, double t)
{
    IDirect3DDevice9* device = engine->currentDevice;
    std::vector<AntiPortal*> occluders;
    occluders.reserve(100);
    if (renderDepth <= 1) {
        for (AntiPortal* portal : antiPortals) {
            // A portal whose layer failed to load has no quad to occlude with.
            if (!portal || !portal->mesh)
                continue;
            updateProjection(*camera, t);
            if (!camera->inverseValid)
                camera->getInvMatrix(t);
            const D3DMATRIX& world = portal->worldValid ? portal->world : *portal->getMatrix(t);
            D3DMATRIX clip;
            clipMatrix(clip, world, *camera);
            float corners[8][4];
            portal->mesh->transformBoxCorners(clip, corners);
            if (camera->isBoxOutside(corners))
                continue;
            if (portal->prepareOccluder(clip))
                occluders.push_back(portal);
        }
    }

    device->SetViewport(camera->getViewport());

    const bool cylindrical = !engine->fixedFunction && engine->cylindricalAngle > 0.0001f;
    const float halfAngle = engine->cylindricalAngle * std::numbers::pi_v<float> / 360.0f;
    const float tanHalf = std::tan(halfAngle);
    float nearest = FLT_MAX, farthest = -FLT_MAX;
    bool anyDepth = false;
    if (!camera->worldValid)
        camera->getMatrix(t);

    std::vector<DrawRecord> records;
    records.reserve(1000);
    auto consider = [&](Object* object) {
        object->updateSound(t);
        Mesh* mesh = object->mesh;
        if (!mesh || mesh->mirrorCamera == camera || (object->hidden && !engine->debugToggle2))
            return;
        ENGINE_ASSERT(mesh->bboxused && "objects without bounding boxes are not supported anymore");
        // A projection fitted by an earlier pass from this node would give
        // fitted depths, not view depths.
        updateProjection(*camera, t);
        if (!camera->inverseValid)
            camera->getInvMatrix(t);
        const D3DMATRIX& world = object->worldValid ? object->world : *object->getMatrix(t);
        D3DMATRIX clip;
        clipMatrix(clip, world, *camera);
        if (cylindrical) {
            clip._11 *= tanHalf, clip._21 *= tanHalf, clip._31 *= tanHalf, clip._41 *= tanHalf;
        }
        float corners[8][4];
        mesh->transformBoxCorners(clip, corners);
        if (cylindrical) {
            for (auto& q : corners) {
                float r = std::sqrt(q[0] * q[0] + q[3] * q[3]);
                if (q[3] < 0.0f)
                    r = -r;
                q[0] = std::atan(q[0] / q[3]) * r / halfAngle;
                q[3] = r;
            }
        }
        camera->farPlane = *engine->switches->isFogEnabled ? fogEnd : FLT_MAX;
        bool occluded = false;
        if (!object->hidden)
            for (AntiPortal* portal : occluders)
                if (portal->occludes(corners)) {
                    occluded = true;
                    break;
                }
        if (occluded || camera->isBoxOutside(corners))
            return;
        float zmin = corners[0][2], zmax = corners[0][2];
        for (const auto& q : corners)
            zmin = std::min(zmin, q[2]), zmax = std::max(zmax, q[2]);
        // Only what the meshes draw sets the range: a box-less mesh's zero box,
        // or a partigon's points, would squeeze it to one depth and clip the
        // particles drawn with this projection.
        if (mesh->bboxused && mesh->drawsGeometry()) {
            nearest = std::min(nearest, zmin);
            farthest = std::max(farthest, zmax);
            anyDepth = true;
        }
        const u8 translucent = mesh->sortAfterOpaque ? 1 : 0;
        records.push_back({object, translucent ? -zmax : zmax, translucent});
    };

    Engine::SceneInteraction* interaction = engine->interaction;
    if (interaction && interaction->active)
        for (size_t i = interaction->objects.size(); i-- > 0;)
            consider(interaction->objects[i]);
    for (Object* object : objects)
        consider(object);

    // Opaque front to back by the farthest corner, then translucent back to
    // front; equal keys in no particular order.
    std::sort(records.begin(), records.end(), [](const DrawRecord& a, const DrawRecord& b) {
        if (a.translucent != b.translucent)
            return a.translucent < b.translucent;
        return a.key < b.key;
    });

    // A flare's probe point is drawn with this projection: a range that
    // left it out would clip it and count the flare hidden.
    for (Light* light : lights)
        if (light && light->flare && light->flare->project(camera, t)) {
            const float depth = light->flare->viewPos[2];
            nearest = std::min(nearest, depth);
            farthest = std::max(farthest, depth);
            anyDepth = true;
        }

    // A pass that draws nothing fits to the node's own planes rather than
    // to an empty (inverted) range.
    if (!anyDepth) {
        auto* perspective = dynamic_cast<PerspectiveNode*>(camera);
        nearest = perspective ? perspective->nearPlane : 0.0f;
        farthest = camera->farPlane;
    }
    camera->drawnNear = nearest;
    camera->drawnFar = farthest;
    D3DMATRIX projection = *camera->fitDepthRange(t, nearest, farthest);
    *engine->switches->isCylindricalViewer = cylindrical ? 1 : 0;
    if (cylindrical) {
        projection._11 *= tanHalf, projection._21 *= tanHalf, projection._31 *= tanHalf, projection._41 *= tanHalf;
        *engine->uniforms->cylindricalScale = 1.0f / halfAngle;
    }
    engine->uniforms->setProjection(projection);

    for (const DrawRecord& record : records) {
        selectLightsFor(*record.object, t);
        setupSurfaces(*record.object, pass, t);
        record.object->render(t, camera, pass);
    }
}

void Scene::selectLightsFor(Object& object, double t)
{
    IDirect3DDevice9* device = engine->currentDevice;
    const bool fixed = engine->fixedFunction;
    std::vector<RankedLight> ranked;
    ranked.reserve(lights.size());
    for (Light* light : lights) {
        light->selectFor(object, t);
        if (fixed)
            device->LightEnable(DWORD(light->index), FALSE);
        if (light->setUp && light->affectsObject) {
            float rank = light->intensityAt(object, t);
            // A NaN rank (a degenerate transform) would break the ordering:
            // it ranks below every other light.
            if (std::isnan(rank))
                rank = -FLT_MAX;
            ranked.push_back({light, rank});
        }
    }
    std::sort(ranked.begin(), ranked.end(), [](const RankedLight& a, const RankedLight& b) { return a.rank > b.rank; });

    i32 distant = 0, point = 0, spot = 0;
    for (size_t n = 0; n < ranked.size(); ++n) {
        Light* light = ranked[n].light;
        if (fixed) {
            if (n < 8)
                device->LightEnable(DWORD(light->index), TRUE);
            continue;
        }
        switch (light->lightType) {
        case 0:
            light->setShaderConstants(distant++, t);
            break;
        case 1:
            light->setShaderConstants(point++, t);
            break;
        case 2:
            if (shadowPassMode == 0 && (object.shadowOptions & 4) && light->shadowType == 2) {
                const D3DMATRIX& lightInverse = light->inverseValid ? light->inverseWorld : *light->getInvMatrix(t);
                const D3DMATRIX& world = object.worldValid ? object.world : *object.getMatrix(t);
                D3DMATRIX worldLight, withProjection, m;
                matMulAffineFull(worldLight, world, lightInverse);
                matMul(withProjection, worldLight, *light->fitDepthRange(t, light->drawnNear, light->drawnFar));
                matMul(m, withProjection, light->shadowTexMatrix);
                D3DMATRIX transposed;
                matTranspose(transposed, m);
                std::copy(&transposed._11, &transposed._11 + 16, engine->uniforms->matWorldLightviewLightprojShadowbias);
            }
            light->setShaderConstants(spot++, t);
            break;
        default:
            break;
        }
    }
    ShaderSwitches& sw = *engine->switches;
    *sw.numActiveDistantLights = std::min(distant, 8);
    *sw.numActivePointLights = std::min(point, 8);
    *sw.numActiveSpotLights = std::min(spot, 8);
    const float i = ambientIntensity.valueAt(t);
    float* ambient = engine->uniforms->ambientLightColor;
    ambient[0] = ambientColor[0] * i, ambient[1] = ambientColor[1] * i, ambient[2] = ambientColor[2] * i;
}

void Scene::setupSurfaces(Object& object, i32 pass, double t)
{
    MeshFile* record = object.mesh ? object.mesh->object : nullptr;
    if (!record || !record->tags)
        return;
    // Surfaces receive the shadow of the light at shadowLightIndex; a scene
    // without that light gives none.
    Light* shadowLight = nullptr;
    const i32 li = engine->shadowLightIndex;
    if (li >= 0 && size_t(li) < lights.size() && lights[size_t(li)]->lightType == 2 &&
        lights[size_t(li)]->shadowType == 2)
        shadowLight = lights[size_t(li)];
    const bool receives = (object.shadowOptions & 4) && shadowLight;
    for (i32 k = 0; k < record->tagCount; ++k) {
        Surface* surface = record->tags[k];
        if (!surface)
            continue;
        if (pass != 0)
            surface->flatColor = object.flatColor;
        if (surface->reflection.valueAt(t) != 0.0f)
            surface->reflectionScene = this;
        if (shadowPassMode == 0) {
            *engine->switches->numShadows = receives ? 1 : 0;
            surface->receivedSpotLight = receives ? shadowLight : nullptr;
        }
    }
}
