#include "platform/d3dx9/effect_compiler.h"

#include "platform/com/com_object.h"
#include "platform/d3d9/shader_blob.h"
#include "platform/d3dx9/hlsl_translator.h"

#include <cmath>
#include <cstring>
#include <map>
#include <new>

namespace platform::d3dx9 {

namespace {

struct Parameter {
    uint32_t global = 0;  // index into the prepass globals
    std::string name;
    bool literal = false;
    bool assigned = false;         // SetValue & co. were called
    std::vector<uint32_t> value;   // words of its type, source order
};

bool numeric(EffectBaseType t)
{
    return t == EffectBaseType::Bool || t == EffectBaseType::Int || t == EffectBaseType::Float;
}

uint32_t toWord(EffectBaseType type, double v)
{
    switch (type) {
    case EffectBaseType::Bool:
        return v != 0 ? 1 : 0;
    case EffectBaseType::Int: {
        double c = std::isnan(v) ? 0 : std::fmin(std::fmax(std::trunc(v), -2147483648.0), 2147483647.0);
        return uint32_t(int32_t(c));
    }
    default: {
        float f = float(v);
        uint32_t w;
        std::memcpy(&w, &f, 4);
        return w;
    }
    }
}

double fromWord(EffectBaseType type, uint32_t w)
{
    switch (type) {
    case EffectBaseType::Bool:
        return w ? 1 : 0;
    case EffectBaseType::Int:
        return int32_t(w);
    default: {
        float f;
        std::memcpy(&f, &w, 4);
        return f;
    }
    }
}

class EffectCompiler final : public platform::ComObject<EffectCompiler, ID3DXEffectCompiler, IID_ID3DXEffectCompiler> {
public:
    EffectCompiler(EffectPrepass prepass, std::string preamble)
        : prepass_(std::move(prepass)), preamble_(std::move(preamble))
    {
        // Values of hostile effects with countless large arrays stay bounded:
        // past the budget a parameter has no value (it cannot be set).
        size_t budget = size_t(1) << 22;
        for (uint32_t i = 0; i < prepass_.globals.size(); ++i) {
            const EffectGlobal& g = prepass_.globals[i];
            if (!g.isParameter() || byName_.count(g.name))
                continue;
            Parameter p;
            p.global = i;
            p.name = g.name;
            size_t words = g.dimsKnown ? size_t(g.elements()) * g.components() : 0;
            if (numeric(g.baseType) && g.dimsKnown && words <= budget) {
                p.value = defaultWords(g);
                budget -= words;
            }
            byName_.emplace(p.name, params_.size());
            params_.push_back(std::move(p));
        }
    }

    const EffectPrepass& prepass() const { return prepass_; }


    STDMETHODIMP GetParameterDesc(D3DXHANDLE handle, D3DXPARAMETER_DESC* desc) override
    {
        Parameter* p = find(handle);
        if (!p || !desc)
            return D3DERR_INVALIDCALL;
        const EffectGlobal& g = prepass_.globals[p->global];
        *desc = {};
        desc->Name = p->name.c_str();
        desc->Semantic = nullptr;
        desc->Class = g.baseType == EffectBaseType::Sampler ? D3DXPC_OBJECT
                      : g.isMatrix ? (g.rowMajor ? D3DXPC_MATRIX_ROWS : D3DXPC_MATRIX_COLUMNS)
                      : g.columns > 1 ? D3DXPC_VECTOR
                                      : D3DXPC_SCALAR;
        desc->Type = g.baseType == EffectBaseType::Bool    ? D3DXPT_BOOL
                     : g.baseType == EffectBaseType::Int   ? D3DXPT_INT
                     : g.baseType == EffectBaseType::Float ? D3DXPT_FLOAT
                     : g.baseType == EffectBaseType::Sampler ? D3DXPT_SAMPLER
                                                             : D3DXPT_UNSUPPORTED;
        desc->Rows = g.rows;
        desc->Columns = g.columns;
        desc->Elements = g.dims.empty() ? 0 : g.elements();
        desc->Flags = p->literal ? D3DX_PARAMETER_LITERAL : 0;
        desc->Bytes = UINT(p->value.size() * 4);
        return D3D_OK;
    }

    STDMETHODIMP_(D3DXHANDLE) GetParameter(D3DXHANDLE parent, UINT index) override
    {
        if (parent || index >= params_.size())
            return nullptr;
        return params_[index].name.c_str();
    }

    STDMETHODIMP_(D3DXHANDLE) GetParameterByName(D3DXHANDLE parent, LPCSTR name) override
    {
        if (parent)
            return nullptr;
        Parameter* p = find(name);
        return p ? p->name.c_str() : nullptr;
    }

    STDMETHODIMP SetValue(D3DXHANDLE handle, LPCVOID data, UINT bytes) override
    {
        Parameter* p = find(handle);
        if (!p || p->value.empty() || !data || bytes > p->value.size() * 4)
            return D3DERR_INVALIDCALL;
        std::memcpy(p->value.data(), data, bytes);
        p->assigned = true;
        return D3D_OK;
    }

    STDMETHODIMP GetValue(D3DXHANDLE handle, LPVOID data, UINT bytes) override
    {
        Parameter* p = find(handle);
        if (!p || p->value.empty() || !data || bytes < p->value.size() * 4)
            return D3DERR_INVALIDCALL;
        std::memcpy(data, p->value.data(), p->value.size() * 4);
        return D3D_OK;
    }

    STDMETHODIMP SetBool(D3DXHANDLE handle, BOOL b) override { return SetBoolArray(handle, &b, 1); }
    STDMETHODIMP SetBoolArray(D3DXHANDLE handle, const BOOL* pb, UINT count) override
    {
        return setArray(handle, pb, count, [](BOOL b) { return b ? 1.0 : 0.0; });
    }
    STDMETHODIMP SetInt(D3DXHANDLE handle, INT n) override { return SetIntArray(handle, &n, 1); }
    STDMETHODIMP SetIntArray(D3DXHANDLE handle, const INT* pn, UINT count) override
    {
        return setArray(handle, pn, count, [](INT n) { return double(n); });
    }
    STDMETHODIMP SetFloat(D3DXHANDLE handle, FLOAT f) override { return SetFloatArray(handle, &f, 1); }
    STDMETHODIMP SetFloatArray(D3DXHANDLE handle, const FLOAT* pf, UINT count) override
    {
        return setArray(handle, pf, count, [](FLOAT f) { return double(f); });
    }

    STDMETHODIMP GetBool(D3DXHANDLE handle, BOOL* pb) override
    {
        double v;
        if (!pb || !first(handle, v))
            return D3DERR_INVALIDCALL;
        *pb = v != 0;
        return D3D_OK;
    }
    STDMETHODIMP GetInt(D3DXHANDLE handle, INT* pn) override
    {
        double v;
        if (!pn || !first(handle, v))
            return D3DERR_INVALIDCALL;
        *pn = INT(int32_t(toWord(EffectBaseType::Int, v)));
        return D3D_OK;
    }
    STDMETHODIMP GetFloat(D3DXHANDLE handle, FLOAT* pf) override
    {
        double v;
        if (!pf || !first(handle, v))
            return D3DERR_INVALIDCALL;
        *pf = float(v);
        return D3D_OK;
    }

    STDMETHODIMP SetLiteral(D3DXHANDLE handle, BOOL literal) override
    {
        Parameter* p = find(handle);
        if (!p || p->value.empty())
            return D3DERR_INVALIDCALL;
        p->literal = literal != FALSE;
        return D3D_OK;
    }

    STDMETHODIMP GetLiteral(D3DXHANDLE handle, BOOL* literal) override
    {
        Parameter* p = find(handle);
        if (!p || !literal)
            return D3DERR_INVALIDCALL;
        *literal = p->literal;
        return D3D_OK;
    }

    STDMETHODIMP CompileEffect(DWORD, ID3DXBuffer** ppEffect, ID3DXBuffer** ppErrorMsgs) override
    {
        if (ppEffect)
            *ppEffect = nullptr;
        if (ppErrorMsgs)
            *ppErrorMsgs = makeTextBuffer("error: compiled effects are not supported; compile shaders instead\n");
        return E_NOTIMPL;
    }

    STDMETHODIMP CompileShader(D3DXHANDLE function, LPCSTR profile, DWORD flags, ID3DXBuffer** ppShader,
                               ID3DXBuffer** ppErrorMsgs, ID3DXConstantTable** ppConstantTable) override
    {
        if (ppShader)
            *ppShader = nullptr;
        if (ppErrorMsgs)
            *ppErrorMsgs = nullptr;
        if (ppConstantTable)
            *ppConstantTable = nullptr;
        if (!ppShader)
            return D3DERR_INVALIDCALL;
        auto failWith = [&](const std::string& text) {
            if (ppErrorMsgs)
                *ppErrorMsgs = makeTextBuffer(text);
            return E_FAIL;
        };
        if (!function || !*function)
            return failWith("error: no function given\n");
        HlslCompileRequest req;
        if (!parseShaderProfile(profile, req.stage, req.versionToken))
            return failWith(std::string("error X3523: invalid target '") + (profile ? profile : "") + "'\n");
        req.entryPoint = function;
        req.optimize = !(flags & D3DXSHADER_SKIPOPTIMIZATION);
        req.preamble = preamble_;
        if (flags & D3DXSHADER_PACKMATRIX_ROWMAJOR)
            req.preamble += "#pragma pack_matrix(row_major)\n";
        req.locate = [this](uint32_t line, uint32_t column) { return prepass_.locate(line, column); };

        std::vector<const std::vector<uint32_t>*> literals(prepass_.globals.size(), nullptr);
        for (const Parameter& p : params_) {
            const EffectGlobal& g = prepass_.globals[p.global];
            if (p.literal) {
                literals[p.global] = &p.value;
                continue;
            }
            HlslGlobalInfo info;
            info.baseType = g.baseType;
            info.registerKind = g.registerKind;
            info.registerIndex = g.registerIndex;
            if (!p.value.empty() && (g.hasDefault || p.assigned))
                info.defaultWords = p.value;
            req.globals.emplace(g.name, std::move(info));
        }
        req.source = applyLiterals(prepass_, literals);

        d3d9::ShaderBlob blob;
        std::string errors;
        if (!compileHlsl(req, blob, errors))
            return failWith(errors);
        std::vector<DWORD> words = d3d9::serializeShaderBlob(blob);
        ID3DXBuffer* code = makeBuffer(words.data(), words.size() * sizeof(DWORD));
        if (!code)
            return E_OUTOFMEMORY;
        if (ppConstantTable) {
            HRESULT hr = D3DXGetShaderConstantTable(static_cast<const DWORD*>(code->GetBufferPointer()),
                                                    ppConstantTable);
            if (FAILED(hr)) {
                code->Release();
                return hr;
            }
        }
        *ppShader = code;
        return D3D_OK;
    }

private:
    friend ComObject;
    ~EffectCompiler() = default;

    Parameter* find(D3DXHANDLE handle)
    {
        if (!handle)
            return nullptr;
        auto it = byName_.find(handle);
        return it == byName_.end() ? nullptr : &params_[it->second];
    }

    bool first(D3DXHANDLE handle, double& v)
    {
        Parameter* p = find(handle);
        if (!p || p->value.empty())
            return false;
        v = fromWord(prepass_.globals[p->global].baseType, p->value[0]);
        return true;
    }

    template <typename T, typename ToDouble>
    HRESULT setArray(D3DXHANDLE handle, const T* values, UINT count, ToDouble toDouble)
    {
        Parameter* p = find(handle);
        if (!p || p->value.empty() || (!values && count) || count > p->value.size())
            return D3DERR_INVALIDCALL;
        EffectBaseType type = prepass_.globals[p->global].baseType;
        for (UINT i = 0; i < count; ++i)
            p->value[i] = toWord(type, toDouble(values[i]));
        p->assigned = true;
        return D3D_OK;
    }

    EffectPrepass prepass_;
    std::string preamble_;
    std::vector<Parameter> params_;
    std::map<std::string, size_t> byName_;
};

bool validMacroName(const char* s)
{
    if (!s || !*s || !((*s >= 'a' && *s <= 'z') || (*s >= 'A' && *s <= 'Z') || *s == '_'))
        return false;
    for (; *s; ++s)
        if (!((*s >= 'a' && *s <= 'z') || (*s >= 'A' && *s <= 'Z') || (*s >= '0' && *s <= '9') || *s == '_'))
            return false;
    return true;
}

} // namespace

std::vector<EffectSamplerState> effectSamplerStates(ID3DXEffectCompiler* compiler)
{
    auto* c = dynamic_cast<EffectCompiler*>(compiler);
    return c ? c->prepass().samplerStates : std::vector<EffectSamplerState>();
}

std::vector<EffectTechnique> effectTechniques(ID3DXEffectCompiler* compiler)
{
    auto* c = dynamic_cast<EffectCompiler*>(compiler);
    return c ? c->prepass().techniques : std::vector<EffectTechnique>();
}

} // namespace platform::d3dx9

HRESULT WINAPI D3DXCreateEffectCompiler(LPCSTR pSrcData, UINT SrcDataLen, const D3DXMACRO* pDefines,
                                        LPD3DXINCLUDE pInclude, DWORD Flags, LPD3DXEFFECTCOMPILER* ppCompiler,
                                        LPD3DXBUFFER* ppCompilerErrors)
{
    using namespace platform::d3dx9;
    if (ppCompilerErrors)
        *ppCompilerErrors = nullptr;
    if (!ppCompiler || (!pSrcData && SrcDataLen))
        return D3DERR_INVALIDCALL;
    *ppCompiler = nullptr;
    auto failWith = [&](const std::string& text) {
        if (ppCompilerErrors)
            *ppCompilerErrors = makeTextBuffer(text);
        return E_FAIL;
    };

    std::string preamble;
    for (const D3DXMACRO* m = pDefines; m && m->Name; ++m) {
        if (!validMacroName(m->Name))
            return failWith(std::string("error: invalid macro name '") + m->Name + "'\n");
        std::string value = m->Definition ? m->Definition : "";
        for (char& c : value)
            if (c == '\n' || c == '\r')
                c = ' ';
        preamble += std::string("#define ") + m->Name + " " + value + "\n";
    }
    if (Flags & D3DXSHADER_PACKMATRIX_ROWMAJOR)
        preamble += "#pragma pack_matrix(row_major)\n";

    EffectPrepass prepass = runEffectPrepass(pSrcData, SrcDataLen, pInclude);
    if (!prepass.ok)
        return failWith(prepass.errors);
    std::string errors;
    auto locate = [&prepass](uint32_t line, uint32_t column) { return prepass.locate(line, column); };
    if (!checkHlslSyntax(prepass.text, preamble, locate, errors))
        return failWith(errors);
    EffectCompiler* compiler = new (std::nothrow) EffectCompiler(std::move(prepass), preamble);
    if (!compiler)
        return E_OUTOFMEMORY;
    *ppCompiler = compiler;
    return D3D_OK;
}
