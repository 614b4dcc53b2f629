// The texture kinds whose texels are computed or rendered rather than read
// from one image:
//   SequenceTexture    frame textures chosen by time (an image sequence clip);
//   GradientTexture    a gradient block, evaluated into a 1024 x 1 row;
//   ProceduralTexture  the few named procedurals;
//   SpecialTexture     filled by the free builders below (spot cone, particle
//                      sprite, flare elements, lookup maps), or left empty for
//                      a user that makes its device textures itself (shadow-map
//                      colour targets);
//   TargetTexture      render targets, one per device, from construction on.
// Every builder writes 32-bit ARGB texels into level 0 of the first device's
// texture and then uploads (Texture::finishCreation). When that texture
// cannot be created the builder writes and uploads nothing and the texture
// stays null, which users treat as no texture.
#pragma once

#include "foundation/types.h"
#include "materials/texture.h"
#include "materials/texture_layer.h"

#include <memory>
#include <vector>

// Frame textures shown in turn at the clip's frame rate (the base's
// frameRate field). The object reader fills the frames and the numbers.
class SequenceTexture : public Texture {
public:
    // Owned; entry i shows frame number firstFrame + i, null where that
    // frame's file is missing (nothing is shown then). Empty in a clone
    // until frames are given to it.
    std::vector<std::unique_ptr<Texture>> frames;
    i32 firstFrame = 0;
    i32 lastFrame = 0;
    i32 frameOffset = 0;

    explicit SequenceTexture(Engine* engine);
    // Copies the numbers, not the frames.
    SequenceTexture(const SequenceTexture& other);
    ~SequenceTexture() override;

    Texture* clone() const override;
    // Loads every frame, first to last, from this texture's budget.
    void load() override;
    // The frame at (trunc(frameRate x time) + frameOffset) modulo the frame
    // count, as that frame's current(0.0). Null without frames or with a
    // range whose last frame lies before its first.
    IDirect3DTexture9* current(double time) override;
    // The frame index current(time) shows; -1 when there is none.
    i32 frameIndex(double time) const;
};

// A gradient block of a texture layer as a 1024 x 1 row.
class GradientTexture : public Texture {
public:
    TextureLayer* layer; // not owned

    GradientTexture(Engine* engine, TextureLayer* layer);
    GradientTexture(const GradientTexture& other) = default;

    Texture* clone() const override;
    void load() override { build(); }
    // Evaluates the layer's four gradient values at 1024 inputs from the
    // range start (right end of the row) to just short of the range end
    // (left end). The layer's key records become keys of its keyless
    // gradient envelopes first.
    void build();
    // Turns the layer's key records into envelope keys: the key input is the
    // envelope time, the four components the values of the four envelopes.
    // Only envelopes without keys are filled, so a rebuild adds nothing.
    static void convertGradientKeys(TextureLayer& layer);
};

// A named procedural of a texture layer ("Turbulence", "Crumple", "Value";
// the first five characters of the layer's name select it).
class ProceduralTexture : public Texture {
public:
    TextureLayer layer; // a copy; its name selects the procedural

    ProceduralTexture(Engine* engine, const TextureLayer& layer);
    ProceduralTexture(const ProceduralTexture& other) = default;

    Texture* clone() const override;
    void load() override { build(); }
    void build();
};

// A texture filled by one of the builders below; load does nothing, the
// builders fill it directly.
class SpecialTexture : public Texture {
public:
    enum Kind : i32 {
        kindTexCoordMap = 5,
        kindParticle = 7,
    };

    // Builds the texcoord map for kind 5 and the particle sprite for kind 7;
    // any other kind stays empty for its user to build.
    explicit SpecialTexture(Engine* engine, i32 kind = 0);
    SpecialTexture(const SpecialTexture& other) = default;

    Texture* clone() const override;
    void load() override {}
};

// A render target per device in the default pool, at the engine's
// render-target format, with one level.
class TargetTexture : public Texture {
public:
    // width x height targets on every device (the bake target of a
    // UV-mapped diffuse layer is 1024 x 1024).
    TargetTexture(Engine* engine, const char* name, i32 width, i32 height);
    // The back buffer's size where the device takes textures of any size
    // (D3DPTEXTURECAPS_NONPOW2CONDITIONAL), else 512 x 512.
    TargetTexture(Engine* engine, const char* name);
    // No device textures and the given flags: its user makes its texture
    // with create2D (the demo's mode-name texture).
    TargetTexture(Engine* engine, u32 flags);
    // A copy of a render target gets render targets of its own.
    TargetTexture(const TargetTexture& other);

    Texture* clone() const override;
    void load() override {}

private:
    void createTargets();
};

// The builders. Each names the texture (when it has no name yet), creates
// it, fills level 0 and uploads; a null texture is ignored.

// The cone of a spot light seen from the light, 512 x 512, "(Spot)":
// brightness 8 x intensity inside, falling linearly to 0 over the edge
// angle at the cone angle (radians).
void createSpotTexture(Texture* texture, float intensity, float edgeAngle, float coneAngle);
// A soft round sprite, 128 x 128, "(particle)".
void createParticleTexture(Texture* texture);
// Lens-flare element kind 0 to 4, 512 x 512: "(flare)" (rays),
// "(flare BRIGHTCTR)", "(flare EVENCTR)", "(flare DIMCTR)", "(flare RING)".
// Other kinds build nothing.
void createFlareTextures(Texture* texture, i32 kind);
// 256 x 1, "(texcoord 1D map)": texel i carries i in every channel.
void createTexCoordMap(Texture* texture);
// 256 x 256, "(vfm)": an opaque specular lookup.
void createVfmTexture(Texture* texture);

// The value noise of the flare rays: integer-hash values at the integers,
// interpolated linearly, in [-1, 1].
double flareNoise(double x);
