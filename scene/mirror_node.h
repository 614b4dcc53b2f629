// The camera a flat mirror's reflection is drawn from: the reflected view of
// the camera being mirrored, its projection and viewport borrowed from that
// camera, and a box test against the mirror's bounding planes.
#pragma once

#include "scene/node.h"

// A world-space plane (a, b, c, d) taken into the clip space of view x projection.
void clipSpacePlane(const float plane[4], const D3DMATRIX& view, const D3DMATRIX& projection, float out[4]);

class MirrorNode : public PerspectiveNode {
public:
    D3DMATRIX reflection; // the reflected view matrix
    float apex[3];
    float planePoint[3];
    float planeNormal[3];
    Node* mirroredCamera;
    // The mirror plane in world space. Vertex shaders compare the clip plane
    // in clip space, so on that path it follows the projection fitted here.
    bool clipPlaneInClipSpace = false;
    float worldPlane[4] = {};

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
