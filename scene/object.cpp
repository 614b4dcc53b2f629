#include "scene/object.h"

#include "foundation/matrix.h"
#include "materials/engine.h"
#include "materials/shader_parameters.h"
#include "media/sound.h"
#include "scene/bone.h"
#include "scene/hv_object.h"
#include "scene/mesh.h"
#include "scene/poly_mesh.h"

#include <vector>

namespace {

// The box edges as line-list indices over the corner order of Mesh.
const WORD kBoxLines[24] = {0, 1, 1, 5, 5, 4, 4, 0, 2, 3, 3, 7, 7, 6, 6, 2, 0, 2, 1, 3, 5, 7, 6, 4};

struct LineVertex {
    float x, y, z;
    D3DCOLOR color;
};
static_assert(sizeof(LineVertex) == 16);

} // namespace

Object::Object(SceneBase* scene, i32 index) : PerspectiveNode(scene, 1, index) {}

Object::~Object()
{
    // The channel is the object's alone: left playing, a looping sound would
    // outlive its scene to the end of the run, its handle lost.
    if (soundChannel >= 0 && engine && engine->sound) {
        engine->sound->stop(soundChannel);
        engine->sound->releaseChannel(soundChannel);
    }
    delete hvObject;
}

double Object::objectTime(double t) const
{
    return mesh && mesh->keyBound ? mesh->animationTime : t;
}

void Object::invalidate()
{
    Node::invalidate();
    if (mesh)
        mesh->invalidate();
}

D3DMATRIX* Object::getMatrix(double t)
{
    return Node::getMatrix(objectTime(t));
}

D3DMATRIX* Object::getInvMatrix(double t)
{
    return Node::getInvMatrix(objectTime(t));
}

void Object::uploadBones(const std::vector<Bone*>& bones, double t)
{
    // The uniforms hold kMaxBones matrices; further bones are not uploaded.
    const size_t count = bones.size() < size_t(kMaxBones) ? bones.size() : size_t(kMaxBones);
    for (size_t i = 0; i < count; ++i) {
        Bone* bone = bones[i];
        if (!bone)
            continue;
        bone->invalidate();
        if (!bone->worldValid)
            bone->getMatrix(t);
        D3DMATRIX skin;
        matMulAffine(skin, bone->inverseRest(t), bone->world);
        engine->uniforms->setBoneMatrix(int(i), skin);
        if (engine->debugToggle3 && bone->wireMesh)
            bone->wireMesh->render(t, nullptr, bone, 0);
    }
}

void Object::render(double t, Node* camera, i32 pass)
{
    IDirect3DDevice9* device = engine->currentDevice;
    if (!worldValid)
        getMatrix(t);
    engine->uniforms->setWorld(world);
    if (mesh)
        if (const std::vector<Bone*>* bones = meshBones())
            uploadBones(*bones, t);
    *engine->switches->displacement = bumpDisplacement;
    // Hidden objects (anti-portals) are drawn solid even in wireframe mode.
    device->SetRenderState(D3DRS_FILLMODE, hidden || !engine->wireframe ? D3DFILL_SOLID : D3DFILL_WIREFRAME);
    const bool fogSwitchedOff = unaffectedByFog && *engine->switches->isFogEnabled != 0;
    if (fogSwitchedOff) {
        *engine->switches->isFogEnabled = 0;
        device->SetRenderState(D3DRS_FOGENABLE, FALSE);
    }
    if (mesh)
        mesh->render(t, this, camera, pass);
    if (engine->debugToggle1)
        drawBoundingBox();
    if (fogSwitchedOff) {
        *engine->switches->isFogEnabled = 1;
        device->SetRenderState(D3DRS_FOGENABLE, TRUE);
    }
}

void Object::drawBoundingBox()
{
    if (!mesh)
        return;
    D3DMATRIX identity{};
    identity._11 = identity._22 = identity._33 = identity._44 = 1.0f;
    float corners[8][4];
    mesh->transformBoxCorners(identity, corners);
    const float red[4] = {1.0f, 0.0f, 0.0f, 1.0f};
    const D3DCOLOR color = colorToARGB(red);
    LineVertex vertices[8];
    for (int i = 0; i < 8; ++i)
        vertices[i] = {corners[i][0], corners[i][1], corners[i][2], color};
    IDirect3DDevice9* device = engine->currentDevice;
    device->SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE);
    device->SetVertexShader(nullptr);
    device->SetTexture(0, nullptr);
    device->SetPixelShader(nullptr);
    device->DrawIndexedPrimitiveUP(D3DPT_LINELIST, 0, 8, 12, kBoxLines, D3DFMT_INDEX16, vertices,
                                   sizeof(LineVertex));
}

void Object::updateSound(double t)
{
    if (soundChannel < 0)
        return;
    Sound* sound = engine->sound;
    if (!sound)
        return; // sound switched off: nothing to move
    if (!worldValid)
        getMatrix(t);
    sound->setChannel3D(soundChannel, world._41, world._42, world._43, world._31, world._32, world._33, 0.0f, 0.0f,
                        0.0f);
    sound->setChannelCone(soundChannel, 6.2831855f, 6.2831855f, -1000);
    sound->setChannelDistances(soundChannel, channels[kScaleY].valueAt(t), channels[kScaleZ].valueAt(t));
    sound->setVolume(soundChannel, channels[kScaleX].valueAt(t));
}

const std::vector<Bone*>* Object::meshBones() const
{
    // Only polygon meshes carry bones.
    PolyMesh* polyMesh = mesh ? mesh->asPolyMesh() : nullptr;
    return polyMesh ? &polyMesh->bones : nullptr;
}
