#include "materials/spot_light_sources.h"

// Lights that cast shadow maps are not part of the engine yet: until they
// are, no light offers a shadow map or a spot texture, and the pairs leave
// those samplers unbound.
IDirect3DTexture9* spotLightShadowMap(const Light*)
{
    return nullptr;
}

Texture* spotLightTexture(const Light*)
{
    return nullptr;
}
