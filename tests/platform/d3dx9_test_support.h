// Helpers of the effect compiler tests: an include handler over in-memory
// files that checks Open/Close pairing, and one-call compiles.
#pragma once

#include "platform/d3d9/shader_blob.h"

#include <d3dx9.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace d3dx9test {

class MemoryInclude : public ID3DXInclude {
public:
    std::map<std::string, std::string> files;
    std::vector<std::string> opened;            // names in Open order
    std::vector<const void*> parents;           // parent data per Open
    std::set<const void*> open;                 // data handed out, not closed yet
    int closes = 0;

    STDMETHODIMP Open(D3DXINCLUDE_TYPE, LPCSTR name, LPCVOID parent, LPCVOID* data, UINT* bytes) override
    {
        if (!name || !data || !bytes)
            return E_INVALIDARG;
        auto it = files.find(name);
        if (it == files.end())
            return E_FAIL;
        opened.push_back(name);
        parents.push_back(parent);
        // A copy without a terminator, as the engine's loader hands it out.
        char* copy = new char[it->second.size() + 1];
        std::memcpy(copy, it->second.data(), it->second.size());
        copy[it->second.size()] = '!';
        *data = copy;
        *bytes = UINT(it->second.size());
        open.insert(copy);
        return S_OK;
    }
    STDMETHODIMP Close(LPCVOID data) override
    {
        ++closes;
        if (open.erase(data) == 0)
            ADD_FAILURE() << "Close of data not handed out";
        delete[] static_cast<const char*>(data);
        return S_OK;
    }
};

struct Compiled {
    HRESULT hr = E_FAIL;
    std::string errors;
    std::vector<DWORD> code;
    platform::d3d9::ShaderBlob blob;
};

inline std::string bufferText(ID3DXBuffer* b)
{
    if (!b)
        return std::string();
    std::string s(static_cast<const char*>(b->GetBufferPointer()), b->GetBufferSize());
    while (!s.empty() && s.back() == '\0')
        s.pop_back();
    return s;
}

// Creates a compiler over text; null (with the errors) when that fails.
inline ID3DXEffectCompiler* createCompiler(const std::string& text, std::string* errors = nullptr,
                                           ID3DXInclude* include = nullptr, const D3DXMACRO* defines = nullptr)
{
    ID3DXEffectCompiler* compiler = nullptr;
    ID3DXBuffer* err = nullptr;
    HRESULT hr = D3DXCreateEffectCompiler(text.data(), UINT(text.size()), defines, include, 0, &compiler, &err);
    if (errors)
        *errors = bufferText(err);
    if (err)
        err->Release();
    if (FAILED(hr))
        return nullptr;
    return compiler;
}

inline Compiled compileWith(ID3DXEffectCompiler* compiler, const char* function, const char* profile,
                            DWORD flags = 0)
{
    Compiled c;
    ID3DXBuffer* code = nullptr;
    ID3DXBuffer* errors = nullptr;
    c.hr = compiler->CompileShader(function, profile, flags, &code, &errors, nullptr);
    c.errors = bufferText(errors);
    if (errors)
        errors->Release();
    if (code) {
        const DWORD* words = static_cast<const DWORD*>(code->GetBufferPointer());
        c.code.assign(words, words + code->GetBufferSize() / 4);
        std::string why;
        EXPECT_TRUE(platform::d3d9::parseShaderBlob(c.code.data(), c.code.size() * 4, c.blob, &why)) << why;
        code->Release();
    }
    return c;
}

inline Compiled compile(const std::string& text, const char* function, const char* profile)
{
    std::string errors;
    ID3DXEffectCompiler* compiler = createCompiler(text, &errors);
    if (!compiler) {
        Compiled c;
        c.errors = errors;
        return c;
    }
    Compiled c = compileWith(compiler, function, profile);
    compiler->Release();
    return c;
}

inline const platform::d3d9::ShaderConstant* findConstant(const platform::d3d9::ShaderBlob& blob,
                                                          const std::string& name)
{
    for (const auto& c : blob.constants)
        if (c.name == name)
            return &c;
    return nullptr;
}

inline size_t countLines(const std::string& s)
{
    size_t n = 0;
    for (char c : s)
        n += c == '\n';
    return n;
}

} // namespace d3dx9test
