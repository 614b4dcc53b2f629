// The node a scene is seen from: the view matrix straight from its channels,
// a projection from its zoom and the engine's field of view, a letterboxed
// viewport, the two stereo eyes, and the sound listener.
#pragma once

#include "scene/node.h"

class Camera : public PerspectiveNode {
public:
    AnimatedValue zoom = {3.2f, nullptr};
    float eyeSeparation = 0.06f;

    Camera(SceneBase* scene, i32 index);
    ~Camera() override;

    D3DVIEWPORT9* getViewport() override;
    D3DMATRIX* getMatrix(double t) override;
    D3DMATRIX* getInvMatrix(double t) override;
    void buildProjection(double t) override;
};
