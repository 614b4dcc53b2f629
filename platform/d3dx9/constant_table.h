// ID3DXConstantTable: the constants of one compiled shader by name, written
// through the device's Set{Vertex,Pixel}ShaderConstant{F,I,B} in the
// shader's register layout.
//
// Data given to SetValue and the Set*Array calls are packed the way the
// registers hold them: one register per array element, per matrix column
// (column_major, the default) or row (row_major), each register taking as
// many values as it has components (a float3 three, a float4x3 column
// four); components a register does not use are written as 0. A handle is
// a constant's name, "name[i]" for an element, or what GetConstant* gave.
#pragma once

#include "platform/d3d9/d3d9_interfaces.h"
#include "platform/d3dx9/d3dx9_defs.h"
#include "platform/d3dx9/d3dx_buffer.h"
#include "platform/d3dx9/d3dx_math.h"

DEFINE_GUID(IID_ID3DXConstantTable, 0xab3c758f, 0x93e, 0x4356, 0xb7, 0x62, 0x4d, 0xb1, 0x8f, 0x1b, 0x3a, 0x1);

class ID3DXConstantTable : public ID3DXBuffer {
public:
    STDMETHOD(GetDesc)(D3DXCONSTANTTABLE_DESC* pDesc) PURE;
    STDMETHOD(GetConstantDesc)(D3DXHANDLE hConstant, D3DXCONSTANT_DESC* pConstantDesc, UINT* pCount) PURE;
    STDMETHOD_(UINT, GetSamplerIndex)(D3DXHANDLE hConstant) PURE;
    STDMETHOD_(D3DXHANDLE, GetConstant)(D3DXHANDLE hConstant, UINT Index) PURE;
    STDMETHOD_(D3DXHANDLE, GetConstantByName)(D3DXHANDLE hConstant, LPCSTR pName) PURE;
    STDMETHOD_(D3DXHANDLE, GetConstantElement)(D3DXHANDLE hConstant, UINT Index) PURE;
    STDMETHOD(SetDefaults)(IDirect3DDevice9* pDevice) PURE;
    STDMETHOD(SetValue)(IDirect3DDevice9* pDevice, D3DXHANDLE hConstant, LPCVOID pData, UINT Bytes) PURE;
    STDMETHOD(SetBool)(IDirect3DDevice9* pDevice, D3DXHANDLE hConstant, BOOL b) PURE;
    STDMETHOD(SetBoolArray)(IDirect3DDevice9* pDevice, D3DXHANDLE hConstant, const BOOL* pb, UINT Count) PURE;
    STDMETHOD(SetInt)(IDirect3DDevice9* pDevice, D3DXHANDLE hConstant, INT n) PURE;
    STDMETHOD(SetIntArray)(IDirect3DDevice9* pDevice, D3DXHANDLE hConstant, const INT* pn, UINT Count) PURE;
    STDMETHOD(SetFloat)(IDirect3DDevice9* pDevice, D3DXHANDLE hConstant, FLOAT f) PURE;
    STDMETHOD(SetFloatArray)(IDirect3DDevice9* pDevice, D3DXHANDLE hConstant, const FLOAT* pf, UINT Count) PURE;
    STDMETHOD(SetVector)(IDirect3DDevice9* pDevice, D3DXHANDLE hConstant, const D3DXVECTOR4* pVector) PURE;
    STDMETHOD(SetVectorArray)(IDirect3DDevice9* pDevice, D3DXHANDLE hConstant, const D3DXVECTOR4* pVector,
                              UINT Count) PURE;
    STDMETHOD(SetMatrix)(IDirect3DDevice9* pDevice, D3DXHANDLE hConstant, const D3DXMATRIX* pMatrix) PURE;
    STDMETHOD(SetMatrixArray)(IDirect3DDevice9* pDevice, D3DXHANDLE hConstant, const D3DXMATRIX* pMatrix,
                              UINT Count) PURE;
    STDMETHOD(SetMatrixPointerArray)(IDirect3DDevice9* pDevice, D3DXHANDLE hConstant, const D3DXMATRIX** ppMatrix,
                                     UINT Count) PURE;
    STDMETHOD(SetMatrixTranspose)(IDirect3DDevice9* pDevice, D3DXHANDLE hConstant, const D3DXMATRIX* pMatrix) PURE;
    STDMETHOD(SetMatrixTransposeArray)(IDirect3DDevice9* pDevice, D3DXHANDLE hConstant, const D3DXMATRIX* pMatrix,
                                       UINT Count) PURE;
    STDMETHOD(SetMatrixTransposePointerArray)(IDirect3DDevice9* pDevice, D3DXHANDLE hConstant,
                                              const D3DXMATRIX** ppMatrix, UINT Count) PURE;

protected:
    ~ID3DXConstantTable() = default;
};

typedef ID3DXConstantTable* LPD3DXCONSTANTTABLE;

// The constant table of compiled code (a blob the effect compiler made).
HRESULT WINAPI D3DXGetShaderConstantTable(const DWORD* pFunction, LPD3DXCONSTANTTABLE* ppConstantTable);
