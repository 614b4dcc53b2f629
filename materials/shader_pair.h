// A vertex and pixel shader pair made from one effect file. Every shader
// switch is a literal of the effect, so each combination of switch values
// compiles to its own specialised shaders: the pair compiles a combination
// the first time it is drawn with it and keeps it under the switch values.
// Activating selects (or compiles) the variant for the current switches,
// binds its shaders on the current device and uploads every uniform.
//
// Drawing code, per subset: setStates (surface, time), vertex declaration,
// activate; when activate succeeded setSources (surface, time) and draw,
// otherwise its own fixed-function fallback. setStates runs first because
// the surface's switch values are part of the variant key.
#pragma once

#include "foundation/byte_string.h"
#include "foundation/types.h"
#include "materials/engine_resource.h"

#include <d3dx9.h>

#include <map>
#include <vector>

class Sourcefile;
class Surface;

// What both halves of a variant share: the constant table the compiler
// returned, through which the uniforms are uploaded by name.
class CompiledShader {
public:
    Engine* engine;
    ID3DXConstantTable* constants; // owned
    // The uniform entries (indices into the engine's ShaderUniforms table, in
    // table order) that the constant table knows: uploading the others would
    // only be refused by name, on every activation.
    std::vector<u32> usedUniforms;

    CompiledShader(Engine* engine, ID3DXConstantTable* constants);
    virtual ~CompiledShader();
    CompiledShader(const CompiledShader&) = delete;
    CompiledShader& operator=(const CompiledShader&) = delete;
};

// A compiled vertex shader, made on every device of the engine from one code
// buffer (so stereo output compiles once).
class VertexShader : public CompiledShader {
public:
    IDirect3DVertexShader9** shaders; // one per device, indexed like the engine's devices

    VertexShader(Engine* engine, const DWORD* code, ID3DXConstantTable* constants);
    ~VertexShader() override;

    // Every device accepted the code.
    bool complete() const;
};

class PixelShader : public CompiledShader {
public:
    static constexpr u32 kMaxSamplers = 16;

    IDirect3DPixelShader9** shaders; // one per device
    u32 samplerCount = 0;
    // The sampler on register s<i> (texture stage i) is samplerNames[i];
    // "" for a register no sampler uses.
    String* samplerNames = nullptr;

    PixelShader(Engine* engine, const DWORD* code, ID3DXConstantTable* constants);
    ~PixelShader() override;

    bool complete() const;
};

class ShaderPair : public EngineResource {
public:
    struct Variant {
        VertexShader* vertexShader = nullptr;
        PixelShader* pixelShader = nullptr;
    };

    // Compiled variants by the switch values in table order. A combination
    // that failed keeps {null, null} and is never compiled again.
    std::map<std::vector<i32>, Variant> variants;
    String name = "<shader>"; // the effect file loaded last
    VertexShader* currentVertexShader = nullptr; // of the last activation
    PixelShader* currentPixelShader = nullptr;
    ID3DXEffectCompiler* compiler = nullptr; // null until a file is loaded

    explicit ShaderPair(Engine* engine);
    ~ShaderPair() override;
    ShaderPair(const ShaderPair&) = delete;
    ShaderPair& operator=(const ShaderPair&) = delete;

    // Selects or compiles the variant of the current switch values, binds
    // its shaders on the current device and uploads the uniforms to both.
    // False, with no device state changed, when the variant has no shaders.
    virtual bool activate();
    // Binds the textures the active pixel shader samples.
    virtual void setSources(Surface* surface, double time);
    // Render states and parameter values of a surface; before activate.
    virtual void setStates(Surface* surface, double time);
    // The effect functions compiled as the vertex and the pixel shader.
    virtual String vertexShaderName();
    virtual String pixelShaderName();

    // Reads and parses one effect file. False, without a message, when the
    // file cannot be read; false after a "Parse Error" box (diagnostics level
    // 2 and up) when it does not parse. Any earlier variants are gone.
    bool loadFile(Sourcefile& include, const char* fileName);
    bool createCompiler(const char* text, u32 length, ID3DXInclude* include);

    // The variant of the current switch values into currentVertexShader and
    // currentPixelShader, compiled when the values are new.
    bool selectVariant();
    bool compileVariant();

    // Default values of the shader's globals, then every uniform by name.
    void uploadConstants(const CompiledShader& shader);
    void clearVariants();
    void showParseError(const char* text);

private:
    std::vector<i32> key; // reused, so a cached activation allocates nothing
};
