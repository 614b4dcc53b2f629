#include "platform/d3dx9/shader_code.h"

#include "platform/d3d9/shader_blob.h"

#include <algorithm>

HRESULT WINAPI D3DXGetShaderSamplers(const DWORD* pFunction, LPCSTR* pSamplers, UINT* pCount)
{
    using namespace platform::d3d9;
    if (!pCount)
        return D3DERR_INVALIDCALL;
    *pCount = 0;
    size_t size = shaderBlobSize(pFunction);
    ShaderBlob blob;
    if (size == 0 || !parseShaderBlob(pFunction, size, blob))
        return D3DXERR_INVALIDDATA;
    UINT count = 0;
    for (const ShaderSampler& s : blob.samplers)
        count = std::max<UINT>(count, s.registerIndex + 1);
    if (pSamplers) {
        for (UINT i = 0; i < count; ++i)
            pSamplers[i] = "";
        const char* base = reinterpret_cast<const char*>(pFunction);
        for (const ShaderSampler& s : blob.samplers)
            pSamplers[s.registerIndex] = base + s.nameOffset;
    }
    *pCount = count;
    return D3D_OK;
}

UINT WINAPI D3DXGetShaderSize(const DWORD* pFunction)
{
    return UINT(platform::d3d9::shaderBlobSize(pFunction));
}

DWORD WINAPI D3DXGetShaderVersion(const DWORD* pFunction)
{
    return platform::d3d9::shaderBlobVersion(pFunction);
}
