// What glslang's HLSL front end is never handed: text that would overflow
// its recursive parser and tree walkers, macros whose expansion explodes in
// its preprocessor, and the shapes it dereferences null on. The checks are
// upper estimates; real effects stay far inside them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform::d3dx9 {

// Nesting of brackets, if/else and loop chains, and prefix operators, casts,
// assignments and conditionals within an expression (each one a level of
// glslang's recursion) beyond which an effect is refused.
inline constexpr uint32_t kMaxNesting = 256;
// Binary operators in one expression: glslang parses a flat chain in a loop
// but builds a tree as deep as the chain, which every later pass walks
// recursively.
inline constexpr uint32_t kMaxExpressionTerms = 4096;
// Tokens that macro expansion may add to an effect.
inline constexpr uint64_t kMaxMacroExpansion = 1u << 20;

struct HlslFinding {
    size_t offset = 0;    // into the text checked
    std::string message;  // "error: ..."
};

// Checks text as glslang's parser will see it (after preprocessing):
// nesting and expression length, and a global declared twice. False with
// the first finding.
bool checkParserInput(const std::string& text, HlslFinding& finding);

// Checks text before glslang's preprocessor runs: bracket nesting (macro
// arguments and #if expressions recurse too) and an estimate of what the
// macros expand to. False with the first finding.
bool checkPreprocessorInput(const std::string& text, HlslFinding& finding);

// The nesting measure alone, on text with macros unexpanded.
bool checkNesting(const std::string& text, HlslFinding& finding);

} // namespace platform::d3dx9
