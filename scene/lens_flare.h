// The lens flare of a light. Only the owning base exists so far: flares
// come with the lens-flare drawing, and Light::createFlare makes none yet.
#pragma once

class LensFlare {
public:
    LensFlare() = default;
    LensFlare(const LensFlare&) = delete;
    LensFlare& operator=(const LensFlare&) = delete;
    virtual ~LensFlare() = default;
};
