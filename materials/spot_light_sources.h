// What the effect-based pairs bind from a surface's spot light: its shadow
// map and its projected spot texture. Kept apart from the light itself so
// that the pairs need only these two answers; defined with the light, in
// the scene.
#pragma once

#include <d3d9.h>

class Light;
class Texture;

// The shadow map the surfaces sample: the depth texture when shadow maps
// render depth only, else the colour-encoded map. Null without a light or
// before the light made its targets.
IDirect3DTexture9* spotLightShadowMap(const Light* light);
// The texture projected through the spot cone, or null.
Texture* spotLightTexture(const Light* light);
