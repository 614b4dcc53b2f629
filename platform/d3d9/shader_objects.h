// Vertex and pixel shader objects made from the effect compiler's blobs,
// and the GL programs the device links from a (vertex, pixel) pair.
#pragma once

#include "platform/d3d9/device_child.h"
#include "platform/d3d9/gl_context.h"
#include "platform/d3d9/shader_blob.h"

#include <vector>

namespace platform::d3d9 {

// Uniform-buffer binding points of the translated shaders' register blocks
// (the fixed-function pipeline uses kFixedFunctionUniformBinding).
constexpr GLuint kVertexConstantsBinding = 0;
constexpr GLuint kPixelConstantsBinding = 1;
// The uniform added to translated vertex shaders for user clip planes.
constexpr const char* kClipPlanesUniform = "dx_ClipPlanes";

// What both shader kinds keep: the code as given and its parsed blob.
class ShaderCode {
public:
    ShaderCode(ShaderBlob blob, const void* code, size_t size);
    const ShaderBlob& blob() const { return m_blob; }
    HRESULT getFunction(void* data, UINT* size) const;
    // The compiled GL shader (made on first use with a context current);
    // 0 when compiling failed (logged once). A pixel shader comes in eight
    // variants: reading its interpolated inputs at the fill-rule offset
    // (filled triangles) or plainly (points and lines), each with or
    // without the alpha test and with or without table fog; a vertex
    // shader has one. Without the test the shader has no discard, so the
    // rasteriser may test and write depth and stencil before shading:
    // hidden and stencilled-out pixels then cost almost nothing.
    GLuint glShader(bool offsetInputs = true, bool alphaTest = true, bool tableFog = true);
    void deleteGlShader();

private:
    ShaderBlob m_blob;
    std::vector<unsigned char> m_code;
    GLuint m_shader[8] = {};
    bool m_failed[8] = {};
};

class VertexShader final : public DeviceChild<IDirect3DVertexShader9>, public ShaderCode {
public:
    VertexShader(Device* device, ShaderBlob blob, const void* code, size_t size);
    ~VertexShader() override;
    STDMETHODIMP QueryInterface(REFIID riid, void** ppvObject) override;
    STDMETHODIMP GetFunction(void* pData, UINT* pSizeOfData) override { return getFunction(pData, pSizeOfData); }
};

class PixelShader final : public DeviceChild<IDirect3DPixelShader9>, public ShaderCode {
public:
    PixelShader(Device* device, ShaderBlob blob, const void* code, size_t size);
    ~PixelShader() override;
    STDMETHODIMP QueryInterface(REFIID riid, void** ppvObject) override;
    STDMETHODIMP GetFunction(void* pData, UINT* pSizeOfData) override { return getFunction(pData, pSizeOfData); }
};

VertexShader* asVertexShader(IDirect3DVertexShader9* shader);
PixelShader* asPixelShader(IDirect3DPixelShader9* shader);

// A linked (vertex, pixel) pair with its register blocks.
struct ShaderProgram {
    GLuint program = 0; // 0: linking failed (logged)
    const ShaderBlob* vertex = nullptr;
    const ShaderBlob* pixel = nullptr;
    GLint posFixup = -1;
    GLint clipPlanes = -1;
    GLint alphaFunc = -1;
    GLint alphaRef = -1;
    GLint inputOffset = -1;
    float lastInputOffset = 0.0f;
    int lastAlphaFunc = -1;
    int lastAlphaRef = -1;
    GLint fogMode = -1; // dx_FogMode, dx_FogColor, dx_FogParams
    GLint fogColor = -1;
    GLint fogParams = -1;
    int lastFogMode = -1;
    float lastFogColor[4] = {};
    float lastFogParams[4] = {};
    float lastClipPlanes[6][4] = {}; // as uploaded: planes that are off are zero
    bool clipUploaded = false;
    GLuint vertexBuffer = 0; // uniform buffers of the register blocks
    GLuint pixelBuffer = 0;
    std::vector<unsigned char> vertexData;
    std::vector<unsigned char> pixelData;
    float lastPosFixup[2] = {0.0f, 0.0f};
    bool constantsUploaded = false;

    ~ShaderProgram();
};

// Links a program (context current). The vertex source gets the user
// clip-plane outputs added when it has none.
std::unique_ptr<ShaderProgram> linkShaderProgram(VertexShader& vs, PixelShader& ps, bool offsetInputs,
                                                 bool alphaTest, bool tableFog);
// The vertex GLSL with gl_ClipDistance[0..5] written from dx_ClipPlanes
// (clip-space planes) at the end of main.
std::string addClipDistances(const std::string& source);
// The pixel GLSL with Direct3D's alpha test on its colour output 0 at the
// end of main (dx_AlphaFunc: a D3DCMP_* value, 0 for no test; dx_AlphaRef:
// 0..255). Unchanged when the output cannot be found.
std::string addAlphaTest(const std::string& source);
// The pixel GLSL with Direct3D's table fog blended into its colour output 0
// at the end of main, as the fixed-function fog stage does after a shader
// model 2 pixel shader (dx_FogMode: a D3DFOGMODE, 0 for none; dx_FogParams:
// start, end, density, 1 for eye-relative depth). Unchanged when the output
// cannot be found.
std::string addTableFog(const std::string& source);

// Has the pixel shader read its interpolated inputs dx_InputOffset pixels
// (window y) off the fragment's centre (see subpixelStep), only through
// interpolateAtOffset; flat inputs stay as they are.
std::string addInputOffset(const std::string& source);

} // namespace platform::d3d9
