#include "scene/particle_fx.h"

#include "foundation/envelope.h"
#include "foundation/random.h"
#include "foundation/vec3.h"
#include "scene/hv_object.h"
#include "scene/object.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

float uniform() { return float(sharedRandom().next()) * (1.0f / 32768.0f); }
float halfUniform() { return float(sharedRandom().next()) * (1.0f / 65536.0f); }

void deleteSource(AnimatedValue& v)
{
    delete v.source;
    v.source = nullptr;
}

// Gravity's weight at a distance. The inverse distance counts only away
// from the centre; a type without a name weighs by the range itself.
float gravityFalloff(i32 type, float dist, float range)
{
    switch (type) {
    case kFalloffInsideRange:
        return dist <= range ? 1.0f : 0.0f;
    case kFalloffInverseDistance:
        return dist > 0.0f && 1.0f / dist <= range ? 1.0f / dist : 0.0f;
    case kFalloffNone:
        return 1.0f;
    default:
        return range;
    }
}

// Wind's weight at a distance. Unlike gravity's, the inverse distance is
// dropped only when it is above the range (infinite at the centre, and
// kept against a NaN range); the distance type is wind's own, and a type
// without a name weighs nothing.
float windFalloff(i32 type, float dist, float range)
{
    switch (type) {
    case kFalloffInsideRange:
        return dist <= range ? 1.0f : 0.0f;
    case kFalloffInverseDistance: {
        const float w = dist > 0.0f ? 1.0f / dist : INFINITY;
        return w > range ? 0.0f : w;
    }
    case kFalloffNone:
        return 1.0f;
    case kFalloffDistance:
        return dist > range ? 0.0f : dist;
    default:
        return 0.0f;
    }
}

} // namespace

void ParticleFX::centreAt(double t, float out[3], bool alwaysCompute) const
{
    const D3DMATRIX* m = alwaysCompute ? node->getMatrix(t) : node->worldMatrixAt(t);
    out[0] = m->_41, out[1] = m->_42, out[2] = m->_43;
}

FXEmitter::FXEmitter(Object* node) : ParticleFX(node) {}

FXEmitter::~FXEmitter()
{
    for (AnimatedValue* v : {&birthRate, &lifeTime, &lifeSpread, &velocity[0], &velocity[1], &velocity[2],
                             &radialSpeed, &extra0Base, &extra0Spread, &extra1Base, &extra1Spread, &extra2Base,
                             &extra2Spread})
        deleteSource(*v);
}

void FXEmitter::setParticleCount(i32 count)
{
    // The pool never grows: a larger count from a file would write past it.
    particleCount = std::clamp(count, 0, kCapacity);
}

Particle* FXEmitter::pool()
{
    const size_t needed = size_t(std::clamp(particleCount, 1, kCapacity));
    if (particles.size() < needed)
        particles.resize(needed); // new records are zero: not alive
    return particles.data();
}

void FXEmitter::apply(Particle* pool, i32 first, i32 last, double, double dt, Node*)
{
    const float step = float(dt);
    for (i32 i = std::max(first, 0); i < std::min(last, kCapacity); ++i) {
        Particle& p = pool[i];
        if (!p.alive)
            continue;
        p.life -= step;
        if (p.life <= 0.0f) {
            p.alive = 0;
            continue;
        }
        for (int k = 0; k < 3; ++k)
            p.velocity[k] = p.velocity[k] * step + acceleration[k] * step;
    }
}

void FXEmitter::moveParticles(Node* camera, double t, double dt)
{
    const i32 count = std::clamp(particleCount, 0, kCapacity);
    Particle* records = pool();
    if (dt != 0.0) {
        const float step = float(dt);
        for (i32 i = 0; i < count; ++i) {
            Particle& p = records[i];
            if (!p.alive)
                continue;
            const float reach = vec3Length(p.velocity) * step;
            if (speedLimit > 0.0f && reach > speedLimit)
                for (float& v : p.velocity)
                    v *= speedLimit / reach;
            for (int k = 0; k < 3; ++k) {
                p.position[k] += p.velocity[k];
                p.velocity[k] /= step;
            }
        }
    }
    if (node && node->hvObject)
        node->hvObject->render(t, records, count, camera);
}

bool FXEmitter::birthAllowed(double t, double dt)
{
    if (birthMode == 3)
        return false;
    if (birthMode != 1 && birthMode != 2)
        return true;
    DynamicValue* source = node ? node->channels[kPositionX].source : nullptr;
    Envelope* envelope = source ? source->asEnvelope() : nullptr;
    if (!envelope)
        return true;
    const bool crossed = envelope->firstKeyBefore(t) != envelope->firstKeyBefore(t - dt);
    if (birthMode == 1)
        return crossed;
    if (crossed) {
        Particle* records = pool();
        for (i32 i = 0; i < std::clamp(particleCount, 0, kCapacity); ++i)
            records[i].alive = 0;
        lastBorn = resetCounter = totalBorn = 0;
    }
    return true;
}

void FXEmitter::emitParticles(double t, double dt)
{
    if (!node || !birthAllowed(t, dt))
        return;
    float c[3];
    centreAt(t, c, true);
    // The position a second earlier, without disturbing the cached matrix.
    const D3DMATRIX savedWorld = node->world;
    const u8 savedValid = node->worldValid;
    const D3DMATRIX* earlier = node->getMatrix(t - 1.0);
    const float motion[3] = {c[0] - earlier->_41, c[1] - earlier->_42, c[2] - earlier->_43};
    node->world = savedWorld;
    node->worldValid = savedValid;

    double sum;
    if (birthUnit == 0 || birthUnit == 3)
        sum = double(birthRate.valueAt(t)) * dt * 30.0 + totalBorn;
    else if (birthUnit == 1)
        sum = double(birthRate.valueAt(t)) * dt + totalBorn;
    else
        sum = totalBorn;
    // A huge or enveloped rate, or a time jump, must not overflow the count.
    if (!(sum >= double(INT_MIN / 2)))
        sum = double(INT_MIN / 2);
    totalBorn = i32(std::min(sum, double(particleCount) + 1.0));

    const i32 count = std::clamp(particleCount, 0, kCapacity);
    if (totalBorn > count)
        return;
    Particle* records = pool();
    for (i32 i = lastBorn + 1; i < totalBorn; ++i) {
        Particle& p = records[i];
        if (placement == 0 || placement == 4 || placement == 1) {
            float v[3];
            for (int k = 2; k >= 0; --k)
                v[k] = (uniform() - 0.5f) * generatorSize[k];
            if (placement == 1) {
                vec3Normalize(v);
                const float s = halfUniform();
                for (float& x : v)
                    x *= s;
            }
            for (int k = 0; k < 3; ++k)
                p.position[k] = c[k] + v[k];
        }
        if (birthUnit == 3 && p.position[1] > 0.0f)
            continue;
        p.life = lifeTime.valueAt(t) + (uniform() - 0.5f) * lifeSpread.valueAt(t);
        p.extra[0] = extra0Base.valueAt(t) + 2.0f * (uniform() - 0.5f) * extra0Spread.valueAt(t);
        p.extra[1] = extra1Base.valueAt(t) - 2.0f * halfUniform() * extra1Spread.valueAt(t);
        p.extra[2] = extra2Base.valueAt(t) + 2.0f * (uniform() - 0.5f) * extra2Spread.valueAt(t);
        for (int k = 0; k < 3; ++k)
            p.velocity[k] = p.extra[0] * velocity[k].valueAt(t);
        float d[3] = {p.position[0] - c[0], p.position[1] - c[1], p.position[2] - c[2]};
        vec3Normalize(d);
        const float radial = radialSpeed.valueAt(t) * p.extra[0];
        for (int k = 0; k < 3; ++k)
            p.velocity[k] += d[k] * radial + motion[k] * (p.extra[0] * motionFactor);
        p.alive = 1;
    }
    if (totalBorn - 1 > lastBorn)
        lastBorn = totalBorn - 1;
}

FXGravity::~FXGravity()
{
    deleteSource(range);
    deleteSource(strength);
}

void FXGravity::apply(Particle* pool, i32 first, i32 last, double t, double dt, Node*)
{
    if (!node)
        return;
    float c[3];
    centreAt(t, c, true);
    const float r = range.valueAt(t), s = strength.valueAt(t), step = float(dt);
    for (i32 i = std::max(first, 0); i < last; ++i) {
        Particle& p = pool[i];
        if (!p.alive)
            continue;
        const float d[3] = {p.position[0] - c[0], p.position[1] - c[1], p.position[2] - c[2]};
        const float dist = vec3Length(d);
        const float w = gravityFalloff(falloff, dist, r);
        if (mode == kDirectional) {
            const float f = w * p.extra[0] * s * step * 10.0f;
            for (int k = 0; k < 3; ++k)
                p.velocity[k] += direction[k] * f;
        } else if (mode == kRadial && dist > 0.0f) {
            const float f = w * p.extra[0] * s * step / dist;
            for (int k = 0; k < 3; ++k)
                p.velocity[k] += d[k] / dist * f;
        }
    }
}

FXWind::~FXWind()
{
    deleteSource(range);
    deleteSource(strength);
    for (AnimatedValue& v : direction)
        deleteSource(v);
}

void FXWind::apply(Particle* pool, i32 first, i32 last, double t, double dt, Node*)
{
    if (!node)
        return;
    float c[3];
    centreAt(t, c, true);
    const float r = range.valueAt(t), s = strength.valueAt(t), step = float(dt);
    const float dir[3] = {direction[0].valueAt(t), direction[1].valueAt(t), direction[2].valueAt(t)};
    float turned[3] = {0.0f, 0.0f, 0.0f};
    if (mode == kGroundWind) {
        const D3DMATRIX& m = node->world;
        for (int k = 0; k < 3; ++k)
            turned[k] = dir[0] * m.m[0][k] + dir[1] * m.m[1][k] + dir[2] * m.m[2][k];
    }
    for (i32 i = std::max(first, 0); i < last; ++i) {
        Particle& p = pool[i];
        if (!p.alive)
            continue;
        float d[3] = {p.position[0] - c[0], p.position[1] - c[1], p.position[2] - c[2]};
        const float dist = vec3Length(d);
        const float w = windFalloff(falloff, dist, r);
        const float e0 = p.extra[0], e1 = p.extra[1];
        const float f = w * e0 * s * step;
        float* v = p.velocity;
        switch (mode) {
        case kDirectional:
            for (int k = 0; k < 3; ++k)
                v[k] += f * dir[k];
            break;
        case kRadial:
            vec3Normalize(d);
            for (int k = 0; k < 3; ++k)
                v[k] += f * d[k];
            break;
        case kVortex: {
            const float swirl = w * e0 * s * e1 * step, drift = w * e0 * step;
            v[0] += swirl * -d[2];
            v[2] += swirl * d[0];
            for (int k = 0; k < 3; ++k)
                v[k] += drift * dir[k];
            break;
        }
        case kHorizontalRadial: {
            float h[3] = {d[0], 0.0f, d[2]};
            vec3Normalize(h);
            v[0] += f * h[0];
            v[2] += f * h[2];
            v[1] += f * dir[1];
            break;
        }
        case kTurbulence: {
            float jolt[3];
            for (int k = 2; k >= 0; --k)
                jolt[k] = float(sharedRandom().next()) * (1.0f / 32768.0f) - 0.5f;
            for (int k = 0; k < 3; ++k)
                v[k] += e0 * step * jolt[k];
            break;
        }
        case kGroundWind:
            if (p.position[1] < 0.0f)
                for (int k = 0; k < 3; ++k)
                    v[k] += f * turned[k];
            break;
        default:
            break;
        }
    }
}

FXCollision::~FXCollision()
{
    deleteSource(radius);
    deleteSource(bounce);
}

void FXCollision::apply(Particle* pool, i32 first, i32 last, double t, double, Node*)
{
    if (disabled || !node)
        return;
    float c[3];
    centreAt(t, c, false);
    const float r = radius.valueAt(t), b = bounce.valueAt(t);
    for (i32 i = std::max(first, 0); i < last; ++i) {
        Particle& p = pool[i];
        if (!p.alive)
            continue;
        const float speed = vec3Length(p.velocity);
        if (type == 0) {
            float d[3] = {p.position[0] - c[0], p.position[1] - c[1], p.position[2] - c[2]};
            if (vec3Length(d) >= r)
                continue;
            vec3Normalize(d);
            for (int k = 0; k < 3; ++k)
                p.velocity[k] += d[k] * speed * b;
        } else if (type == 2) {
            const float plane = c[1] + r;
            if (!(p.position[1] < plane))
                continue;
            const float j1 = float(sharedRandom().next()) * jitter / 16384.0f - jitter;
            const float j2 = float(sharedRandom().next()) * jitter / 16384.0f - jitter;
            float n[3] = {j1, 1.0f, j2};
            vec3Normalize(n);
            float u[3] = {p.velocity[0], p.velocity[1], p.velocity[2]};
            vec3Normalize(u);
            const float un = u[0] * n[0] + u[1] * n[1] + u[2] * n[2];
            for (int k = 0; k < 3; ++k)
                p.velocity[k] = (u[k] - 2.0f * un * n[k]) * speed * b;
            p.position[1] = plane;
        }
    }
}

void stepParticles(const std::vector<ParticleFX*>& emitters, const std::vector<ParticleFX*>& effectors, Node* camera,
                   double t, double dt)
{
    auto each = [&emitters](auto&& work) {
        for (ParticleFX* fx : emitters)
            if (FXEmitter* e = fx ? fx->asEmitter() : nullptr)
                work(*e, std::clamp(e->particleCount, 0, FXEmitter::kCapacity));
    };
    if (dt != 0.0) {
        each([&](FXEmitter& e, i32) { e.emitParticles(t, dt); });
        each([&](FXEmitter& e, i32 count) { e.apply(e.pool(), 0, count, t, dt, camera); });
        for (ParticleFX* force : effectors)
            if (force)
                each([&](FXEmitter& e, i32 count) {
                    if (force->group == 0 || force->group == e.group)
                        force->apply(e.pool(), 0, count, t, dt, camera);
                });
    }
    each([&](FXEmitter& e, i32) { e.moveParticles(camera, t, dt); });
}
