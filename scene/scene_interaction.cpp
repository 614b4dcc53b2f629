#include "scene/scene_interaction.h"

#include "foundation/matrix.h"
#include "scene/anti_portal.h"
#include "scene/camera.h"
#include "scene/mesh.h"
#include "scene/mesh_file.h"
#include "scene/scene_group.h"
#include "scene/wire_meshes.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

Engine::SceneInteraction* attachSceneInteraction(Engine* engine)
{
    if (!engine->interaction) {
        engine->interaction = new Engine::SceneInteraction(engine);
        engine->deleteInteraction = [](Engine::SceneInteraction* interaction) { delete interaction; };
    }
    return engine->interaction;
}

Engine::SceneInteraction::SceneInteraction(Engine* engine) : SceneBase(engine)
{
    auto* cursorObject = new Object(this, 0);
    cursorObject->mesh = new CrossWiresMesh(engine);
    cursorObject->mesh->prepare();
    objects.push_back(cursorObject);
    objects.push_back(new GhostObject(this, 1));
    auto* cam = new Camera(this, 0);
    cam->parent = cursorObject;
    cameras.push_back(cam);
}

Engine::SceneInteraction::~SceneInteraction()
{
    // The ghost's mesh is borrowed from the picked object.
    delete objects[0]->mesh;
    objects[0]->mesh = nullptr;
    objects[1]->mesh = nullptr;
}

GhostObject* Engine::SceneInteraction::ghost() const
{
    return static_cast<GhostObject*>(objects[1]);
}

void Engine::SceneInteraction::findEnclosingObject(Scene* scene, double t)
{
    Object* ghostObject = objects[1];
    if (selected == ghostObject && scene) {
        const D3DMATRIX& cursorWorld = *cursor()->getMatrix(t);
        const D3DVECTOR p = {cursorWorld._41, cursorWorld._42, cursorWorld._43};
        float best = FLT_MAX;
        for (Object* object : scene->objects) {
            Mesh* mesh = object->mesh;
            if (!mesh)
                continue;
            const D3DVECTOR& lo = mesh->boxCorners[0];
            const D3DVECTOR& hi = mesh->boxCorners[7];
            const float dx = hi.x - lo.x, dy = hi.y - lo.y, dz = hi.z - lo.z;
            const float d = std::sqrt(dx * dx + dy * dy + dz * dz);
            if (!(d < best))
                continue;
            const D3DMATRIX& inverse = object->inverseValid ? object->inverseWorld : *object->getInvMatrix(t);
            D3DVECTOR q;
            vecTransformCoord(q, p, inverse);
            if (lo.x <= q.x && q.x <= hi.x && lo.y <= q.y && q.y <= hi.y && lo.z <= q.z && q.z <= hi.z) {
                best = d;
                selected = object;
            }
        }
    }
    if (selected && selected != ghostObject && selected->scene == scene) {
        // The ghost stands where the picked object stands: its channels at
        // t and its pivot, under the same parent.
        const ChannelValues values = selected->evaluateChannels(t);
        for (int i = 0; i < 9; ++i)
            ghostObject->channels[i].value = values.v[i];
        std::copy_n(selected->pivotPosition, 3, ghostObject->pivotPosition);
        std::copy_n(selected->pivotRotation, 3, ghostObject->pivotRotation);
        ghostObject->invalidate();
        ghostObject->mesh = selected->mesh;
        ghostObject->parent = selected->parent;
        ghostObject->target = selected->target;
    } else {
        ghostObject->mesh = nullptr;
        ghostObject->parent = nullptr;
        ghostObject->target = nullptr;
    }
}

void Engine::SceneInteraction::reset(const SceneGroup* meta)
{
    if (!meta)
        return;
    auto belongs = [meta](const SceneBase* s) {
        for (const Scene* scene : meta->scenes)
            if (scene && static_cast<const SceneBase*>(scene) == s)
                return true;
        return false;
    };
    Object* ghostObject = objects[1];
    if (selected && selected != ghostObject && belongs(selected->scene))
        selected = nullptr;
    if (engine && engine->interactionTarget && belongs(engine->interactionTarget))
        engine->interactionTarget = nullptr;
    // The ghost borrows the picked object's mesh, parent and target.
    const bool meshOfMeta = ghostObject->mesh && ghostObject->mesh->object && ghostObject->mesh->object->owner == meta;
    if (meshOfMeta || (ghostObject->parent && belongs(ghostObject->parent->scene)) ||
        (ghostObject->target && belongs(ghostObject->target->scene))) {
        ghostObject->mesh = nullptr;
        ghostObject->parent = nullptr;
        ghostObject->target = nullptr;
    }
    if (objects[0]->parent && belongs(objects[0]->parent->scene))
        objects[0]->parent = nullptr;
}

void resetInteraction(Engine* engine, const SceneGroup* meta)
{
    if (engine && engine->interaction)
        engine->interaction->reset(meta);
}
