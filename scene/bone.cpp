#include "scene/bone.h"

#include "foundation/matrix.h"
#include "scene/wire_meshes.h"

#include <vector>

Bone::Bone(SceneBase* scene, i32 boneNumber, i32 objectNumber)
    // A file may number bones past 32,767: the id wraps rather than overflow.
    : PerspectiveNode(scene, 4, (i32)((u32)boneNumber * 65536u + (u32)objectNumber))
    , restMatrix(world)
    , inverseRestMatrix(world)
{
    wireMesh = new BoneWiresMesh(engine);
}

Bone::~Bone()
{
    delete wireMesh;
}

void Bone::invalidate()
{
    Node::invalidate();
}

D3DMATRIX Bone::computeMatrix(double t)
{
    return localMatrix(t);
}

D3DMATRIX* Bone::getMatrix(double t)
{
    if (computing)
        return &world; // a loop of parent bones
    computing = 1;
    settleInputs(t);
    const D3DMATRIX local = computeMatrix(t);
    if (parentBone) {
        if (!parentBone->worldValid && !parentBone->computing)
            parentBone->getMatrix(t);
        matMulAffine(world, local, parentBone->world);
    } else {
        world = local;
    }
    worldValid = 1;
    computing = 0;
    return &world;
}

int Bone::matrixInputs(Node* out[3]) const
{
    int n = Node::matrixInputs(out);
    if (parentBone && parentBone != parent)
        out[n++] = parentBone;
    return n;
}

void Bone::updateHierarchy(double)
{
    if (restComputing)
        return;
    // This bone and the parent bones without a rest matrix yet, nearest
    // first; a loop stops where it meets itself.
    std::vector<Bone*> chain;
    for (Bone* b = this; b && !b->restComputing && (b == this || !b->restValid); b = b->parentBone) {
        b->restComputing = 1;
        chain.push_back(b);
    }
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        Bone* b = *it;
        D3DMATRIX rest;
        makeRotationMatrix(rest, b->restDirection[0], b->restDirection[1], b->restDirection[2], b->restPosition);
        if (b->parentBone)
            matMulAffine(rest, rest, b->parentBone->restMatrix);
        b->restMatrix = rest;
        b->restValid = 1;
    }
    for (Bone* b : chain)
        b->restComputing = 0;
}

const D3DMATRIX& Bone::inverseRest(double t)
{
    if (!inverseRestValid) {
        if (!restValid)
            updateHierarchy(t);
        matInvertAffine(inverseRestMatrix, restMatrix);
        inverseRestValid = 1;
    }
    return inverseRestMatrix;
}
