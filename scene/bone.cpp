#include "scene/bone.h"

#include "foundation/matrix.h"
#include "scene/wire_meshes.h"

Bone::Bone(SceneBase* scene, i32 boneNumber, i32 objectNumber)
    : PerspectiveNode(scene, 4, boneNumber * 65536 + objectNumber)
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

void Bone::updateHierarchy(double t)
{
    if (restComputing)
        return;
    restComputing = 1;
    D3DMATRIX rest;
    makeRotationMatrix(rest, restDirection[0], restDirection[1], restDirection[2], restPosition);
    if (parentBone) {
        if (!parentBone->restValid)
            parentBone->updateHierarchy(t);
        matMulAffine(rest, rest, parentBone->restMatrix);
    }
    restMatrix = rest;
    restValid = 1;
    restComputing = 0;
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
