#include "demo/overlays.h"

#include "demo/demo.h"
#include "demo/screen_vertex.h"
#include "foundation/matrix.h"
#include "foundation/sar_archive.h"
#include "lightwave/meta_scene.h"
#include "materials/engine.h"
#include "materials/generated_textures.h"
#include "materials/image_cache.h"
#include "materials/texture.h"
#include "scene/scene.h"
#include "scene/scene_interaction.h"

#include <algorithm>
#include <cmath>
#include <cstring>

void drawScreenQuad(Engine* engine, float left, float top, float right, float bottom, const float colour[4], Texture* texture)
{
    ScreenVertex quad[4];
    fillScreenQuad(quad, left, top, right, bottom, colorToARGB(colour));
    IDirect3DDevice9* device = engine->currentDevice;
    if (!device)
        return;
    if (texture) {
        device->SetTexture(0, texture->current(0.0));
        device->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
        device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
        device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_ANISOTROPIC);
    } else {
        device->SetTexture(0, nullptr);
    }
    drawScreenQuadVertices(device, quad);
}

void selectPictureStages(IDirect3DDevice9* device)
{
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, 0);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
}

void drawFullScreenQuad(Engine* engine, float intensity, const float colour[4], Texture* texture)
{
    IDirect3DDevice9* device = engine->currentDevice;
    if (!device)
        return;
    const float c[4] = {colour[0], colour[1], colour[2], intensity};
    device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    device->SetRenderState(D3DRS_ZENABLE, FALSE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    // The quad follows the scenes' draws, whose states persist: the fixed-
    // function surfaces leave the alpha argument on the texture factor (a
    // reflective surface's 0x99 would scale every fade), a second stage
    // enabled, the alpha test on, fog on, or a mirror's reversed culling.
    // The fade's alpha must be the intensity alone.
    device->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    device->SetRenderState(D3DRS_FOGENABLE, FALSE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, 0);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    device->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    if (!texture)
        device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DISABLE);
    // From -1: with the half-pixel rule the quad still covers row and
    // column 0.
    drawScreenQuad(engine, -1.0f, -1.0f, float(engine->width), float(engine->height), c, texture);
}

bool userCameraActive(const Engine* engine)
{
    return engine->interaction && engine->interaction->currentCamera;
}

namespace {

// The end of a cross-fade: only the faded-in scene stays active, and it
// draws to the back buffer again. A scene that is gone (or no metascene)
// only ends the fade.
void finishCrossFade(Demo* demo)
{
    MetaScene* meta = demo->activeMeta;
    Scene* kept = meta && demo->fadeSceneName ? meta->findScene(demo->fadeSceneName) : nullptr;
    if (!kept)
        return;
    for (Scene* scene : meta->scenes)
        if (scene && scene != kept)
            scene->active = 0;
    if (kept->targetDepth) {
        kept->targetDepth->Release();
        kept->targetDepth = nullptr;
    }
    if (kept->targetSurface) {
        kept->targetSurface->Release();
        kept->targetSurface = nullptr;
    }
}

} // namespace

void updateFade(Demo* demo)
{
    const double elapsed = demo->time - demo->fadeStart;
    // A fade of no length is complete at once (no 0/0 intensity).
    const double x = demo->fadeDuration > 0.0 ? elapsed / demo->fadeDuration : 1.0;
    const bool over = demo->fadeDuration > 0.0 ? elapsed > demo->fadeDuration : true;
    double intensity = 0.0;
    const FadeState state = demo->fadeState;
    switch (state) {
    case kFadeFlashRising:
        intensity = 2.0 * x;
        if (demo->fadeDuration > 0.0 ? elapsed > 0.5 * demo->fadeDuration : true)
            demo->fadeState = kFadeFlashFalling;
        break;
    case kFadeFlashFalling:
        intensity = 2.0 - 2.0 * x;
        if (over)
            demo->fadeState = kFadeNone;
        break;
    case kFadeIn:
        intensity = 1.0 - x;
        if (over)
            demo->fadeState = kFadeNone;
        break;
    case kFadeOut:
        intensity = x;
        break;
    case kFadeCross:
        intensity = x;
        if (over) {
            finishCrossFade(demo);
            demo->fadeState = kFadeNone;
        }
        break;
    case kFadeBlur:
        intensity = std::max(1.0 - x, double(demo->fadeFloor));
        break;
    default:
        return;
    }
    // Keep the value finite and in a range the colour packing takes.
    const float drawn = std::isfinite(intensity) ? float(std::clamp(intensity, -1.0, 2.0)) : 1.0f;
    static const float white[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    drawFullScreenQuad(demo->engine, drawn, state == kFadeBlur ? white : demo->fadeColour, demo->fadeTexture);
}

void drawLogosAndFps(Demo* demo)
{
    Engine* engine = demo->engine;
    IDirect3DDevice9* device = engine->currentDevice;
    if (!device)
        return;
    const i32 w = engine->width;
    const i32 h = engine->height;
    device->SetRenderState(D3DRS_ZENABLE, FALSE);
    device->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    selectPictureStages(device);

    static const float white[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    drawScreenQuad(engine, float(w - w / 8 - 5), 5.0f, float(w - 5), float(h / 12 + 5), white, demo->logo);

    // From here a picture gives only its alpha; the colour is the quad's.
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);

    if (demo->drawFps) {
        const double fps = std::isfinite(smoothedFps) ? std::clamp(smoothedFps, 0.0, 999.0) : 0.0;
        const i32 n = i32(fps);
        const i32 d = w / 5 - w / 8;
        const float f = 0.6f * float(d);
        const float top = 5.0f;
        const float bottom = float(h / 12 + 5);
        drawScreenQuad(engine, float(w / 8) - 4.0f * f, 9.0f, float(w / 5) - f, float(h / 12 + 9), white,
                       demo->fpsLabel);
        const i32 places[3] = {n / 100 % 10, n / 10 % 10, n % 10};
        for (int k = 0; k < 3; ++k)
            drawScreenQuad(engine, float(w / 8) + float(k) * f, top, float(w / 5) + float(k) * f, bottom, white,
                           demo->digits[places[k]]);
    }

    drawScreenQuad(engine, float(w - w / 4), float(h - h / 24), float(w), float(h), white, demo->url);

    if (userCameraActive(engine) && demo->modeTexture) {
        static const float red[4] = {1.0f, 0.1f, 0.1f, 1.0f};
        drawScreenQuad(engine, 5.0f, 5.0f, float(demo->modeTexture->width + 5), float(demo->modeTexture->height + 5),
                       red, demo->modeTexture);
    }
}

namespace {

ImageTexture* openPicture(Engine* engine, SarArchive* source, const char* name, u32 flags,
                          Texture* alpha = nullptr)
{
    auto* picture = new ImageTexture(engine);
    if (source)
        picture->open(name, *source);
    picture->flags = flags;
    picture->alphaTexture = alpha;
    picture->load();
    return picture;
}

} // namespace

bool Demo::loadOverlayPictures(SarArchive* source)
{
    // The alpha picture only lends its image to the logo's texture.
    auto* logoAlpha = new ImageTexture(engine);
    if (source)
        logoAlpha->open("logo_alpha.bmp", *source);
    logo = openPicture(engine, source, "logo.jpg", 7, logoAlpha);
    url = openPicture(engine, source, "url.bmp", 11);
    fpsLabel = openPicture(engine, source, "fps.jpg", 11);
    for (int i = 0; i < 10; ++i) {
        char name[8] = {char('0' + i), '.', 'j', 'p', 'g', 0};
        digits[i] = openPicture(engine, source, name, 11);
    }
    if (archive)
        fontImage = loadImage(*archive, "small.bmp", false);
    modeTexture = new TargetTexture(engine, 3u);
    return true;
}
