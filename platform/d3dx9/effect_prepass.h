// The effect pre-pass: turns effect (.fx) text into HLSL that glslang's front
// end accepts, and collects what the effect says beyond that HLSL.
//
// - #include lines are replaced by the included text, read through the
//   caller's ID3DXInclude (nested, depth-limited, an include cycle is an
//   error). A line map tells, for every line of the result, the file and
//   line it came from.
// - technique/pass blocks, texture, string and shader-object globals,
//   annotations and sampler_state initialisers are blanked: replaced by
//   spaces with the newlines kept, so every line keeps its number. The
//   sampler states and the passes are kept aside.
// - Global declarations are recorded with their type, array dimensions,
//   explicit register and initialiser values, so that literals can be
//   rewritten to `static const` and the constant tables get their defaults.
#pragma once

#include "platform/d3dx9/d3dx_include.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace platform::d3dx9 {

// Where a line of the expanded text came from: file 0 is the effect itself,
// others index EffectPrepass::files. Lines count from 1.
struct SourceLocation {
    uint32_t file = 0;
    uint32_t line = 0;
};

enum class EffectBaseType { Bool, Int, Float, Sampler, Other };

struct EffectGlobal {
    std::string name;
    std::string typeText;  // the type as written, without storage modifiers
    EffectBaseType baseType = EffectBaseType::Other;
    uint32_t rows = 1;     // 1 for scalars and vectors
    uint32_t columns = 1;  // vector size, or matrix columns
    bool isMatrix = false;
    bool rowMajor = false;     // declared row_major
    bool columnMajor = false;  // declared column_major
    bool isStatic = false;
    bool isConst = false;
    bool dimsKnown = true;        // false when an array size is not a number (or too large)
    std::vector<uint32_t> dims;   // array dimensions, outermost first
    std::string dimsText;         // "[8]" as written (numbers resolved)
    char registerKind = 0;        // 'c', 'i', 'b' or 's' from register(...), else 0
    int registerIndex = -1;
    bool hasDefault = false;
    std::vector<double> defaultValues;  // initialiser values in source order
    uint32_t statement = 0;             // index into EffectPrepass::statements
    SourceLocation location;

    // A parameter of the effect: neither static nor const.
    bool isParameter() const { return !isStatic && !isConst; }
    uint32_t elements() const;    // product of dims (1 when not an array)
    uint32_t components() const { return rows * columns; }
};

// A global declaration statement in the expanded text, for rewriting.
struct EffectStatement {
    size_t begin = 0;  // offset of its first token
    size_t end = 0;    // offset just past its ';'
    std::string prefix;  // modifiers and type, as tokens joined by spaces
    std::vector<uint32_t> globals;            // its declarators, indices into globals
    std::vector<std::string> declarators;     // each declarator's tokens joined by spaces
};

struct EffectSamplerState {
    std::string sampler;
    std::vector<std::pair<std::string, std::string>> states;  // e.g. {"MinFilter", "Linear"}
};

struct EffectPass {
    std::string name;
    std::vector<std::pair<std::string, std::string>> states;  // e.g. {"VertexShader", "compile vs_2_0 vs()"}
};

struct EffectTechnique {
    std::string name;
    std::vector<EffectPass> passes;
};

struct EffectPrepass {
    bool ok = false;
    std::string errors;  // D3DX-shaped: "(line,col): error ..." / "file(line,col): error ..."
    std::string text;    // the HLSL handed to glslang (when no literal is set)
    std::vector<SourceLocation> lines;  // per line of text
    std::vector<std::string> files;     // index 0 is "" (the effect)
    std::vector<EffectGlobal> globals;
    std::vector<EffectStatement> statements;
    std::vector<EffectSamplerState> samplerStates;
    std::vector<EffectTechnique> techniques;

    const EffectGlobal* findGlobal(const std::string& name) const;
    // "(12,5)" or "file.fxh(3,1)" for a line (1-based) and column of text.
    std::string locate(uint32_t textLine, uint32_t column) const;
};

// Limits that keep hostile input finite.
inline constexpr int kMaxIncludeDepth = 16;
inline constexpr size_t kMaxIncludes = 1024;
inline constexpr size_t kMaxExpandedBytes = 32u << 20;
// Largest #line number passed on: with every line of the largest text after
// it, still within glslang's int.
inline constexpr uint32_t kMaxLineNumber = 1000000000;
// A global with more values than this (far beyond every register file) is
// kept as text but gets no value: no default, no literal.
inline constexpr uint32_t kMaxGlobalValues = 4096;

EffectPrepass runEffectPrepass(const char* source, size_t length, ID3DXInclude* include);

// The prepass text with each global whose entry in `literals` (indexed like
// prepass.globals) is non-null rewritten to `static const TYPE NAME = value;`.
// The values are 32-bit words in the global's own type (float bits, int32,
// BOOL), in source order; missing ones are 0. Line numbers stay the same.
std::string applyLiterals(const EffectPrepass& prepass, const std::vector<const std::vector<uint32_t>*>& literals);

// The value of a global as 32-bit words of its type, from its initialiser
// (zeros where it has none).
std::vector<uint32_t> defaultWords(const EffectGlobal& global);

} // namespace platform::d3dx9
