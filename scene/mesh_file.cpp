#include "scene/mesh_file.h"

#include "materials/surface.h"
#include "materials/texture.h"
#include "materials/texture_layer.h"
#include "scene/scene_group.h"

void MeshFile::loadTextures(bool build)
{
    if (build && !texturesBuilt && tags)
        for (i32 i = 0; i < tagCount; ++i)
            if (Surface* surface = tags[i])
                for (const auto& layer : surface->layers)
                    if (layer && layer->texture) {
                        if (!layer->texture->budget && owner)
                            layer->texture->budget = &owner->texelBudget;
                        layer->texture->load();
                    }
    texturesBuilt = 1;
}
