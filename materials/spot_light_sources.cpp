#include "materials/spot_light_sources.h"

#if __has_include("scene/light.h")
#include "scene/light.h"

IDirect3DTexture9* spotLightShadowMap(const Light* light)
{
    if (!light)
        return nullptr;
    return light->shadowDepthTexture ? light->shadowDepthTexture : light->shadowColorTexture;
}

Texture* spotLightTexture(const Light* light)
{
    return light ? light->spotTexture : nullptr;
}
#else
// A build without lights: no light offers a shadow map or a spot texture,
// and the pairs leave those samplers unbound.
IDirect3DTexture9* spotLightShadowMap(const Light*)
{
    return nullptr;
}

Texture* spotLightTexture(const Light*)
{
    return nullptr;
}
#endif
