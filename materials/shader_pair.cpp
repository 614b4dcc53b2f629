#include "materials/shader_pair.h"

#include "foundation/diagnostics.h"
#include "materials/engine.h"
#include "materials/shader_parameters.h"
#include "materials/sourcefile.h"

#include <windows.h>

#include <cstring>

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

VertexShader::VertexShader(Engine* engine, const DWORD* code, ID3DXConstantTable* constants)
    : CompiledShader(engine, constants), shaders(new IDirect3DVertexShader9*[engine->deviceCount]())
{
    for (i32 i = 0; i < engine->deviceCount; ++i)
        if (engine->devices[i] && FAILED(engine->devices[i]->CreateVertexShader(code, &shaders[i])))
            shaders[i] = nullptr;
}

VertexShader::~VertexShader()
{
    for (i32 i = 0; i < engine->deviceCount; ++i)
        release(shaders[i]);
    delete[] shaders;
}

bool VertexShader::complete() const
{
    for (i32 i = 0; i < engine->deviceCount; ++i)
        if (!shaders[i])
            return false;
    return true;
}

PixelShader::PixelShader(Engine* engine, const DWORD* code, ID3DXConstantTable* constants)
    : CompiledShader(engine, constants), shaders(new IDirect3DPixelShader9*[engine->deviceCount]())
{
    LPCSTR names[kMaxSamplers] = {};
    UINT count = 0;
    if (FAILED(D3DXGetShaderSamplers(code, names, &count)) || count > kMaxSamplers)
        count = 0;
    samplerCount = count;
    samplerNames = new String[samplerCount];
    for (u32 i = 0; i < samplerCount; ++i)
        samplerNames[i] = names[i] ? names[i] : "";

    for (i32 i = 0; i < engine->deviceCount; ++i)
        if (engine->devices[i] && FAILED(engine->devices[i]->CreatePixelShader(code, &shaders[i])))
            shaders[i] = nullptr;
}

PixelShader::~PixelShader()
{
    for (i32 i = 0; i < engine->deviceCount; ++i)
        release(shaders[i]);
    delete[] shaders;
    delete[] samplerNames;
}

bool PixelShader::complete() const
{
    for (i32 i = 0; i < engine->deviceCount; ++i)
        if (!shaders[i])
            return false;
    return true;
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

// The surface rules shared by the effect-based pairs (states, switches and
// uniforms from the surface, textures by sampler name) come with those
// pairs; until then a surface adds nothing to what the scene passes set.
void ShaderPair::setStates(Surface*, double)
{
}

void ShaderPair::setSources(Surface*, double)
{
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

    // One stage: its code into a shader of the engine's devices, or false
    // after the compiler's message.
    auto compile = [this](const String& function, const String& profile, ID3DXBuffer*& code,
                          ID3DXConstantTable*& table) {
        code = nullptr;
        table = nullptr;
        ID3DXBuffer* errors = nullptr;
        const HRESULT hr =
            compiler->CompileShader(function.c_str(), profile.c_str(), 0, &code, &errors, &table);
        if (FAILED(hr) || !code) {
            if (errors)
                showParseError(bufferText(errors).c_str());
            release(errors);
            release(code);
            release(table);
            code = nullptr;
            table = nullptr;
            return false;
        }
        release(errors);
        return true;
    };

    ID3DXBuffer* code = nullptr;
    ID3DXConstantTable* table = nullptr;
    if (!compile(vertexShaderName(), engine->vsProfile, code, table))
        return false;
    currentVertexShader = new VertexShader(engine, static_cast<const DWORD*>(code->GetBufferPointer()), table);
    code->Release();

    if (!compile(pixelShaderName(), engine->psProfile, code, table)) {
        // The vertex half is of no use without its pixel half.
        delete currentVertexShader;
        currentVertexShader = nullptr;
        return false;
    }
    currentPixelShader = new PixelShader(engine, static_cast<const DWORD*>(code->GetBufferPointer()), table);
    code->Release();

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
