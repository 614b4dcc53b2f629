// A particle emitter or force of a scene. Only the owning base exists so
// far: emitters and forces come with the particle effects.
#pragma once

class ParticleFX {
public:
    ParticleFX() = default;
    ParticleFX(const ParticleFX&) = delete;
    ParticleFX& operator=(const ParticleFX&) = delete;
    virtual ~ParticleFX() = default;
};
