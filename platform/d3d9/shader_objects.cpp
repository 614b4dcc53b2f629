#include "platform/d3d9/shader_objects.h"

#include "platform/d3d9/device.h"

#include <algorithm>
#include <cstring>

namespace platform::d3d9 {

namespace {

void bindBlock(GLuint program, const std::string& name, GLuint binding)
{
    if (name.empty())
        return;
    const GLuint index = glGetUniformBlockIndex(program, name.c_str());
    if (index != GL_INVALID_INDEX)
        glUniformBlockBinding(program, index, binding);
}

void bindSamplers(GLuint program, const ShaderBlob& blob)
{
    for (const ShaderSampler& s : blob.samplers) {
        const GLint location = glGetUniformLocation(program, s.glslName.c_str());
        if (location >= 0)
            glProgramUniform1i(program, location, GLint(s.registerIndex));
    }
}

template <size_t N>
void copyRegisters(std::vector<unsigned char>& block, const ShaderBlob& blob, const float (*floats)[4],
                   const int (*ints)[4], const BOOL* bools, size_t floatCount)
{
    for (const ShaderUploadRange& r : blob.uploads) {
        for (uint32_t i = 0; i < r.registerCount; ++i) {
            const uint32_t reg = r.firstRegister + i;
            const size_t at = size_t(r.blockOffset) + size_t(i) * r.blockStride;
            switch (r.registerSet) {
            case RegisterSet::Float4:
                if (reg < floatCount && at + 16 <= block.size())
                    std::memcpy(block.data() + at, floats[reg], 16);
                break;
            case RegisterSet::Int4:
                if (reg < kIntRegisters && at + 16 <= block.size())
                    std::memcpy(block.data() + at, ints[reg], 16);
                break;
            case RegisterSet::Bool:
                if (reg < N && at + 4 <= block.size()) {
                    const uint32_t value = bools[reg] ? 1u : 0u;
                    std::memcpy(block.data() + at, &value, 4);
                }
                break;
            default:
                break;
            }
        }
    }
}

} // namespace

// ---------------------------------------------------------------------------
// Shader objects

ShaderCode::ShaderCode(ShaderBlob blob, const void* code, size_t size)
    : m_blob(std::move(blob))
    , m_code(static_cast<const unsigned char*>(code), static_cast<const unsigned char*>(code) + size)
{
}

HRESULT ShaderCode::getFunction(void* data, UINT* size) const
{
    if (!size)
        return D3DERR_INVALIDCALL;
    if (!data) {
        *size = UINT(m_code.size());
        return D3D_OK;
    }
    if (*size < m_code.size())
        return D3DERR_INVALIDCALL;
    std::memcpy(data, m_code.data(), m_code.size());
    *size = UINT(m_code.size());
    return D3D_OK;
}

GLuint ShaderCode::glShader(bool offsetInputs, bool alphaTest, bool tableFog)
{
    const bool vertex = m_blob.stage == ShaderStage::Vertex;
    const int variant = vertex ? 0 : (offsetInputs ? 1 : 0) | (alphaTest ? 2 : 0) | (tableFog ? 4 : 0);
    if (m_shader[variant] || m_failed[variant])
        return m_shader[variant];
    std::string source;
    if (vertex) {
        source = addClipDistances(m_blob.glsl);
    } else {
        source = tableFog ? addTableFog(m_blob.glsl) : m_blob.glsl;
        if (alphaTest)
            source = addAlphaTest(source);
        if (offsetInputs)
            source = addInputOffset(source);
    }
    std::string log;
    GLuint shader = compileShader(vertex ? GL_VERTEX_SHADER : GL_FRAGMENT_SHADER, source, log);
    if (!shader) {
        logLine("%s shader does not compile:\n%s\n--- source ---\n%s", vertex ? "vertex" : "pixel", log.c_str(),
                source.c_str());
        m_failed[variant] = true;
        return 0;
    }
    m_shader[variant] = shader;
    return shader;
}

void ShaderCode::deleteGlShader()
{
    for (GLuint& shader : m_shader) {
        if (shader)
            glDeleteShader(shader);
        shader = 0;
    }
}

VertexShader::VertexShader(Device* device, ShaderBlob blob, const void* code, size_t size)
    : DeviceChild<IDirect3DVertexShader9>(device)
    , ShaderCode(std::move(blob), code, size)
{
}

VertexShader::~VertexShader()
{
    device()->forgetShader(this);
    ContextScope scope(device()->glContext());
    if (scope.ok())
        deleteGlShader();
}

STDMETHODIMP VertexShader::QueryInterface(REFIID riid, void** ppvObject)
{
    return answerInterface<IDirect3DVertexShader9>(this, riid, ppvObject, {&IID_IDirect3DVertexShader9});
}

PixelShader::PixelShader(Device* device, ShaderBlob blob, const void* code, size_t size)
    : DeviceChild<IDirect3DPixelShader9>(device)
    , ShaderCode(std::move(blob), code, size)
{
}

PixelShader::~PixelShader()
{
    device()->forgetShader(this);
    ContextScope scope(device()->glContext());
    if (scope.ok())
        deleteGlShader();
}

STDMETHODIMP PixelShader::QueryInterface(REFIID riid, void** ppvObject)
{
    return answerInterface<IDirect3DPixelShader9>(this, riid, ppvObject, {&IID_IDirect3DPixelShader9});
}

VertexShader* asVertexShader(IDirect3DVertexShader9* shader)
{
    return shader ? dynamic_cast<VertexShader*>(shader) : nullptr;
}

PixelShader* asPixelShader(IDirect3DPixelShader9* shader)
{
    return shader ? dynamic_cast<PixelShader*>(shader) : nullptr;
}

// ---------------------------------------------------------------------------
// Programs

std::string addClipDistances(const std::string& source)
{
    if (source.find("gl_ClipDistance") != std::string::npos)
        return source;
    const size_t mainAt = source.find("void main()");
    const size_t close = source.rfind('}');
    if (mainAt == std::string::npos || close == std::string::npos || close < mainAt)
        return source;
    std::string out = source;
    const std::string write = std::string("    {\n        vec4 dx_clipPos = gl_Position;\n") +
                              "        dx_clipPos.xy -= " + kPosFixupUniform + " * dx_clipPos.w;\n" +
                              "        for (int dx_i = 0; dx_i < 6; ++dx_i)\n" +
                              "            gl_ClipDistance[dx_i] = dot(dx_clipPos, " + kClipPlanesUniform +
                              "[dx_i]);\n    }\n";
    out.insert(close, write);
    // Declarations go before main; a redeclared gl_PerVertex block gets the
    // array as a member.
    std::string declarations = std::string("uniform vec4 ") + kClipPlanesUniform + "[6];\n";
    const size_t block = out.find("out gl_PerVertex");
    if (block != std::string::npos && block < mainAt) {
        const size_t brace = out.find('{', block);
        if (brace == std::string::npos)
            return source;
        out.insert(brace + 1, "\n    float gl_ClipDistance[6];");
    } else {
        declarations += "out float gl_ClipDistance[6];\n";
    }
    if (source.find(kPosFixupUniform) == std::string::npos)
        declarations += std::string("uniform vec2 ") + kPosFixupUniform + ";\n";
    const size_t main = out.find("void main()");
    out.insert(main, declarations);
    return out;
}

// The colour output "layout(location = 0) out vec4 NAME;" declared before
// main(), where main() starts and the last closing brace; false when the
// source has no such shape.
static bool findColourOutput(const std::string& source, std::string& name, size_t& mainAt, size_t& close)
{
    size_t at = source.find("layout(location = 0) out vec4 ");
    mainAt = source.find("void main()");
    close = source.rfind('}');
    if (at == std::string::npos || mainAt == std::string::npos || close == std::string::npos || at > mainAt ||
        close < mainAt)
        return false;
    at += std::strlen("layout(location = 0) out vec4 ");
    const size_t end = source.find(';', at);
    if (end == std::string::npos)
        return false;
    name = source.substr(at, end - at);
    return true;
}

std::string addAlphaTest(const std::string& source)
{
    std::string name;
    size_t mainAt, close;
    if (!findColourOutput(source, name, mainAt, close))
        return source;
    std::string out = source;
    out.insert(close, "    if (!dx_alphaPasses(" + name + ".a))\n        discard;\n");
    out.insert(mainAt, "uniform int dx_AlphaFunc;\nuniform float dx_AlphaRef;\n"
                       "bool dx_alphaPasses(float alpha)\n{\n"
                       "    float a = floor(clamp(alpha, 0.0, 1.0) * 255.0 + 0.5);\n"
                       "    switch (dx_AlphaFunc) {\n"
                       "    case 1: return false;\n"
                       "    case 2: return a < dx_AlphaRef;\n"
                       "    case 3: return a == dx_AlphaRef;\n"
                       "    case 4: return a <= dx_AlphaRef;\n"
                       "    case 5: return a > dx_AlphaRef;\n"
                       "    case 6: return a != dx_AlphaRef;\n"
                       "    case 7: return a >= dx_AlphaRef;\n"
                       "    default: return true;\n"
                       "    }\n}\n");
    return out;
}

std::string addTableFog(const std::string& source)
{
    std::string name;
    size_t mainAt, close;
    if (!findColourOutput(source, name, mainAt, close))
        return source;
    std::string out = source;
    out.insert(close, "    " + name + ".rgb = dx_fogged(" + name + ".rgb);\n");
    // The same factors as the fixed-function pixel fog; a linear range of
    // zero length is all fog beyond its end.
    out.insert(mainAt, "uniform int dx_FogMode;\nuniform vec4 dx_FogColor;\nuniform vec4 dx_FogParams;\n"
                       "vec3 dx_fogged(vec3 color)\n{\n"
                       "    if (dx_FogMode == 0)\n        return color;\n"
                       "    float d = dx_FogParams.w > 0.5 ? 1.0 / gl_FragCoord.w : gl_FragCoord.z;\n"
                       "    float f;\n"
                       "    if (dx_FogMode == 1)\n        f = exp(-d * dx_FogParams.z);\n"
                       "    else if (dx_FogMode == 2)\n        f = exp(-(d * dx_FogParams.z) * (d * dx_FogParams.z));\n"
                       "    else if (dx_FogParams.y != dx_FogParams.x)\n"
                       "        f = (dx_FogParams.y - d) / (dx_FogParams.y - dx_FogParams.x);\n"
                       "    else\n        f = d < dx_FogParams.y ? 1.0 : 0.0;\n"
                       "    return mix(dx_FogColor.rgb, color, clamp(f, 0.0, 1.0));\n}\n");
    return out;
}

namespace {

// An interpolated input declaration as the translator writes it:
// "layout(location = N) [centroid |noperspective |smooth ]in TYPE NAME;".
// Its prefix up to "in ", type and name; false for anything else (flat
// inputs, other types, arrays).
bool parseInput(const std::string& line, std::string& prefix, std::string& type, std::string& name)
{
    static const char* const kLayout = "layout(location = ";
    if (line.compare(0, std::strlen(kLayout), kLayout) != 0)
        return false;
    size_t at = line.find(") ", std::strlen(kLayout));
    if (at == std::string::npos)
        return false;
    at += 2;
    for (const char* q : {"centroid ", "noperspective ", "smooth "}) {
        if (line.compare(at, std::strlen(q), q) == 0)
            at += std::strlen(q);
    }
    if (line.compare(at, 3, "in ") != 0)
        return false;
    prefix = line.substr(0, at + 3);
    const size_t space = line.find(' ', at + 3);
    const size_t semicolon = line.find(';', at + 3);
    if (space == std::string::npos || semicolon == std::string::npos || semicolon < space)
        return false;
    type = line.substr(at + 3, space - at - 3);
    name = line.substr(space + 1, semicolon - space - 1);
    const bool floating = type == "float" || type == "vec2" || type == "vec3" || type == "vec4";
    const bool plainName = !name.empty() && name.find_first_not_of(
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_") == std::string::npos;
    return floating && plainName && line.find_first_not_of(" \n", semicolon + 1) == std::string::npos;
}

} // namespace

std::string addInputOffset(const std::string& source)
{
    const size_t mainAt = source.find("void main()");
    const size_t body = mainAt == std::string::npos ? mainAt : source.find('{', mainAt);
    if (body == std::string::npos)
        return source;
    // Each input becomes a global of its name, set at the start of main.
    std::string head, reads, prefix, type, name;
    size_t at = 0;
    while (at < body) {
        size_t end = source.find('\n', at);
        end = end == std::string::npos || end > body ? body : end + 1;
        const std::string line = source.substr(at, end - at);
        if (parseInput(line, prefix, type, name)) {
            head += prefix + type + " dx_at_" + name + ";\n" + type + " " + name + ";\n";
            // Never also plainly: Mesa's linker garbles an input read both
            // ways whose vertex output is constant (see readVaryings).
            reads += "    " + name + " = interpolateAtOffset(dx_at_" + name + ", vec2(0.0, dx_InputOffset));\n";
        } else {
            head += line;
        }
        at = end;
    }
    if (reads.empty())
        return source;
    head.insert(head.rfind("void main()"), "uniform float dx_InputOffset;\n");
    size_t rest = body + 1;
    if (rest < source.size() && source[rest] == '\n')
        ++rest;
    return head + "{\n" + reads + source.substr(rest);
}

ShaderProgram::~ShaderProgram()
{
    if (program)
        glDeleteProgram(program);
    if (vertexBuffer)
        glDeleteBuffers(1, &vertexBuffer);
    if (pixelBuffer)
        glDeleteBuffers(1, &pixelBuffer);
}

std::unique_ptr<ShaderProgram> linkShaderProgram(VertexShader& vs, PixelShader& ps, bool offsetInputs,
                                                 bool alphaTest, bool tableFog)
{
    auto p = std::make_unique<ShaderProgram>();
    p->vertex = &vs.blob();
    p->pixel = &ps.blob();
    const GLuint vertexShader = vs.glShader();
    const GLuint pixelShader = ps.glShader(offsetInputs, alphaTest, tableFog);
    if (!vertexShader || !pixelShader)
        return p;
    GLuint program = glCreateProgram();
    glAttachShader(program, vertexShader);
    glAttachShader(program, pixelShader);
    glLinkProgram(program);
    glDetachShader(program, vertexShader);
    glDetachShader(program, pixelShader);
    GLint ok = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (!ok) {
        logLine("shader pair does not link:\n%s", infoLog(program, true).c_str());
        glDeleteProgram(program);
        return p;
    }
    p->program = program;
    bindBlock(program, p->vertex->uniformBlockName, kVertexConstantsBinding);
    bindBlock(program, p->pixel->uniformBlockName, kPixelConstantsBinding);
    bindSamplers(program, *p->vertex);
    bindSamplers(program, *p->pixel);
    p->posFixup = glGetUniformLocation(program, kPosFixupUniform);
    p->clipPlanes = glGetUniformLocation(program, kClipPlanesUniform);
    p->alphaFunc = glGetUniformLocation(program, "dx_AlphaFunc");
    p->alphaRef = glGetUniformLocation(program, "dx_AlphaRef");
    p->inputOffset = glGetUniformLocation(program, "dx_InputOffset");
    p->fogMode = glGetUniformLocation(program, "dx_FogMode");
    p->fogColor = glGetUniformLocation(program, "dx_FogColor");
    p->fogParams = glGetUniformLocation(program, "dx_FogParams");
    auto makeBuffer = [](uint32_t size, GLuint& buffer, std::vector<unsigned char>& data) {
        if (size == 0)
            return;
        data.assign(size, 0);
        glCreateBuffers(1, &buffer);
        glNamedBufferData(buffer, GLsizeiptr(size), nullptr, GL_DYNAMIC_DRAW);
    };
    makeBuffer(p->vertex->uniformBlockSize, p->vertexBuffer, p->vertexData);
    makeBuffer(p->pixel->uniformBlockSize, p->pixelBuffer, p->pixelData);
    checkGlErrors("shader program");
    return p;
}

// ---------------------------------------------------------------------------
// Device methods

void Device::forgetShader(const void* shader)
{
    DeviceLock lock(this);
    ContextScope scope(m_context.get());
    for (auto it = m_programs.begin(); it != m_programs.end();) {
        if (std::get<0>(it->first) == shader || std::get<1>(it->first) == shader) {
            if (m_currentProgram == it->second.get())
                m_currentProgram = nullptr;
            it = m_programs.erase(it);
        } else {
            ++it;
        }
    }
    m_programDirty = true;
}

ShaderProgram* Device::programFor(VertexShader* vs, PixelShader* ps, bool offsetInputs, bool alphaTest,
                                  bool tableFog)
{
    const auto key = std::make_tuple(static_cast<const void*>(vs), static_cast<const void*>(ps), offsetInputs,
                                     alphaTest, tableFog);
    auto it = m_programs.find(key);
    if (it == m_programs.end())
        it = m_programs.emplace(key, linkShaderProgram(*vs, *ps, offsetInputs, alphaTest, tableFog)).first;
    return it->second->program ? it->second.get() : nullptr;
}

void Device::uploadShaderConstants(ShaderProgram& p)
{
    if (p.vertexBuffer) {
        copyRegisters<kBoolRegisters>(p.vertexData, *p.vertex, m_vsFloat, m_vsInt, m_vsBool, kVertexFloatRegisters);
        glNamedBufferSubData(p.vertexBuffer, 0, GLsizeiptr(p.vertexData.size()), p.vertexData.data());
        glBindBufferBase(GL_UNIFORM_BUFFER, kVertexConstantsBinding, p.vertexBuffer);
    }
    if (p.pixelBuffer) {
        copyRegisters<kBoolRegisters>(p.pixelData, *p.pixel, m_psFloat, m_psInt, m_psBool, kPixelFloatRegisters);
        glNamedBufferSubData(p.pixelBuffer, 0, GLsizeiptr(p.pixelData.size()), p.pixelData.data());
        glBindBufferBase(GL_UNIFORM_BUFFER, kPixelConstantsBinding, p.pixelBuffer);
    }
    // Half a pixel right and down, less one sub-pixel step for filled
    // triangles, whose pixel shader then reads its inputs a step up (see
    // subpixelStep).
    const float step = m_ff.fillsTriangles ? subpixelStep() : 0.0f;
    const float fixup[2] = {1.0f / float(std::max<DWORD>(m_ff.viewport.Width, 1)),
                            -(1.0f - 2.0f * step) / float(std::max<DWORD>(m_ff.viewport.Height, 1))};
    if (p.inputOffset >= 0 && -step != p.lastInputOffset) {
        glProgramUniform1f(p.program, p.inputOffset, -step);
        p.lastInputOffset = -step;
    }
    if (p.posFixup >= 0 && (fixup[0] != p.lastPosFixup[0] || fixup[1] != p.lastPosFixup[1])) {
        glProgramUniform2fv(p.program, p.posFixup, 1, fixup);
        p.lastPosFixup[0] = fixup[0];
        p.lastPosFixup[1] = fixup[1];
    }
    if (p.alphaFunc >= 0) {
        // Direct3D's alpha test applies after the pixel shader too.
        const int func = m_ff.renderStates[D3DRS_ALPHATESTENABLE] ? int(m_ff.renderStates[D3DRS_ALPHAFUNC]) : 0;
        const int ref = int(m_ff.renderStates[D3DRS_ALPHAREF] & 0xFF);
        if (func != p.lastAlphaFunc || ref != p.lastAlphaRef) {
            glProgramUniform1i(p.program, p.alphaFunc, func);
            glProgramUniform1f(p.program, p.alphaRef, float(ref));
            p.lastAlphaFunc = func;
            p.lastAlphaRef = ref;
        }
    }
    if (p.fogMode >= 0)
        uploadTableFog(p);
    if (p.clipPlanes >= 0) {
        // A plane that is off keeps every vertex (distance 0) as well as
        // being disabled: the GL driver does not always drop a clip distance
        // whose enable went off between draws of the same program.
        const DWORD mask = m_ff.renderStates[D3DRS_CLIPPLANEENABLE];
        float planes[kClipPlanes][4] = {};
        for (DWORD i = 0; i < kClipPlanes; ++i)
            if ((mask >> i) & 1)
                std::memcpy(planes[i], m_clipPlanes[i], sizeof planes[i]);
        if (!p.clipUploaded || std::memcmp(planes, p.lastClipPlanes, sizeof planes) != 0) {
            glProgramUniform4fv(p.program, p.clipPlanes, GLsizei(kClipPlanes), &planes[0][0]);
            std::memcpy(p.lastClipPlanes, planes, sizeof planes);
            p.clipUploaded = true;
        }
    }
}

int Device::tableFogMode() const
{
    const DWORD* rs = m_ff.renderStates;
    const DWORD table = rs[D3DRS_FOGTABLEMODE];
    return rs[D3DRS_FOGENABLE] && table <= D3DFOG_LINEAR ? int(table) : 0;
}

void Device::uploadTableFog(ShaderProgram& p)
{
    const DWORD* rs = m_ff.renderStates;
    const int mode = tableFogMode();
    if (mode != p.lastFogMode) {
        glProgramUniform1i(p.program, p.fogMode, mode);
        p.lastFogMode = mode;
    }
    if (mode == 0)
        return;
    const DWORD c = rs[D3DRS_FOGCOLOR];
    const float color[4] = {float((c >> 16) & 0xFF) / 255.0f, float((c >> 8) & 0xFF) / 255.0f,
                            float(c & 0xFF) / 255.0f, float(c >> 24) / 255.0f};
    float params[4];
    std::memcpy(&params[0], &rs[D3DRS_FOGSTART], sizeof(float));
    std::memcpy(&params[1], &rs[D3DRS_FOGEND], sizeof(float));
    std::memcpy(&params[2], &rs[D3DRS_FOGDENSITY], sizeof(float));
    // Eye-relative depth unless the projection in force is affine.
    const D3DMATRIX& m = m_ff.projection;
    params[3] = m._14 == 0.0f && m._24 == 0.0f && m._34 == 0.0f && m._44 == 1.0f ? 0.0f : 1.0f;
    if (std::memcmp(color, p.lastFogColor, sizeof color) != 0) {
        glProgramUniform4fv(p.program, p.fogColor, 1, color);
        std::memcpy(p.lastFogColor, color, sizeof color);
    }
    if (std::memcmp(params, p.lastFogParams, sizeof params) != 0) {
        glProgramUniform4fv(p.program, p.fogParams, 1, params);
        std::memcpy(p.lastFogParams, params, sizeof params);
    }
}

namespace {

HRESULT parseCode(const DWORD* code, ShaderStage stage, ShaderBlob& blob, size_t& size)
{
    if (!code)
        return D3DERR_INVALIDCALL;
    size = shaderBlobSize(code);
    std::string error;
    if (size == 0 || !parseShaderBlob(code, size, blob, &error)) {
        logLine("CreateShader: not a shader this device can use (%s)", error.empty() ? "bad header" : error.c_str());
        return D3DERR_INVALIDCALL;
    }
    if (blob.stage != stage) {
        logLine("CreateShader: a %s shader was given where a %s shader belongs",
                blob.stage == ShaderStage::Vertex ? "vertex" : "pixel", stage == ShaderStage::Vertex ? "vertex" : "pixel");
        return D3DERR_INVALIDCALL;
    }
    return D3D_OK;
}

template <typename T, size_t N>
HRESULT setRegisters(T (*file)[N], size_t count, UINT start, const T* data, UINT vectors)
{
    if (!data || start > count || vectors > count - start)
        return D3DERR_INVALIDCALL;
    std::memcpy(file[start], data, sizeof(T) * N * vectors);
    return D3D_OK;
}

template <typename T, size_t N>
HRESULT getRegisters(const T (*file)[N], size_t count, UINT start, T* data, UINT vectors)
{
    if (!data || start > count || vectors > count - start)
        return D3DERR_INVALIDCALL;
    std::memcpy(data, file[start], sizeof(T) * N * vectors);
    return D3D_OK;
}

HRESULT setBools(BOOL* file, size_t count, UINT start, const BOOL* data, UINT n)
{
    if (!data || start > count || n > count - start)
        return D3DERR_INVALIDCALL;
    for (UINT i = 0; i < n; ++i)
        file[start + i] = data[i] ? TRUE : FALSE;
    return D3D_OK;
}

HRESULT getBools(const BOOL* file, size_t count, UINT start, BOOL* data, UINT n)
{
    if (!data || start > count || n > count - start)
        return D3DERR_INVALIDCALL;
    std::memcpy(data, file + start, sizeof(BOOL) * n);
    return D3D_OK;
}

} // namespace

STDMETHODIMP Device::CreateVertexShader(const DWORD* pFunction, IDirect3DVertexShader9** ppShader)
{
    DeviceLock lock(this);
    logCall("CreateVertexShader", {ptrArg(pFunction)});
    if (!ppShader)
        return D3DERR_INVALIDCALL;
    *ppShader = nullptr;
    ShaderBlob blob;
    size_t size = 0;
    const HRESULT hr = m_refuseVertexCode ? D3DERR_INVALIDCALL : parseCode(pFunction, ShaderStage::Vertex, blob, size);
    if (FAILED(hr))
        return hr;
    *ppShader = new VertexShader(this, std::move(blob), pFunction, size);
    return D3D_OK;
}

STDMETHODIMP Device::CreatePixelShader(const DWORD* pFunction, IDirect3DPixelShader9** ppShader)
{
    DeviceLock lock(this);
    logCall("CreatePixelShader", {ptrArg(pFunction)});
    if (!ppShader)
        return D3DERR_INVALIDCALL;
    *ppShader = nullptr;
    ShaderBlob blob;
    size_t size = 0;
    const HRESULT hr = m_refusePixelCode ? D3DERR_INVALIDCALL : parseCode(pFunction, ShaderStage::Pixel, blob, size);
    if (FAILED(hr))
        return hr;
    *ppShader = new PixelShader(this, std::move(blob), pFunction, size);
    return D3D_OK;
}

STDMETHODIMP Device::SetVertexShader(IDirect3DVertexShader9* pShader)
{
    DeviceLock lock(this);
    logCall("SetVertexShader", {ptrArg(pShader)});
    VertexShader* vs = asVertexShader(pShader);
    if (pShader && !vs)
        return D3DERR_INVALIDCALL;
    if (vs == m_vertexShader)
        return D3D_OK;
    holdRef(m_vertexShader, vs);
    m_programDirty = true;
    return D3D_OK;
}

STDMETHODIMP Device::GetVertexShader(IDirect3DVertexShader9** ppShader)
{
    DeviceLock lock(this);
    if (!ppShader)
        return D3DERR_INVALIDCALL;
    shareRef(ppShader, m_vertexShader);
    return D3D_OK;
}

STDMETHODIMP Device::SetPixelShader(IDirect3DPixelShader9* pShader)
{
    DeviceLock lock(this);
    logCall("SetPixelShader", {ptrArg(pShader)});
    PixelShader* ps = asPixelShader(pShader);
    if (pShader && !ps)
        return D3DERR_INVALIDCALL;
    if (ps == m_pixelShader)
        return D3D_OK;
    holdRef(m_pixelShader, ps);
    m_programDirty = true;
    return D3D_OK;
}

STDMETHODIMP Device::GetPixelShader(IDirect3DPixelShader9** ppShader)
{
    DeviceLock lock(this);
    if (!ppShader)
        return D3DERR_INVALIDCALL;
    shareRef(ppShader, m_pixelShader);
    return D3D_OK;
}

STDMETHODIMP Device::SetVertexShaderConstantF(UINT StartRegister, const float* pConstantData, UINT Vector4fCount)
{
    DeviceLock lock(this);
    logCall("SetVertexShaderConstantF", {double(StartRegister), double(Vector4fCount)}, pConstantData,
            pConstantData ? size_t(Vector4fCount) * 4 * sizeof(float) : 0);
    return setRegisters<float, 4>(m_vsFloat, kVertexFloatRegisters, StartRegister, pConstantData, Vector4fCount);
}

STDMETHODIMP Device::GetVertexShaderConstantF(UINT StartRegister, float* pConstantData, UINT Vector4fCount)
{
    DeviceLock lock(this);
    return getRegisters<float, 4>(m_vsFloat, kVertexFloatRegisters, StartRegister, pConstantData, Vector4fCount);
}

STDMETHODIMP Device::SetVertexShaderConstantI(UINT StartRegister, const int* pConstantData, UINT Vector4iCount)
{
    DeviceLock lock(this);
    return setRegisters<int, 4>(m_vsInt, kIntRegisters, StartRegister, pConstantData, Vector4iCount);
}

STDMETHODIMP Device::GetVertexShaderConstantI(UINT StartRegister, int* pConstantData, UINT Vector4iCount)
{
    DeviceLock lock(this);
    return getRegisters<int, 4>(m_vsInt, kIntRegisters, StartRegister, pConstantData, Vector4iCount);
}

STDMETHODIMP Device::SetVertexShaderConstantB(UINT StartRegister, const BOOL* pConstantData, UINT BoolCount)
{
    DeviceLock lock(this);
    return setBools(m_vsBool, kBoolRegisters, StartRegister, pConstantData, BoolCount);
}

STDMETHODIMP Device::GetVertexShaderConstantB(UINT StartRegister, BOOL* pConstantData, UINT BoolCount)
{
    DeviceLock lock(this);
    return getBools(m_vsBool, kBoolRegisters, StartRegister, pConstantData, BoolCount);
}

STDMETHODIMP Device::SetPixelShaderConstantF(UINT StartRegister, const float* pConstantData, UINT Vector4fCount)
{
    DeviceLock lock(this);
    logCall("SetPixelShaderConstantF", {double(StartRegister), double(Vector4fCount)}, pConstantData,
            pConstantData ? size_t(Vector4fCount) * 4 * sizeof(float) : 0);
    return setRegisters<float, 4>(m_psFloat, kPixelFloatRegisters, StartRegister, pConstantData, Vector4fCount);
}

STDMETHODIMP Device::GetPixelShaderConstantF(UINT StartRegister, float* pConstantData, UINT Vector4fCount)
{
    DeviceLock lock(this);
    return getRegisters<float, 4>(m_psFloat, kPixelFloatRegisters, StartRegister, pConstantData, Vector4fCount);
}

STDMETHODIMP Device::SetPixelShaderConstantI(UINT StartRegister, const int* pConstantData, UINT Vector4iCount)
{
    DeviceLock lock(this);
    return setRegisters<int, 4>(m_psInt, kIntRegisters, StartRegister, pConstantData, Vector4iCount);
}

STDMETHODIMP Device::GetPixelShaderConstantI(UINT StartRegister, int* pConstantData, UINT Vector4iCount)
{
    DeviceLock lock(this);
    return getRegisters<int, 4>(m_psInt, kIntRegisters, StartRegister, pConstantData, Vector4iCount);
}

STDMETHODIMP Device::SetPixelShaderConstantB(UINT StartRegister, const BOOL* pConstantData, UINT BoolCount)
{
    DeviceLock lock(this);
    return setBools(m_psBool, kBoolRegisters, StartRegister, pConstantData, BoolCount);
}

STDMETHODIMP Device::GetPixelShaderConstantB(UINT StartRegister, BOOL* pConstantData, UINT BoolCount)
{
    DeviceLock lock(this);
    return getBools(m_psBool, kBoolRegisters, StartRegister, pConstantData, BoolCount);
}

} // namespace platform::d3d9
