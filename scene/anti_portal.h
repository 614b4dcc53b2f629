// The two object kinds of the object pass: an anti-portal, an invisible
// occluder quad that hides whole objects behind it from the outermost pass,
// and a ghost, an object drawn a second time in the other fill mode (the
// interaction's highlight of the picked object).
#pragma once

#include "scene/object.h"

class AntiPortal : public Object {
public:
    float (*sidePlanes)[3]; // owned; four normals in clip (x, y, w)
    float apex[3] = {0.0f, 0.0f, 0.0f};
    float portalPoint[3] = {0.0f, 0.0f, 0.0f};
    float portalNormal[3] = {0.0f, 0.0f, 0.0f};

    AntiPortal(SceneBase* scene, i32 index);
    ~AntiPortal() override;

    // The occlusion volume for this clip matrix; true when the eye lies in
    // front of the quad (only then does it occlude).
    bool prepareOccluder(const D3DMATRIX& clip);
    // All eight clip-space corners strictly inside the volume and behind
    // the quad.
    bool occludes(const float corners[8][4]) const;
};

class GhostObject : public Object {
public:
    using Object::Object;
    // Drawn with the engine's wireframe and debugToggle1 flags inverted.
    void render(double t, Node* camera, i32 pass) override;
};
