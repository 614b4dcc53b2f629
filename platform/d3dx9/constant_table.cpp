#include "platform/d3dx9/constant_table.h"

#include "platform/com/com_object.h"
#include "platform/d3d9/shader_blob.h"

#include <cmath>
#include <cstring>
#include <deque>
#include <map>
#include <new>
#include <string>
#include <string_view>
#include <vector>

using platform::d3d9::RegisterSet;
using platform::d3d9::ShaderBlob;
using platform::d3d9::ShaderConstant;
using platform::d3d9::ShaderStage;

namespace {

// A scalar handed in, before conversion to the register set's type.
struct Scalar {
    enum Kind { Float, Int, Bool } kind;
    uint32_t bits;

    static Scalar ofFloat(float f)
    {
        Scalar s{Float, 0};
        std::memcpy(&s.bits, &f, 4);
        return s;
    }
    static Scalar ofInt(int32_t i) { return {Int, uint32_t(i)}; }
    static Scalar ofBool(BOOL b) { return {Bool, b ? 1u : 0u}; }

    float asFloat() const
    {
        if (kind == Float) {
            float f;
            std::memcpy(&f, &bits, 4);
            return f;
        }
        return kind == Int ? float(int32_t(bits)) : (bits ? 1.0f : 0.0f);
    }
    int32_t asInt() const
    {
        if (kind == Float) {
            float f = asFloat();
            if (std::isnan(f))
                return 0;
            return f >= 2147483647.0f ? INT32_MAX : f <= -2147483648.0f ? INT32_MIN : int32_t(f);
        }
        return kind == Int ? int32_t(bits) : (bits ? 1 : 0);
    }
    bool asBool() const { return kind == Float ? asFloat() != 0.0f : bits != 0; }
};

// A constant or one element of it.
struct Target {
    const ShaderConstant* constant = nullptr;
    uint32_t firstRegister = 0;
    uint32_t registerCount = 0;
    uint32_t elements = 0;  // matrices/vectors covered
};

// Zero-filled words on the stack when they fit a whole float register file
// (every valid constant does), else on the heap.
class RegisterImage {
public:
    explicit RegisterImage(size_t words)
        : size_(words)
    {
        if (words > kInline)
            heap_.assign(words, 0);
        else
            std::memset(inline_, 0, words * 4);
    }
    uint32_t* data() { return size_ > kInline ? heap_.data() : inline_; }
    size_t size() const { return size_; }

private:
    static constexpr size_t kInline = 256 * 4;
    size_t size_;
    uint32_t inline_[kInline];
    std::vector<uint32_t> heap_;
};

class ConstantTable final
    : public platform::ComObject<ConstantTable, ID3DXConstantTable, IID_ID3DXBuffer, IID_ID3DXConstantTable> {
public:
    ConstantTable(std::vector<DWORD> words, ShaderBlob blob) : words_(std::move(words)), blob_(std::move(blob))
    {
        for (size_t i = 0; i < blob_.constants.size(); ++i)
            byName_.emplace(blob_.constants[i].name, i);
    }

    STDMETHODIMP_(LPVOID) GetBufferPointer() override { return words_.data(); }
    STDMETHODIMP_(DWORD) GetBufferSize() override { return DWORD(words_.size() * sizeof(DWORD)); }

    STDMETHODIMP GetDesc(D3DXCONSTANTTABLE_DESC* desc) override
    {
        if (!desc)
            return D3DERR_INVALIDCALL;
        desc->Creator = "hlsl_translator (glslang, SPIRV-Cross)";
        desc->Version = blob_.versionToken;
        desc->Constants = UINT(blob_.constants.size());
        return D3D_OK;
    }

    STDMETHODIMP GetConstantDesc(D3DXHANDLE handle, D3DXCONSTANT_DESC* desc, UINT* count) override
    {
        Target t;
        if (!resolve(handle, t) || !count)
            return D3DERR_INVALIDCALL;
        if (desc && *count >= 1) {
            const ShaderConstant& c = *t.constant;
            desc->Name = c.name.c_str();
            desc->RegisterSet = D3DXREGISTER_SET(c.registerSet);
            desc->RegisterIndex = t.firstRegister;
            desc->RegisterCount = t.registerCount;
            desc->Class = D3DXPARAMETER_CLASS(c.parameterClass);
            desc->Type = D3DXPARAMETER_TYPE(c.parameterType);
            desc->Rows = c.rows;
            desc->Columns = c.columns;
            desc->Elements = t.elements == c.elements ? c.elements : 1;
            desc->StructMembers = 0;
            desc->Bytes = c.registerSet == RegisterSet::Sampler ? 4 : c.rows * c.columns * desc->Elements * 4;
            desc->DefaultValue = c.defaultValue.empty() || t.elements != c.elements ? nullptr : c.defaultValue.data();
        }
        *count = 1;
        return D3D_OK;
    }

    STDMETHODIMP_(UINT) GetSamplerIndex(D3DXHANDLE handle) override
    {
        Target t;
        if (!resolve(handle, t) || t.constant->registerSet != RegisterSet::Sampler)
            return UINT(-1);
        return t.firstRegister;
    }

    STDMETHODIMP_(D3DXHANDLE) GetConstant(D3DXHANDLE parent, UINT index) override
    {
        if (parent || index >= blob_.constants.size())
            return nullptr;
        return blob_.constants[index].name.c_str();
    }

    STDMETHODIMP_(D3DXHANDLE) GetConstantByName(D3DXHANDLE parent, LPCSTR name) override
    {
        if (parent || !name)
            return nullptr;
        auto it = byName_.find(name);
        return it == byName_.end() ? nullptr : blob_.constants[it->second].name.c_str();
    }

    STDMETHODIMP_(D3DXHANDLE) GetConstantElement(D3DXHANDLE handle, UINT index) override
    {
        Target t;
        if (!resolve(handle, t) || t.elements != t.constant->elements || index >= t.constant->elements ||
            t.constant->registerSet == RegisterSet::Sampler)
            return nullptr;
        std::string key = t.constant->name + "[" + std::to_string(index) + "]";
        auto it = elementHandles_.find(key);
        if (it == elementHandles_.end())
            it = elementHandles_.emplace(key, key).first;
        return it->second.c_str();
    }

    STDMETHODIMP SetDefaults(IDirect3DDevice9* device) override
    {
        if (!device)
            return D3DERR_INVALIDCALL;
        for (const ShaderConstant& c : blob_.constants) {
            if (c.defaultValue.empty() || c.registerSet == RegisterSet::Sampler)
                continue;
            RegisterImage image(c.defaultValue.size() / 4);
            std::memcpy(image.data(), c.defaultValue.data(), image.size() * 4);
            HRESULT hr = push(device, c.registerSet, c.registerIndex, c.registerCount, image.data());
            if (FAILED(hr))
                return hr;
        }
        return D3D_OK;
    }

    STDMETHODIMP SetValue(IDirect3DDevice9* device, D3DXHANDLE handle, LPCVOID data, UINT bytes) override
    {
        Target t;
        if (!device || !resolve(handle, t) || (!data && bytes) || t.constant->registerSet == RegisterSet::Sampler)
            return D3DERR_INVALIDCALL;
        Scalar::Kind kind = t.constant->parameterType == D3DXPT_FLOAT ? Scalar::Float
                            : t.constant->parameterType == D3DXPT_BOOL ? Scalar::Bool
                                                                       : Scalar::Int;
        const uint8_t* bytesIn = static_cast<const uint8_t*>(data);
        return writePacked(device, t, bytes / 4, [kind, bytesIn](size_t i) {
            Scalar s{kind, 0};
            std::memcpy(&s.bits, bytesIn + i * 4, 4);
            return s;
        });
    }

    STDMETHODIMP SetBool(IDirect3DDevice9* device, D3DXHANDLE handle, BOOL b) override
    {
        return SetBoolArray(device, handle, &b, 1);
    }
    STDMETHODIMP SetBoolArray(IDirect3DDevice9* device, D3DXHANDLE handle, const BOOL* pb, UINT count) override
    {
        return setArray(device, handle, pb, count, [](BOOL b) { return Scalar::ofBool(b); });
    }
    STDMETHODIMP SetInt(IDirect3DDevice9* device, D3DXHANDLE handle, INT n) override
    {
        return SetIntArray(device, handle, &n, 1);
    }
    STDMETHODIMP SetIntArray(IDirect3DDevice9* device, D3DXHANDLE handle, const INT* pn, UINT count) override
    {
        return setArray(device, handle, pn, count, [](INT n) { return Scalar::ofInt(n); });
    }
    STDMETHODIMP SetFloat(IDirect3DDevice9* device, D3DXHANDLE handle, FLOAT f) override
    {
        return SetFloatArray(device, handle, &f, 1);
    }
    STDMETHODIMP SetFloatArray(IDirect3DDevice9* device, D3DXHANDLE handle, const FLOAT* pf, UINT count) override
    {
        return setArray(device, handle, pf, count, [](FLOAT f) { return Scalar::ofFloat(f); });
    }

    STDMETHODIMP SetVector(IDirect3DDevice9* device, D3DXHANDLE handle, const D3DXVECTOR4* v) override
    {
        return SetVectorArray(device, handle, v, 1);
    }
    STDMETHODIMP SetVectorArray(IDirect3DDevice9* device, D3DXHANDLE handle, const D3DXVECTOR4* v,
                                UINT count) override
    {
        Target t;
        if (!device || !resolve(handle, t) || (!v && count) || t.constant->registerSet == RegisterSet::Sampler)
            return D3DERR_INVALIDCALL;
        // One vector per register.
        std::vector<std::vector<Scalar>> regs;
        for (UINT i = 0; i < count && i < t.registerCount; ++i)
            regs.push_back({Scalar::ofFloat(v[i].x), Scalar::ofFloat(v[i].y), Scalar::ofFloat(v[i].z),
                            Scalar::ofFloat(v[i].w)});
        return writeRegisters(device, t, regs);
    }

    STDMETHODIMP SetMatrix(IDirect3DDevice9* device, D3DXHANDLE handle, const D3DXMATRIX* m) override
    {
        return SetMatrixArray(device, handle, m, 1);
    }
    STDMETHODIMP SetMatrixArray(IDirect3DDevice9* device, D3DXHANDLE handle, const D3DXMATRIX* m,
                                UINT count) override
    {
        return setMatrices(device, handle, count, [m](UINT i) { return m ? &m[i] : nullptr; }, false);
    }
    STDMETHODIMP SetMatrixPointerArray(IDirect3DDevice9* device, D3DXHANDLE handle, const D3DXMATRIX** m,
                                       UINT count) override
    {
        return setMatrices(device, handle, count, [m](UINT i) { return m ? m[i] : nullptr; }, false);
    }
    STDMETHODIMP SetMatrixTranspose(IDirect3DDevice9* device, D3DXHANDLE handle, const D3DXMATRIX* m) override
    {
        return SetMatrixTransposeArray(device, handle, m, 1);
    }
    STDMETHODIMP SetMatrixTransposeArray(IDirect3DDevice9* device, D3DXHANDLE handle, const D3DXMATRIX* m,
                                         UINT count) override
    {
        return setMatrices(device, handle, count, [m](UINT i) { return m ? &m[i] : nullptr; }, true);
    }
    STDMETHODIMP SetMatrixTransposePointerArray(IDirect3DDevice9* device, D3DXHANDLE handle,
                                                const D3DXMATRIX** m, UINT count) override
    {
        return setMatrices(device, handle, count, [m](UINT i) { return m ? m[i] : nullptr; }, true);
    }

private:
    friend ComObject;
    ~ConstantTable() = default;

    // Registers per element and components per register of a constant.
    static uint32_t registersPerElement(const ShaderConstant& c)
    {
        uint32_t e = c.elements ? c.elements : 1;
        return c.registerCount / e ? c.registerCount / e : 1;
    }
    static uint32_t componentsPerRegister(const ShaderConstant& c)
    {
        if (c.registerSet == RegisterSet::Bool)
            return 1;
        if (c.parameterClass == D3DXPC_MATRIX_COLUMNS)
            return c.rows;
        return c.columns;
    }

    bool resolve(D3DXHANDLE handle, Target& t) const
    {
        if (!handle)
            return false;
        const std::string_view name = handle;
        auto it = byName_.find(name);
        long element = -1;
        if (it == byName_.end()) {
            // "name[i]"
            size_t open = name.rfind('[');
            if (open == std::string_view::npos || name.size() < open + 3 || name.back() != ']')
                return false;
            element = 0;
            for (size_t k = open + 1; k + 1 < name.size(); ++k) {
                if (name[k] < '0' || name[k] > '9' || element > 100000)
                    return false;
                element = element * 10 + (name[k] - '0');
            }
            it = byName_.find(name.substr(0, open));
            if (it == byName_.end())
                return false;
        }
        const ShaderConstant& c = blob_.constants[it->second];
        t.constant = &c;
        if (element < 0) {
            t.firstRegister = c.registerIndex;
            t.registerCount = c.registerCount;
            t.elements = c.elements;
            return true;
        }
        if (uint32_t(element) >= c.elements || c.registerSet == RegisterSet::Sampler)
            return false;
        uint32_t per = registersPerElement(c);
        t.firstRegister = c.registerIndex + uint32_t(element) * per;
        t.registerCount = per;
        t.elements = 1;
        return true;
    }

    template <typename T, typename Convert>
    HRESULT setArray(IDirect3DDevice9* device, D3DXHANDLE handle, const T* values, UINT count, Convert convert)
    {
        Target t;
        if (!device || !resolve(handle, t) || (!values && count) || t.constant->registerSet == RegisterSet::Sampler)
            return D3DERR_INVALIDCALL;
        size_t limit = size_t(t.registerCount) * 4;
        return writePacked(device, t, std::min<size_t>(count, limit), [&](size_t i) { return convert(values[i]); });
    }

    // count values (get(i) gives value i) packed per register,
    // componentsPerRegister each, straight into the register image: this is
    // the path of every constant upload, so it allocates nothing for
    // constants that fit the register files.
    template <typename Get>
    HRESULT writePacked(IDirect3DDevice9* device, const Target& t, size_t count, Get get)
    {
        const uint32_t comps = std::max<uint32_t>(componentsPerRegister(*t.constant), 1);
        const size_t n = std::min<size_t>((count + comps - 1) / comps, t.registerCount);
        if (n == 0)
            return D3D_OK;
        const RegisterSet set = t.constant->registerSet;
        RegisterImage image(set == RegisterSet::Bool ? n : n * 4);
        uint32_t* words = image.data();
        for (size_t r = 0; r < n; ++r) {
            for (uint32_t k = 0; k < comps && k < 4 && r * comps + k < count; ++k) {
                const Scalar s = get(r * comps + k);
                if (set == RegisterSet::Bool) {
                    if (k == 0)
                        words[r] = s.asBool() ? 1 : 0;
                } else if (set == RegisterSet::Int4) {
                    words[r * 4 + k] = uint32_t(s.asInt());
                } else {
                    const float f = s.asFloat();
                    std::memcpy(&words[r * 4 + k], &f, 4);
                }
            }
        }
        return push(device, set, t.firstRegister, uint32_t(n), words);
    }

    template <typename Get>
    HRESULT setMatrices(IDirect3DDevice9* device, D3DXHANDLE handle, UINT count, Get get, bool transpose)
    {
        Target t;
        if (!device || !resolve(handle, t) || t.constant->registerSet == RegisterSet::Sampler)
            return D3DERR_INVALIDCALL;
        const ShaderConstant& c = *t.constant;
        bool isMatrix = c.parameterClass == D3DXPC_MATRIX_COLUMNS || c.parameterClass == D3DXPC_MATRIX_ROWS;
        uint32_t rows = isMatrix ? c.rows : 4, cols = isMatrix ? c.columns : 4;
        bool byColumn = c.parameterClass == D3DXPC_MATRIX_COLUMNS;
        uint32_t per = isMatrix ? registersPerElement(c) : 4;
        std::vector<std::vector<Scalar>> regs;
        for (UINT i = 0; i < count && regs.size() < t.registerCount; ++i) {
            const D3DXMATRIX* m = get(i);
            if (!m)
                return D3DERR_INVALIDCALL;
            auto at = [&](uint32_t r, uint32_t k) { return transpose ? m->m[k][r] : m->m[r][k]; };
            for (uint32_t reg = 0; reg < per && regs.size() < t.registerCount; ++reg) {
                std::vector<Scalar> v;
                uint32_t n = byColumn ? rows : cols;
                for (uint32_t k = 0; k < n; ++k)
                    v.push_back(Scalar::ofFloat(byColumn ? at(k, reg) : at(reg, k)));
                regs.push_back(std::move(v));
            }
        }
        return writeRegisters(device, t, regs);
    }

    // Whole registers from the first register of the target on.
    HRESULT writeRegisters(IDirect3DDevice9* device, const Target& t, const std::vector<std::vector<Scalar>>& regs)
    {
        if (regs.empty())
            return D3D_OK;
        RegisterSet set = t.constant->registerSet;
        uint32_t n = uint32_t(std::min<size_t>(regs.size(), t.registerCount));
        std::vector<uint32_t> image(set == RegisterSet::Bool ? n : size_t(n) * 4, 0);
        for (uint32_t r = 0; r < n; ++r) {
            for (size_t k = 0; k < regs[r].size() && k < 4; ++k) {
                const Scalar& s = regs[r][k];
                if (set == RegisterSet::Bool) {
                    if (k == 0)
                        image[r] = s.asBool() ? 1 : 0;
                } else if (set == RegisterSet::Int4) {
                    image[r * 4 + k] = uint32_t(s.asInt());
                } else {
                    float f = s.asFloat();
                    std::memcpy(&image[r * 4 + k], &f, 4);
                }
            }
        }
        return push(device, set, t.firstRegister, n, image.data());
    }

    // Register contents as 32-bit words: 4 per float or int register, 1 per
    // bool register.
    HRESULT push(IDirect3DDevice9* device, RegisterSet set, uint32_t first, uint32_t count, const uint32_t* words)
    {
        const bool vertex = blob_.stage == ShaderStage::Vertex;
        switch (set) {
        case RegisterSet::Float4:
            return withValues<float>(words, size_t(count) * 4, [&](const float* f) {
                return vertex ? device->SetVertexShaderConstantF(first, f, count)
                              : device->SetPixelShaderConstantF(first, f, count);
            });
        case RegisterSet::Int4:
            return withValues<int>(words, size_t(count) * 4, [&](const int* v) {
                return vertex ? device->SetVertexShaderConstantI(first, v, count)
                              : device->SetPixelShaderConstantI(first, v, count);
            });
        case RegisterSet::Bool:
            return withValues<BOOL>(words, count, [&](const BOOL* v) {
                return vertex ? device->SetVertexShaderConstantB(first, v, count)
                              : device->SetPixelShaderConstantB(first, v, count);
            });
        default:
            return D3DERR_INVALIDCALL;
        }
    }

    // The words as an array of T, bit for bit, handed to call.
    template <typename T, typename Call>
    static HRESULT withValues(const uint32_t* words, size_t count, Call call)
    {
        static_assert(sizeof(T) == 4);
        constexpr size_t kInline = 256 * 4;
        if (count > kInline) {
            std::vector<T> heap(count);
            std::memcpy(heap.data(), words, count * 4);
            return call(heap.data());
        }
        T values[kInline];
        std::memcpy(values, words, count * 4);
        return call(values);
    }

    std::vector<DWORD> words_;
    ShaderBlob blob_;
    std::map<std::string, size_t, std::less<>> byName_;
    std::map<std::string, std::string> elementHandles_;
};

} // namespace

HRESULT WINAPI D3DXGetShaderConstantTable(const DWORD* pFunction, LPD3DXCONSTANTTABLE* ppConstantTable)
{
    if (!ppConstantTable)
        return D3DERR_INVALIDCALL;
    *ppConstantTable = nullptr;
    size_t size = platform::d3d9::shaderBlobSize(pFunction);
    ShaderBlob blob;
    if (size == 0 || !platform::d3d9::parseShaderBlob(pFunction, size, blob))
        return D3DXERR_INVALIDDATA;
    std::vector<DWORD> words(pFunction, pFunction + size / 4);
    ConstantTable* table = new (std::nothrow) ConstantTable(std::move(words), std::move(blob));
    if (!table)
        return E_OUTOFMEMORY;
    *ppConstantTable = table;
    return D3D_OK;
}
