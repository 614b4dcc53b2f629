// Fuzz target for the effect pre-pass and the compiled-code blob parser.
// Input: the effect text. Up to the first byte 0x01 it is the effect; the
// rest is served as "part.fxh" to #include "part.fxh" (any other include
// name fails to open, "self.fxh" includes itself). Reaches: include
// expansion with its limits, comments, preprocessor lines, technique, pass,
// annotation and sampler_state removal, declarations and initialisers, and
// the literal rewrite of every global. The same bytes are then parsed as a
// blob twice: as they are, and with their checksum made right so that the
// structure checks are reached.
// Checks: the text and its line map agree and the rewrite keeps the number
// of lines; every Open is closed once.
#include "part_include.h"
#include "platform/d3d9/shader_blob.h"
#include "platform/d3dx9/effect_prepass.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

size_t lines(const std::string& s)
{
    size_t n = 0;
    for (char c : s)
        n += c == '\n';
    return n;
}

void sealAndParse(const uint8_t* data, size_t size)
{
    platform::d3d9::ShaderBlob blob;
    platform::d3d9::parseShaderBlob(data, size, blob);
    if (size < platform::d3d9::kShaderBlobHeaderBytes || size > (1u << 20))
        return;
    std::vector<uint8_t> copy(data, data + size);
    copy.resize(size & ~size_t(3));
    uint32_t total = uint32_t(copy.size());
    std::memcpy(&copy[16], &total, 4);
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < copy.size(); ++i) {
        if (i >= 20 && i < 24)
            continue;
        h ^= copy[i];
        h *= 16777619u;
    }
    std::memcpy(&copy[20], &h, 4);
    std::memcpy(&copy[0], &platform::d3d9::kShaderBlobMagic, 4);
    const uint32_t version = platform::d3d9::kShaderBlobVersion;
    std::memcpy(&copy[4], &version, 4);
    if (platform::d3d9::parseShaderBlob(copy.data(), copy.size(), blob)) {
        std::vector<DWORD> again = platform::d3d9::serializeShaderBlob(blob);
        platform::d3d9::ShaderBlob twice;
        check(platform::d3d9::parseShaderBlob(again.data(), again.size() * 4, twice));
        check(twice.glsl == blob.glsl && twice.constants.size() == blob.constants.size());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* text = reinterpret_cast<const char*>(data);
    size_t split = 0;
    while (split < size && data[split] != 0x01)
        ++split;
    PartInclude include(split < size ? text + split + 1 : nullptr, split < size ? size - split - 1 : 0, true);
    platform::d3dx9::EffectPrepass p = platform::d3dx9::runEffectPrepass(text, split, &include);
    check(include.open == 0);
    if (p.ok) {
        check(lines(p.text) == p.lines.size());
        for (const platform::d3dx9::SourceLocation& l : p.lines)
            check(l.file < p.files.size() && l.line > 0);
        // Every numeric global a literal with value words from the input.
        std::vector<std::vector<uint32_t>> values(p.globals.size());
        std::vector<const std::vector<uint32_t>*> literals(p.globals.size(), nullptr);
        for (size_t i = 0; i < p.globals.size(); ++i) {
            size_t count = std::min<size_t>(size_t(p.globals[i].elements()) * p.globals[i].components(), 64);
            for (size_t k = 0; k < count; ++k)
                values[i].push_back(uint32_t(k < size ? data[k] * 0x01010101u : 0));
            literals[i] = &values[i];
            platform::d3dx9::defaultWords(p.globals[i]);
        }
        std::string rewritten = platform::d3dx9::applyLiterals(p, literals);
        check(lines(rewritten) == lines(p.text));
        if (!p.lines.empty())
            p.locate(uint32_t(p.lines.size()), 1);
    }
    sealAndParse(data, size);
    return 0;
}
