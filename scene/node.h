// Everything that has a place in a scene and that a scene can be seen from:
// objects, cameras, lights, bones and mirror cameras. A node carries nine
// animated transform channels, a parent and a target, a pivot and three
// orientation controllers, and caches its world matrix, its inverse (the
// view matrix when it is used as a camera), its projection and viewport for
// one pass. There is no child list: scenes own their nodes in vectors and
// the hierarchy is only the parent pointers.
#pragma once

#include "foundation/animated_value.h"
#include "foundation/byte_string.h"
#include "foundation/types.h"
#include "materials/engine_resource.h"

#include <d3d9.h>

#include <vector>

class Mesh;
class SceneBase;

// Channel order of a node: position x, y, z; heading, pitch, bank; scale x,
// y, z.
enum NodeChannel { kPositionX, kPositionY, kPositionZ, kHeading, kPitch, kBank, kScaleX, kScaleY, kScaleZ };

// The nine channel values at one time, in channel order.
struct ChannelValues {
    float v[9];
};

// {elevation (up positive), heading, roll}.
struct Orientation {
    float elevation, heading, roll;
};

class Node : public EngineResource {
public:
    Node* parent = nullptr;
    Node* target = nullptr; // looked at when a controller is 1
    AnimatedValue channels[9];
    float pivotPosition[3] = {0.0f, 0.0f, 0.0f};
    float pivotRotation[3] = {0.0f, 0.0f, 0.0f}; // about x, y, z
    // 0: the channel, 1: point at target, 2: along the motion path. The bank
    // controller is kept and not used.
    i32 headingController = 0;
    i32 pitchController = 0;
    i32 bankController = 0;
    float pathLookAhead = 0.0f; // seconds
    String name;
    std::vector<i32> excludedLights; // lights that do not light this node
    // Depth range of what the last object pass from this node drew.
    float drawnNear = 0.0f;
    float drawnFar = 0.0f;
    i32 planeCount = 0;
    float (*planes)[3] = nullptr; // owned, planeCount triples
    D3DMATRIX world;
    D3DMATRIX inverseWorld;
    D3DMATRIX projection;
    D3DVIEWPORT9 viewport = {0, 0, 512, 512, 0.0f, 1.0f};
    u8 worldValid = 0;
    u8 inverseValid = 0;
    u8 projectionValid = 0;
    u8 depthFitted = 0;
    float farPlane = 3.4028235e38f; // a scene with fog lowers it to the fog end
    Mesh* wireMesh = nullptr;       // debugging aid; deleted by the bone that owns it
    SceneBase* scene;
    i32 nodeType; // 0 mirror camera, 1 object, 2 light, 3 camera, 4 bone
    i32 index;    // position in the scene's vector of its kind
    u8 limitsEnabled = 0;
    float limitMin[3] = {0.0f, 0.0f, 0.0f};
    float limitMax[3] = {0.0f, 0.0f, 0.0f};
    // Set while this node's matrix is being computed: a parent or target
    // chain that loops back here takes the cached matrix instead of
    // recursing for ever.
    u8 computing = 0;

    // engine comes from the scene (null scene: null engine).
    Node(SceneBase* scene, i32 nodeType, i32 index);
    ~Node() override;
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    virtual bool isOrthogonal() const { return false; }
    virtual D3DMATRIX* fitDepthRange(double t, float nearest, float farthest) = 0;
    virtual bool isPointOutside(const float clip[4]) const = 0;
    virtual bool isBoxOutside(const float corners[8][4]) const = 0;
    virtual D3DVIEWPORT9* getViewport() { return &viewport; }
    virtual void invalidate();
    virtual D3DMATRIX* getMatrix(double t);
    virtual D3DMATRIX* getInvMatrix(double t);
    virtual void buildProjection(double t) = 0;

    // The cached world matrix while valid, else getMatrix(t).
    D3DMATRIX* worldMatrixAt(double t);
    Orientation orientationAt(double t);
    ChannelValues evaluateChannels(double t);
    void setPositionLimits(const float min[3], const float max[3]);
    void setPositionClamped(const float p[3]);
    // Moves by delta within the limits; a step that the limits cut by more
    // than a quarter of its length leaves the node where it is.
    void moveClamped(const float delta[3]);

protected:
    // T(-pivot) S Rz(bank) Rx(pitch) Ry(heading) pivot rotation T(position)
    // at t, without the parent.
    D3DMATRIX localMatrix(double t);
    // This node's own point at t (position minus pivot, through the
    // parent's world matrix).
    void ownPoint(double t, float out[3]);
    // The world matrix of n at t without recursing into a node whose own
    // matrix is being computed.
    static const D3DMATRIX& worldOf(Node* n, double t);
    // The nodes whose matrices this node's matrix reads: its parent, its
    // target while it aims, a bone's parent bone. Up to three, into out.
    virtual int matrixInputs(Node* out[3]) const;
    // The time getMatrix(t) evaluates the node and its inputs at.
    virtual double matrixTime(double t) const { return t; }
    // Computes the matrices of the inputs that are not valid yet, and
    // theirs, deepest first and without recursion: a chain of any length
    // costs no stack. Call with computing set.
    void settleInputs(double t);
};

// Serves the derived classes only; never made on its own.
class PerspectiveNode : public Node {
public:
    float nearPlane = 0.01f;

    PerspectiveNode(SceneBase* scene, i32 nodeType, i32 index) : Node(scene, nodeType, index) {}

    D3DMATRIX* fitDepthRange(double t, float nearest, float farthest) override;
    bool isPointOutside(const float clip[4]) const override;
    bool isBoxOutside(const float corners[8][4]) const override;
    void buildProjection(double t) override;
};

class OrthogonalNode : public Node {
public:
    float width = 8.0f;
    float height = 6.0f;

    OrthogonalNode(SceneBase* scene, i32 nodeType, i32 index) : Node(scene, nodeType, index) {}

    bool isOrthogonal() const override { return true; }
    D3DMATRIX* fitDepthRange(double t, float nearest, float farthest) override;
    bool isPointOutside(const float clip[4]) const override;
    bool isBoxOutside(const float corners[8][4]) const override;
    D3DVIEWPORT9* getViewport() override; // the output's size
    void buildProjection(double t) override;
};

// x when lo <= x <= hi, else the bound it passed.
float clampf(float x, float lo, float hi);
// a = a x b for affine matrices, in place.
void matMulAffine(D3DMATRIX& a, const D3DMATRIX& b);
// The rotation and translation rows of Rz(bank) Rx(pitch) Ry(heading) T(p)
// (row vectors), formed directly.
void makeRotationMatrix(D3DMATRIX& out, float pitch, float heading, float bank, const float p[3]);
// The perspective fit (shared by the nodes that have a near plane).
D3DMATRIX* perspectiveFit(Node& node, float nearPlane, float nearest, float farthest);
