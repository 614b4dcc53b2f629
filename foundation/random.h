// The engine's one pseudo-random generator: the C runtime's rand() sequence
// (a 32-bit linear congruential step, 15 bits out), the same on every
// platform and build, so that generated textures and flicker repeat exactly.
#pragma once

#include "foundation/types.h"

class Random {
public:
    static constexpr u32 kMax = 32767;

    explicit Random(u32 seed = 1) : m_state(seed) {}
    void seed(u32 seed) { m_state = seed; }
    // 0..32767.
    u32 next()
    {
        m_state = m_state * 214013u + 2531011u;
        return (m_state >> 16) & kMax;
    }

private:
    u32 m_state;
};

// The shared sequence behind every rand() of the engine (light flicker,
// particles, meshes); starts from seed 1.
Random& sharedRandom();
