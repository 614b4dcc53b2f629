#include "materials/generated_textures.h"

#include "materials/generated_textures_local.h"

#include <cstring>

namespace {

// The C runtime's rand() sequence from its initial seed 1, kept per build so
// that every "Crumple" texture has the same texels whatever else calls rand.
class CrumpleRandom {
public:
    u32 next()
    {
        state_ = state_ * 214013u + 2531011u;
        return (state_ >> 16) & 0x7FFF;
    }

private:
    u32 state_ = 1;
};

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
        CrumpleRandom random;
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
