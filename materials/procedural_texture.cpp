#include "materials/generated_textures.h"

#include "materials/generated_textures_local.h"

#include "foundation/random.h"

#include <cstring>

namespace {

// Names match on their first five characters at most.
bool selects(const String& name, const char* procedural)
{
    return std::strncmp(name.c_str(), procedural, 5) == 0;
}

} // namespace

ProceduralTexture::ProceduralTexture(Engine* engine, const TextureLayer& layer)
    : Texture(engine, kScratchConvert | kMipChain)
    , layer(layer)
{
}

Texture* ProceduralTexture::clone() const
{
    return new ProceduralTexture(*this);
}

void ProceduralTexture::build()
{
    if (selects(layer.name, "Turbulence")) {
        // Uploaded unfilled: the device hands out zeroed texels.
        format = D3DFMT_A8R8G8B8;
        if (create2D(256, 256, flags, "(Procedural Texture)"))
            finishCreation();
    } else if (selects(layer.name, "Crumple")) {
        // Its own sequence from seed 1: every "Crumple" texture has the same
        // texels whatever else draws random numbers.
        Random random(1);
        generated::fillAndUpload(*this, 128, 128, flags, "(Procedural Crumple)", [&](const generated::Level0& level) {
            for (i32 y = 0; y < level.height; ++y)
                for (i32 x = 0; x < level.width; ++x)
                    level.at(x, y) = generated::grey(random.next() & 255);
        });
    } else if (selects(layer.name, "Value")) {
        // A constant mid grey.
        generated::fillAndUpload(*this, 128, 128, flags, "(Procedural Value)", [](const generated::Level0& level) {
            for (i32 y = 0; y < level.height; ++y)
                for (i32 x = 0; x < level.width; ++x)
                    level.at(x, y) = generated::grey(128);
        });
    }
}
