// HLSL (shader model 1-3, D3D9 semantics) to the device's shader blob:
// glslang's HLSL front end to SPIR-V, SPIRV-Cross to GLSL 4.50, then the
// interface fixed up for the device (attribute locations, varyings by
// semantic, gl_Position, samplers by register, the half-pixel fixup) and
// the constants laid out as D3D9 registers.
#pragma once

#include "platform/d3d9/shader_blob.h"
#include "platform/d3dx9/effect_prepass.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace platform::d3dx9 {

// What the effect says about a global that the SPIR-V does not.
struct HlslGlobalInfo {
    EffectBaseType baseType = EffectBaseType::Float;
    char registerKind = 0;  // from register(xN)
    int registerIndex = -1;
    std::vector<uint32_t> defaultWords;  // source order, in its own type; empty: no default
};

struct HlslCompileRequest {
    std::string source;
    std::string preamble;  // #define lines and pragmas, not counted in line numbers
    std::string entryPoint;
    d3d9::ShaderStage stage = d3d9::ShaderStage::Vertex;
    uint32_t versionToken = 0;
    bool optimize = true;
    std::map<std::string, HlslGlobalInfo> globals;
    // Location text ("(12,5)" or "file.fxh(3,1)") for a line and column of source.
    std::function<std::string(uint32_t line, uint32_t column)> locate;
};

// Parses a profile ("vs_2_0", "ps_2_sw", ...): stage and D3D version token.
bool parseShaderProfile(const char* profile, d3d9::ShaderStage& stage, uint32_t& versionToken);

// Compiles; on failure returns false with D3DX-shaped messages in errors.
// Two threads may compile at once.
bool compileHlsl(const HlslCompileRequest& request, d3d9::ShaderBlob& blob, std::string& errors);

// Only parses (and type-checks) the source, as a pixel shader with no entry
// point: syntax errors of a whole effect.
bool checkHlslSyntax(const std::string& source, const std::string& preamble,
                     const std::function<std::string(uint32_t, uint32_t)>& locate, std::string& errors);

} // namespace platform::d3dx9
