// Key-framed curves: a list of keys with six key shapes, and six ways to
// continue the curve before the first and after the last key.
#pragma once

#include "foundation/animated_value.h"
#include "foundation/types.h"

#include <string>
#include <vector>

struct EnvelopeKey {
    enum Shape : u32 {
        shapeTcb = 0,
        shapeHermite = 1,
        shapeBezier = 2,
        shapeLinear = 3,
        shapeStepped = 4,
        shapeBezier2D = 5,
    };

    float value = 0.0f;
    float time = 0.0f; // seconds
    u32 shape = shapeTcb;
    // TCB keys only.
    float tension = 0.0f;
    float continuity = 0.0f;
    float bias = 0.0f;
    // Hermite and Bezier keys: [0] incoming, [1] outgoing tangent. 2D Bezier
    // keys: [0]/[1] incoming time/value handle offsets, [2]/[3] outgoing.
    float param[4] = {};
};

class Envelope : public DynamicValue {
public:
    // Pre- and post-behaviour codes.
    enum Behavior : u32 {
        behaviorReset = 0,
        behaviorConstant = 1,
        behaviorRepeat = 2,
        behaviorOscillate = 3,
        behaviorOffsetRepeat = 4,
        behaviorLinear = 5,
    };

    Envelope() = default;
    ~Envelope() override = default;

    // Each appends one key at the end. Builders add keys in ascending time;
    // nothing here sorts or checks, and evaluation stays safe when they do
    // not.
    void addTcbKey(float time, float value, float tension, float continuity, float bias);
    void addHermiteKey(float time, float value, float in, float out);
    void addBezierKey(float time, float value, float in, float out);
    void addLinearKey(float time, float value);
    void addSteppedKey(float time, float value);
    void addBezier2DKey(float time, float value, float p0, float p1, float p2, float p3);

    // The curve's value at a time in seconds. Allocates nothing.
    float evaluate(double time) const override;
    Envelope* asEnvelope() override { return this; }

    // The first key when it lies strictly before time, else the last key;
    // null without keys. The pointer stays valid until a key is added.
    EnvelopeKey* firstKeyBefore(double time);
    const EnvelopeKey* firstKeyBefore(double time) const;

    std::string name;
    u32 reserved = 0;
    // The number under which the object writer emits this envelope.
    u32 writerIndex = 0;
    // In insertion order; numKeys mirrors keys.size().
    std::vector<EnvelopeKey> keys;
    u32 numKeys = 0;
    u32 preBehavior = behaviorConstant;
    u32 postBehavior = behaviorConstant;

private:
    EnvelopeKey& append(float time, float value, u32 shape);
    float outgoing(size_t i0) const;
    float incoming(size_t i1) const;
    float bezier2D(size_t i1, double time) const;
};
