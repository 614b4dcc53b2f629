// The camera a flat mirror's reflection is drawn from: the reflected view of
// the camera being mirrored, its projection and viewport borrowed from that
// camera, and a box test against the mirror's bounding planes.
#pragma once

#include "scene/node.h"

class MirrorNode : public PerspectiveNode {
public:
    D3DMATRIX reflection; // the reflected view matrix
    float apex[3];
    float planePoint[3];
    float planeNormal[3];
    Node* mirroredCamera;

    // Takes ownership of planes (planeCount triples).
    MirrorNode(const D3DMATRIX& reflection, const float apex[3], const float planePoint[3],
               const float planeNormal[3], i32 planeCount, float (*planes)[3], Node* mirroredCamera);

    // Replaces the bounding planes, freeing the ones held.
    void setPlanes(i32 count, float (*newPlanes)[3]);

    D3DMATRIX* fitDepthRange(double t, float nearest, float farthest) override;
    bool isBoxOutside(const float corners[8][4]) const override;
    D3DVIEWPORT9* getViewport() override;
    D3DMATRIX* getMatrix(double t) override;
    void buildProjection(double t) override;
};
