#include "scene/mesh_file.h"

#include "materials/surface.h"
#include "materials/texture.h"
#include "materials/texture_layer.h"

void MeshFile::loadTextures(bool build)
{
    if (build && !texturesBuilt && tags)
        for (i32 i = 0; i < tagCount; ++i)
            if (Surface* surface = tags[i])
                for (const auto& layer : surface->layers)
                    if (layer && layer->texture)
                        layer->texture->load();
    texturesBuilt = 1;
}
