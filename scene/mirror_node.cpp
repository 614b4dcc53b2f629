#include "scene/mirror_node.h"

#include "foundation/matrix.h"
#include "foundation/profiler.h"
#include "materials/engine.h"

#include <algorithm>
#include <vector>

namespace {

constexpr int kCounterGetMatrix = 8;

float dotFrom(const float p[3], const float origin[3], const float n[3])
{
    return (p[0] - origin[0]) * n[0] + (p[1] - origin[1]) * n[1] + (p[2] - origin[2]) * n[2];
}

} // namespace

void clipSpacePlane(const float plane[4], const D3DMATRIX& view, const D3DMATRIX& projection, float out[4])
{
    D3DMATRIX viewProjection, inverse, inverseTransposed;
    matMul(viewProjection, view, projection);
    matInvert(inverse, viewProjection);
    matTranspose(inverseTransposed, inverse);
    const D3DMATRIX& m = inverseTransposed;
    for (int j = 0; j < 4; ++j)
        out[j] = plane[0] * m.m[0][j] + plane[1] * m.m[1][j] + plane[2] * m.m[2][j] + plane[3] * m.m[3][j];
}

MirrorNode::MirrorNode(const D3DMATRIX& reflection, const float apex[3], const float planePoint[3],
                       const float planeNormal[3], i32 planeCount, float (*planes)[3], Node* mirroredCamera)
    : PerspectiveNode(mirroredCamera ? mirroredCamera->scene : nullptr, 0, 0)
    , reflection(reflection)
    , apex{apex[0], apex[1], apex[2]}
    , planePoint{planePoint[0], planePoint[1], planePoint[2]}
    , planeNormal{planeNormal[0], planeNormal[1], planeNormal[2]}
    , mirroredCamera(mirroredCamera)
{
    setPlanes(planeCount, planes);
}

void MirrorNode::setPlanes(i32 count, float (*newPlanes)[3])
{
    if (newPlanes != planes)
        delete[] planes;
    planes = newPlanes;
    planeCount = newPlanes ? count : 0;
}

D3DMATRIX* MirrorNode::getMatrix(double)
{
    Profiler::start(kCounterGetMatrix);
    matInvertAffine(world, reflection);
    worldValid = 1;
    Profiler::stop(kCounterGetMatrix);
    return &world;
}

void MirrorNode::buildProjection(double t)
{
    if (!mirroredCamera) {
        PerspectiveNode::buildProjection(t);
        return;
    }
    if (!mirroredCamera->projectionValid || mirroredCamera->depthFitted) {
        mirroredCamera->buildProjection(t);
        mirroredCamera->depthFitted = 0;
    }
    projection = mirroredCamera->projection;
    projectionValid = 1;
}

D3DMATRIX* MirrorNode::fitDepthRange(double t, float nearest, float farthest)
{
    // Fitted to the depth range of the mirrored camera's pass that draws
    // the mirror, so both passes share one depth scale near the mirror. A
    // reflection lies behind the mirror plane, farther than the mirror: the
    // far end stretches to what the reflection draws, or a mirror facing
    // the camera would clip its whole reflection.
    if (!mirroredCamera)
        return PerspectiveNode::fitDepthRange(t, nearest, farthest);
    D3DMATRIX* fitted =
        mirroredCamera->fitDepthRange(t, mirroredCamera->drawnNear, std::max(mirroredCamera->drawnFar, farthest));
    if (clipPlaneInClipSpace && engine && engine->currentDevice) {
        float plane[4];
        clipSpacePlane(worldPlane, reflection, *fitted, plane);
        engine->currentDevice->SetClipPlane(0, plane);
    }
    return fitted;
}

D3DVIEWPORT9* MirrorNode::getViewport()
{
    return mirroredCamera ? mirroredCamera->getViewport() : &viewport;
}

bool MirrorNode::isBoxOutside(const float corners[8][4]) const
{
    const int count = planes ? planeCount : 0;
    std::vector<char> marks(count > 0 ? count : 0, 0);
    bool front = false;
    for (int c = 0; c < 8; ++c) {
        const float p[3] = {corners[c][0], corners[c][1], corners[c][3]};
        for (int i = 0; i < count; ++i)
            if (dotFrom(p, apex, planes[i]) >= 0.0f)
                marks[i] = 1;
        if (dotFrom(p, planePoint, planeNormal) >= 0.0f)
            front = true;
    }
    for (int i = 0; i < count; ++i)
        if (!marks[i])
            return true;
    return !front;
}
