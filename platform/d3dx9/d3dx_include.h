// ID3DXInclude: the caller's opener of #include files.
#pragma once

#include "platform/d3dx9/d3dx9_defs.h"

class ID3DXInclude {
public:
    // Every successful Open is followed by one Close of the data it gave.
    // The data need not be NUL-terminated; its length is *pBytes.
    STDMETHOD(Open)(D3DXINCLUDE_TYPE includeType, LPCSTR pFileName, LPCVOID pParentData, LPCVOID* ppData,
                    UINT* pBytes) PURE;
    STDMETHOD(Close)(LPCVOID pData) PURE;

    virtual ~ID3DXInclude() = default;
};

typedef ID3DXInclude* LPD3DXINCLUDE;
