#include "scene/node.h"

#include "foundation/matrix.h"
#include "foundation/profiler.h"
#include "materials/engine.h"
#include "scene/scene.h"

#include <cmath>
#include <limits>
#include <utility>
#include <vector>

namespace {

constexpr int kCounterGetMatrix = 8;
constexpr int kCounterGetInvMatrix = 9;

D3DMATRIX identity()
{
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    return m;
}

// out = a x b for 3x3 blocks.
void mul3(float out[3][3], const float a[3][3], const float b[3][3])
{
    float r[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            r[i][j] = a[i][0] * b[0][j] + a[i][1] * b[1][j] + a[i][2] * b[2][j];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            out[i][j] = r[i][j];
}

// Rz(bank) Rx(pitch) Ry(heading) for row vectors.
void rotation3(float out[3][3], float pitch, float heading, float bank)
{
    const float cb = std::cos(bank), sb = std::sin(bank);
    const float cp = std::cos(pitch), sp = std::sin(pitch);
    const float ch = std::cos(heading), sh = std::sin(heading);
    const float rz[3][3] = {{cb, sb, 0.0f}, {-sb, cb, 0.0f}, {0.0f, 0.0f, 1.0f}};
    const float rx[3][3] = {{1.0f, 0.0f, 0.0f}, {0.0f, cp, sp}, {0.0f, -sp, cp}};
    const float ry[3][3] = {{ch, 0.0f, -sh}, {0.0f, 1.0f, 0.0f}, {sh, 0.0f, ch}};
    mul3(out, rz, rx);
    mul3(out, out, ry);
}

void transformPoint(float out[3], const float p[3], const D3DMATRIX& m)
{
    const D3DVECTOR v = {p[0], p[1], p[2]};
    D3DVECTOR r;
    vecTransformCoord(r, v, m);
    out[0] = r.x;
    out[1] = r.y;
    out[2] = r.z;
}

} // namespace

float clampf(float x, float lo, float hi)
{
    if (x < lo)
        return lo;
    if (x > hi)
        return hi;
    return x;
}

void matMulAffine(D3DMATRIX& a, const D3DMATRIX& b)
{
    matMulAffine(a, a, b);
}

void makeRotationMatrix(D3DMATRIX& out, float pitch, float heading, float bank, const float p[3])
{
    float r[3][3];
    rotation3(r, pitch, heading, bank);
    makeAffineMatrix(out, r[0][0], r[0][1], r[0][2], r[1][0], r[1][1], r[1][2], r[2][0], r[2][1], r[2][2], p[0],
                     p[1], p[2]);
}

Node::Node(SceneBase* scene, i32 nodeType, i32 index)
    : EngineResource(scene ? scene->engine : nullptr)
    , world(identity())
    , inverseWorld(identity())
    , projection(identity())
    , scene(scene)
    , nodeType(nodeType)
    , index(index)
{
    channels[kScaleX].value = channels[kScaleY].value = channels[kScaleZ].value = 1.0f;
}

Node::~Node()
{
    for (AnimatedValue& channel : channels)
        delete channel.source;
    delete[] planes;
}

void Node::invalidate()
{
    worldValid = inverseValid = projectionValid = depthFitted = 0;
}

const D3DMATRIX& Node::worldOf(Node* n, double t)
{
    if (n->worldValid || n->computing)
        return n->world;
    return *n->getMatrix(t);
}

int Node::matrixInputs(Node* out[3]) const
{
    int n = 0;
    if (parent)
        out[n++] = parent;
    if (target && (headingController == 1 || pitchController == 1))
        out[n++] = target;
    return n;
}

void Node::settleInputs(double t)
{
    // A node waiting on the stack is marked computing, so that a loop back
    // to it takes its cached matrix, as a recursion would.
    auto unsettled = [](Node* n) { return !n->worldValid && !n->computing; };
    Node* inputs[3];
    int count = matrixInputs(inputs);
    bool any = false;
    for (int i = 0; i < count; ++i)
        any = any || unsettled(inputs[i]);
    if (!any)
        return;
    // Each with the time its getMatrix is called with, as a recursion
    // would pass it on.
    std::vector<std::pair<Node*, double>> stack;
    auto push = [&](double at) {
        bool pushed = false;
        for (int i = 0; i < count; ++i)
            if (unsettled(inputs[i])) {
                inputs[i]->computing = 1;
                stack.emplace_back(inputs[i], at);
                pushed = true;
            }
        return pushed;
    };
    push(t);
    while (!stack.empty()) {
        const auto [n, at] = stack.back();
        count = n->matrixInputs(inputs);
        if (push(n->matrixTime(at)))
            continue;
        stack.pop_back();
        n->computing = 0;
        n->getMatrix(at); // its inputs are valid or on the stack: no recursion
    }
}

void Node::ownPoint(double t, float out[3])
{
    const float p[3] = {channels[kPositionX].valueAt(t) - pivotPosition[0],
                        channels[kPositionY].valueAt(t) - pivotPosition[1],
                        channels[kPositionZ].valueAt(t) - pivotPosition[2]};
    if (parent)
        transformPoint(out, p, worldOf(parent, t));
    else
        out[0] = p[0], out[1] = p[1], out[2] = p[2];
}

Orientation Node::orientationAt(double t)
{
    Orientation o{};
    float toTarget[3] = {0.0f, 0.0f, 0.0f};
    const bool aims = target && (headingController == 1 || pitchController == 1);
    if (aims) {
        float targetPoint[3], own[3];
        transformPoint(targetPoint, target->pivotPosition, worldOf(target, t));
        ownPoint(t, own);
        for (int i = 0; i < 3; ++i)
            toTarget[i] = targetPoint[i] - own[i];
    }
    const double ahead = t + pathLookAhead;

    if (headingController == 1 && target) {
        o.heading = std::atan2(toTarget[0], toTarget[2]);
    } else if (headingController == 2) {
        // Ahead first, so that the channels keep their values at t.
        const float x1 = channels[kPositionX].valueAt(ahead), z1 = channels[kPositionZ].valueAt(ahead);
        const float x0 = channels[kPositionX].valueAt(t), z0 = channels[kPositionZ].valueAt(t);
        o.heading = std::atan2(x1 - x0, z1 - z0);
    } else {
        o.heading = channels[kHeading].valueAt(t);
    }

    if (pitchController == 1 && target) {
        o.elevation =
            std::atan2(toTarget[1], std::sqrt(toTarget[0] * toTarget[0] + toTarget[2] * toTarget[2]));
    } else if (pitchController == 2) {
        float p1[3] = {channels[kPositionX].valueAt(ahead), channels[kPositionY].valueAt(ahead),
                       channels[kPositionZ].valueAt(ahead)};
        float p0[3] = {channels[kPositionX].valueAt(t), channels[kPositionY].valueAt(t),
                       channels[kPositionZ].valueAt(t)};
        if (parent && !parent->computing) {
            transformPoint(p0, p0, worldOf(parent, t));
            // The parent at the look-ahead time, without disturbing the
            // matrix it caches for this pass.
            const D3DMATRIX saved = parent->world, savedInverse = parent->inverseWorld;
            const u8 savedValid = parent->worldValid, savedInverseValid = parent->inverseValid;
            parent->worldValid = parent->inverseValid = 0;
            transformPoint(p1, p1, *parent->getMatrix(ahead));
            parent->world = saved;
            parent->inverseWorld = savedInverse;
            parent->worldValid = savedValid;
            parent->inverseValid = savedInverseValid;
        }
        const float d[3] = {p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]};
        o.elevation = std::atan2(d[1], std::sqrt(d[0] * d[0] + d[2] * d[2]));
    } else {
        o.elevation = -channels[kPitch].valueAt(t);
    }
    o.roll = -channels[kBank].valueAt(t);
    return o;
}

D3DMATRIX Node::localMatrix(double t)
{
    const Orientation o = orientationAt(t);
    const float s[3] = {channels[kScaleX].valueAt(t), channels[kScaleY].valueAt(t), channels[kScaleZ].valueAt(t)};
    const float p[3] = {channels[kPositionX].valueAt(t), channels[kPositionY].valueAt(t),
                        channels[kPositionZ].valueAt(t)};
    float r[3][3];
    rotation3(r, -o.elevation, o.heading, -o.roll);
    if (pivotRotation[0] != 0.0f || pivotRotation[1] != 0.0f || pivotRotation[2] != 0.0f) {
        // Rz(z) Rx(x) Ry(y) of the pivot rotation.
        float pr[3][3];
        rotation3(pr, pivotRotation[0], pivotRotation[1], pivotRotation[2]);
        mul3(r, r, pr);
    }
    // Rows 0-2: S R; row 3: -pivot S R + p.
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            r[i][j] *= s[i];
    float row3[3];
    for (int j = 0; j < 3; ++j)
        row3[j] = p[j] - (pivotPosition[0] * r[0][j] + pivotPosition[1] * r[1][j] + pivotPosition[2] * r[2][j]);
    D3DMATRIX m;
    makeAffineMatrix(m, r[0][0], r[0][1], r[0][2], r[1][0], r[1][1], r[1][2], r[2][0], r[2][1], r[2][2], row3[0],
                     row3[1], row3[2]);
    return m;
}

D3DMATRIX* Node::getMatrix(double t)
{
    if (computing)
        return &world; // a parent or target loop: the cached matrix
    computing = 1;
    settleInputs(t);
    Profiler::start(kCounterGetMatrix);
    D3DMATRIX local = localMatrix(t);
    if (parent)
        matMulAffine(world, local, worldOf(parent, t));
    else
        world = local;
    worldValid = 1;
    Profiler::stop(kCounterGetMatrix);
    computing = 0;
    return &world;
}

D3DMATRIX* Node::getInvMatrix(double t)
{
    if (!worldValid)
        getMatrix(t);
    Profiler::start(kCounterGetInvMatrix);
    matInvertAffine(inverseWorld, world);
    inverseValid = 1;
    Profiler::stop(kCounterGetInvMatrix);
    return &inverseWorld;
}

D3DMATRIX* Node::worldMatrixAt(double t)
{
    return worldValid ? &world : getMatrix(t);
}

ChannelValues Node::evaluateChannels(double t)
{
    ChannelValues values;
    for (int i = 0; i < 9; ++i)
        values.v[i] = channels[i].valueAt(t);
    return values;
}

void Node::setPositionLimits(const float min[3], const float max[3])
{
    limitsEnabled = 1;
    for (int i = 0; i < 3; ++i) {
        limitMin[i] = min[i];
        limitMax[i] = max[i];
    }
}

void Node::setPositionClamped(const float p[3])
{
    for (int i = 0; i < 3; ++i)
        channels[kPositionX + i].value = limitsEnabled ? clampf(p[i], limitMin[i], limitMax[i]) : p[i];
}

void Node::moveClamped(const float delta[3])
{
    float target[3], clamped[3];
    for (int i = 0; i < 3; ++i) {
        target[i] = channels[kPositionX + i].value + delta[i];
        clamped[i] = limitsEnabled ? clampf(target[i], limitMin[i], limitMax[i]) : target[i];
    }
    if (limitsEnabled) {
        float moved = 0.0f, cut = 0.0f;
        for (int i = 0; i < 3; ++i) {
            const float m = clamped[i] - channels[kPositionX + i].value;
            const float c = target[i] - clamped[i];
            moved += m * m;
            cut += c * c;
        }
        if (std::sqrt(moved) < 3.0f * std::sqrt(cut))
            return;
    }
    for (int i = 0; i < 3; ++i)
        channels[kPositionX + i].value = clamped[i];
}

// --- PerspectiveNode

void PerspectiveNode::buildProjection(double)
{
    projection = D3DMATRIX{};
    projection._11 = projection._22 = projection._33 = projection._34 = 1.0f;
    projectionValid = 1;
}

D3DMATRIX* perspectiveFit(Node& node, float nearPlane, float nearest, float farthest)
{
    // Depths beyond any scene (an empty pass reports the largest float)
    // are held where the depth terms stay finite.
    constexpr float kMaxDepth = 1.0e30f;
    float zn = nearest - 0.0001f;
    if (!(zn >= nearPlane))
        zn = nearPlane;
    if (zn > kMaxDepth)
        zn = kMaxDepth;
    float zf = std::fmin(farthest, node.farPlane);
    if (!(zf >= zn))
        zf = zn;
    zf += 0.0001f;
    // At large depths the step above is below float resolution: keep the
    // two planes apart by at least one representable step.
    if (!(zf > zn)) {
        zf = std::nextafter(zn, std::numeric_limits<float>::infinity());
    }
    if (Engine* engine = node.engine) {
        engine->zeroParallax = clampf(4.0f * engine->sceneExtrusion, zn, zf);
        engine->zNear = engine->zNearCopy = zn;
    }
    node.depthFitted = 1;
    node.projection._33 = zf / (zf - zn);
    node.projection._43 = -node.projection._33 * zn;
    return &node.projection;
}

D3DMATRIX* PerspectiveNode::fitDepthRange(double t, float nearest, float farthest)
{
    if (!projectionValid)
        buildProjection(t);
    return perspectiveFit(*this, nearPlane, nearest, farthest);
}

bool PerspectiveNode::isPointOutside(const float clip[4]) const
{
    const float x = clip[0], y = clip[1], w = clip[3];
    return w < nearPlane || w > farPlane || x < -w || x > w || y < -w || y > w;
}

namespace {

// The six inside bits of a clip-space corner, OR-ed over the box.
unsigned insideBits(const float corners[8][4], float nearPlane, float farPlane, bool testNear)
{
    unsigned bits = 0;
    for (int i = 0; i < 8; ++i) {
        const float x = corners[i][0], y = corners[i][1], w = corners[i][3];
        if (testNear && w >= nearPlane)
            bits |= 1;
        if (w <= farPlane)
            bits |= 2;
        if (x >= -w)
            bits |= 4;
        if (x <= w)
            bits |= 8;
        if (y >= -w)
            bits |= 16;
        if (y <= w)
            bits |= 32;
    }
    return bits;
}

} // namespace

bool PerspectiveNode::isBoxOutside(const float corners[8][4]) const
{
    return insideBits(corners, nearPlane, farPlane, true) < 63;
}

// --- OrthogonalNode

void OrthogonalNode::buildProjection(double)
{
    projection = D3DMATRIX{};
    projection._11 = 2.0f / width;
    projection._22 = 2.0f / height;
    projection._33 = projection._44 = 1.0f;
    projectionValid = 1;
}

D3DMATRIX* OrthogonalNode::fitDepthRange(double t, float nearest, float farthest)
{
    if (!projectionValid)
        buildProjection(t);
    const float zn = nearest - 0.000001f;
    float zf = std::fmin(farthest, farPlane);
    if (!(zf >= zn))
        zf = zn;
    zf += 0.000001f;
    if (!(zf > zn))
        zf = std::nextafter(zn, std::numeric_limits<float>::infinity());
    depthFitted = 1;
    projection._33 = 1.0f / (zf - zn);
    projection._43 = -projection._33 * zn;
    return &projection;
}

bool OrthogonalNode::isPointOutside(const float clip[4]) const
{
    const float x = clip[0], y = clip[1], w = clip[3];
    return w > farPlane || x < -w || x > w || y < -w || y > w;
}

bool OrthogonalNode::isBoxOutside(const float corners[8][4]) const
{
    return insideBits(corners, 0.0f, farPlane, false) < 62;
}

D3DVIEWPORT9* OrthogonalNode::getViewport()
{
    viewport = {0, 0, DWORD(engine ? engine->width : 0), DWORD(engine ? engine->height : 0), 0.0f, 1.0f};
    return &viewport;
}
