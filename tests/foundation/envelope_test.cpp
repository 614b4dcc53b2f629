#include "foundation/envelope.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

// Hand computations below use the cubic Hermite basis
//   h2 = 3t^2 - 2t^3, h1 = 1 - h2, h4 = t^3 - t^2, h3 = h4 - t^2 + t
// which at t = 0.5 is h1 = 0.5, h2 = 0.5, h3 = 0.125, h4 = -0.125
// and at t = 0.25 is h1 = 0.84375, h2 = 0.15625, h3 = 0.140625, h4 = -0.046875;
// a segment's value is h1 v0 + h2 v1 + h3 out + h4 in.

namespace {

constexpr float kTol = 1e-4f;

// Two linear keys: 0 s -> 0, 2 s -> 10.
Envelope rampTo10(u32 pre, u32 post)
{
    Envelope e;
    e.addLinearKey(0, 0);
    e.addLinearKey(2, 10);
    e.preBehavior = pre;
    e.postBehavior = post;
    return e;
}

// Inverse of the time curve of the 2D Bezier test segment, in double, by
// Newton's method: time(u) = -u^3 + 1.5u^2 + 1.5u.
double solveTestCurve(double time)
{
    double u = 0.5;
    for (int i = 0; i < 50; ++i)
        u -= (-u * u * u + 1.5 * u * u + 1.5 * u - time) / (-3 * u * u + 3 * u + 1.5);
    return u;
}

class Constant : public DynamicValue {
public:
    explicit Constant(float v) : v(v) {}
    float evaluate(double) const override { return v; }
    float v;
};

} // namespace

TEST(Envelope, ConstructionAndAddingKeys)
{
    Envelope e;
    EXPECT_TRUE(e.name.empty());
    EXPECT_EQ(e.numKeys, 0u);
    EXPECT_EQ(e.preBehavior, 1u);
    EXPECT_EQ(e.postBehavior, 1u);

    // appended in call order, not sorted
    e.addTcbKey(2, 20, 0.1f, 0.2f, 0.3f);
    e.addHermiteKey(1, 10, 4, 5);
    e.addBezierKey(3, 30, 6, 7);
    e.addLinearKey(4, 40);
    e.addSteppedKey(5, 50);
    e.addBezier2DKey(6, 60, -1, -2, 3, 4);
    ASSERT_EQ(e.numKeys, 6u);
    ASSERT_EQ(e.keys.size(), 6u);
    const u32 shapes[6] = {0, 1, 2, 3, 4, 5};
    const float times[6] = {2, 1, 3, 4, 5, 6};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(e.keys[i].shape, shapes[i]);
        EXPECT_EQ(e.keys[i].time, times[i]);
        EXPECT_EQ(e.keys[i].value, times[i] * 10);
    }
    EXPECT_EQ(e.keys[0].tension, 0.1f);
    EXPECT_EQ(e.keys[0].continuity, 0.2f);
    EXPECT_EQ(e.keys[0].bias, 0.3f);
    EXPECT_EQ(e.keys[1].param[0], 4.0f);
    EXPECT_EQ(e.keys[1].param[1], 5.0f);
    EXPECT_EQ(e.keys[2].param[0], 6.0f);
    EXPECT_EQ(e.keys[2].param[1], 7.0f);
    EXPECT_EQ(e.keys[5].param[0], -1.0f);
    EXPECT_EQ(e.keys[5].param[1], -2.0f);
    EXPECT_EQ(e.keys[5].param[2], 3.0f);
    EXPECT_EQ(e.keys[5].param[3], 4.0f);

    DynamicValue* d = &e;
    EXPECT_EQ(d->asEnvelope(), &e);
    Constant c(1);
    EXPECT_EQ(static_cast<DynamicValue&>(c).asEnvelope(), nullptr);

    // owners delete envelopes through the base
    std::unique_ptr<DynamicValue> owned(new Envelope(e));
    EXPECT_EQ(owned->asEnvelope()->numKeys, 6u);
}

TEST(Envelope, NoKeysAndOneKey)
{
    Envelope e;
    e.preBehavior = 5;
    e.postBehavior = 4;
    for (double t : {-10.0, 0.0, 3.5})
        EXPECT_EQ(e.evaluate(t), 0.0f);
    e.addTcbKey(1, 7.5f, 0, 0, 0);
    for (u32 behavior : {0u, 1u, 2u, 3u, 4u, 5u, 9u}) {
        e.preBehavior = e.postBehavior = behavior;
        for (double t : {-10.0, 1.0, 3.5})
            EXPECT_EQ(e.evaluate(t), 7.5f) << "behaviour " << behavior << " at " << t;
    }
}

TEST(Envelope, ResetAndConstantBehaviours)
{
    Envelope reset = rampTo10(0, 0);
    EXPECT_EQ(reset.evaluate(-1), 0.0f);
    EXPECT_EQ(reset.evaluate(3), 0.0f);
    EXPECT_EQ(reset.evaluate(1), 5.0f);

    Envelope e;
    e.addLinearKey(1, 4);
    e.addLinearKey(2, 10);
    EXPECT_EQ(e.evaluate(0.5), 4.0f);
    EXPECT_EQ(e.evaluate(99), 10.0f);
    // exactly on the end keys no behaviour applies
    e.preBehavior = e.postBehavior = 0;
    EXPECT_EQ(e.evaluate(1), 4.0f);
    EXPECT_EQ(e.evaluate(2), 10.0f);
}

TEST(Envelope, RepeatBehaviours)
{
    // span r = 2; wrap(v) = v - 2 floor(v / 2); n = -trunc((w - v) / 2 +- 0.5)
    Envelope repeat = rampTo10(2, 2);
    EXPECT_NEAR(repeat.evaluate(3), 5.0f, kTol);    // w = 1 -> 5
    EXPECT_NEAR(repeat.evaluate(2.5), 2.5f, kTol);  // w = 0.5 -> 2.5
    EXPECT_NEAR(repeat.evaluate(-0.5), 7.5f, kTol); // w = 1.5 -> 7.5
    EXPECT_NEAR(repeat.evaluate(6.5), 2.5f, kTol);  // w = 0.5

    Envelope offset = rampTo10(4, 4);
    // 3: w = 1, n = -trunc(-1 - 0.5) = 1 -> 5 + 1 x 10
    EXPECT_NEAR(offset.evaluate(3), 15.0f, kTol);
    // 5: w = 1, n = -trunc(-2 - 0.5) = 2 -> 5 + 20
    EXPECT_NEAR(offset.evaluate(5), 25.0f, kTol);
    // 4: w = 0, n = -trunc(-2 - 0.5) = 2 -> on key 0: 0 + 20, no interpolation
    EXPECT_EQ(offset.evaluate(4), 20.0f);
    // -1: floor(-0.5) = -1, w = 1, n = -trunc(1 + 0.5) = -1 -> 5 - 10
    EXPECT_NEAR(offset.evaluate(-1), -5.0f, kTol);
    // -3: floor(-1.5) = -2, w = 1, n = -trunc(2 + 0.5) = -2 -> 5 - 20
    EXPECT_NEAR(offset.evaluate(-3), -15.0f, kTol);

    Envelope osc = rampTo10(3, 3);
    // 3: w = 1, n = 1 odd -> time 2 - 1 = 1 -> 5
    EXPECT_NEAR(osc.evaluate(3), 5.0f, kTol);
    // 2.5: w = 0.5, n = 1 odd -> 1.5 -> 7.5
    EXPECT_NEAR(osc.evaluate(2.5), 7.5f, kTol);
    // 4.5: w = 0.5, n = 2 even -> 0.5 -> 2.5
    EXPECT_NEAR(osc.evaluate(4.5), 2.5f, kTol);
    // -0.5: w = 1.5, n = -1 odd -> 0.5 -> 2.5
    EXPECT_NEAR(osc.evaluate(-0.5), 2.5f, kTol);
    // -2.5: floor(-1.25) = -2, w = 1.5, n = -trunc(2 + 0.5) = -2 even -> 7.5
    EXPECT_NEAR(osc.evaluate(-2.5), 7.5f, kTol);
}

TEST(Envelope, OscillateMirrorsAboutTheSpanNotTheKeys)
{
    // keys 1 s -> 0, 3 s -> 10; at 4: w = 4 - 2 floor(1.5) = 2,
    // n = -trunc((2 - 4) / 2 - 0.5) = 1 odd -> time (3 - 1) - 2 = 0, which lies
    // before the first key: t = (0 - 1) / 2 = -0.5 -> 0 - 0.5 x 10 = -5
    Envelope e;
    e.addLinearKey(1, 0);
    e.addLinearKey(3, 10);
    e.postBehavior = 3;
    EXPECT_NEAR(e.evaluate(4), -5.0f, kTol);

    // keys -2 s -> 0, 0 s -> 10; at -2.5: floor(-0.25) = -1, w = -0.5,
    // n = -trunc(2 x 0.5 + 0.5) = -1 odd -> time 2 - (-0.5) = 2.5, after the
    // last key; the walk stays on the last segment: t = 4.5 / 2 -> 22.5
    Envelope f;
    f.addLinearKey(-2, 0);
    f.addLinearKey(0, 10);
    f.preBehavior = 3;
    EXPECT_NEAR(f.evaluate(-2.5), 22.5f, kTol);
}

TEST(Envelope, LinearBehaviours)
{
    // linear keys: outgoing of the first = incoming of the last = d = 10,
    // slope 10 / 2 = 5 per second
    Envelope lin = rampTo10(5, 5);
    EXPECT_NEAR(lin.evaluate(-1), -5.0f, kTol);
    EXPECT_NEAR(lin.evaluate(3), 15.0f, kTol);

    // TCB ends: first (0 s, 0, tension 0.5): b = 0.5 x 1 x 1, out = 0.5 x 10 = 5,
    // slope 5 / 2 = 2.5 -> at -2: -5.
    // last (2 s, 10, bias 0.5): a = 1 x 1 x 1.5, in = 1.5 x 10 = 15,
    // slope 7.5 -> at 4: 10 + 2 x 7.5 = 25
    Envelope tcb;
    tcb.addTcbKey(0, 0, 0.5f, 0, 0);
    tcb.addTcbKey(2, 10, 0, 0, 0.5f);
    tcb.preBehavior = tcb.postBehavior = 5;
    EXPECT_NEAR(tcb.evaluate(-2), -5.0f, kTol);
    EXPECT_NEAR(tcb.evaluate(4), 25.0f, kTol);

    // only the last segment counts after the end: (1, 10) -> (3, 0),
    // in = -10, slope -5 -> at 4: -5
    Envelope three;
    three.addLinearKey(0, 0);
    three.addLinearKey(1, 10);
    three.addLinearKey(3, 0);
    three.postBehavior = 5;
    EXPECT_NEAR(three.evaluate(4), -5.0f, kTol);

    // a 2D Bezier last key: in = param1 x span / param0 = -1 x 2 / -0.5 = 4,
    // slope 2 -> at 3: 12; with a time handle of 0 the 100000 factor applies:
    // in = -1 x 2 x 100000, slope -100000 -> at 3: 10 - 100000
    Envelope b2;
    b2.addLinearKey(0, 0);
    b2.addBezier2DKey(2, 10, -0.5f, -1, 0, 0);
    b2.postBehavior = 5;
    EXPECT_NEAR(b2.evaluate(3), 12.0f, kTol);
    b2.keys[1].param[0] = 0;
    EXPECT_NEAR(b2.evaluate(3), -99990.0f, 0.01f);
}

TEST(Envelope, UnknownBehaviourExtrapolatesTheEndSegments)
{
    Envelope e = rampTo10(7, 7);
    EXPECT_NEAR(e.evaluate(-1), -5.0f, kTol); // t = -0.5
    EXPECT_NEAR(e.evaluate(3), 15.0f, kTol);  // t = 1.5

    // three keys: the walk stops at (1, 10) -> (2, 0); at 3: t = 2 -> 10 - 20
    Envelope f;
    f.addLinearKey(0, 0);
    f.addLinearKey(1, 10);
    f.addLinearKey(2, 0);
    f.postBehavior = 6;
    EXPECT_NEAR(f.evaluate(3), -10.0f, kTol);
}

TEST(Envelope, EqualFirstAndLastTimes)
{
    // span 0: wrap gives the first key's time and n = 0
    Envelope e;
    e.addLinearKey(1, 5);
    e.addLinearKey(1, 7);
    for (u32 behavior : {2u, 3u, 4u}) {
        e.preBehavior = e.postBehavior = behavior;
        EXPECT_EQ(e.evaluate(3), 5.0f) << behavior;
        EXPECT_EQ(e.evaluate(-3), 5.0f) << behavior;
    }
    // linear with no span to take a slope from stays at the end key
    e.preBehavior = e.postBehavior = 5;
    EXPECT_EQ(e.evaluate(0), 5.0f);
    EXPECT_EQ(e.evaluate(2), 7.0f);
}

TEST(Envelope, SteppedAndLinearSegments)
{
    Envelope e;
    e.addLinearKey(0, 0);
    e.addLinearKey(2, 10);
    e.addSteppedKey(4, 30);
    EXPECT_NEAR(e.evaluate(0.5), 2.5f, kTol); // 0 + 0.25 x 10
    EXPECT_EQ(e.evaluate(2), 10.0f);
    EXPECT_EQ(e.evaluate(3), 10.0f);
    EXPECT_EQ(e.evaluate(3.999), 10.0f);
    EXPECT_EQ(e.evaluate(4), 30.0f);

    // a later key of no known shape leaves only the offset
    e.keys[2].shape = 9;
    EXPECT_EQ(e.evaluate(3), 0.0f);
}

TEST(Envelope, TcbSegments)
{
    // Two keys, no neighbours:
    //   k0 (0 s, 10, T 0.5 C 0.5 B 0.5): b = 0.5 x 0.5 x 0.5 = 0.125,
    //     out = b x d = 0.125 x 20 = 2.5
    //   k1 (2 s, 30, T 0 C -0.5 B 0.25): a = 1 x 1.5 x 1.25 = 1.875,
    //     in = a x d = 37.5
    // at 1 s (t 0.5): 5 + 15 + 0.125 x 2.5 - 0.125 x 37.5 = 15.625
    // at 0.5 s (t 0.25): 8.4375 + 4.6875 + 0.3515625 - 1.7578125 = 11.71875
    Envelope two;
    two.addTcbKey(0, 10, 0.5f, 0.5f, 0.5f);
    two.addTcbKey(2, 30, 0, -0.5f, 0.25f);
    EXPECT_NEAR(two.evaluate(1), 15.625f, kTol);
    EXPECT_NEAR(two.evaluate(0.5), 11.71875f, kTol);

    // With neighbours: k0 (0, 0), k1 (1, 10, T C B 0.5), k2 (3, 20, T 0 C -0.5
    // B 0.25), k3 (4, 0).
    // Segment k1 -> k2 at 2 s (t 0.5):
    //   out(k1): a = 0.5 x 1.5 x 1.5 = 1.125, b = 0.125, d = 10,
    //     (2 / 3) x (1.125 x 10 + 0.125 x 10) = 8.333333
    //   in(k2): a = 1 x 1.5 x 1.25 = 1.875, b = 1 x 0.5 x 0.75 = 0.375,
    //     (2 / 3) x (0.375 x (0 - 20) + 1.875 x 10) = 7.5
    //   5 + 10 + 0.125 x 8.333333 - 0.125 x 7.5 = 15.104167
    // Segment k2 -> k3 at 3.5 s (t 0.5):
    //   out(k2): a = 1 x 0.5 x 1.25 = 0.625, b = 1 x 1.5 x 0.75 = 1.125,
    //     d = -20, (1 / 3) x (0.625 x 10 + 1.125 x -20) = -5.416667
    //   in(k3), no next, T C B 0: a = 1, in = -20
    //   10 + 0 - 0.677083 + 2.5 = 11.822917
    Envelope four;
    four.addTcbKey(0, 0, 0, 0, 0);
    four.addTcbKey(1, 10, 0.5f, 0.5f, 0.5f);
    four.addTcbKey(3, 20, 0, -0.5f, 0.25f);
    four.addTcbKey(4, 0, 0, 0, 0);
    EXPECT_NEAR(four.evaluate(2), 15.104167f, kTol);
    EXPECT_NEAR(four.evaluate(3.5), 11.822917f, kTol);
    EXPECT_EQ(four.evaluate(3), 20.0f);
}

TEST(Envelope, HermiteAndBezierSegments)
{
    // k0 (0, 0, out 2), k1 (1, 4, out 3), k2 (3, 6, in 5), k3 (4, 0)
    // at 2 s: out = 3 x (3 - 1) / (3 - 0) = 2; in = 5 x (3 - 1) / (4 - 1) = 3.333333
    //   2 + 3 + 0.125 x 2 - 0.125 x 3.333333 = 4.833333
    Envelope h;
    h.addHermiteKey(0, 0, 0, 2);
    h.addHermiteKey(1, 4, 1, 3);
    h.addHermiteKey(3, 6, 5, 0);
    h.addHermiteKey(4, 0, 0, 0);
    EXPECT_NEAR(h.evaluate(2), 4.833333f, kTol);

    // no neighbours, tangents used as they are: out 8, in 4
    // at 1 s: 0 + 5 + 0.125 x 8 - 0.125 x 4 = 5.5
    // at 0.5 s: 0 + 1.5625 + 0.140625 x 8 - 0.046875 x 4 = 2.5
    Envelope b;
    b.addBezierKey(0, 0, 0, 8);
    b.addBezierKey(2, 10, 4, 0);
    EXPECT_NEAR(b.evaluate(1), 5.5f, kTol);
    EXPECT_NEAR(b.evaluate(0.5), 2.5f, kTol);
}

TEST(Envelope, LaterKeyShapeDecidesAndEarlierShapeGivesTheOutgoingTangent)
{
    // linear k1 with a previous key before a TCB k2 (no next):
    //   out(k1) = (2 / 3) x (10 - 0 + 10) = 13.333333; in(k2) = 1 x 10
    //   at 2 s: 5 + 10 + 0.125 x 13.333333 - 0.125 x 10 = 15.416667
    Envelope lin;
    lin.addLinearKey(0, 0);
    lin.addLinearKey(1, 10);
    lin.addTcbKey(3, 20, 0, 0, 0);
    EXPECT_NEAR(lin.evaluate(2), 15.416667f, kTol);
    EXPECT_NEAR(lin.evaluate(0.5), 5.0f, kTol); // the first segment is linear

    // a TCB key after a stepped key: outgoing 0, in = 10
    //   at 2 s: 5 + 10 + 0 - 0.125 x 10 = 13.75
    Envelope step;
    step.addTcbKey(0, 0, 0, 0, 0);
    step.addSteppedKey(1, 10);
    step.addTcbKey(3, 20, 0, 0, 0);
    EXPECT_NEAR(step.evaluate(2), 13.75f, kTol);
    EXPECT_EQ(step.evaluate(0.999), 0.0f);
}

TEST(Envelope, Bezier2DSegments)
{
    // k0 (0 s, 0, out handle +0.5 s / +4), k1 (2 s, 10, in handle -0.5 s / -2).
    // time(u) = bezier(0, 0.5, 1.5, 2): c = 1.5, b = 1.5, a = -1
    // value(u) = bezier(0, 4, 8, 10): c = 12, b = 0, a = -2
    Envelope e;
    e.addBezier2DKey(0, 0, 0, 0, 0.5f, 4);
    e.addBezier2DKey(2, 10, -0.5f, -2, 0, 0);
    // at 1 s the first midpoint hits: u = 0.5 -> -0.25 + 6 = 5.75
    EXPECT_NEAR(e.evaluate(1), 5.75f, kTol);
    // 0.453125 = time(0.25), the second midpoint -> -2/64 + 3 = 2.96875
    EXPECT_NEAR(e.evaluate(0.453125), 2.96875f, kTol);
    // 1.546875 = time(0.75) -> -2 x 0.421875 + 9 = 8.15625
    EXPECT_NEAR(e.evaluate(1.546875), 8.15625f, kTol);
    // elsewhere the bisection stops within 0.0001 s of the time
    for (double time : {0.3, 0.77, 1.234, 1.9}) {
        const double u = solveTestCurve(time);
        EXPECT_NEAR(e.evaluate(time), -2 * u * u * u + 12 * u, 1e-3) << time;
    }

    // k0 without handles of its own: both handle offsets are a third of the
    // time span, 3 x 0.33333334 = 1 (the value one too):
    // time(u) = bezier(0, 1, 2, 3) = 3u -> u = 0.5 at 1.5 s
    // value = bezier(0, 1, 6 - 1, 6) at 0.5 = (0 + 3 + 15 + 6) / 8 = 3
    Envelope f;
    f.addLinearKey(0, 0);
    f.addBezier2DKey(3, 6, -1, -1, 0, 0);
    EXPECT_NEAR(f.evaluate(1.5), 3.0f, kTol);
}

TEST(Envelope, Bezier2DOutgoingTangentIntoAHermiteKey)
{
    // out = param3 x span / param2 = 1 x 2 / 0.5 = 4, in = 0:
    // at 1 s: 5 + 0.125 x 4 = 5.5
    Envelope e;
    e.addBezier2DKey(0, 0, 0, 0, 0.5f, 1);
    e.addHermiteKey(2, 10, 0, 0);
    EXPECT_NEAR(e.evaluate(1), 5.5f, kTol);
    // |param2| <= 0.00001: out = 1 x 2 x 100000 -> 5 + 25000
    for (float handle : {0.000001f, 0.00001f, 0.0f, -0.00001f}) {
        e.keys[0].param[2] = handle;
        EXPECT_NEAR(e.evaluate(1), 25005.0f, 0.01f) << handle;
    }
    // just above the limit it divides: 2 / -0.00002 = -100000 -> 5 - 12500
    e.keys[0].param[2] = -0.00002f;
    EXPECT_NEAR(e.evaluate(1), -12495.0f, 0.5f);
}

TEST(Envelope, CoincidentAndUnorderedKeysStayFinite)
{
    // a zero-length segment reached after the end: key0's value
    Envelope a;
    a.addLinearKey(0, 0);
    a.addLinearKey(1, 10);
    a.addLinearKey(1, 20);
    a.postBehavior = 7;
    EXPECT_EQ(a.evaluate(5), 10.0f);
    Envelope b;
    b.addTcbKey(0, 5, 0, 0, 0);
    b.addTcbKey(0, 7, 0, 0, 0);
    b.addTcbKey(1, 9, 0, 0, 0);
    b.preBehavior = 7;
    EXPECT_EQ(b.evaluate(-1), 5.0f);

    // TCB keys 0 -> 0, 1 -> 10, 0 -> 20: the next key of k1 lies at k0's time,
    // so k1 counts as having no next: in = a x d = 10, out(k0) = 10
    // at 0.5 s: 5 + 0.125 x 10 - 0.125 x 10 = 5
    Envelope c;
    c.addTcbKey(0, 0, 0, 0, 0);
    c.addTcbKey(1, 10, 0, 0, 0);
    c.addTcbKey(0, 20, 0, 0, 0);
    c.postBehavior = 7; // 0.5 s lies after the last key's time
    EXPECT_NEAR(c.evaluate(0.5), 5.0f, kTol);
    // likewise a previous key at the far key's time: keys 1 -> 0, 0 -> 10,
    // 1 -> 20; 0.5 s walks to (0, 10) -> (1, 20): out = b x d = 10, in = 10
    // -> 5 + 10 + 0.125 x 10 - 0.125 x 10 = 15
    Envelope d;
    d.addTcbKey(1, 0, 0, 0, 0);
    d.addTcbKey(0, 10, 0, 0, 0);
    d.addTcbKey(1, 20, 0, 0, 0);
    d.preBehavior = 7; // 0.5 s lies before the first key's time
    EXPECT_NEAR(d.evaluate(0.5), 15.0f, kTol);
    // Hermite the same way: in(k1) is param0 = 6 as it stands
    // at 0.5 s: 5 + 0.125 x 2 - 0.125 x 6 = 4.5
    Envelope h;
    h.addHermiteKey(0, 0, 0, 2);
    h.addHermiteKey(1, 10, 6, 0);
    h.addHermiteKey(0, 20, 0, 0);
    h.postBehavior = 7;
    EXPECT_NEAR(h.evaluate(0.5), 4.5f, kTol);

    // unordered: the walk never leaves the list; at 10 with an unknown
    // post-behaviour it ends on (5, 10) -> (2, 20): t = 5 / -3
    Envelope u;
    u.addLinearKey(0, 0);
    u.addLinearKey(5, 10);
    u.addLinearKey(2, 20);
    u.postBehavior = 8;
    EXPECT_NEAR(u.evaluate(10), 10.0f - 50.0f / 3.0f, kTol);

    // coincident keys in the middle of a TCB list
    // keys 0 -> 0, 1 -> 10, 1 -> 20, 2 -> 30; at 1.5 s the segment is
    // (1, 20) -> (2, 30): out = (1 / 1) x (10 + 10) = 20, in = 10
    // -> 10 + 15 + 2.5 - 1.25 = 26.25
    Envelope m;
    m.addTcbKey(0, 0, 0, 0, 0);
    m.addTcbKey(1, 10, 0, 0, 0);
    m.addTcbKey(1, 20, 0, 0, 0);
    m.addTcbKey(2, 30, 0, 0, 0);
    EXPECT_NEAR(m.evaluate(1.5), 26.25f, kTol);
    for (double t = -1; t <= 3; t += 0.125)
        for (u32 behavior = 0; behavior < 7; ++behavior) {
            m.preBehavior = m.postBehavior = behavior;
            EXPECT_TRUE(std::isfinite(m.evaluate(t))) << t << " " << behavior;
        }
}

TEST(Envelope, BisectionEndsOnUnreachableAndNonFiniteTimes)
{
    // handles that bend the time curve far back: no exact solution exists for
    // most times, and an infinite time is never met
    Envelope e;
    e.addBezier2DKey(0, 0, 0, 0, 5, 1);
    e.addBezier2DKey(1, 10, -100, -3, 0, 0);
    e.postBehavior = 9;
    for (double t : {0.1, 0.5, 0.9, 1e9}) {
        const float v = e.evaluate(t);
        EXPECT_TRUE(std::isfinite(v)) << t;
    }
    e.evaluate(std::numeric_limits<double>::infinity());
    e.evaluate(std::numeric_limits<double>::quiet_NaN());
    e.postBehavior = 2;
    e.evaluate(std::numeric_limits<double>::infinity());
    e.postBehavior = 4;
    e.evaluate(1e300);
}

TEST(Envelope, FirstKeyBefore)
{
    Envelope e;
    EXPECT_EQ(e.firstKeyBefore(1.0), nullptr);
    e.addLinearKey(1, 0);
    e.addLinearKey(2, 0);
    e.addLinearKey(3, 0);
    EXPECT_EQ(e.firstKeyBefore(1.5), &e.keys[0]);
    EXPECT_EQ(e.firstKeyBefore(5.0), &e.keys[0]);
    EXPECT_EQ(e.firstKeyBefore(1.0), &e.keys[2]); // strictly earlier only
    EXPECT_EQ(e.firstKeyBefore(0.5), &e.keys[2]);
    // the emitter compares two results as records
    EXPECT_EQ(e.firstKeyBefore(2.5), e.firstKeyBefore(1.5));
    EXPECT_NE(e.firstKeyBefore(1.5), e.firstKeyBefore(0.5));
}

TEST(AnimatedValue, ValueAtCachesTheSourceValue)
{
    AnimatedValue constant{3.0f, nullptr};
    EXPECT_EQ(constant.valueAt(7), 3.0f);
    EXPECT_EQ(constant.value, 3.0f);

    Envelope ramp = rampTo10(1, 1);
    AnimatedValue animated{-1.0f, &ramp};
    EXPECT_NEAR(animated.valueAt(1), 5.0f, kTol);
    EXPECT_NEAR(animated.value, 5.0f, kTol);
    EXPECT_EQ(animated.valueAt(2), 10.0f);
    EXPECT_EQ(animated.value, 10.0f);

    AnimatedValue rgb[3] = {{0.25f, nullptr}, {0.0f, &ramp}, {0.75f, nullptr}};
    float colour[4];
    animatedColorAt(colour, rgb, 0.5);
    EXPECT_EQ(colour[0], 0.25f);
    EXPECT_NEAR(colour[1], 2.5f, kTol);
    EXPECT_EQ(colour[2], 0.75f);
    EXPECT_EQ(colour[3], 1.0f);
    EXPECT_NEAR(rgb[1].value, 2.5f, kTol);
}
