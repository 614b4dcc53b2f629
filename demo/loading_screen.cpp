#include "demo/demo.h"
#include "demo/overlays.h"

#include "foundation/matrix.h"
#include "foundation/sar_archive.h"
#include "materials/engine.h"
#include "materials/texture.h"

#include <chrono>
#include <tuple>

ImageTexture* loadingPicture = nullptr;
float progressRect[4] = {0.0f, 0.0f, 0.0f, 0.0f};
u32 progressColor = 0;
u32 progressBackColor = 0;

bool Demo::loadLoadingPicture(const char* name, SarArchive* source, float x0, float y0, float x1, float y1,
                              u32 barColor, u32 backColor)
{
    progressRect[0] = x0;
    progressRect[1] = y0;
    progressRect[2] = x1;
    progressRect[3] = y1;
    progressColor = barColor;
    progressBackColor = backColor;
    delete loadingPicture;
    loadingPicture = nullptr;
    if (name && *name && source) {
        loadingPicture = new ImageTexture(engine);
        loadingPicture->open(name, *source);
        loadingPicture->flags = 68;
        loadingPicture->load();
    }
    return true;
}

void Demo::drawLoadingProgress(float fraction)
{
    if (loadingProgressProbe)
        loadingProgressProbe(fraction);
    if (!engine->currentDevice)
        return;
    const float p = fraction >= 0.0f ? (fraction <= 1.0f ? fraction : 1.0f) : 0.0f;
    const double now =
        std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    // The full bar is the last state a load shows, often right after the
    // one before it: dropping it would leave the bar short for good.
    if (p < 1.0f && now - lastLoadingPresent < loadingFrameSeconds) {
        droppedLoadingFraction = p;
        return;
    }
    lastLoadingPresent = now;
    presentLoadingScreen(p);
}

void Demo::endLoadingProgress()
{
    if (droppedLoadingFraction < 0.0f || !engine->currentDevice)
        return;
    lastLoadingPresent =
        std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    presentLoadingScreen(droppedLoadingFraction);
}

void Demo::presentLoadingScreen(float p)
{
    IDirect3DDevice9* device = engine->currentDevice;
    droppedLoadingFraction = -1.0f;
    ++loadingPresents;
    const float w = float(engine->width);
    const float h = float(engine->height);
    device->SetRenderState(D3DRS_ZENABLE, FALSE);
    // Loading runs between frames: whatever the overlays, a fade or a scene
    // left set (diffuse as the colour, blending, fog, wireframe) must not
    // reach the picture or the bar.
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    device->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    device->SetRenderState(D3DRS_FOGENABLE, FALSE);
    device->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
    // The picture in the quad's colour (white): texture x diffuse.
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, 0);
    for (auto [op, arg1, arg2] : {std::tuple{D3DTSS_COLOROP, D3DTSS_COLORARG1, D3DTSS_COLORARG2},
                                  std::tuple{D3DTSS_ALPHAOP, D3DTSS_ALPHAARG1, D3DTSS_ALPHAARG2}}) {
        device->SetTextureStageState(0, op, D3DTOP_MODULATE);
        device->SetTextureStageState(0, arg1, D3DTA_TEXTURE);
        device->SetTextureStageState(0, arg2, D3DTA_DIFFUSE);
    }
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    static const float white[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    if (loadingPicture)
        drawScreenQuad(engine, 0.0f, 0.0f, w, h, white, loadingPicture);
    else
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 0.0f, 0);
    // The bar is the quad's own colour.
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
    float bar[4];
    argbToColor(bar, progressColor);
    const float x0 = progressRect[0];
    const float x1 = progressRect[2];
    drawScreenQuad(engine, w * x0, h * progressRect[1], w * (x0 + (x1 - x0) * p), h * progressRect[3], bar, nullptr);
    device->Present(nullptr, nullptr, nullptr, nullptr);
}
