// Particle emitters and forces against hand-computed steps.
#include "foundation/envelope.h"
#include "foundation/random.h"
#include "scene/hv_object.h"
#include "scene/object.h"
#include "scene/particle_fx.h"
#include "scene/scene.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace {

// Records what the emitter hands over for drawing.
class RecordingHV : public HVObject {
public:
    RecordingHV() : HVObject(nullptr) {}
    void render(double t, Particle*, i32 count, Node*) override { calls.push_back({t, count}); }
    struct Call {
        double t;
        i32 count;
    };
    std::vector<Call> calls;
};

struct Rig {
    Scene scene{nullptr};
    Object* object = new Object(&scene, 0);
    Rig() { scene.objects.push_back(object); }
};

struct Vec {
    float x, y, z;
};

void expectNear(const float* v, Vec e, const char* what)
{
    EXPECT_NEAR(v[0], e.x, 1e-4f) << what;
    EXPECT_NEAR(v[1], e.y, 1e-4f) << what;
    EXPECT_NEAR(v[2], e.z, 1e-4f) << what;
}

Particle particleAt(Vec p, Vec v = {0, 0, 0}, float e0 = 1.0f, float e1 = 4.0f)
{
    Particle q{};
    q.position[0] = p.x, q.position[1] = p.y, q.position[2] = p.z;
    q.velocity[0] = v.x, q.velocity[1] = v.y, q.velocity[2] = v.z;
    q.extra[0] = e0, q.extra[1] = e1;
    q.life = 1.0f;
    q.alive = 1;
    return q;
}

i32 living(const FXEmitter& e)
{
    i32 n = 0;
    for (const Particle& p : e.particles)
        n += p.alive;
    return n;
}

TEST(ParticleFX, BirthCounts)
{
    struct Case {
        const char* name;
        i32 count, unit;
        float rate;
        double dt;
        int steps;
        i32 alive;
    };
    const Case cases[] = {
        {"per second: first step gives n - 1", 10000, 1, 100.0f, 0.1, 1, 9},
        {"per frame at 30 fps", 10000, 0, 1.0f, 0.5, 2, 29},
        {"half a birth a frame in 1/60 s steps is lost", 10000, 0, 0.5f, 1.0 / 60.0, 30, 0},
        {"other units give none", 10000, 2, 100.0f, 1.0, 1, 0},
        {"a total above the count gives none", 5, 1, 100.0f, 0.1, 3, 0},
        {"the whole count, record 0 never taken", 10, 1, 10.0f, 1.0, 1, 9},
        {"count 0", 0, 1, 100.0f, 1.0, 2, 0},
        {"huge rate", 10000, 1, 3.0e38f, 1.0e30, 2, 0},
        {"huge negative rate", 10000, 1, -3.0e38f, 1.0e30, 2, 0},
    };
    for (const Case& c : cases) {
        Rig rig;
        FXEmitter e(rig.object);
        e.setParticleCount(c.count);
        e.birthUnit = c.unit;
        e.birthRate.value = c.rate;
        double t = 0.0;
        for (int s = 0; s < c.steps; ++s)
            e.emitParticles(t += c.dt, c.dt);
        EXPECT_EQ(living(e), c.alive) << c.name;
        EXPECT_EQ(e.pool()[0].alive, 0) << c.name;
    }
}

TEST(ParticleFX, NoBirthsOnceTheTotalPassesTheCountEvenAfterAllDie)
{
    Rig rig;
    FXEmitter e(rig.object);
    e.setParticleCount(10);
    e.birthRate.value = 8.0f;
    e.emitParticles(1.0, 1.0); // total 8: records 1..7
    e.emitParticles(2.0, 1.0); // total 16 > 10
    EXPECT_EQ(living(e), 7);
    e.apply(e.pool(), 0, 10, 2.0, 5000.0, nullptr);
    EXPECT_EQ(living(e), 0);
    e.emitParticles(3.0, 1.0);
    EXPECT_EQ(living(e), 0);
}

TEST(ParticleFX, CountFromOutsideIsLimitedToThePool)
{
    const std::pair<i32, i32> cases[] = {{0, 0}, {-1, 0}, {1000000000, 10000}, {INT_MAX, 10000}, {77, 77}};
    Rig rig;
    FXEmitter e(rig.object);
    for (auto [in, out] : cases) {
        e.setParticleCount(in);
        EXPECT_EQ(e.particleCount, out) << in;
    }
}

// The pool is made at the first step and follows a count raised later:
// births reach the new records.
TEST(ParticleFX, PoolFollowsTheCount)
{
    Rig rig;
    FXEmitter e(rig.object);
    e.setParticleCount(4);
    EXPECT_TRUE(e.particles.empty());
    e.birthRate.value = 4.0f;
    e.emitParticles(1.0, 1.0); // total 4: records 1..3
    EXPECT_EQ(living(e), 3);
    e.setParticleCount(40);
    e.emitParticles(2.0, 1.0); // total 8: records 4..7
    EXPECT_EQ(living(e), 7);
    EXPECT_GE(e.particles.size(), 40u);
}

TEST(ParticleFX, BirthModesAcrossTheFirstKey)
{
    struct Case {
        i32 mode;
        double from, to;
        bool born;
    };
    // Position-x keys at 0 s and 2 s.
    const Case cases[] = {
        {1, -0.1, 0.1, true}, {1, 0.1, 0.3, false}, {1, 1.9, 2.1, false},
        {2, -0.1, 0.1, true}, {2, 0.1, 0.3, true},  {3, -0.1, 0.1, false},
    };
    for (const Case& c : cases) {
        Rig rig;
        auto* env = new Envelope;
        env->addLinearKey(0.0f, 0.0f);
        env->addLinearKey(2.0f, 1.0f);
        rig.object->channels[kPositionX].source = env;
        FXEmitter e(rig.object);
        e.birthMode = c.mode;
        e.emitParticles(c.to, c.to - c.from);
        EXPECT_EQ(living(e) > 0, c.born) << c.mode << " " << c.from;
    }
}

TEST(ParticleFX, ModeTwoResetsOnTheKeyStep)
{
    Rig rig;
    auto* env = new Envelope;
    env->addLinearKey(0.0f, 0.0f);
    env->addLinearKey(2.0f, 0.0f);
    rig.object->channels[kPositionX].source = env;
    FXEmitter e(rig.object);
    e.birthMode = 2;
    e.birthRate.value = 50.0f;
    e.emitParticles(-0.5, 0.2); // no key crossed: total 10
    ASSERT_EQ(living(e), 9);
    e.emitParticles(0.1, 0.2); // crosses 0: everything dies, total restarts at 10
    EXPECT_EQ(living(e), 9);
    EXPECT_EQ(e.totalBorn, 10);
    EXPECT_EQ(e.lastBorn, 9);
}

// The motion looks one second back; the node keeps this frame's matrix.
TEST(ParticleFX, EmittingLeavesTheNodeAtThisFrame)
{
    Rig rig;
    auto* env = new Envelope;
    env->addLinearKey(0.0f, 0.0f);
    env->addLinearKey(2.0f, 20.0f);
    rig.object->channels[kPositionX].source = env;
    FXEmitter e(rig.object);
    e.emitParticles(1.5, 0.5);
    EXPECT_FLOAT_EQ(rig.object->worldMatrixAt(1.5)->_41, 15.0f);
}

TEST(ParticleFX, BirthTermsInDrawOrder)
{
    Rig rig;
    FXEmitter e(rig.object);
    e.placement = 0;
    e.generatorSize[0] = 2.0f, e.generatorSize[1] = 4.0f, e.generatorSize[2] = 6.0f;
    e.lifeTime.value = 10.0f, e.lifeSpread.value = 2.0f;
    e.extra0Base.value = 2.0f, e.extra0Spread.value = 1.0f;
    e.extra1Spread.value = 1.0f;
    e.velocity[0].value = 1.0f, e.velocity[1].value = 2.0f, e.velocity[2].value = 3.0f;
    e.birthRate.value = 20.0f;
    sharedRandom().seed(7);
    Random r(7);
    auto u = [&] { return float(r.next()) / 32768.0f; };
    e.emitParticles(0.1, 0.1); // total 2: record 1 only
    ASSERT_EQ(living(e), 1);
    const float z = (u() - 0.5f) * 6.0f, y = (u() - 0.5f) * 4.0f, x = (u() - 0.5f) * 2.0f;
    const float life = 10.0f + (u() - 0.5f) * 2.0f;
    const float e0 = 2.0f + 2.0f * (u() - 0.5f);
    const float e1 = 4.0f - 2.0f * (float(r.next()) / 65536.0f);
    const Particle& p = e.particles[1];
    expectNear(p.position, {x, y, z}, "box position");
    EXPECT_FLOAT_EQ(p.life, life);
    EXPECT_FLOAT_EQ(p.extra[0], e0);
    EXPECT_FLOAT_EQ(p.extra[1], e1);
    expectNear(p.velocity, {e0, 2 * e0, 3 * e0}, "velocity");
}

TEST(ParticleFX, BirthBelowGroundOnly)
{
    Rig rig;
    FXEmitter e(rig.object);
    e.birthUnit = 3;
    e.placement = 0;
    e.birthRate.value = 1000.0f; // per frame: 3000 in 0.1 s
    e.emitParticles(0.1, 0.1);
    const i32 n = living(e);
    EXPECT_GT(n, 1000);
    EXPECT_LT(n, 2000);
    for (i32 i = 0; i < 3000; ++i) {
        if (e.particles[i].alive) {
            ASSERT_LE(e.particles[i].position[1], 0.0f);
        }
    }
}

TEST(ParticleFX, EmitterOwnStepLifeLimitAndDraw)
{
    Rig rig;
    auto* hv = new RecordingHV;
    rig.object->hvObject = hv;
    FXEmitter e(rig.object);
    e.setParticleCount(4);
    e.acceleration[1] = -2.0f;
    e.pool();
    e.particles[1] = particleAt({0, 0, 0}, {2, 0, 0});
    e.particles[1].life = 0.5f; // reaches exactly 0
    e.particles[2] = particleAt({1, 1, 1}, {2, 0, 0});
    e.particles[3] = particleAt({0, 0, 0}, {3, 4, 0});
    e.speedLimit = 1.0f;
    e.apply(e.pool(), 0, 4, 1.0, 0.5, nullptr);
    EXPECT_EQ(e.particles[1].alive, 0);
    expectNear(e.particles[2].velocity, {1, -1, 0}, "displacement");
    e.moveParticles(nullptr, 1.0, 0.5);
    expectNear(e.particles[2].position, {2, 0, 1}, "moved");
    expectNear(e.particles[2].velocity, {2, -2, 0}, "velocity again");
    // Displacement (1.5, 1, 0) * 0.5 reaches 0.9 < 1; with a limit of 0.5 it is cut.
    e.particles[3] = particleAt({0, 0, 0}, {3, 4, 0});
    e.speedLimit = 0.5f;
    e.moveParticles(nullptr, 1.0, 0.5);
    expectNear(e.particles[3].position, {0.6f, 0.8f, 0}, "speed limit");
    e.particles[3] = particleAt({0, 0, 0}, {3, 4, 0});
    e.speedLimit = 0.0f;
    e.moveParticles(nullptr, 1.0, 0.5);
    expectNear(e.particles[3].position, {3, 4, 0}, "no limit");
    // dt = 0: nothing moves, but the pool is drawn.
    const Particle before = e.particles[2];
    e.apply(e.pool(), 0, 4, 1.0, 0.0, nullptr);
    e.moveParticles(nullptr, 1.0, 0.0);
    expectNear(e.particles[2].position, {before.position[0], before.position[1], before.position[2]}, "dt 0");
    ASSERT_EQ(hv->calls.size(), 4u);
    EXPECT_EQ(hv->calls.back().count, 4);
}

TEST(ParticleFX, GravityModesAndFalloffs)
{
    struct Case {
        const char* name;
        i32 mode, falloff;
        float range;
        Vec pos, expected;
    };
    // Strength 2, dt 0.5, extra 1, direction (0, -1, 0), centre at the origin.
    const Case cases[] = {
        {"directional inside", 0, 0, 10.0f, {1, 0, 0}, {0, -10, 0}},
        {"directional outside", 0, 0, 0.5f, {1, 0, 0}, {0, 0, 0}},
        {"inverse distance", 0, 1, 1.0f, {2, 0, 0}, {0, -5, 0}},
        {"inverse distance above range", 0, 1, 0.4f, {2, 0, 0}, {0, 0, 0}},
        {"directional on the range", 0, 0, 1.0f, {1, 0, 0}, {0, -10, 0}},
        {"inverse distance on the range", 0, 1, 0.5f, {2, 0, 0}, {0, -5, 0}},
        {"no falloff", 0, 2, 0.0f, {100, 0, 0}, {0, -10, 0}},
        {"other falloff weighs by range", 0, 7, 3.0f, {1, 0, 0}, {0, -30, 0}},
        {"radial", 1, 2, 0.0f, {2, 0, 0}, {0.5f, 0, 0}},
        {"radial at the centre", 1, 2, 0.0f, {0, 0, 0}, {0, 0, 0}},
        {"other mode", 4, 2, 0.0f, {1, 0, 0}, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        Rig rig;
        FXGravity g(rig.object);
        g.mode = c.mode, g.falloff = c.falloff, g.range.value = c.range, g.strength.value = 2.0f;
        g.direction[1] = -1.0f;
        Particle p = particleAt(c.pos);
        g.apply(&p, 0, 1, 0.0, 0.5, nullptr);
        expectNear(p.velocity, c.expected, c.name);
    }
}

TEST(ParticleFX, WindModesAndFalloffs)
{
    struct Case {
        const char* name;
        i32 mode, falloff;
        float range;
        Vec pos, expected;
    };
    // Strength 2, dt 0.5, extras 1 and 4, direction (1, 0.5, 0).
    const Case cases[] = {
        {"directional", 0, 2, 0.0f, {3, 0, 4}, {1, 0.5f, 0}},
        {"radial", 1, 2, 0.0f, {3, 0, 4}, {0.6f, 0, 0.8f}},
        {"vortex", 2, 2, 0.0f, {3, 0, 4}, {-15.5f, 0.25f, 12}},
        {"horizontal radial", 3, 2, 0.0f, {3, 5, 4}, {0.6f, 0.5f, 0.8f}},
        {"ground wind below 0", 10, 2, 0.0f, {3, -1, 4}, {1, 0.5f, 0}},
        {"ground wind above 0", 10, 2, 0.0f, {3, 1, 4}, {0, 0, 0}},
        {"inside range", 0, 0, 4.0f, {3, 0, 4}, {0, 0, 0}},
        {"inverse distance", 0, 1, 1.0f, {3, 0, 4}, {0.2f, 0.1f, 0}},
        {"distance", 0, 3, 10.0f, {3, 0, 4}, {5, 2.5f, 0}},
        {"distance beyond range", 0, 3, 4.0f, {3, 0, 4}, {0, 0, 0}},
        {"on the range", 0, 0, 5.0f, {3, 0, 4}, {1, 0.5f, 0}},
        {"inverse distance on the range", 0, 1, 0.2f, {3, 0, 4}, {0.2f, 0.1f, 0}},
        {"distance on the range", 0, 3, 5.0f, {3, 0, 4}, {5, 2.5f, 0}},
        {"other mode", 5, 2, 0.0f, {3, 0, 4}, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        Rig rig;
        FXWind w(rig.object);
        w.mode = c.mode, w.falloff = c.falloff, w.range.value = c.range, w.strength.value = 2.0f;
        w.direction[0].value = 1.0f, w.direction[1].value = 0.5f;
        Particle p = particleAt(c.pos);
        w.apply(&p, 0, 1, 0.0, 0.5, nullptr);
        expectNear(p.velocity, c.expected, c.name);
    }
}

TEST(ParticleFX, TurbulenceDrawsZThenYThenX)
{
    Rig rig;
    FXWind w(rig.object);
    w.mode = 7;
    w.falloff = 2;
    Particle p = particleAt({1, 2, 3}, {0, 0, 0}, 2.0f);
    sharedRandom().seed(11);
    Random r(11);
    const float z = float(r.next()) / 32768.0f - 0.5f, y = float(r.next()) / 32768.0f - 0.5f,
                x = float(r.next()) / 32768.0f - 0.5f;
    w.apply(&p, 0, 1, 0.0, 0.5, nullptr);
    expectNear(p.velocity, {x, y, z}, "turbulence");
}

TEST(ParticleFX, Collisions)
{
    struct Case {
        const char* name;
        i32 type, disabled;
        Vec pos, vel, expectedVel;
        float expectedY;
    };
    // Radius 1 for the plane (height 1), 2 for the sphere; bounce 0.5.
    const Case cases[] = {
        {"inside the sphere", 0, 0, {1, 0, 0}, {0, 3, 0}, {1.5f, 3, 0}, 0},
        {"outside the sphere", 0, 0, {3, 0, 0}, {0, 3, 0}, {0, 3, 0}, 0},
        {"below the plane", 2, 0, {0, 0.5f, 0}, {3, -4, 0}, {1.5f, 2, 0}, 1},
        {"above the plane", 2, 0, {0, 1.5f, 0}, {3, -4, 0}, {3, -4, 0}, 1.5f},
        {"disabled", 2, 1, {0, 0.5f, 0}, {3, -4, 0}, {3, -4, 0}, 0.5f},
        {"other type", 1, 0, {0, 0.5f, 0}, {3, -4, 0}, {3, -4, 0}, 0.5f},
    };
    for (const Case& c : cases) {
        Rig rig;
        FXCollision k(rig.object);
        k.type = c.type, k.disabled = c.disabled;
        k.radius.value = c.type == 0 ? 2.0f : 1.0f;
        k.bounce.value = 0.5f;
        Particle p = particleAt(c.pos, c.vel);
        k.apply(&p, 0, 1, 0.0, 0.5, nullptr);
        expectNear(p.velocity, c.expectedVel, c.name);
        EXPECT_FLOAT_EQ(p.position[1], c.expectedY) << c.name;
    }
}

TEST(ParticleFX, JitteredPlaneTiltsTheNormal)
{
    Rig rig;
    FXCollision k(rig.object);
    k.type = 2;
    k.jitter = 0.5f;
    Particle p = particleAt({0, -1, 0}, {0, -2, 0});
    sharedRandom().seed(3);
    Random r(3);
    const float j1 = float(r.next()) * 0.5f / 16384.0f - 0.5f, j2 = float(r.next()) * 0.5f / 16384.0f - 0.5f;
    const float len = std::sqrt(j1 * j1 + 1 + j2 * j2);
    const float n[3] = {j1 / len, 1 / len, j2 / len};
    // u = (0, -1, 0): u - 2 (u.n) n, at speed 2 and bounce 1.
    k.apply(&p, 0, 1, 0.0, 0.5, nullptr);
    expectNear(p.velocity, {4 * n[1] * n[0], 2 * (-1 + 2 * n[1] * n[1]), 4 * n[1] * n[2]}, "jittered");
}

TEST(ParticleFX, StepOrderAndGroups)
{
    Rig rig;
    auto* emitter = new FXEmitter(rig.object);
    emitter->placement = 5; // no position: records start at the origin
    emitter->birthRate.value = 20.0f;
    emitter->velocity[0].value = 1.0f;
    emitter->acceleration[1] = -2.0f;
    auto* pull = new FXGravity(rig.object);
    pull->falloff = 2;
    pull->direction[1] = -1.0f;
    auto* other = new FXGravity(rig.object);
    other->falloff = 2;
    other->group = 3; // emitters are all group 0: acts on none
    other->direction[0] = 100.0f;
    rig.scene.fxEmitter.push_back(emitter);
    rig.scene.fxEffector = {pull, other};
    rig.scene.updateParticles(nullptr, 0.0); // the first step: no births
    ASSERT_EQ(living(*emitter), 0);
    rig.scene.updateParticles(nullptr, 0.5);
    ASSERT_EQ(living(*emitter), 9);
    // Birth velocity 1 x 0.5 + acceleration -2 x 0.5, then gravity 10 x 0.5.
    expectNear(emitter->particles[1].position, {0.5f, -6, 0}, "position");
    expectNear(emitter->particles[1].velocity, {1, -12, 0}, "velocity");
}

// One particle from birth to death through the scene's steps of 0.1 s: born
// at the emitter's world position (a zero birth region), it moves in its
// birth step already, each step by velocity x dt plus the acceleration
// (0, 0, 1), gravity (strength 0.1, down) and wind (0.5 along x) terms, and
// dies in the step that takes its 0.35 s of life below 0.
TEST(ParticleFX, OneParticleFromBirthToDeath)
{
    Rig rig;
    rig.object->channels[kPositionX].value = 2.0f;
    rig.object->channels[kPositionY].value = 1.0f;
    auto* emitter = new FXEmitter(rig.object);
    emitter->generatorSize[0] = emitter->generatorSize[1] = emitter->generatorSize[2] = 0.0f;
    emitter->birthRate.value = 20.0f; // the step to 0.1 s gives birth to record 1 alone
    emitter->lifeTime.value = 0.35f;
    emitter->velocity[0].value = 1.0f, emitter->velocity[1].value = 2.0f;
    emitter->acceleration[2] = 1.0f;
    auto* gravity = new FXGravity(rig.object);
    gravity->falloff = kFalloffNone, gravity->strength.value = 0.1f, gravity->direction[1] = -1.0f;
    auto* wind = new FXWind(rig.object);
    wind->falloff = kFalloffNone;
    wind->direction[0].value = 0.5f, wind->direction[1].value = 0.0f;
    rig.scene.fxEmitter.push_back(emitter);
    rig.scene.fxEffector = {gravity, wind};
    struct Frame {
        double t;
        bool alive;
        Vec position;
    };
    const Frame frames[] = {
        {0.1, true, {2.15f, 1.1f, 0.1f}}, {0.2, true, {2.35f, 1.1f, 0.3f}},  {0.3, true, {2.6f, 1.0f, 0.6f}},
        {0.4, false, {2.6f, 1.0f, 0.6f}}, {0.5, false, {2.6f, 1.0f, 0.6f}},
    };
    rig.scene.updateParticles(nullptr, 0.0);
    for (const Frame& f : frames) {
        rig.scene.updateParticles(nullptr, f.t);
        const Particle& p = emitter->particles[1];
        const std::string at = "at " + std::to_string(f.t);
        EXPECT_EQ(p.alive != 0, f.alive) << at;
        expectNear(p.position, f.position, at.c_str());
    }
}

} // namespace
