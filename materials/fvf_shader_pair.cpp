#include "materials/fvf_shader_pair.h"

#include "foundation/matrix.h"
#include "materials/engine.h"
#include "materials/shader_parameters.h"
#include "materials/surface.h"
#include "materials/texture.h"
#include "materials/texture_layer.h"

#include <cmath>

namespace {

// The colour of the flat-colour passes other than 3, which draw every
// surface in one fixed grey.
constexpr D3DCOLOR kFlatPassColor = 0xCDCDCDCD;

// 0..1; NaN counts as 0.
float clamp01(float v)
{
    return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f;
}

// The integer part of v x 255 for v clamped to 0..1, so that an envelope
// overshoot reads as full strength instead of wrapping in the byte.
DWORD unitByte(float v)
{
    return static_cast<DWORD>(clamp01(v) * 255.0f);
}

IDirect3DTexture9* currentTexture(Texture* texture, double time)
{
    return texture ? texture->current(time) : nullptr;
}

// The texture argument of a layer's stage: an inverted layer reads 1 - texel.
DWORD textureArg(const TextureLayer* layer)
{
    return D3DTA_TEXTURE | (layer && layer->invert ? D3DTA_COMPLEMENT : 0);
}

// Binds the layer's texture on a stage with a texture-coordinate index and
// no texture transform (a transform set afterwards replaces that).
void bindLayer(IDirect3DDevice9* device, DWORD stage, TextureLayer* layer, DWORD index, double time)
{
    device->SetTexture(stage, layer ? currentTexture(layer->texture, time) : nullptr);
    device->SetTextureStageState(stage, D3DTSS_TEXCOORDINDEX, index);
    device->SetTextureStageState(stage, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
}

void colorOp(IDirect3DDevice9* device, DWORD stage, DWORD op, DWORD arg1, DWORD arg2)
{
    device->SetTextureStageState(stage, D3DTSS_COLOROP, op);
    device->SetTextureStageState(stage, D3DTSS_COLORARG1, arg1);
    device->SetTextureStageState(stage, D3DTSS_COLORARG2, arg2);
}

void alphaOp(IDirect3DDevice9* device, DWORD stage, DWORD op, DWORD arg1, DWORD arg2)
{
    device->SetTextureStageState(stage, D3DTSS_ALPHAOP, op);
    device->SetTextureStageState(stage, D3DTSS_ALPHAARG1, arg1);
    device->SetTextureStageState(stage, D3DTSS_ALPHAARG2, arg2);
}

// SELECTARG1 of one argument on the colour or the alpha.
void selectColor(IDirect3DDevice9* device, DWORD stage, DWORD arg)
{
    device->SetTextureStageState(stage, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(stage, D3DTSS_COLORARG1, arg);
}

void selectAlpha(IDirect3DDevice9* device, DWORD stage, DWORD arg)
{
    device->SetTextureStageState(stage, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(stage, D3DTSS_ALPHAARG1, arg);
}

// current + ARG1 x ARG2 on the colour.
void multiplyAdd(IDirect3DDevice9* device, DWORD stage, DWORD arg1, DWORD arg2)
{
    device->SetTextureStageState(stage, D3DTSS_COLOROP, D3DTOP_MULTIPLYADD);
    device->SetTextureStageState(stage, D3DTSS_COLORARG0, D3DTA_CURRENT);
    device->SetTextureStageState(stage, D3DTSS_COLORARG1, arg1);
    device->SetTextureStageState(stage, D3DTSS_COLORARG2, arg2);
}

// Ends the stage chain here. The alpha operation is left as it is: a
// disabled colour stage ends both.
void disableStage(IDirect3DDevice9* device, DWORD stage)
{
    device->SetTextureStageState(stage, D3DTSS_COLOROP, D3DTOP_DISABLE);
}

// Addressing and filtering as the layer asks. A border takes the surface
// colour as it goes to the shaders.
void samplerFrom(IDirect3DDevice9* device, DWORD stage, const TextureLayer* layer, const float* srfColor)
{
    device->SetSamplerState(stage, D3DSAMP_ADDRESSU, static_cast<DWORD>(layer->wrapModeWidth));
    device->SetSamplerState(stage, D3DSAMP_ADDRESSV, static_cast<DWORD>(layer->wrapModeHeight));
    if (layer->wrapModeWidth == D3DTADDRESS_BORDER || layer->wrapModeHeight == D3DTADDRESS_BORDER)
        device->SetSamplerState(stage, D3DSAMP_BORDERCOLOR, colorToARGB(srfColor));
    device->SetSamplerState(stage, D3DSAMP_MIPFILTER,
                            layer->antialiasingStrength == 0.0f ? D3DTEXF_NONE : D3DTEXF_LINEAR);
    device->SetSamplerState(stage, D3DSAMP_MAGFILTER, layer->pixelBlending ? D3DTEXF_LINEAR : D3DTEXF_POINT);
}

} // namespace

bool FVFShaderPair::hasTextures(const TextureLayer* layer)
{
    return layer && layer->transformAnimated();
}

float FVFShaderPair::specularPower(float specularity, float glossiness)
{
    if (!(specularity > 1e-6f))
        return 0.0f;
    const float power = std::pow(2.0f, 10.0f * glossiness + 2.0f);
    // The fixed pipeline takes higher exponents than the shaders (127.9961);
    // a NaN glossiness also ends at the limit.
    return power < 255.0f ? power : 255.0f;
}

bool FVFShaderPair::activate()
{
    engine->uniforms->computeMatrices();
    if (IDirect3DDevice9* device = engine->currentDevice) {
        device->SetVertexShader(nullptr);
        device->SetPixelShader(nullptr);
    }
    return true;
}

void FVFShaderPair::setStates(Surface* surface, double time)
{
    IDirect3DDevice9* device = engine->currentDevice;
    if (!device || !surface)
        return;

    // A colour map carries the colour, unless it is blended by its own
    // opacity type 3 over the surface colour.
    const TextureLayer* colr = surface->findLayer(channelCOLR, 1);
    float c[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    if (!colr || colr->opacityType == 3)
        animatedColorAt(c, surface->color, time);

    const float diffuse = surface->diffuse.valueAt(time);
    const float luminosity = surface->luminosity.valueAt(time);
    const float specularity = surface->specularity.valueAt(time);
    const float glossiness = surface->glossiness.valueAt(time);

    D3DMATERIAL9 material = {};
    material.Diffuse = {c[0] * diffuse, c[1] * diffuse, c[2] * diffuse, 1.0f};
    material.Ambient = {c[0] * diffuse, c[1] * diffuse, c[2] * diffuse, 1.0f};
    if (surface->colorHighlights)
        material.Specular = {c[0] * specularity, c[1] * specularity, c[2] * specularity, 1.0f};
    else
        material.Specular = {specularity, specularity, specularity, 1.0f};
    material.Emissive = {c[0] * luminosity, c[1] * luminosity, c[2] * luminosity, 1.0f};
    material.Power = specularPower(specularity, glossiness);

    material.Diffuse.a = surface->setBlendStates(device, time, true);

    float* srfColor = engine->uniforms->srfColor;
    srfColor[0] = material.Diffuse.r;
    srfColor[1] = material.Diffuse.g;
    srfColor[2] = material.Diffuse.b;
    srfColor[3] = material.Diffuse.a;

    device->SetRenderState(D3DRS_CULLMODE, surface->doubleSided ? DWORD(D3DCULL_NONE) : engine->defaultCullMode);
    // A specular map replaces the vertex highlight (its stage multiplies
    // the specular colour itself).
    const bool specular = !surface->findLayer(channelSPEC, 1) && specularity > 1e-6f;
    device->SetRenderState(D3DRS_SPECULARENABLE, specular ? TRUE : FALSE);
    device->SetMaterial(&material);
}

void FVFShaderPair::setSources(Surface* surface, double time)
{
    IDirect3DDevice9* device = engine->currentDevice;
    if (!device || !surface)
        return;
    const float* srfColor = engine->uniforms->srfColor;

    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);

    // Flat-colour passes draw the whole surface in one colour.
    if (surface->drawMode != 0) {
        device->SetRenderState(D3DRS_TEXTUREFACTOR, surface->drawMode == 3 ? surface->flatColor : kFlatPassColor);
        device->SetTexture(0, nullptr);
        selectColor(device, 0, D3DTA_TFACTOR);
        selectAlpha(device, 0, D3DTA_TFACTOR);
        disableStage(device, 1);
        return;
    }

    TextureLayer* colr = surface->findLayer(channelCOLR, 1);
    TextureLayer* tran = surface->findLayer(channelTRAN, 1);
    TextureLayer* diff = surface->findLayer(channelDIFF, 1);
    TextureLayer* spec = surface->findLayer(channelSPEC, 1);

    if (tran && !colr) {
        // The map's alpha scales colour and alpha.
        const DWORD tex = textureArg(tran);
        bindLayer(device, 0, tran, 0, time);
        colorOp(device, 0, D3DTOP_MODULATE, tex | D3DTA_ALPHAREPLICATE, D3DTA_CURRENT);
        alphaOp(device, 0, D3DTOP_MODULATE, tex, D3DTA_CURRENT);
        disableStage(device, 1);
        return;
    }

    if (tran && colr) {
        bindLayer(device, 0, colr, 0, time);
        colorOp(device, 0, D3DTOP_MODULATE, textureArg(colr), D3DTA_DIFFUSE);
        alphaOp(device, 0, D3DTOP_MODULATE, textureArg(colr), D3DTA_DIFFUSE);
        const DWORD tex = textureArg(tran);
        bindLayer(device, 1, tran, 1, time);
        colorOp(device, 1, D3DTOP_MODULATE, tex | D3DTA_ALPHAREPLICATE, D3DTA_CURRENT);
        alphaOp(device, 1, D3DTOP_MODULATE, tex, D3DTA_CURRENT);
        disableStage(device, 2);
        samplerFrom(device, 0, colr, srfColor);
        samplerFrom(device, 1, tran, srfColor);
        // Both maps come from the same corner positions when the colour
        // map moves; a moving transparency map then follows its own path.
        if (hasTextures(colr)) {
            setLayerTransform(device, 0, colr, time);
            setLayerTransform(device, 1, colr, time);
        }
        if (hasTextures(tran))
            setLayerTransform(device, 1, tran, time);
        return;
    }

    if (diff) {
        bindLayer(device, 0, diff, 1, time);
        colorOp(device, 0, D3DTOP_MODULATE, textureArg(diff), D3DTA_DIFFUSE);
        device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
        if (colr) {
            bindLayer(device, 1, colr, 0, time);
            colorOp(device, 1, D3DTOP_MODULATE, textureArg(colr), D3DTA_CURRENT);
            device->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
            disableStage(device, 2);
        } else {
            disableStage(device, 1);
        }
        return;
    }

    if (spec && (engine->caps.TextureOpCaps & D3DTEXOPCAPS_MULTIPLYADD)) {
        // The map scales the vertex highlight added to the colour.
        DWORD stage = 0;
        if (colr) {
            bindLayer(device, 0, colr, 0, time);
            colorOp(device, 0, D3DTOP_MODULATE2X, textureArg(colr), D3DTA_DIFFUSE);
            device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
            stage = 1;
        }
        bindLayer(device, stage, spec, 0, time);
        multiplyAdd(device, stage, D3DTA_SPECULAR, textureArg(spec));
        device->SetTextureStageState(stage, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
        disableStage(device, stage + 1);
        return;
    }

    if (surface->reflectionOptions == 3) {
        // Cube reflection: the colour comes from the cube map, the
        // reflection strength goes out as alpha.
        bindLayer(device, 0, colr, 0, time);
        colorOp(device, 0, D3DTOP_MODULATE, textureArg(colr), D3DTA_DIFFUSE);
        selectAlpha(device, 0, D3DTA_TFACTOR);
        device->SetRenderState(D3DRS_TEXTUREFACTOR, unitByte(surface->reflection.valueAt(time)) << 24);
        device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_MIRROR);
        device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_MIRROR);

        device->SetTexture(1, surface->cubeTexture);
        device->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR);
        device->SetTextureStageState(1, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT3);
        device->SetSamplerState(1, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
        // The reflection vector needs unit normals under a scaled world.
        device->SetRenderState(D3DRS_NORMALIZENORMALS, TRUE);
        colorOp(device, 1, D3DTOP_SELECTARG2, D3DTA_CURRENT, D3DTA_TEXTURE);
        device->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
        disableStage(device, 2);
        return;
    }

    DWORD next = 0; // the first stage not used
    if (colr) {
        bindLayer(device, 0, colr, 0, time);
        colorOp(device, 0, D3DTOP_MODULATE, textureArg(colr), D3DTA_DIFFUSE);
        alphaOp(device, 0, D3DTOP_MODULATE, textureArg(colr), D3DTA_DIFFUSE);
        samplerFrom(device, 0, colr, srfColor);
        if (colr->gradientParameter >= 0)
            setGradientCoordinates(device, 0, colr);
        else if (hasTextures(colr))
            setLayerTransform(device, 0, colr, time);
        next = 1;
    } else {
        // Material colour only.
        device->SetTexture(0, nullptr);
        disableStage(device, 0);
    }
    disableStage(device, 1);
    if (surface->sphericalReflectionTexture && surface->reflectionOptions == 2)
        setSphereMap(device, next, surface, time);
}

void FVFShaderPair::setLayerTransform(IDirect3DDevice9* device, DWORD stage, TextureLayer* layer, double time)
{
    // The stage's coordinates are the corners' positions (three components
    // in the subset's layout): the matrix projects them as the mesh build
    // projects a still layer.
    device->SetTextureStageState(stage, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
    engine->uniforms->setTextureMatrix(static_cast<int>(stage), layer->texCoordMatrix(time));
}

void FVFShaderPair::setGradientCoordinates(IDirect3DDevice9* device, DWORD stage, const TextureLayer* layer)
{
    // The effects read a gradient at the distance from the viewer over the
    // range end (the row's u); here the camera-space depth stands for that
    // distance. A gradient has no coordinates of its own: without this its
    // row would be read at u = 0 all over.
    const float scale = layer->gradientRangeEnd != 0.0f ? 1.0f / layer->gradientRangeEnd : 0.0f;
    device->SetTextureStageState(stage, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACEPOSITION);
    device->SetTextureStageState(stage, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
    D3DMATRIX tm;
    makeAffineMatrix(tm, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, scale, 0.0f, 0.0f, 0.0f, 0.5f, 0.0f);
    engine->uniforms->setTextureMatrix(static_cast<int>(stage), tm);
}

void FVFShaderPair::setSphereMap(IDirect3DDevice9* device, DWORD stage, Surface* surface, double time)
{
    // The reflection strength as a grey factor on the reflected image.
    device->SetRenderState(D3DRS_TEXTUREFACTOR, unitByte(surface->reflection.valueAt(time)) * 0x01010101u);
    device->SetTexture(stage, currentTexture(surface->sphericalReflectionTexture, time));
    device->SetTextureStageState(stage, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR);
    device->SetTextureStageState(stage, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
    multiplyAdd(device, stage, D3DTA_TEXTURE, D3DTA_TFACTOR);
    selectAlpha(device, stage, D3DTA_CURRENT);
    device->SetSamplerState(stage, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
    device->SetSamplerState(stage, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);

    // The camera-space reflection back into world space, then two of its
    // components onto the image: the two axes across the colour map's
    // projection plane, or across X for any other projection.
    int axis = TextureLayer::axisX;
    const TextureLayer* colr = surface->findLayer(channelCOLR, 1);
    if (colr && colr->projection == TextureLayer::projectionPlanar)
        axis = colr->axis;
    D3DMATRIX mapping;
    if (axis == TextureLayer::axisY)
        makeAffineMatrix(mapping, 0.5f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.5f, 0.0f, 0.5f, 0.5f, 0.0f);
    else if (axis == TextureLayer::axisZ)
        makeAffineMatrix(mapping, 0.5f, 0.0f, 0.0f, 0.0f, 0.5f, 0.0f, 0.0f, 0.0f, 0.0f, 0.5f, 0.5f, 0.0f);
    else
        makeAffineMatrix(mapping, 0.0f, 0.0f, 0.0f, 0.0f, 0.5f, 0.0f, 0.5f, 0.0f, 0.0f, 0.5f, 0.5f, 0.0f);
    D3DMATRIX inverseView;
    matInvertAffine(inverseView, engine->uniforms->view);
    D3DMATRIX m;
    matMulAffine(m, inverseView, mapping);
    engine->uniforms->setTextureMatrix(static_cast<int>(stage), m);
    disableStage(device, stage + 1);
}
