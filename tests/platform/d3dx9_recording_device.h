// A Direct3D 9 device that only keeps shader constant registers, for the
// constant table tests: every Set{Vertex,Pixel}ShaderConstant{F,I,B} call is
// recorded and applied to register files; every other method fails.
#pragma once

#include <d3d9.h>

#include <cstring>
#include <vector>

class RecordingDevice final : public IDirect3DDevice9 {
public:
    struct Call {
        bool vertex;
        char set;  // 'F', 'I' or 'B'
        UINT start;
        UINT count;
    };

    std::vector<Call> calls;
    float vsFloat[256][4] = {};
    float psFloat[224][4] = {};
    int vsInt[16][4] = {};
    int psInt[16][4] = {};
    BOOL vsBool[16] = {};
    BOOL psBool[16] = {};

    STDMETHODIMP QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    STDMETHODIMP SetVertexShaderConstantF(UINT start, const float* data, UINT count) override
    {
        return set(true, 'F', start, count, 256, &vsFloat[0][0], data, 4);
    }
    STDMETHODIMP SetPixelShaderConstantF(UINT start, const float* data, UINT count) override
    {
        return set(false, 'F', start, count, 224, &psFloat[0][0], data, 4);
    }
    STDMETHODIMP SetVertexShaderConstantI(UINT start, const int* data, UINT count) override
    {
        return set(true, 'I', start, count, 16, &vsInt[0][0], data, 4);
    }
    STDMETHODIMP SetPixelShaderConstantI(UINT start, const int* data, UINT count) override
    {
        return set(false, 'I', start, count, 16, &psInt[0][0], data, 4);
    }
    STDMETHODIMP SetVertexShaderConstantB(UINT start, const BOOL* data, UINT count) override
    {
        return set(true, 'B', start, count, 16, vsBool, data, 1);
    }
    STDMETHODIMP SetPixelShaderConstantB(UINT start, const BOOL* data, UINT count) override
    {
        return set(false, 'B', start, count, 16, psBool, data, 1);
    }

    STDMETHODIMP TestCooperativeLevel() override { return E_NOTIMPL; }
    STDMETHODIMP_(UINT) GetAvailableTextureMem() override { return {}; }
    STDMETHODIMP EvictManagedResources() override { return E_NOTIMPL; }
    STDMETHODIMP GetDirect3D(IDirect3D9**) override { return E_NOTIMPL; }
    STDMETHODIMP GetDeviceCaps(D3DCAPS9*) override { return E_NOTIMPL; }
    STDMETHODIMP GetDisplayMode(UINT, D3DDISPLAYMODE*) override { return E_NOTIMPL; }
    STDMETHODIMP GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS*) override { return E_NOTIMPL; }
    STDMETHODIMP SetCursorProperties(UINT, UINT, IDirect3DSurface9*) override { return E_NOTIMPL; }
    STDMETHODIMP_(void) SetCursorPosition(int, int, DWORD) override { }
    STDMETHODIMP_(BOOL) ShowCursor(BOOL) override { return {}; }
    STDMETHODIMP CreateAdditionalSwapChain(D3DPRESENT_PARAMETERS*, IDirect3DSwapChain9**) override { return E_NOTIMPL; }
    STDMETHODIMP GetSwapChain(UINT, IDirect3DSwapChain9**) override { return E_NOTIMPL; }
    STDMETHODIMP_(UINT) GetNumberOfSwapChains() override { return {}; }
    STDMETHODIMP Reset(D3DPRESENT_PARAMETERS*) override { return E_NOTIMPL; }
    STDMETHODIMP Present(const RECT*, const RECT*, HWND, const RGNDATA*) override { return E_NOTIMPL; }
    STDMETHODIMP GetBackBuffer(UINT, UINT, D3DBACKBUFFER_TYPE, IDirect3DSurface9**) override { return E_NOTIMPL; }
    STDMETHODIMP GetRasterStatus(UINT, D3DRASTER_STATUS*) override { return E_NOTIMPL; }
    STDMETHODIMP SetDialogBoxMode(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP_(void) SetGammaRamp(UINT, DWORD, const D3DGAMMARAMP*) override { }
    STDMETHODIMP_(void) GetGammaRamp(UINT, D3DGAMMARAMP*) override { }
    STDMETHODIMP CreateTexture(UINT, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DTexture9**, HANDLE*) override { return E_NOTIMPL; }
    STDMETHODIMP CreateVolumeTexture(UINT, UINT, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DVolumeTexture9**, HANDLE*) override { return E_NOTIMPL; }
    STDMETHODIMP CreateCubeTexture(UINT, UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DCubeTexture9**, HANDLE*) override { return E_NOTIMPL; }
    STDMETHODIMP CreateVertexBuffer(UINT, DWORD, DWORD, D3DPOOL, IDirect3DVertexBuffer9**, HANDLE*) override { return E_NOTIMPL; }
    STDMETHODIMP CreateIndexBuffer(UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DIndexBuffer9**, HANDLE*) override { return E_NOTIMPL; }
    STDMETHODIMP CreateRenderTarget(UINT, UINT, D3DFORMAT, D3DMULTISAMPLE_TYPE, DWORD, BOOL, IDirect3DSurface9**, HANDLE*) override { return E_NOTIMPL; }
    STDMETHODIMP CreateDepthStencilSurface(UINT, UINT, D3DFORMAT, D3DMULTISAMPLE_TYPE, DWORD, BOOL, IDirect3DSurface9**, HANDLE*) override { return E_NOTIMPL; }
    STDMETHODIMP UpdateSurface(IDirect3DSurface9*, const RECT*, IDirect3DSurface9*, const POINT*) override { return E_NOTIMPL; }
    STDMETHODIMP UpdateTexture(IDirect3DBaseTexture9*, IDirect3DBaseTexture9*) override { return E_NOTIMPL; }
    STDMETHODIMP GetRenderTargetData(IDirect3DSurface9*, IDirect3DSurface9*) override { return E_NOTIMPL; }
    STDMETHODIMP GetFrontBufferData(UINT, IDirect3DSurface9*) override { return E_NOTIMPL; }
    STDMETHODIMP StretchRect(IDirect3DSurface9*, const RECT*, IDirect3DSurface9*, const RECT*, D3DTEXTUREFILTERTYPE) override { return E_NOTIMPL; }
    STDMETHODIMP ColorFill(IDirect3DSurface9*, const RECT*, D3DCOLOR) override { return E_NOTIMPL; }
    STDMETHODIMP CreateOffscreenPlainSurface(UINT, UINT, D3DFORMAT, D3DPOOL, IDirect3DSurface9**, HANDLE*) override { return E_NOTIMPL; }
    STDMETHODIMP SetRenderTarget(DWORD, IDirect3DSurface9*) override { return E_NOTIMPL; }
    STDMETHODIMP GetRenderTarget(DWORD, IDirect3DSurface9**) override { return E_NOTIMPL; }
    STDMETHODIMP SetDepthStencilSurface(IDirect3DSurface9*) override { return E_NOTIMPL; }
    STDMETHODIMP GetDepthStencilSurface(IDirect3DSurface9**) override { return E_NOTIMPL; }
    STDMETHODIMP BeginScene() override { return E_NOTIMPL; }
    STDMETHODIMP EndScene() override { return E_NOTIMPL; }
    STDMETHODIMP Clear(DWORD, const D3DRECT*, DWORD, D3DCOLOR, float, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP SetTransform(D3DTRANSFORMSTATETYPE, const D3DMATRIX*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTransform(D3DTRANSFORMSTATETYPE, D3DMATRIX*) override { return E_NOTIMPL; }
    STDMETHODIMP MultiplyTransform(D3DTRANSFORMSTATETYPE, const D3DMATRIX*) override { return E_NOTIMPL; }
    STDMETHODIMP SetViewport(const D3DVIEWPORT9*) override { return E_NOTIMPL; }
    STDMETHODIMP GetViewport(D3DVIEWPORT9*) override { return E_NOTIMPL; }
    STDMETHODIMP SetMaterial(const D3DMATERIAL9*) override { return E_NOTIMPL; }
    STDMETHODIMP GetMaterial(D3DMATERIAL9*) override { return E_NOTIMPL; }
    STDMETHODIMP SetLight(DWORD, const D3DLIGHT9*) override { return E_NOTIMPL; }
    STDMETHODIMP GetLight(DWORD, D3DLIGHT9*) override { return E_NOTIMPL; }
    STDMETHODIMP LightEnable(DWORD, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP GetLightEnable(DWORD, BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP SetClipPlane(DWORD, const float*) override { return E_NOTIMPL; }
    STDMETHODIMP GetClipPlane(DWORD, float*) override { return E_NOTIMPL; }
    STDMETHODIMP SetRenderState(D3DRENDERSTATETYPE, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetRenderState(D3DRENDERSTATETYPE, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP CreateStateBlock(D3DSTATEBLOCKTYPE, IDirect3DStateBlock9**) override { return E_NOTIMPL; }
    STDMETHODIMP BeginStateBlock() override { return E_NOTIMPL; }
    STDMETHODIMP EndStateBlock(IDirect3DStateBlock9**) override { return E_NOTIMPL; }
    STDMETHODIMP SetClipStatus(const D3DCLIPSTATUS9*) override { return E_NOTIMPL; }
    STDMETHODIMP GetClipStatus(D3DCLIPSTATUS9*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTexture(DWORD, IDirect3DBaseTexture9**) override { return E_NOTIMPL; }
    STDMETHODIMP SetTexture(DWORD, IDirect3DBaseTexture9*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTextureStageState(DWORD, D3DTEXTURESTAGESTATETYPE, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP SetTextureStageState(DWORD, D3DTEXTURESTAGESTATETYPE, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetSamplerState(DWORD, D3DSAMPLERSTATETYPE, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP SetSamplerState(DWORD, D3DSAMPLERSTATETYPE, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP ValidateDevice(DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP SetPaletteEntries(UINT, const PALETTEENTRY*) override { return E_NOTIMPL; }
    STDMETHODIMP GetPaletteEntries(UINT, PALETTEENTRY*) override { return E_NOTIMPL; }
    STDMETHODIMP SetCurrentTexturePalette(UINT) override { return E_NOTIMPL; }
    STDMETHODIMP GetCurrentTexturePalette(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP SetScissorRect(const RECT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetScissorRect(RECT*) override { return E_NOTIMPL; }
    STDMETHODIMP SetSoftwareVertexProcessing(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP_(BOOL) GetSoftwareVertexProcessing() override { return {}; }
    STDMETHODIMP SetNPatchMode(float) override { return E_NOTIMPL; }
    STDMETHODIMP_(float) GetNPatchMode() override { return {}; }
    STDMETHODIMP DrawPrimitive(D3DPRIMITIVETYPE, UINT, UINT) override { return E_NOTIMPL; }
    STDMETHODIMP DrawIndexedPrimitive(D3DPRIMITIVETYPE, INT, UINT, UINT, UINT, UINT) override { return E_NOTIMPL; }
    STDMETHODIMP DrawPrimitiveUP(D3DPRIMITIVETYPE, UINT, const void*, UINT) override { return E_NOTIMPL; }
    STDMETHODIMP DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE, UINT, UINT, UINT, const void*, D3DFORMAT, const void*, UINT) override { return E_NOTIMPL; }
    STDMETHODIMP ProcessVertices(UINT, UINT, UINT, IDirect3DVertexBuffer9*, IDirect3DVertexDeclaration9*, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP CreateVertexDeclaration(const D3DVERTEXELEMENT9*, IDirect3DVertexDeclaration9**) override { return E_NOTIMPL; }
    STDMETHODIMP SetVertexDeclaration(IDirect3DVertexDeclaration9*) override { return E_NOTIMPL; }
    STDMETHODIMP GetVertexDeclaration(IDirect3DVertexDeclaration9**) override { return E_NOTIMPL; }
    STDMETHODIMP SetFVF(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetFVF(DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP CreateVertexShader(const DWORD*, IDirect3DVertexShader9**) override { return E_NOTIMPL; }
    STDMETHODIMP SetVertexShader(IDirect3DVertexShader9*) override { return E_NOTIMPL; }
    STDMETHODIMP GetVertexShader(IDirect3DVertexShader9**) override { return E_NOTIMPL; }
    STDMETHODIMP GetVertexShaderConstantF(UINT, float*, UINT) override { return E_NOTIMPL; }
    STDMETHODIMP GetVertexShaderConstantI(UINT, int*, UINT) override { return E_NOTIMPL; }
    STDMETHODIMP GetVertexShaderConstantB(UINT, BOOL*, UINT) override { return E_NOTIMPL; }
    STDMETHODIMP SetStreamSource(UINT, IDirect3DVertexBuffer9*, UINT, UINT) override { return E_NOTIMPL; }
    STDMETHODIMP GetStreamSource(UINT, IDirect3DVertexBuffer9**, UINT*, UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP SetStreamSourceFreq(UINT, UINT) override { return E_NOTIMPL; }
    STDMETHODIMP GetStreamSourceFreq(UINT, UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP SetIndices(IDirect3DIndexBuffer9*) override { return E_NOTIMPL; }
    STDMETHODIMP GetIndices(IDirect3DIndexBuffer9**) override { return E_NOTIMPL; }
    STDMETHODIMP CreatePixelShader(const DWORD*, IDirect3DPixelShader9**) override { return E_NOTIMPL; }
    STDMETHODIMP SetPixelShader(IDirect3DPixelShader9*) override { return E_NOTIMPL; }
    STDMETHODIMP GetPixelShader(IDirect3DPixelShader9**) override { return E_NOTIMPL; }
    STDMETHODIMP GetPixelShaderConstantF(UINT, float*, UINT) override { return E_NOTIMPL; }
    STDMETHODIMP GetPixelShaderConstantI(UINT, int*, UINT) override { return E_NOTIMPL; }
    STDMETHODIMP GetPixelShaderConstantB(UINT, BOOL*, UINT) override { return E_NOTIMPL; }
    STDMETHODIMP DrawRectPatch(UINT, const float*, const D3DRECTPATCH_INFO*) override { return E_NOTIMPL; }
    STDMETHODIMP DrawTriPatch(UINT, const float*, const D3DTRIPATCH_INFO*) override { return E_NOTIMPL; }
    STDMETHODIMP DeletePatch(UINT) override { return E_NOTIMPL; }
    STDMETHODIMP CreateQuery(D3DQUERYTYPE, IDirect3DQuery9**) override { return E_NOTIMPL; }
private:
    template <typename T>
    HRESULT set(bool vertex, char kind, UINT start, UINT count, UINT limit, T* file, const T* data, UINT per)
    {
        if (!data || start > limit || count > limit - start)
            return D3DERR_INVALIDCALL;
        calls.push_back({vertex, kind, start, count});
        std::memcpy(file + size_t(start) * per, data, sizeof(T) * per * count);
        return D3D_OK;
    }
};
