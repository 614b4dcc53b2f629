#include "materials/spot_light_sources.h"

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
