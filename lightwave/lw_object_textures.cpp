#include "lightwave/lw_object.h"

#include "materials/surface.h"
#include "materials/texture.h"
#include "materials/texture_layer.h"

void LWObject::loadTextures(bool build)
{
    if (build && !texturesBuilt && tags)
        for (i32 i = 0; i < tagCount; ++i)
            if (Surface* surface = tags[i])
                for (const auto& layer : surface->layers)
                    if (layer && layer->texture)
                        layer->texture->load();
    texturesBuilt = 1;
}
