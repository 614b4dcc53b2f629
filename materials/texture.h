// The engine's texture resource: one Direct3D texture per device of the
// engine (two in stereo), built once on the first device and copied to the
// others. The kinds differ only in how the texels are made:
//   ImageTexture (here)       an image file, or a .dds file;
//   SequenceTexture, GradientTexture, ProceduralTexture, SpecialTexture,
//   TargetTexture             generated kinds, declared with their builders
//                             in materials/generated_textures.h;
//   VideoTexture              with the video player.
// Every kind fills level 0 of the first device's texture (create2D, LockRect,
// fill, UnlockRect) and then calls finishCreation, which builds the mip
// levels, converts and copies to the other devices.
//
// A texture whose device texture could not be created keeps null textures
// and a level count of 0; users treat a null texture as no texture.
#pragma once

#include "foundation/animated_value.h"
#include "foundation/byte_string.h"
#include "foundation/types.h"
#include "materials/engine_resource.h"

#include <d3d9.h>

#include <memory>

class Engine;
class Image;
class TexelBudget;
class FileData;
class Stream;

class SequenceTexture;
class GradientTexture;
class ProceduralTexture;
class SpecialTexture;
class TargetTexture;

class Texture : public EngineResource {
public:
    // Flag bits.
    enum : u32 {
        kScratchConvert = 0x1,   // build in the scratch pool, convert to a chosen format at upload
        kMipChain = 0x2,         // full mip chain, else one level
        kColorMap = 0x4,         // used as a colour map
        kTransparencyMap = 0x8,  // used as a transparency map
        kNormalMap = 0x10,       // heights turned into a normal map at upload
        kNoScale = 0x40,         // keep the image size where the device allows it; clamp addressing
    };

    String name;
    Texture* alphaTexture = nullptr; // an ImageTexture whose image gives the alpha; not owned
    i32 alphaMode = 0;               // 0 image alpha, 1 opaque, 2 alpha only
    float frameRate = 0.0f;
    float bumpScale = 1.0f; // stored only
    u32 flags;
    // Clip image adjustments. Their envelopes come from the object file's
    // envelope table, which may share them, so the file's envelope owner
    // deletes them, not the texture.
    AnimatedValue hue;
    AnimatedValue brightness;
    AnimatedValue contrast;
    AnimatedValue saturation;
    AnimatedValue gamma{1.0f, nullptr};
    i32 width = 0;
    i32 height = 0;
    i32 depth = 1;
    D3DFORMAT format = D3DFMT_A8R8G8B8;
    D3DPOOL pool = D3DPOOL_MANAGED;
    i32 levelCount = 0;
    // One entry per engine device (slotCount of them), null until built.
    // The base textures are owned; the current ones equal them for every
    // static kind and are never released on their own.
    IDirect3DTexture9** baseTextures;
    IDirect3DTexture9** currentTextures;
    i32 slotCount; // the engine's device count at construction
    // The budget of the metascene the texture belongs to, which its builds
    // take their level-0 texels from; none: unbounded. Not owned.
    TexelBudget* budget = nullptr;
    u64 texelsTaken = 0; // from budget, for the device textures held now

    Texture(Engine* engine, u32 flags);
    // Copies the parameters and starts with empty per-device arrays: the
    // copy's own load builds them.
    Texture(const Texture& other);
    Texture& operator=(const Texture&) = delete;
    // Releases the base textures (the current ones are the same objects or
    // borrowed).
    ~Texture() override;

    virtual Texture* clone() const = 0;
    // Creates and fills the device textures.
    virtual void load() = 0;
    // The texture of the engine's current device at that time (seconds);
    // null when that device has none.
    virtual IDirect3DTexture9* current(double time);
    // Level 0 of the first device's texture, for render targets (default
    // pool) only; else null. The caller releases it.
    virtual IDirect3DSurface9* surfaceLevel0();
    virtual i32 spare() { return 0; }
    // The colour image of an ImageTexture; null for other kinds.
    virtual Image* image() { return nullptr; }
    // The first device's base texture.
    virtual IDirect3DTexture9* baseTexture();

    // Creates the first device's texture (managed pool, or scratch with
    // flag 1; a failed managed creation is retried once in scratch). False,
    // with null textures and level count 0, when both fail: the caller then
    // skips its fill and the upload.
    bool create2D(i32 width, i32 height, u32 flags, const char* name);
    // After level 0 of the first device's texture is filled: mip levels,
    // normal map, format conversion, copies to the other devices. Does
    // nothing without a texture.
    void finishCreation();
    // With flag 1: the best texture format of the adapter for this use
    // (format 0 and an assertion when none fits). The pool becomes managed.
    void chooseFormat();
    // Turns the heights of every level of the first device's texture into
    // normals (A8R8G8B8).
    void heightToNormalMap();
    // Gives every further device a copy of the first device's texture.
    void copyToDevices();
    void preload();
    // Releases the texture of every device; the arrays stay, all null. The
    // texels go back to the budget.
    void releaseDeviceTextures();
    // Takes count texels from the budget for a build; false (logged) when
    // the budget cannot pay for them.
    bool takeTexels(u64 count);
    // The format as its D3DFMT_ name without the prefix, or "unknown".
    const char* formatName() const;
    static const char* formatName(D3DFORMAT format);
};

// A texture from an image (with an optional alpha image) or from the cached
// "<name>.dds" file next to it.
class ImageTexture : public Texture {
public:
    Image* colorImage = nullptr; // counted reference
    FileData* ddsData = nullptr; // counted reference
    // What decides the texels of a build.
    struct BuildInputs {
        u32 flags = 0;
        i32 alphaMode = 0;
        bool hasAlphaTexture = false;
        const void* alphaImage = nullptr;
        const void* colorImage = nullptr;
        const void* ddsData = nullptr;
        bool operator==(const BuildInputs&) const = default;
    };
    // The device textures held now were built from these (or shown from a
    // copy that was).
    BuildInputs builtFrom;
    // The texture and its copies alive now. A copy about to build from the
    // same inputs as one of them shows that one's device textures instead:
    // copies of one picture share their texels.
    struct Copies;
    std::shared_ptr<Copies> copies;

    explicit ImageTexture(Engine* engine);
    // Shares the counted images and the builds.
    ImageTexture(const ImageTexture& other);
    ~ImageTexture() override;

    Texture* clone() const override;
    // The build a copy with the same inputs made already, else from the
    // .dds data when there is any, else from the images.
    void load() override;
    Image* image() override;

    // Keeps the name; takes "<name>.dds" through the image cache when it
    // exists, else the decoded image. True when either was found. A picture
    // decoded here takes its pixels from the budget; one the budget cannot
    // pay for is dropped again (logged), as if missing.
    bool open(const char* name, Stream& source);
    void loadImages();
    void loadDds();
};
