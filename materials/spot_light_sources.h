// What the effect-based pairs bind from a surface's spot light: its shadow
// map and its projected spot texture. The light (in the scene, above the
// materials) implements these two answers, so the pairs need no more of it.
#pragma once

#include <d3d9.h>

class Texture;

class SpotLightSource {
public:
    // The shadow map the surfaces sample: the depth texture when shadow maps
    // render depth only, else the colour-encoded map. Null before the light
    // made its targets.
    virtual IDirect3DTexture9* spotShadowMap() const = 0;
    // The texture projected through the spot cone, or null.
    virtual Texture* spotProjectedTexture() const = 0;

protected:
    ~SpotLightSource() = default;
};
