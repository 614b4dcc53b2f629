#include "foundation/envelope.h"

#include <cmath>

namespace {

// Brings v into [lo, hi) by whole spans of hi - lo. cycles (when asked for)
// is how many spans v lay after the range, negative before it. It stays a
// double so that an absurd time cannot overflow an integer conversion.
double wrapTime(double v, float lo, float hi, double* cycles)
{
    const float span = hi - lo;
    if (span == 0.0f) {
        if (cycles)
            *cycles = 0.0;
        return lo;
    }
    const double inv = 1.0 / span;
    const double w = v - span * std::floor((v - lo) * inv);
    if (cycles)
        *cycles = -std::trunc((w - v) * inv + (w > v ? 0.5 : -0.5));
    return w;
}

bool isOdd(double cycles)
{
    return std::fmod(cycles, 2.0) != 0.0;
}

float bezierCurve(float x0, float x1, float x2, float x3, float u)
{
    const float c = 3.0f * (x1 - x0);
    const float b = 3.0f * (x2 - x1) - c;
    const float a = x3 - x0 - c - b;
    return a * (u * u * u) + b * (u * u) + c * u + x0;
}

// A 2D Bezier handle's slope: value offset over time offset, with a near-zero
// time offset standing for a very steep handle.
float handleSlope(float valueOffset, float timeOffset, float span)
{
    const float scaled = valueOffset * span;
    if (std::fabs(timeOffset) > 0.00001f)
        return scaled / timeOffset;
    return scaled * 100000.0f;
}

} // namespace

EnvelopeKey& Envelope::append(float time, float value, u32 shape)
{
    EnvelopeKey& key = keys.emplace_back();
    key.time = time;
    key.value = value;
    key.shape = shape;
    numKeys = static_cast<u32>(keys.size());
    return key;
}

void Envelope::addTcbKey(float time, float value, float tension, float continuity, float bias)
{
    EnvelopeKey& key = append(time, value, EnvelopeKey::shapeTcb);
    key.tension = tension;
    key.continuity = continuity;
    key.bias = bias;
}

void Envelope::addHermiteKey(float time, float value, float in, float out)
{
    EnvelopeKey& key = append(time, value, EnvelopeKey::shapeHermite);
    key.param[0] = in;
    key.param[1] = out;
}

void Envelope::addBezierKey(float time, float value, float in, float out)
{
    EnvelopeKey& key = append(time, value, EnvelopeKey::shapeBezier);
    key.param[0] = in;
    key.param[1] = out;
}

void Envelope::addLinearKey(float time, float value)
{
    append(time, value, EnvelopeKey::shapeLinear);
}

void Envelope::addSteppedKey(float time, float value)
{
    append(time, value, EnvelopeKey::shapeStepped);
}

void Envelope::addBezier2DKey(float time, float value, float p0, float p1, float p2, float p3)
{
    EnvelopeKey& key = append(time, value, EnvelopeKey::shapeBezier2D);
    key.param[0] = p0;
    key.param[1] = p1;
    key.param[2] = p2;
    key.param[3] = p3;
}

// Tangent leaving keys[i0] towards keys[i0 + 1], by the shape of keys[i0].
// A previous key at the same time as keys[i0 + 1] (possible only with
// coincident or unordered keys) gives no spacing to scale by, so keys[i0]
// is then treated as having no previous key.
float Envelope::outgoing(size_t i0) const
{
    const EnvelopeKey& key0 = keys[i0];
    const EnvelopeKey& key1 = keys[i0 + 1];
    const EnvelopeKey* prev = i0 > 0 ? &keys[i0 - 1] : nullptr;
    if (prev && key1.time - prev->time == 0.0f)
        prev = nullptr;

    switch (key0.shape) {
    case EnvelopeKey::shapeTcb: {
        const float a = (1.0f - key0.tension) * (1.0f + key0.continuity) * (1.0f + key0.bias);
        const float b = (1.0f - key0.tension) * (1.0f - key0.continuity) * (1.0f - key0.bias);
        const float d = key1.value - key0.value;
        if (!prev)
            return b * d;
        return ((key1.time - key0.time) / (key1.time - prev->time)) *
               (a * (key0.value - prev->value) + b * d);
    }
    case EnvelopeKey::shapeHermite:
    case EnvelopeKey::shapeBezier:
        if (!prev)
            return key0.param[1];
        return key0.param[1] * ((key1.time - key0.time) / (key1.time - prev->time));
    case EnvelopeKey::shapeLinear: {
        const float d = key1.value - key0.value;
        if (!prev)
            return d;
        return ((key1.time - key0.time) / (key1.time - prev->time)) *
               (key0.value - prev->value + d);
    }
    case EnvelopeKey::shapeBezier2D:
        return handleSlope(key0.param[3], key0.param[2], key1.time - key0.time);
    default:
        return 0.0f;
    }
}

// Tangent arriving at keys[i1] from keys[i1 - 1], by the shape of keys[i1];
// a next key at the same time as keys[i1 - 1] counts as none, as above.
float Envelope::incoming(size_t i1) const
{
    const EnvelopeKey& key0 = keys[i1 - 1];
    const EnvelopeKey& key1 = keys[i1];
    const EnvelopeKey* next = i1 + 1 < keys.size() ? &keys[i1 + 1] : nullptr;
    if (next && next->time - key0.time == 0.0f)
        next = nullptr;

    switch (key1.shape) {
    case EnvelopeKey::shapeTcb: {
        const float a = (1.0f - key1.tension) * (1.0f - key1.continuity) * (1.0f + key1.bias);
        const float b = (1.0f - key1.tension) * (1.0f + key1.continuity) * (1.0f - key1.bias);
        const float d = key1.value - key0.value;
        if (!next)
            return a * d;
        return ((key1.time - key0.time) / (next->time - key0.time)) *
               (b * (next->value - key1.value) + a * d);
    }
    case EnvelopeKey::shapeHermite:
    case EnvelopeKey::shapeBezier:
        if (!next)
            return key1.param[0];
        return key1.param[0] * ((key1.time - key0.time) / (next->time - key0.time));
    case EnvelopeKey::shapeLinear: {
        const float d = key1.value - key0.value;
        if (!next)
            return d;
        return ((key1.time - key0.time) / (next->time - key0.time)) *
               (next->value - key1.value + d);
    }
    case EnvelopeKey::shapeBezier2D:
        return handleSlope(key1.param[1], key1.param[0], key1.time - key0.time);
    default:
        return 0.0f;
    }
}

// The segment keys[i1 - 1] .. keys[i1] as a Bezier curve in both time and
// value: find the curve parameter whose time matches, then its value.
float Envelope::bezier2D(size_t i1, double time) const
{
    const EnvelopeKey& key0 = keys[i1 - 1];
    const EnvelopeKey& key1 = keys[i1];
    const bool handles = key0.shape == EnvelopeKey::shapeBezier2D;
    // Without handles of its own the earlier key gets a third of the time
    // span as both offsets, the value one included.
    const float fallback = (key1.time - key0.time) * 0.33333334f;

    const float x = key0.time + (handles ? key0.param[2] : fallback);
    const float x2 = key1.time + key1.param[0];
    float u0 = 0.0f;
    float u1 = 1.0f;
    float u = u0 + (u1 - u0) * 0.5f;
    float v = bezierCurve(key0.time, x, x2, key1.time, u);
    // Bisection, bounded: a time the curve never reaches (a handle pulling
    // it back, an infinite time) ends once the interval stops shrinking.
    for (int halvings = 0; halvings < 64 && std::fabs(time - v) > 0.0001; ++halvings) {
        const float width = u1 - u0;
        if (v > time)
            u1 = u;
        else
            u0 = u;
        if (!(u1 - u0 < width))
            break;
        u = u0 + (u1 - u0) * 0.5f;
        v = bezierCurve(key0.time, x, x2, key1.time, u);
    }

    const float y = key0.value + (handles ? key0.param[3] : fallback);
    return bezierCurve(key0.value, y, key1.value + key1.param[1], key1.value, u);
}

float Envelope::evaluate(double time) const
{
    const size_t n = keys.size();
    if (n == 0)
        return 0.0f;
    if (n == 1)
        return keys[0].value;

    const EnvelopeKey& first = keys.front();
    const EnvelopeKey& last = keys.back();
    float offset = 0.0f;

    if (time < first.time || time > last.time) {
        const bool before = time < first.time;
        double cycles = 0.0;
        switch (before ? preBehavior : postBehavior) {
        case behaviorReset:
            return 0.0f;
        case behaviorConstant:
            return before ? first.value : last.value;
        case behaviorRepeat:
            time = wrapTime(time, first.time, last.time, nullptr);
            break;
        case behaviorOscillate:
            // Mirrors about the span, not about the keys' times: a true
            // mirror only when the first key lies at 0, which content
            // is built for.
            time = wrapTime(time, first.time, last.time, &cycles);
            if (isOdd(cycles))
                time = static_cast<double>(last.time - first.time) - time;
            break;
        case behaviorOffsetRepeat:
            time = wrapTime(time, first.time, last.time, &cycles);
            offset = static_cast<float>(cycles) * (last.value - first.value);
            break;
        case behaviorLinear: {
            // A zero span has no slope: the curve stays at the end key.
            if (before) {
                const float span = keys[1].time - first.time;
                if (span == 0.0f)
                    return first.value;
                return outgoing(0) / span * static_cast<float>(time - first.time) + first.value;
            }
            const float span = last.time - keys[n - 2].time;
            if (span == 0.0f)
                return last.value;
            return incoming(n - 1) / span * static_cast<float>(time - last.time) + last.value;
        }
        default:
            // Unknown codes leave the time as it is; the walk below then
            // extrapolates the first or last segment.
            break;
        }
    }

    // The walk stops at the last segment whatever the time: unordered keys
    // and the behaviours above can leave time after the last key.
    size_t i1 = 1;
    while (time > keys[i1].time && i1 + 1 < n)
        ++i1;
    const EnvelopeKey& key0 = keys[i1 - 1];
    const EnvelopeKey& key1 = keys[i1];

    if (time == key0.time)
        return key0.value + offset;
    if (time == key1.time)
        return key1.value + offset;
    const float span = key1.time - key0.time;
    if (span == 0.0f)
        return key0.value + offset;
    const float t = static_cast<float>(time - key0.time) / span;

    switch (key1.shape) {
    case EnvelopeKey::shapeTcb:
    case EnvelopeKey::shapeHermite:
    case EnvelopeKey::shapeBezier: {
        const float out = outgoing(i1 - 1);
        const float in = incoming(i1);
        const float t2 = t * t;
        const float t3 = t * t2;
        const float h2 = 3.0f * t2 - 2.0f * t3;
        const float h1 = 1.0f - h2;
        const float h4 = t3 - t2;
        const float h3 = h4 - t2 + t;
        return h1 * key0.value + h2 * key1.value + h3 * out + h4 * in + offset;
    }
    case EnvelopeKey::shapeLinear:
        return key0.value + t * (key1.value - key0.value) + offset;
    case EnvelopeKey::shapeStepped:
        return key0.value + offset;
    case EnvelopeKey::shapeBezier2D:
        return bezier2D(i1, time) + offset;
    default:
        return offset;
    }
}

EnvelopeKey* Envelope::firstKeyBefore(double time)
{
    if (keys.empty())
        return nullptr;
    return time > keys.front().time ? &keys.front() : &keys.back();
}

const EnvelopeKey* Envelope::firstKeyBefore(double time) const
{
    return const_cast<Envelope*>(this)->firstKeyBefore(time);
}
