// Fuzz target for the whole effect compiler: the pre-pass, glslang's HLSL
// front end, SPIR-V to GLSL, and the parsers of the compiled blob.
// Input: the effect text. Up to the first byte 0x01 it is the effect; the
// rest is served as "part.fxh" to #include "part.fxh" (any other include
// name fails to open). Each entry point named by the effect's passes
// ("compile vs_2_0 vs()") is compiled with its profile, and "vshader" and
// "pshader" with vs_2_0 and ps_2_0 (at most four compiles per input), first
// as written, then with every parameter made a literal.
// Checks: every Open is closed once; a compiled shader's blob parses and
// its constant table and samplers can be read.
#include "part_include.h"
#include "platform/d3d9/shader_blob.h"
#include "platform/d3dx9/effect_compiler.h"

#include <d3dx9.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

// "compile vs_2_0 vs()" -> {"vs_2_0", "vs"}.
bool compileState(const std::string& value, std::pair<std::string, std::string>& entry)
{
    size_t p = value.find("compile");
    if (p == std::string::npos)
        return false;
    p += 7;
    auto word = [&](std::string& out) {
        while (p < value.size() && value[p] == ' ')
            ++p;
        size_t b = p;
        while (p < value.size() && value[p] != ' ' && value[p] != '(')
            ++p;
        out = value.substr(b, p - b);
        return !out.empty();
    };
    return word(entry.first) && word(entry.second);
}

void compile(ID3DXEffectCompiler* fx, const std::string& profile, const std::string& function)
{
    ID3DXBuffer* code = nullptr;
    ID3DXBuffer* errors = nullptr;
    ID3DXConstantTable* table = nullptr;
    HRESULT hr = fx->CompileShader(function.c_str(), profile.c_str(), 0, &code, &errors, &table);
    if (SUCCEEDED(hr)) {
        check(code && table);
        platform::d3d9::ShaderBlob blob;
        check(platform::d3d9::parseShaderBlob(code->GetBufferPointer(), code->GetBufferSize(), blob));
        D3DXCONSTANTTABLE_DESC desc;
        check(SUCCEEDED(table->GetDesc(&desc)));
        for (UINT i = 0; i < desc.Constants; ++i) {
            D3DXHANDLE h = table->GetConstant(nullptr, i);
            D3DXCONSTANT_DESC c;
            UINT count = 1;
            check(h && SUCCEEDED(table->GetConstantDesc(h, &c, &count)));
        }
        UINT samplers = 0;
        D3DXGetShaderSamplers(static_cast<const DWORD*>(code->GetBufferPointer()), nullptr, &samplers);
        std::vector<LPCSTR> names(samplers + 1);
        D3DXGetShaderSamplers(static_cast<const DWORD*>(code->GetBufferPointer()), names.data(), &samplers);
    }
    if (code)
        code->Release();
    if (errors)
        errors->Release();
    if (table)
        table->Release();
}

} // namespace

// The compiler checks each effect in a forked helper, kept until an input
// crashes it or runs it out of time, and a fork copies the page tables of
// all the memory this process has touched. AddressSanitizer's quarantine of
// freed blocks (256 MB by default) is most of that memory; a small one
// still holds the blocks an input freed last.
extern "C" const char* __asan_default_options()
{
    return "quarantine_size_mb=16";
}

// Compiles run here, where the fuzzer sees their coverage; the checks stay
// in the helper, which spares the fuzzer the front end's known crashes.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    platform::d3dx9::setCompilesInProcess(true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (64u << 10))
        return 0;
    const char* text = reinterpret_cast<const char*>(data);
    size_t split = 0;
    while (split < size && data[split] != 0x01)
        ++split;
    PartInclude include(split < size ? text + split + 1 : nullptr, split < size ? size - split - 1 : 0);
    ID3DXEffectCompiler* fx = nullptr;
    ID3DXBuffer* errors = nullptr;
    HRESULT hr = D3DXCreateEffectCompiler(text, UINT(split), nullptr, &include, 0, &fx, &errors);
    check(include.open == 0);
    if (errors)
        errors->Release();
    if (FAILED(hr)) {
        check(!fx);
        return 0;
    }
    std::vector<std::pair<std::string, std::string>> entries;
    for (const platform::d3dx9::EffectTechnique& t : platform::d3dx9::effectTechniques(fx))
        for (const platform::d3dx9::EffectPass& p : t.passes)
            for (const auto& [key, value] : p.states) {
                std::pair<std::string, std::string> entry;
                if (entries.size() < 2 && compileState(value, entry))
                    entries.push_back(entry);
            }
    entries.push_back({"vs_2_0", "vshader"});
    entries.push_back({"ps_2_0", "pshader"});
    for (const auto& [profile, function] : entries)
        compile(fx, profile, function);
    // Literals rewrite the text handed to glslang.
    for (UINT i = 0; D3DXHANDLE h = fx->GetParameter(nullptr, i); ++i)
        fx->SetLiteral(h, TRUE);
    compile(fx, entries.back().first, entries.back().second);
    fx->Release();
    return 0;
}
