// Node matrices against glm products, the per-pass cache, culling tests,
// depth fits, mirror cameras, clamped movement, bones and loops.
#include "foundation/matrix.h"
#include "foundation/profiler.h"
#include "scene/bone.h"
#include "scene/mirror_node.h"
#include "scene/node.h"

#include <glm/glm.hpp>
#include <glm/gtc/matrix_transform.hpp>

#include <gtest/gtest.h>

#include <array>
#include <cfloat>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace {

using glm::mat4;
using glm::vec3;

// Row-vector element (i, j) is glm's column i, row j.
void expectNear(const D3DMATRIX& m, const mat4& g, const char* what, int caseNo)
{
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            const float want = g[i][j];
            EXPECT_NEAR(m.m[i][j], want, 1e-5f * std::fmax(1.0f, std::fabs(want)))
                << what << " case " << caseNo << " element " << i << j;
        }
}

mat4 rz(float a) { return glm::rotate(mat4(1.0f), a, vec3(0, 0, 1)); }
mat4 rx(float a) { return glm::rotate(mat4(1.0f), a, vec3(1, 0, 0)); }
mat4 ry(float a) { return glm::rotate(mat4(1.0f), a, vec3(0, 1, 0)); }

struct Pose {
    float pos[3], hpb[3], scale[3], pivot[3], pivotRot[3];
};

Pose randomPose(std::mt19937& rng)
{
    std::uniform_real_distribution<float> pos(-3.0f, 3.0f), ang(-3.0f, 3.0f), scale(0.5f, 1.5f);
    Pose p;
    for (int i = 0; i < 3; ++i) {
        p.pos[i] = pos(rng);
        p.hpb[i] = ang(rng);
        p.scale[i] = scale(rng);
        p.pivot[i] = pos(rng) * 0.3f;
        p.pivotRot[i] = ang(rng);
    }
    return p;
}

void apply(Node& n, const Pose& p)
{
    for (int i = 0; i < 3; ++i) {
        n.channels[kPositionX + i].value = p.pos[i];
        n.channels[kHeading + i].value = p.hpb[i];
        n.channels[kScaleX + i].value = p.scale[i];
        n.pivotPosition[i] = p.pivot[i];
        n.pivotRotation[i] = p.pivotRot[i];
    }
}

// Column-vector form of T(-pivot) S Rz(b) Rx(p) Ry(h) Rz Rx Ry(pivot) T(pos)
// with the given heading and pitch.
mat4 localOracle(const Pose& p, float heading, float pitch)
{
    return glm::translate(mat4(1.0f), vec3(p.pos[0], p.pos[1], p.pos[2])) * ry(p.pivotRot[1]) * rx(p.pivotRot[0]) *
           rz(p.pivotRot[2]) * ry(heading) * rx(pitch) * rz(p.hpb[2]) *
           glm::scale(mat4(1.0f), vec3(p.scale[0], p.scale[1], p.scale[2])) *
           glm::translate(mat4(1.0f), -vec3(p.pivot[0], p.pivot[1], p.pivot[2]));
}

TEST(Node, WorldAndInverseMatchGlmForRandomChannelsParentsAndTargets)
{
    std::mt19937 rng(7);
    for (int c = 0; c < 24; ++c) {
        PerspectiveNode parent(nullptr, 1, 0), node(nullptr, 1, 1), target(nullptr, 1, 2);
        const Pose pp = randomPose(rng), np = randomPose(rng), tp = randomPose(rng);
        apply(parent, pp);
        apply(node, np);
        apply(target, tp);
        const bool withParent = c % 2 == 0, aims = c % 3 == 0;
        if (withParent)
            node.parent = &parent;
        const mat4 parentWorld = withParent ? localOracle(pp, pp.hpb[0], pp.hpb[1]) : mat4(1.0f);
        float heading = np.hpb[0], pitch = np.hpb[1];
        if (aims) {
            node.target = &target;
            node.headingController = node.pitchController = 1;
            const glm::vec4 tpt =
                localOracle(tp, tp.hpb[0], tp.hpb[1]) * glm::vec4(tp.pivot[0], tp.pivot[1], tp.pivot[2], 1.0f);
            const glm::vec4 own = parentWorld * glm::vec4(np.pos[0] - np.pivot[0], np.pos[1] - np.pivot[1],
                                                          np.pos[2] - np.pivot[2], 1.0f);
            const vec3 d = vec3(tpt) - vec3(own);
            heading = std::atan2(d.x, d.z);
            pitch = -std::atan2(d.y, std::sqrt(d.x * d.x + d.z * d.z));
        }
        const mat4 world = parentWorld * localOracle(np, heading, pitch);
        expectNear(*node.getMatrix(0.0), world, "world", c);
        expectNear(*node.getInvMatrix(0.0), glm::inverse(world), "inverse", c);
    }
}

TEST(Node, PivotStaysAtPositionAndDefaultsGiveIdentity)
{
    PerspectiveNode plain(nullptr, 1, 0);
    expectNear(*plain.getMatrix(0.0), mat4(1.0f), "default world", 0);
    expectNear(*plain.getInvMatrix(0.0), mat4(1.0f), "default inverse", 0);

    PerspectiveNode n(nullptr, 1, 0);
    n.pivotPosition[0] = 1.0f;
    n.channels[kHeading].value = float(M_PI / 2);
    n.channels[kPositionX].value = 5.0f;
    const D3DMATRIX& w = *n.getMatrix(0.0);
    D3DVECTOR pivot = {1.0f, 0.0f, 0.0f};
    EXPECT_NEAR(pivot.x * w._11 + w._41, 5.0f, 1e-5f); // the pivot point maps to the position
    EXPECT_NEAR(pivot.x * w._13 + w._43, 0.0f, 1e-5f);
}

TEST(Node, InvalidateRebuildsTheWorldMatrixOncePerPass)
{
    Profiler::clear();
    static const char* names[12] = {"c0", "c1", "c2", "c3", "c4", "c5", "c6", "c7", "getMatrix", "getInvMatrix",
                                    "c10", "c11"};
    for (const char* name : names)
        Profiler::addCounter(name);
    PerspectiveNode parent(nullptr, 1, 0), child(nullptr, 1, 1);
    child.parent = &parent;
    for (int pass = 0; pass < 3; ++pass) {
        parent.invalidate();
        child.invalidate();
        child.worldMatrixAt(0.0);
        child.worldMatrixAt(0.0);
        parent.worldMatrixAt(0.0);
    }
    EXPECT_EQ(Profiler::counters()[8].execs, 6u); // parent and child, once each per pass
    Profiler::clear();
}

// Moves at a constant velocity.
struct Linear : DynamicValue {
    float start, speed;
    Linear(float start, float speed) : start(start), speed(speed) {}
    float evaluate(double t) const override { return start + speed * float(t); }
};

TEST(Node, OrientationControllers)
{
    const struct {
        const char* name;
        i32 controller;
        float vx, vy, vz; // path velocity
        float heading, elevation;
    } cases[] = {
        {"aiming without a target uses the channels", 1, 0, 0, 0, 0.7f, -0.2f},
        {"path along +x", 2, 1, 0, 0, float(M_PI / 2), 0.0f},
        {"path rising along +z", 2, 0, 1, 1, 0.0f, float(M_PI / 4)},
    };
    for (const auto& c : cases) {
        PerspectiveNode n(nullptr, 1, 0);
        n.headingController = n.pitchController = c.controller;
        n.pathLookAhead = 0.5f;
        n.channels[kHeading].value = 0.7f;
        n.channels[kPitch].value = 0.2f;
        const float v[3] = {c.vx, c.vy, c.vz};
        for (int i = 0; i < 3; ++i)
            n.channels[kPositionX + i].source = new Linear(1.0f, v[i]);
        const Orientation o = n.orientationAt(2.0);
        EXPECT_NEAR(o.heading, c.heading, 1e-5f) << c.name;
        EXPECT_NEAR(o.elevation, c.elevation, 1e-5f) << c.name;
        if (c.controller == 2) {
            EXPECT_FLOAT_EQ(n.channels[kPositionX].value, 1.0f + 2.0f * c.vx) << c.name; // cached at t
        }
    }
}

// Path alignment under a parent: both ends of the path go through the
// parent, each at its own time, and the parent keeps its matrix for t.
TEST(Node, PathAlignedPitchUnderAParent)
{
    const struct {
        const char* name;
        float parentPitch, parentRise; // the rise in units per second
    } cases[] = {
        {"a pitched parent turns the path upwards", float(-M_PI / 4), 0.0f},
        {"a rising parent lifts the path", 0.0f, 1.0f},
    };
    for (const auto& c : cases) {
        PerspectiveNode parent(nullptr, 1, 0), n(nullptr, 1, 1);
        parent.channels[kPitch].value = c.parentPitch;
        parent.channels[kPositionY].source = new Linear(0.0f, c.parentRise);
        n.parent = &parent;
        n.pitchController = 2;
        n.pathLookAhead = 0.5f;
        n.channels[kPositionZ].source = new Linear(0.0f, 1.0f);
        EXPECT_NEAR(n.orientationAt(2.0).elevation, float(M_PI / 4), 1e-5f) << c.name;
        EXPECT_FLOAT_EQ(parent.world._42, 2.0f * c.parentRise) << c.name;
    }
}

TEST(Node, BoxTests)
{
    PerspectiveNode p(nullptr, 1, 0);
    OrthogonalNode o(nullptr, 1, 0);
    auto box = [](float x0, float x1, float w0, float w1) {
        std::array<std::array<float, 4>, 8> c{};
        for (int i = 0; i < 8; ++i)
            c[i] = {i & 1 ? x1 : x0, i & 2 ? x1 : x0, 0.0f, i & 4 ? w1 : w0};
        return c;
    };
    const struct {
        const char* name;
        float x0, x1, w0, w1;
        bool perspectiveOut, orthoOut;
    } cases[] = {
        {"inside", -0.5f, 0.5f, 1.0f, 2.0f, false, false},
        {"behind near plane", -0.001f, 0.001f, 0.001f, 0.005f, true, false},
        {"spanning every plane", -5.0f, 5.0f, 0.001f, 3.0f, false, false},
        {"right of the frustum", 3.0f, 4.0f, 1.0f, 2.0f, true, true},
    };
    for (const auto& c : cases) {
        auto corners = box(c.x0, c.x1, c.w0, c.w1);
        float arr[8][4];
        for (int i = 0; i < 8; ++i)
            for (int j = 0; j < 4; ++j)
                arr[i][j] = corners[i][j];
        EXPECT_EQ(p.isBoxOutside(arr), c.perspectiveOut) << c.name;
        EXPECT_EQ(o.isBoxOutside(arr), c.orthoOut) << c.name;
    }
    const float behind[4] = {0.0f, 0.0f, 0.0f, 0.001f};
    EXPECT_TRUE(p.isPointOutside(behind));
    EXPECT_FALSE(o.isPointOutside(behind));
}

TEST(Node, DepthFitsKeepPlanesApart)
{
    const struct {
        float nearest, farthest, farPlane;
        float zn, zf; // expected, 0 = only finite and ordered
    } cases[] = {
        {0.001f, 10.0f, FLT_MAX, 0.01f, 10.0001f},  // nearest below the near plane
        {1.0f, 500.0f, 100.0f, 0.9999f, 100.0001f}, // farthest beyond the far plane
        {5.0f, 2.0f, FLT_MAX, 4.9999f, 5.0f},       // farthest below nearest
        {4096.0f, 4096.0f, FLT_MAX, 0.0f, 0.0f},    // coincident at a large depth
        {FLT_MAX, -FLT_MAX, FLT_MAX, 0.0f, 0.0f},   // nothing drawn
    };
    for (const auto& c : cases) {
        PerspectiveNode p(nullptr, 1, 0);
        p.farPlane = c.farPlane;
        const D3DMATRIX& m = *p.fitDepthRange(0.0, c.nearest, c.farthest);
        EXPECT_TRUE(std::isfinite(m._33) && std::isfinite(m._43)) << c.nearest;
        const float zn = -m._43 / m._33, zf = zn * m._33 / (m._33 - 1.0f);
        if (c.zn != 0.0f) {
            EXPECT_NEAR(zn, c.zn, 1e-4f * c.zn);
            EXPECT_NEAR(zf, c.zf, 1e-4f * c.zf);
        }
        EXPECT_TRUE(p.depthFitted);
        OrthogonalNode o(nullptr, 1, 0);
        o.farPlane = c.farPlane;
        const D3DMATRIX& om = *o.fitDepthRange(0.0, c.nearest, c.farthest);
        EXPECT_TRUE(std::isfinite(om._33) && std::isfinite(om._43)) << c.nearest;
        EXPECT_FLOAT_EQ(om._11, 0.25f);
    }
}

TEST(Node, MirrorForwardsToItsCameraAndMarksPlanes)
{
    PerspectiveNode camera(nullptr, 3, 0);
    camera.drawnNear = 2.0f;
    camera.drawnFar = 50.0f;
    camera.viewport.Width = 320;
    D3DMATRIX reflection{};
    reflection._11 = -1.0f;
    reflection._22 = reflection._33 = reflection._44 = 1.0f;
    reflection._41 = 4.0f;
    const float apex[3] = {0, 0, 0}, point[3] = {0, 0, 1}, normal[3] = {0, 0, 1};
    // Planes through the apex bounding x in [-w, w]: normals (1, 0, 1) and (-1, 0, 1).
    auto* planes = new float[2][3]{{1.0f, 0.0f, 1.0f}, {-1.0f, 0.0f, 1.0f}};
    MirrorNode mirror(reflection, apex, point, normal, 2, planes, &camera);
    EXPECT_EQ(mirror.getViewport()->Width, 320u);
    const D3DMATRIX& m = *mirror.fitDepthRange(0.0, 100.0f, 200.0f);
    EXPECT_EQ(&m, &camera.projection);
    EXPECT_NEAR(-m._43 / m._33, 1.9999f, 1e-4f); // fitted to the camera's drawn range
    EXPECT_FLOAT_EQ(mirror.getMatrix(0.0)->_41, 4.0f);

    const struct {
        const char* name;
        float x, w;
        bool outside;
    } cases[] = {
        {"in front and between the planes", 0.5f, 2.0f, false},
        {"outside one plane", 5.0f, 2.0f, true},
        {"behind the mirror plane", 0.0f, 0.5f, true},
    };
    for (const auto& c : cases) {
        float corners[8][4];
        for (auto& corner : corners) {
            corner[0] = c.x;
            corner[1] = 0.0f;
            corner[2] = 0.0f;
            corner[3] = c.w;
        }
        EXPECT_EQ(mirror.isBoxOutside(corners), c.outside) << c.name;
    }
}

TEST(Node, MoveClamped)
{
    const struct {
        const char* name;
        float start, delta, expected;
    } cases[] = {
        {"inside", 0.0f, 1.0f, 1.0f},
        {"small overshoot stops at the limit", 8.0f, 2.5f, 10.0f},
        {"step mostly cut stays", 9.5f, 2.0f, 9.5f},
    };
    for (const auto& c : cases) {
        PerspectiveNode n(nullptr, 1, 0);
        const float lo[3] = {-10, -10, -10}, hi[3] = {10, 10, 10};
        n.setPositionLimits(lo, hi);
        n.channels[kPositionX].value = c.start;
        const float d[3] = {c.delta, 0.0f, 0.0f};
        n.moveClamped(d);
        EXPECT_FLOAT_EQ(n.channels[kPositionX].value, c.expected) << c.name;
    }
}

TEST(Node, LoopsAndZeroScaleGiveFiniteMatrices)
{
    PerspectiveNode a(nullptr, 1, 0), b(nullptr, 1, 1);
    a.parent = &b;
    b.parent = &a; // parent loop
    a.target = &b;
    b.target = &a;
    a.headingController = b.headingController = 1; // and a target loop
    a.channels[kScaleY].value = 0.0f;
    const D3DMATRIX& inv = *a.getInvMatrix(0.0);
    for (int i = 0; i < 16; ++i)
        EXPECT_TRUE(std::isfinite((&inv._11)[i]));

    Bone b1(nullptr, 0, 0), b2(nullptr, 1, 0);
    b1.parentBone = &b2;
    b2.parentBone = &b1;
    b1.getMatrix(0.0);
    b1.updateHierarchy(0.0);
    EXPECT_TRUE(b1.restValid);
}

TEST(Bone, RestPoseChainsAndInvalidate)
{
    Bone root(nullptr, 0, 3), child(nullptr, 1, 3);
    EXPECT_EQ(child.index, 65536 + 3);
    child.parentBone = &root;
    const float rootRest[3] = {1, 2, 3}, rootDir[3] = {0.3f, 0.5f, -0.2f};
    const float childRest[3] = {0, 0, 2}, childDir[3] = {-0.4f, 0.1f, 0.6f};
    for (int i = 0; i < 3; ++i) {
        root.restPosition[i] = root.channels[kPositionX + i].value = rootRest[i];
        child.restPosition[i] = child.channels[kPositionX + i].value = childRest[i];
        root.restDirection[i] = rootDir[i];
        child.restDirection[i] = childDir[i];
    }
    // Channels hold heading, pitch, bank; rest angles pitch, heading, bank.
    for (Bone* b : {&root, &child}) {
        b->channels[kHeading].value = b->restDirection[1];
        b->channels[kPitch].value = b->restDirection[0];
        b->channels[kBank].value = b->restDirection[2];
    }
    D3DMATRIX skin;
    matMulAffine(skin, child.inverseRest(0.0), *child.getMatrix(0.0));
    expectNear(skin, mat4(1.0f), "rest skin", 0);

    const mat4 rootOracle = glm::translate(mat4(1.0f), vec3(1, 2, 3)) * ry(0.5f) * rx(0.3f) * rz(-0.2f);
    const mat4 childOracle = glm::translate(mat4(1.0f), vec3(0, 0, 2)) * ry(0.1f) * rx(-0.4f) * rz(0.6f);
    expectNear(child.restMatrix, rootOracle * childOracle, "chained rest", 0);

    root.channels[kPositionY].value = 7.0f; // moving the parent moves the child
    root.invalidate();
    child.invalidate();
    EXPECT_NEAR(child.getMatrix(0.0)->_42 - child.restMatrix._42, 5.0f, 1e-5f);
    root.restPosition[0] = 100.0f; // rest fields are final: not recomputed
    child.invalidate();
    EXPECT_TRUE(child.restValid && child.inverseRestValid);
    expectNear(child.restMatrix, rootOracle * childOracle, "rest after invalidate", 0);
}

// Parent, target and bone chains far deeper than the stack allows: each
// link costs a step, not a stack frame.
TEST(Node, ChainsOfAnyDepthCostNoStack)
{
    constexpr int n = 150000;
    std::vector<std::unique_ptr<PerspectiveNode>> nodes;
    for (int i = 0; i < n; ++i) {
        nodes.push_back(std::make_unique<PerspectiveNode>(nullptr, 2, i));
        nodes.back()->channels[kPositionX].value = 1.0f;
    }
    for (int i = 0; i + 1 < n; ++i)
        nodes[size_t(i)]->parent = nodes[size_t(i) + 1].get();
    EXPECT_FLOAT_EQ(nodes[0]->getMatrix(0.0)->_41, float(n));

    for (auto& node : nodes)
        node->invalidate();
    for (int i = 0; i + 1 < n; ++i) {
        nodes[size_t(i)]->parent = nullptr;
        nodes[size_t(i)]->target = nodes[size_t(i) + 1].get();
        nodes[size_t(i)]->headingController = 1;
    }
    EXPECT_TRUE(std::isfinite(nodes[0]->getMatrix(0.0)->_11));

    std::vector<std::unique_ptr<Bone>> bones;
    for (int i = 0; i < n / 3; ++i) {
        bones.push_back(std::make_unique<Bone>(nullptr, i, 0));
        bones.back()->restPosition[1] = bones.back()->channels[kPositionY].value = 1.0f;
        if (i > 0)
            bones[size_t(i) - 1]->parentBone = bones.back().get();
    }
    EXPECT_FLOAT_EQ(bones[0]->getMatrix(0.0)->_42, float(n / 3));
    EXPECT_FLOAT_EQ(bones[0]->inverseRest(0.0)._42, -float(n / 3));
}

} // namespace
