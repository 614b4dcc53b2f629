// Particle emitters and the forces that act on their particles. Each frame
// the outermost scene pass gives birth (emitParticles), lets every emitter
// turn its particles' velocities into this step's displacement (its own
// apply), adds the displacement of every matching force (their apply), then
// moves the particles and hands them to the HyperVoxel object of the
// emitter's scene object (moveParticles). A pool holds at most kCapacity
// records and is made when the emitter first needs it.
#pragma once

#include "foundation/animated_value.h"
#include "foundation/types.h"

#include <vector>

class Node;
class Object;

struct Particle {
    float position[3];
    // Units per second between steps; this step's displacement while the
    // step runs.
    float velocity[3];
    float life; // seconds left
    // Drawn at birth: [0] scales the birth velocity and the pull of the
    // forces, [1] the vortex wind.
    float extra[3];
    u8 alive;
};

class ParticleFX {
public:
    i32 group = 0;          // 0: acts on every emitter, else on emitters of that group
    Object* node = nullptr; // carries the effect; not owned

    explicit ParticleFX(Object* node) : node(node) {}
    ParticleFX(const ParticleFX&) = delete;
    ParticleFX& operator=(const ParticleFX&) = delete;
    virtual ~ParticleFX() = default;

    // Acts on records first .. last - 1.
    virtual void apply(Particle* particles, i32 first, i32 last, double t, double dt, Node* camera) = 0;
    // The emitter itself, or null for a force.
    virtual class FXEmitter* asEmitter() { return nullptr; }

protected:
    // The node's world position at t, its world matrix brought up to date.
    void centreAt(double t, float out[3], bool alwaysCompute) const;
};

class FXEmitter : public ParticleFX {
public:
    static constexpr i32 kCapacity = 10000;

    i32 particleCount = kCapacity; // records in use, 0..kCapacity
    float speedLimit = 0.0f;       // largest step; 0 = none
    AnimatedValue birthRate = {100.0f, nullptr};
    AnimatedValue lifeTime = {1000.0f, nullptr};
    AnimatedValue lifeSpread = {0.0f, nullptr};
    AnimatedValue velocity[3] = {};
    AnimatedValue radialSpeed = {0.0f, nullptr};
    AnimatedValue extra0Base = {1.0f, nullptr}, extra0Spread = {0.0f, nullptr};
    AnimatedValue extra1Base = {4.0f, nullptr}, extra1Spread = {0.0f, nullptr};
    AnimatedValue extra2Base = {50.0f, nullptr}, extra2Spread = {0.0f, nullptr};
    float motionFactor = 0.0f;
    float generatorSize[3] = {1.0f, 1.0f, 1.0f};
    float acceleration[3] = {0.0f, 0.0f, 0.0f};
    i32 placement = 1; // 0 or 4 box, 1 sphere, else none
    i32 birthUnit = 1; // 0 or 3 per frame at 30 fps, 1 per second, else none; 3 only at or below y 0
    i32 birthMode = 0; // 0 always, 1 on crossing the first key, 2 reset there, 3 never
    // The records, grown by pool(): a scene loaded and never stepped, or a
    // block read only to be passed over, holds none.
    std::vector<Particle> particles;
    i32 lastBorn = 0;
    i32 resetCounter = 0; // kept for the record layout; nothing reads it
    i32 totalBorn = 0;

    explicit FXEmitter(Object* node);
    ~FXEmitter() override;

    FXEmitter* asEmitter() override { return this; }
    void apply(Particle* particles, i32 first, i32 last, double t, double dt, Node* camera) override;
    void emitParticles(double t, double dt);
    void moveParticles(Node* camera, double t, double dt);
    // Stores a count from outside data, limited to kCapacity.
    void setParticleCount(i32 count);
    // The pool, grown first to the records in use (at least one, so that it
    // is never null: the drawing takes a null pool for no particles at
    // all). Records beyond the count are never read, so a pool sized by it
    // steps exactly as a full one.
    Particle* pool();

private:
    bool birthAllowed(double t, double dt);
};

// How a force weighs a particle by its distance from the force's centre.
// Gravity and wind read the types apart (particle_fx.cpp).
enum ForceFalloff : i32 {
    kFalloffInsideRange = 0,     // 1 within the range, else 0
    kFalloffInverseDistance = 1, // 1 / distance while that is within the range
    kFalloffNone = 2,            // 1 everywhere
    kFalloffDistance = 3,        // wind only: the distance within the range
};

class FXGravity : public ParticleFX {
public:
    static constexpr i32 kDirectional = 0, kRadial = 1;

    i32 mode = kDirectional; // other values: no effect
    i32 falloff = kFalloffInsideRange;
    AnimatedValue range = {1.0f, nullptr};
    AnimatedValue strength = {1.0f, nullptr};
    float direction[3] = {0.0f, 0.0f, 0.0f};

    explicit FXGravity(Object* node) : ParticleFX(node) {}
    ~FXGravity() override;
    void apply(Particle* particles, i32 first, i32 last, double t, double dt, Node* camera) override;
};

class FXWind : public ParticleFX {
public:
    static constexpr i32 kDirectional = 0, kRadial = 1, kVortex = 2, kHorizontalRadial = 3, kTurbulence = 7,
                         kGroundWind = 10;

    i32 mode = kDirectional; // other values: no effect
    i32 falloff = kFalloffInsideRange;
    AnimatedValue range = {1.0f, nullptr};
    AnimatedValue strength = {1.0f, nullptr};
    AnimatedValue direction[3] = {{0.0f, nullptr}, {0.1f, nullptr}, {0.0f, nullptr}};
    // Read from the scene file and not used by the wind.
    i32 spareMode = 0;
    float spare[8] = {0.5f, 1.0f, 1.0f, 1.0f, 1.0f, 0.0f, 0.0f, 0.0f};

    explicit FXWind(Object* node) : ParticleFX(node) {}
    ~FXWind() override;
    void apply(Particle* particles, i32 first, i32 last, double t, double dt, Node* camera) override;
};

class FXCollision : public ParticleFX {
public:
    i32 disabled = 0; // non-zero: no effect
    i32 type = 0;     // 0 sphere, 2 floor plane
    AnimatedValue radius = {1.0f, nullptr};
    AnimatedValue bounce = {1.0f, nullptr};
    float jitter = 0.0f;
    u8 flag = 0; // stored only
    float spare[3] = {0.0f, 0.0f, 0.0f};

    explicit FXCollision(Object* node) : ParticleFX(node) {}
    ~FXCollision() override;
    void apply(Particle* particles, i32 first, i32 last, double t, double dt, Node* camera) override;
};

// One particle step in the scene's order: every emitter gives birth, then
// each applies its own motion, then every force acts on each emitter of its
// group (group 0: on all); then all move and draw. A step of dt 0 (the
// scene's first, or the same time again) only moves and draws.
void stepParticles(const std::vector<ParticleFX*>& emitters, const std::vector<ParticleFX*>& effectors, Node* camera,
                   double t, double dt);
