#include "scene/camera.h"

#include "foundation/matrix.h"
#include "foundation/profiler.h"
#include "materials/engine.h"
#include "media/sound.h"

#include <cmath>
#include <numbers>

namespace {

constexpr int kCounterGetMatrix = 8;
constexpr int kCounterGetInvMatrix = 9;

float halfAngleTan(float degrees)
{
    return std::tan(degrees * std::numbers::pi_v<float> / 360.0f);
}

} // namespace

Camera::Camera(SceneBase* scene, i32 index) : PerspectiveNode(scene, 3, index) {}

Camera::~Camera()
{
    delete zoom.source;
}

void Camera::buildProjection(double t)
{
    engine->lensCurrent = zoom.valueAt(t) * 31.25f;
    const float ratio = engine->lensCurrent / engine->lensReference;
    projection = D3DMATRIX{};
    projection._11 = ratio / halfAngleTan(engine->fovX);
    projection._22 = ratio / halfAngleTan(engine->fovY);
    projection._33 = projection._34 = 1.0f;
    const float skew =
        engine->stereoSeparationPrevious / engine->zeroParallaxPrevious * eyeSeparation * projection._11;
    switch (engine->stereoEye) {
    case 0:
        projection._31 = -skew;
        break;
    case 1:
        projection._31 = skew;
        break;
    case 2:
        projection._31 = 1.0f;
        break;
    case 3:
        projection._31 = -1.0f;
        break;
    default:
        break; // mono
    }
    projectionValid = 1;
}

D3DMATRIX* Camera::getInvMatrix(double t)
{
    if (computing)
        return &inverseWorld; // a parent or target loop
    computing = 1;
    settleInputs(t);
    Profiler::start(kCounterGetInvMatrix);
    const float p[3] = {channels[kPositionX].valueAt(t), channels[kPositionY].valueAt(t),
                        channels[kPositionZ].valueAt(t)};
    const Orientation o = orientationAt(t);
    // The inverse of R T(p): T(-p) followed by the transposed rotation.
    D3DMATRIX r;
    const float origin[3] = {0.0f, 0.0f, 0.0f};
    makeRotationMatrix(r, -o.elevation, o.heading, -o.roll, origin);
    D3DMATRIX view;
    makeAffineMatrix(view, r._11, r._21, r._31, r._12, r._22, r._32, r._13, r._23, r._33,
                     -(p[0] * r._11 + p[1] * r._12 + p[2] * r._13), -(p[0] * r._21 + p[1] * r._22 + p[2] * r._23),
                     -(p[0] * r._31 + p[1] * r._32 + p[2] * r._33));
    if (parent) {
        if (!parent->inverseValid && !parent->computing)
            parent->getInvMatrix(t);
        matMulAffine(view, parent->inverseWorld, view);
    }
    if (engine->stereoEye == 0 || engine->stereoEye == 1) {
        const float shift = engine->stereoSeparationPrevious * eyeSeparation;
        view._41 += engine->stereoEye == 0 ? shift : -shift;
    }
    inverseWorld = view;
    inverseValid = 1;
    Profiler::stop(kCounterGetInvMatrix);
    computing = 0;
    return &inverseWorld;
}

D3DMATRIX* Camera::getMatrix(double t)
{
    Profiler::start(kCounterGetMatrix);
    if (!inverseValid)
        getInvMatrix(t);
    matInvertAffine(world, inverseWorld);
    worldValid = 1;
    if (Sound* sound = engine->sound) {
        const D3DMATRIX& v = inverseWorld;
        sound->setListener(world._41, world._42, world._43, v._31, v._32, v._33, v._21, v._22, v._23, 0.0f, 0.0f,
                           0.0f);
    }
    Profiler::stop(kCounterGetMatrix);
    return &world;
}

D3DVIEWPORT9* Camera::getViewport()
{
    float a = halfAngleTan(engine->fovX);
    const float c = engine->cylindricalAngle;
    if (!engine->fixedFunction && c > 0.0001f) {
        const float b = c * std::numbers::pi_v<float> / 360.0f;
        a = b / std::tan(b) * a;
    }
    const float r = 100.0f * halfAngleTan(engine->fovY) / a;
    const float limit = engine->projectionLimit;
    const float w = float(engine->width), h = float(engine->height);
    float x = 0.0f, y = 0.0f, width = w, height = h;
    if (r > limit) {
        width = limit / r * w;
        x = (w - width) * 0.5f;
    } else {
        height = r / limit * h;
        y = (h - height) * 0.5f;
    }
    // Nearest, ties to even (the default rounding mode).
    viewport = {DWORD(std::lrint(x)), DWORD(std::lrint(y)), DWORD(std::lrint(width)), DWORD(std::lrint(height)),
                0.0f, 1.0f};
    return &viewport;
}
