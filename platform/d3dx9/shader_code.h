// Queries on compiled shader code (the blobs the effect compiler makes).
#pragma once

#include "platform/d3dx9/d3dx9_defs.h"

// The names of the shader's samplers: pSamplers[i] is the sampler on
// register s<i> (texture unit i), "" for a register no sampler uses. The
// names point into the code. *pCount gets the number of entries (at most
// 16); pSamplers may be null to ask for the count.
HRESULT WINAPI D3DXGetShaderSamplers(const DWORD* pFunction, LPCSTR* pSamplers, UINT* pCount);

// Size in bytes of the code, 0 when it is not compiled code.
UINT WINAPI D3DXGetShaderSize(const DWORD* pFunction);

// The version token (D3DVS_VERSION/D3DPS_VERSION), 0 when not compiled code.
DWORD WINAPI D3DXGetShaderVersion(const DWORD* pFunction);
