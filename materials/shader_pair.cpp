#include "materials/shader_pair.h"

#include "foundation/diagnostics.h"
#include "materials/engine.h"
#include "materials/pass_state.h"
#include "materials/shader_parameters.h"
#include "materials/sourcefile.h"
#include "materials/spot_light_sources.h"
#include "materials/surface.h"
#include "materials/texture.h"
#include "materials/texture_layer.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <future>
#include <system_error>

namespace {

// The text of an error buffer, which need not end in a NUL.
String bufferText(ID3DXBuffer* buffer)
{
    const char* text = static_cast<const char*>(buffer->GetBufferPointer());
    const u32 size = buffer->GetBufferSize();
    if (!text || size == 0)
        return String();
    const u32 length = static_cast<u32>(strnlen(text, size));
    String s;
    s.resize(length + 1);
    std::memcpy(s.data, text, length);
    s.data[length] = 0;
    return s;
}

// j of a sampler named "ZMAP" or "SPOT" and the decimal j; -1 for other
// names.
i32 shadowSamplerIndex(const char* name)
{
    if (std::strncmp(name, "ZMAP", 4) != 0 && std::strncmp(name, "SPOT", 4) != 0)
        return -1;
    const char* digits = name + 4;
    if (!*digits || (digits[0] == '0' && digits[1]) || std::strlen(digits) > 9)
        return -1;
    i32 j = 0;
    for (const char* c = digits; *c; ++c) {
        if (*c < '0' || *c > '9')
            return -1;
        j = j * 10 + (*c - '0');
    }
    return j;
}

void release(IUnknown* object)
{
    if (object)
        object->Release();
}

} // namespace

CompiledShader::CompiledShader(Engine* engine, ID3DXConstantTable* constants)
    : engine(engine), constants(constants)
{
    if (!constants || !engine->uniforms)
        return;
    const std::vector<ShaderParam>& params = engine->uniforms->params;
    for (u32 i = 0; i < params.size(); ++i)
        if (constants->GetConstantByName(nullptr, params[i].name))
            usedUniforms.push_back(i);
}

CompiledShader::~CompiledShader()
{
    release(constants);
}

namespace {

// One shader object per device from the same code; a device that refuses the
// code keeps an empty slot, which complete() reports.
template <class Interface, class Create>
Interface** createOnEveryDevice(Engine* engine, Create create)
{
    Interface** shaders = new Interface*[engine->deviceCount]();
    for (i32 i = 0; i < engine->deviceCount; ++i)
        if (engine->devices[i] && FAILED(create(engine->devices[i], &shaders[i])))
            shaders[i] = nullptr;
    return shaders;
}

template <class Interface>
void releaseOnEveryDevice(const Engine* engine, Interface** shaders)
{
    for (i32 i = 0; i < engine->deviceCount; ++i)
        release(shaders[i]);
    delete[] shaders;
}

template <class Interface>
bool madeOnEveryDevice(const Engine* engine, Interface* const* shaders)
{
    for (i32 i = 0; i < engine->deviceCount; ++i)
        if (!shaders[i])
            return false;
    return true;
}

} // namespace

VertexShader::VertexShader(Engine* engine, const DWORD* code, ID3DXConstantTable* constants)
    : CompiledShader(engine, constants),
      shaders(createOnEveryDevice<IDirect3DVertexShader9>(
          engine, [code](IDirect3DDevice9* device, IDirect3DVertexShader9** shader) {
              return device->CreateVertexShader(code, shader);
          }))
{
}

VertexShader::~VertexShader()
{
    releaseOnEveryDevice(engine, shaders);
}

bool VertexShader::complete() const
{
    return madeOnEveryDevice(engine, shaders);
}

PixelShader::PixelShader(Engine* engine, const DWORD* code, ID3DXConstantTable* constants)
    : CompiledShader(engine, constants)
{
    LPCSTR names[kMaxSamplers] = {};
    UINT count = 0;
    if (FAILED(D3DXGetShaderSamplers(code, names, &count)) || count > kMaxSamplers)
        count = 0;
    samplerCount = count;
    samplerNames = new String[samplerCount];
    for (u32 i = 0; i < samplerCount; ++i)
        samplerNames[i] = names[i] ? names[i] : "";

    shaders = createOnEveryDevice<IDirect3DPixelShader9>(
        engine, [code](IDirect3DDevice9* device, IDirect3DPixelShader9** shader) {
            return device->CreatePixelShader(code, shader);
        });
}

PixelShader::~PixelShader()
{
    releaseOnEveryDevice(engine, shaders);
    delete[] samplerNames;
}

bool PixelShader::complete() const
{
    return madeOnEveryDevice(engine, shaders);
}

ShaderPair::ShaderPair(Engine* engine)
    : EngineResource(engine)
{
}

ShaderPair::~ShaderPair()
{
    clearVariants();
    release(compiler);
}

String ShaderPair::vertexShaderName()
{
    return "vshader";
}

String ShaderPair::pixelShaderName()
{
    return "pshader";
}

void ShaderPair::setStates(Surface* surface, double time)
{
    IDirect3DDevice9* device = engine->currentDevice;
    if (!device || !surface)
        return;
    ShaderSwitches& sw = *engine->switches;
    ShaderUniforms& u = *engine->uniforms;

    const float alpha = surface->setBlendStates(device, time, shadowPassMode == 0);
    device->SetRenderState(D3DRS_CULLMODE, surface->doubleSided ? DWORD(D3DCULL_NONE) : engine->defaultCullMode);
    if (shadowPassMode != 0)
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    // The shaders pick their coordinate sets themselves.
    const DWORD stages = std::min<DWORD>(engine->caps.MaxSimultaneousTextures, 8);
    for (DWORD i = 0; i < stages; ++i) {
        device->SetTextureStageState(i, D3DTSS_TEXCOORDINDEX, i);
        device->SetTextureStageState(i, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    }
    device->SetRenderState(D3DRS_SPECULARENABLE, FALSE);

    const float specularity = surface->specularity.valueAt(time);
    *sw.specularEnabled = specularity > 1e-6f || surface->findLayer(channelSPEC, 1) ? 1 : 0;
    float colour[4];
    animatedColorAt(colour, surface->color, time);
    u.srfColor[0] = colour[0];
    u.srfColor[1] = colour[1];
    u.srfColor[2] = colour[2];
    u.srfColor[3] = alpha;
    const float luminosity = surface->luminosity.valueAt(time);
    const float diffuse = surface->diffuse.valueAt(time);
    const float glossiness = surface->glossiness.valueAt(time);
    float power = 0.0f;
    if (specularity > 1e-6f) {
        // The shader models' exponent limit; a NaN glossiness ends there too.
        power = std::pow(2.0f, 10.0f * glossiness + 2.0f);
        power = power < 127.9961f ? power : 127.9961f;
    }
    u.srfLighting[0] = luminosity;
    u.srfLighting[1] = diffuse;
    u.srfLighting[2] = specularity;
    u.srfLighting[3] = power;
    u.srfReflectivity[0] = u.srfReflectivity[1] = u.srfReflectivity[2] = surface->reflection.valueAt(time);
    *u.srfAddTransparency = surface->additiveTransparency.valueAt(time);

    *sw.numTexCOLR = surface->channelCount(channelCOLR);
    *sw.numTexLUMI = surface->channelCount(channelLUMI);
    *sw.numTexDIFF = surface->channelCount(channelDIFF);
    *sw.numTexREFL = surface->channelCount(channelREFL);
    *sw.numTexSPEC = surface->channelCount(channelSPEC);
    *sw.numTexTRAN = surface->channelCount(channelTRAN);
    *sw.numTexTRNL = surface->channelCount(channelTRNL);
    *sw.numTexBUMP = surface->channelCount(channelBUMP);
    *sw.sphericalEnvmapAvailable = surface->sphericalReflectionTexture ? 1 : 0;
    *sw.cubemapAvailable = surface->cubeTexture ? 1 : 0;
    *u.time = static_cast<float>(time);

    // Per-layer values of the channels that have them; the arrays hold the
    // first four layers of each.
    struct ChannelArrays {
        u32 channel;
        float* opacity;
        int opacityCopies; // COLR carries one per colour component
        i32* fullOpacity;
        i32* blendop;
        i32* gInput;
        int next;
    };
    ChannelArrays channels[] = {
        {channelCOLR, u.metaTexCOLROpacity, 3, sw.metaTexCOLRFullOpacity, sw.metaTexCOLRBlendop,
         sw.metaTexCOLRgInput, 0},
        {channelLUMI, u.metaTexLUMIOpacity, 1, sw.metaTexLUMIFullOpacity, sw.metaTexLUMIBlendop,
         sw.metaTexLUMIgInput, 0},
        {channelDIFF, u.metaTexDIFFOpacity, 1, sw.metaTexDIFFFullOpacity, sw.metaTexDIFFBlendop,
         sw.metaTexDIFFgInput, 0},
        {channelSPEC, u.metaTexSPECOpacity, 1, sw.metaTexSPECFullOpacity, sw.metaTexSPECBlendop,
         sw.metaTexSPECgInput, 0},
        {channelREFL, u.metaTexREFLOpacity, 1, sw.metaTexREFLFullOpacity, sw.metaTexREFLBlendop,
         sw.metaTexREFLgInput, 0},
        {channelTRAN, u.metaTexTRANOpacity, 1, sw.metaTexTRANFullOpacity, sw.metaTexTRANBlendop,
         sw.metaTexTRANgInput, 0},
        {channelBUMP, u.metaTexBUMPOpacity, 1, sw.metaTexBUMPFullOpacity, sw.metaTexBUMPBlendop,
         sw.metaTexBUMPgInput, 0},
    };
    for (const std::unique_ptr<TextureLayer>& layer : surface->layers) {
        for (ChannelArrays& c : channels) {
            if (layer->channel != c.channel)
                continue;
            const int k = c.next++;
            if (k >= 4)
                break;
            const float opacity = layer->opacity.valueAt(time);
            for (int i = 0; i < c.opacityCopies; ++i)
                c.opacity[c.opacityCopies * k + i] = opacity;
            c.fullOpacity[k] = opacity >= 0.999999f ? 1 : 0;
            c.blendop[k] = layer->opacityType;
            c.gInput[k] = layer->gradientParameter;
            if (c.channel == channelCOLR) {
                sw.metaTexCOLRInvert[k] = layer->invert;
                // An image layer's range end is 0: the value is infinite,
                // and the effects read it only for gradients.
                u.metaTexCOLRgParam[4 * k + 3] = 1.0f / layer->gradientRangeEnd;
            }
            break;
        }
    }
    *sw.numBoneWeights = surface->boneWeightCount;

    // A layer with an animated placement has the corners' positions in its
    // set (the mesh build leaves them unprojected); the vertex shader
    // projects the vertex position with the placement of this time, as the
    // fixed-function pair's texture transform does.
    i32 animated = 0;
    for (int k = 0; k < surface->layerCount && k < Surface::maxLayers; ++k) {
        TextureLayer* layer = surface->layerSlots[k];
        if (!layer || !layer->transformAnimated())
            continue;
        animated |= 1 << k;
        const D3DMATRIX m = layer->texCoordMatrix(time);
        for (int column = 0; column < 2; ++column)
            for (int row = 0; row < 4; ++row)
                u.matTexProjection[8 * k + 4 * column + row] = m.m[row][column];
    }
    *sw.animatedTexSets = animated;
}

void ShaderPair::setSources(Surface* surface, double time)
{
    IDirect3DDevice9* device = engine->currentDevice;
    if (!currentPixelShader) {
        if (diagnosticsLevel >= 1)
            MessageBoxA(NULL, "no shader set", "Error", MB_ICONEXCLAMATION);
        return;
    }
    if (!device || !surface)
        return;
    auto samplerStates = [device](DWORD s, DWORD addressU, DWORD addressV, DWORD mip, DWORD mag, DWORD min) {
        device->SetSamplerState(s, D3DSAMP_ADDRESSU, addressU);
        device->SetSamplerState(s, D3DSAMP_ADDRESSV, addressV);
        device->SetSamplerState(s, D3DSAMP_MIPFILTER, mip);
        device->SetSamplerState(s, D3DSAMP_MAGFILTER, mag);
        device->SetSamplerState(s, D3DSAMP_MINFILTER, min);
    };
    auto current = [time](Texture* texture) { return texture ? texture->current(time) : nullptr; };
    const i32 shadows = *engine->switches->numShadows;

    for (u32 s = 0; s < currentPixelShader->samplerCount; ++s) {
        const String& name = currentPixelShader->samplerNames[s];
        const u32 length = static_cast<u32>(std::strlen(name.c_str()));
        IDirect3DBaseTexture9* texture = nullptr;
        if (length >= 5) {
            const char* text = name.c_str();
            const char digit = text[length - 1];
            TextureLayer* layer = nullptr;
            if (digit >= '0' && digit <= '9')
                layer = surface->findLayer(iffId(text + length - 5), digit - '0' + 1);
            if (layer) {
                texture = current(layer->texture);
                samplerStates(s, static_cast<DWORD>(layer->wrapModeWidth), static_cast<DWORD>(layer->wrapModeHeight),
                              layer->antialiasingStrength == 0.0f ? D3DTEXF_NONE : D3DTEXF_LINEAR,
                              layer->pixelBlending ? D3DTEXF_LINEAR : D3DTEXF_POINT,
                              layer->pixelBlending ? D3DTEXF_ANISOTROPIC : D3DTEXF_POINT);
            } else if (std::strcmp(text, "ZIMG0") == 0 || std::strcmp(text, "CUBE0") == 0) {
                if (text[0] == 'Z')
                    texture = current(surface->sphericalReflectionTexture);
                else
                    texture = surface->cubeTexture;
                samplerStates(s, D3DTADDRESS_WRAP, D3DTADDRESS_WRAP, D3DTEXF_LINEAR, D3DTEXF_LINEAR,
                              D3DTEXF_ANISOTROPIC);
            } else if (const i32 j = shadowSamplerIndex(text); j >= 0 && j < shadows) {
                // Every index means the surface's one spot light.
                const SpotLightSource* light = surface->spotLight();
                const bool shadowMap = text[0] == 'Z';
                if (shadowMap) {
                    texture = light ? light->spotShadowMap() : nullptr;
                    if (!texture)
                        ENGINE_ASSERT_FAILED(srf->spotLight() != 0 && srf->spotLight()->smDepth != 0);
                } else {
                    texture = current(light ? light->spotProjectedTexture() : nullptr);
                    if (!texture)
                        ENGINE_ASSERT_FAILED(srf->spotLight() != 0 && srf->spotLight()->texSpot != 0);
                }
                samplerStates(s, D3DTADDRESS_BORDER, D3DTADDRESS_BORDER, shadowMap ? D3DTEXF_NONE : D3DTEXF_LINEAR,
                              D3DTEXF_LINEAR, D3DTEXF_ANISOTROPIC);
                device->SetSamplerState(s, D3DSAMP_BORDERCOLOR, 0);
            }
        }
        // Also when nothing matched: the stage of an unknown name is unbound.
        device->SetTexture(s, texture);
    }
}

bool ShaderPair::loadFile(Sourcefile& include, const char* fileName)
{
    void* text = nullptr;
    u32 length = 0;
    if (FAILED(include.loadFile(fileName, &text, &length)))
        return false;
    name = fileName;
    const bool result = createCompiler(static_cast<const char*>(text), length, &include);
    include.Close(text);
    return result;
}

bool ShaderPair::createCompiler(const char* text, u32 length, ID3DXInclude* include)
{
    clearVariants();
    release(compiler);
    compiler = nullptr;

    ID3DXBuffer* errors = nullptr;
    if (FAILED(D3DXCreateEffectCompiler(text, length, nullptr, include, 0, &compiler, &errors))) {
        compiler = nullptr;
        if (errors) {
            showParseError(bufferText(errors).c_str());
            errors->Release();
        }
        return false;
    }
    release(errors);
    // Every switch becomes a compile-time constant; those the effect does not
    // declare are refused by the compiler and simply stay unknown to it.
    for (const ShaderParam& p : engine->switches->params)
        compiler->SetLiteral(p.name, TRUE);
    return true;
}

bool ShaderPair::selectVariant()
{
    engine->switches->key(key);
    auto [entry, inserted] = variants.try_emplace(key);
    if (inserted) {
        if (!compileVariant())
            return false; // the entry keeps {null, null}: never compiled again
        entry->second = {currentVertexShader, currentPixelShader};
        return true;
    }
    currentVertexShader = entry->second.vertexShader;
    currentPixelShader = entry->second.pixelShader;
    return currentVertexShader != nullptr;
}

bool ShaderPair::compileVariant()
{
    currentVertexShader = nullptr;
    currentPixelShader = nullptr;
    if (!compiler)
        return false;
    for (const ShaderParam& p : engine->switches->params)
        compiler->SetValue(p.name, p.storage, p.byteSize());

    // One stage's code, constant table and messages.
    struct Stage {
        String function, profile;
        HRESULT hr = E_FAIL;
        ID3DXBuffer* code = nullptr;
        ID3DXBuffer* errors = nullptr;
        ID3DXConstantTable* table = nullptr;

        void compile(ID3DXEffectCompiler* compiler)
        {
            hr = compiler->CompileShader(function.c_str(), profile.c_str(), 0, &code, &errors, &table);
        }
        bool ok() const { return SUCCEEDED(hr) && code; }
        ~Stage()
        {
            release(code);
            release(errors);
            release(table);
        }
    };
    Stage vertex{vertexShaderName(), engine->vsProfile};
    Stage pixel{pixelShaderName(), engine->psProfile};
    // The pixel shader compiles on a second thread meanwhile, which halves
    // the wait for a new variant; in turn when no thread can be made.
    std::future<void> pixelDone;
    try {
        pixelDone = std::async(std::launch::async, [&pixel, this] { pixel.compile(compiler); });
    } catch (const std::system_error&) {
    }
    vertex.compile(compiler);
    if (pixelDone.valid())
        pixelDone.get();
    else
        pixel.compile(compiler);

    // The vertex half is of no use without its pixel half; the messages are
    // those of the first stage that failed.
    for (Stage* stage : {&vertex, &pixel}) {
        if (!stage->ok()) {
            if (stage->errors)
                showParseError(bufferText(stage->errors).c_str());
            return false;
        }
    }
    currentVertexShader =
        new VertexShader(engine, static_cast<const DWORD*>(vertex.code->GetBufferPointer()), vertex.table);
    vertex.table = nullptr; // the shader owns it
    currentPixelShader =
        new PixelShader(engine, static_cast<const DWORD*>(pixel.code->GetBufferPointer()), pixel.table);
    pixel.table = nullptr;

    // A device that refused the code would draw without a shader.
    if (!currentVertexShader->complete() || !currentPixelShader->complete()) {
        delete currentVertexShader;
        delete currentPixelShader;
        currentVertexShader = nullptr;
        currentPixelShader = nullptr;
        return false;
    }
    return true;
}

bool ShaderPair::activate()
{
    if (!selectVariant())
        return false;
    IDirect3DDevice9* device = engine->currentDevice;
    const i32 index = engine->currentIndex;
    if (!device || index < 0 || index >= engine->deviceCount)
        return false;
    engine->uniforms->computeMatrices();
    device->SetVertexShader(currentVertexShader->shaders[index]);
    device->SetPixelShader(currentPixelShader->shaders[index]);
    uploadConstants(*currentVertexShader);
    uploadConstants(*currentPixelShader);
    return true;
}

void ShaderPair::uploadConstants(const CompiledShader& shader)
{
    IDirect3DDevice9* device = engine->currentDevice;
    ID3DXConstantTable* table = shader.constants;
    if (!device || !table)
        return;
    table->SetDefaults(device);
    // Every uniform the shader uses, by name and in table order.
    const std::vector<ShaderParam>& params = engine->uniforms->params;
    for (u32 i : shader.usedUniforms) {
        const ShaderParam& p = params[i];
        table->SetValue(device, p.name, p.storage, p.byteSize());
    }
}

void ShaderPair::clearVariants()
{
    for (auto& [values, variant] : variants) {
        delete variant.vertexShader;
        delete variant.pixelShader;
    }
    variants.clear();
    currentVertexShader = nullptr;
    currentPixelShader = nullptr;
}

void ShaderPair::showParseError(const char* text)
{
    if (diagnosticsLevel < 2 || !text)
        return;
    // A compiler message that starts with a parenthesised position reads as
    // the file name followed by that position.
    const String message =
        text[0] == '(' ? String::format("\n%s%s", name.c_str(), text) : String::format("\n%s", text);
    MessageBoxA(NULL, message.c_str(), "Parse Error", MB_ICONEXCLAMATION);
}
