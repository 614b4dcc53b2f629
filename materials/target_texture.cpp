#include "materials/generated_textures.h"

#include "materials/engine.h"

TargetTexture::TargetTexture(Engine* engine, const char* name, i32 width, i32 height)
    : Texture(engine, 0)
{
    if (name)
        this->name = name;
    this->width = width;
    this->height = height;
    createTargets();
}

TargetTexture::TargetTexture(Engine* engine, const char* name)
    : Texture(engine, 0)
{
    if (name)
        this->name = name;
    const bool anySize = engine && (engine->caps.TextureCaps & D3DPTEXTURECAPS_NONPOW2CONDITIONAL);
    width = anySize ? engine->width : 512;
    height = anySize ? engine->height : 512;
    createTargets();
}

TargetTexture::TargetTexture(Engine* engine, u32 flags)
    : Texture(engine, flags)
{
}

TargetTexture::TargetTexture(const TargetTexture& other)
    : Texture(other)
{
    if (other.pool == D3DPOOL_DEFAULT)
        createTargets();
}

Texture* TargetTexture::clone() const
{
    return new TargetTexture(*this);
}

void TargetTexture::createTargets()
{
    flags = 0;
    format = engine ? engine->renderTargetFormat : D3DFMT_UNKNOWN;
    pool = D3DPOOL_DEFAULT;
    depth = 1;
    levelCount = 1;
    if (!engine || width <= 0 || height <= 0)
        return;
    const i32 devices = engine->deviceCount < slotCount ? engine->deviceCount : slotCount;
    for (i32 i = 0; i < devices; ++i) {
        IDirect3DTexture9* target = nullptr;
        // A device that cannot make it (no render-target format, too large)
        // has no texture: users treat that as none.
        if (!engine->devices[i] || FAILED(engine->devices[i]->CreateTexture(UINT(width), UINT(height), 1,
                                                                            D3DUSAGE_RENDERTARGET, format,
                                                                            D3DPOOL_DEFAULT, &target, nullptr)))
            target = nullptr;
        baseTextures[i] = target;
        currentTextures[i] = target;
    }
    if (!baseTextures[0])
        levelCount = 0;
}
