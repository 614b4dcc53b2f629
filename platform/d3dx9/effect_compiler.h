// ID3DXEffectCompiler: an effect (.fx text) parsed once, whose functions
// compile to vertex and pixel shaders on demand. Parameters marked literal
// are compiled in as constants with their current values, so each set of
// values gives its own specialised shader.
#pragma once

#include "platform/com/unknwn.h"
#include "platform/d3dx9/constant_table.h"
#include "platform/d3dx9/d3dx9_defs.h"
#include "platform/d3dx9/d3dx_buffer.h"
#include "platform/d3dx9/d3dx_include.h"
#include "platform/d3dx9/effect_prepass.h"

#include <string>
#include <utility>
#include <vector>

DEFINE_GUID(IID_ID3DXEffectCompiler, 0x51b8a949, 0x1a31, 0x47e6, 0xbe, 0xa0, 0x4b, 0x30, 0xdb, 0x53, 0xf1, 0xe0);

class ID3DXEffectCompiler : public IUnknown {
public:
    // Parameters: the effect's non-static globals, in declaration order.
    STDMETHOD(GetParameterDesc)(D3DXHANDLE hParameter, D3DXPARAMETER_DESC* pDesc) PURE;
    STDMETHOD_(D3DXHANDLE, GetParameter)(D3DXHANDLE hParameter, UINT Index) PURE;
    STDMETHOD_(D3DXHANDLE, GetParameterByName)(D3DXHANDLE hParameter, LPCSTR pName) PURE;
    STDMETHOD(SetValue)(D3DXHANDLE hParameter, LPCVOID pData, UINT Bytes) PURE;
    STDMETHOD(GetValue)(D3DXHANDLE hParameter, LPVOID pData, UINT Bytes) PURE;
    STDMETHOD(SetBool)(D3DXHANDLE hParameter, BOOL b) PURE;
    STDMETHOD(GetBool)(D3DXHANDLE hParameter, BOOL* pb) PURE;
    STDMETHOD(SetBoolArray)(D3DXHANDLE hParameter, const BOOL* pb, UINT Count) PURE;
    STDMETHOD(SetInt)(D3DXHANDLE hParameter, INT n) PURE;
    STDMETHOD(GetInt)(D3DXHANDLE hParameter, INT* pn) PURE;
    STDMETHOD(SetIntArray)(D3DXHANDLE hParameter, const INT* pn, UINT Count) PURE;
    STDMETHOD(SetFloat)(D3DXHANDLE hParameter, FLOAT f) PURE;
    STDMETHOD(GetFloat)(D3DXHANDLE hParameter, FLOAT* pf) PURE;
    STDMETHOD(SetFloatArray)(D3DXHANDLE hParameter, const FLOAT* pf, UINT Count) PURE;

    STDMETHOD(SetLiteral)(D3DXHANDLE hParameter, BOOL Literal) PURE;
    STDMETHOD(GetLiteral)(D3DXHANDLE hParameter, BOOL* pLiteral) PURE;
    STDMETHOD(CompileEffect)(DWORD Flags, ID3DXBuffer** ppEffect, ID3DXBuffer** ppErrorMsgs) PURE;
    // hFunction: the function's name. A function the effect lacks fails.
    // Two threads may compile shaders of one effect at once, while no
    // other method is called.
    STDMETHOD(CompileShader)(D3DXHANDLE hFunction, LPCSTR pTarget, DWORD Flags, ID3DXBuffer** ppShader,
                             ID3DXBuffer** ppErrorMsgs, ID3DXConstantTable** ppConstantTable) PURE;

protected:
    ~ID3DXEffectCompiler() = default;
};

typedef ID3DXEffectCompiler* LPD3DXEFFECTCOMPILER;

// Parses the effect. On failure *ppCompilerErrors (when given) gets the
// messages, "(line,col): error ..." for the effect's own lines and
// "file(line,col): error ..." for included ones.
HRESULT WINAPI D3DXCreateEffectCompiler(LPCSTR pSrcData, UINT SrcDataLen, const D3DXMACRO* pDefines,
                                        LPD3DXINCLUDE pInclude, DWORD Flags, LPD3DXEFFECTCOMPILER* ppCompiler,
                                        LPD3DXBUFFER* ppCompilerErrors);

namespace platform::d3dx9 {

// What the effect declared beyond its HLSL: the sampler_state defaults of
// its samplers and its techniques (empty for anything not made by
// D3DXCreateEffectCompiler).
std::vector<EffectSamplerState> effectSamplerStates(ID3DXEffectCompiler* compiler);
std::vector<EffectTechnique> effectTechniques(ID3DXEffectCompiler* compiler);

// Checks and compiles run in helper processes on a budget (see
// compile_helper.h). With this set, compiles run in this process instead:
// for the fuzzer, which sees no coverage from another process. The budget
// is then the fuzzer's own timeout; the bound on inlining still holds.
void setCompilesInProcess(bool inProcess);

} // namespace platform::d3dx9
