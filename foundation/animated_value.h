// Animatable quantities: a constant, or a constant plus a source that gives
// the value at a time.
#pragma once

class Envelope;

// Something that yields a value at a time (the engine has one kind: the
// envelope). Whoever holds the AnimatedValue that points at it owns it.
class DynamicValue {
public:
    virtual ~DynamicValue() = default;
    // Time in seconds.
    virtual float evaluate(double time) const = 0;
    // The keys behind the value, for callers that need them, without a type
    // query.
    virtual Envelope* asEnvelope() { return nullptr; }
};

// A plain pair embedded by value in its owner; the owner deletes the source.
struct AnimatedValue {
    // The constant, and after an evaluation through a source the value that
    // the source last gave.
    float value = 0.0f;
    DynamicValue* source = nullptr;

    float valueAt(double time)
    {
        if (source == nullptr)
            return value;
        value = source->evaluate(time);
        return value;
    }
};

// rgb points at three consecutive values (red, green, blue); out becomes
// {red, green, blue, 1} at that time.
inline void animatedColorAt(float out[4], AnimatedValue* rgb, double time)
{
    out[0] = rgb[0].valueAt(time);
    out[1] = rgb[1].valueAt(time);
    out[2] = rgb[2].valueAt(time);
    out[3] = 1.0f;
}
