// The fixed-function program cache and the uniforms of a state.
#include "platform/d3d9/fixed_function.h"

#include "platform/d3d9/gl_context.h"

#define GL_GLEXT_PROTOTYPES 1
#include <GL/glcorearb.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace platform::d3d9 {

// std140 image of the GLSL block FixedFunctionUniforms (every member a
// vec4 or mat4, so the C++ layout is the same).
struct FixedFunctionPipeline::Uniforms {
    float worldViewProj[16];
    float worldView[16];
    float normalMatrix[16];
    float world[16];
    float textureMatrix[8][16];
    float lightDiffuse[8][4];
    float lightSpecular[8][4];
    float lightAmbient[8][4];
    float lightPosition[8][4];
    float lightDirection[8][4];
    float lightSpot[8][4];        // -, falloff, cos(theta / 2), cos(phi / 2)
    float lightAttenuation[8][4]; // a0, a1, a2, range
    float materialDiffuse[4];
    float materialAmbient[4];
    float materialSpecular[4];
    float materialEmissive[4];
    float globalAmbient[4];
    float fogColor[4];
    float fogParams[4];    // start, end, density, 1 for eye-relative pixel fog
    float textureFactor[4];
    float stageConstant[8][4];
    float clipPlane[6][4];
    float viewportRect[4]; // x, y, 2 / width, 2 / height
    float depthRange[4];   // MinZ, 1 / (MaxZ - MinZ)
    float misc[4];         // alpha reference 0..255, point size, material power
    float posFixup[4];     // dx_PosFixup: position shift (xy), input offset (z)
};

namespace {

float bitsToFloat(DWORD bits)
{
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return std::isfinite(value) ? value : 0.0f;
}

void multiply(const D3DMATRIX& a, const D3DMATRIX& b, D3DMATRIX& out)
{
    D3DMATRIX r;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k)
                sum += a.m[i][k] * b.m[k][j];
            r.m[i][j] = sum;
        }
    }
    out = r;
}

void store(const D3DMATRIX& m, float out[16])
{
    std::memcpy(out, m.m, sizeof(float) * 16);
}

// The transposed inverse of the upper 3 x 3 of m, as a 4 x 4 matrix: what
// takes row-vector normals to camera space. A singular matrix gives its
// cofactor matrix rather than infinities.
void normalMatrix(const D3DMATRIX& m, float out[16])
{
    const float(&a)[4][4] = m.m;
    float c[3][3];
    c[0][0] = a[1][1] * a[2][2] - a[1][2] * a[2][1];
    c[0][1] = a[1][2] * a[2][0] - a[1][0] * a[2][2];
    c[0][2] = a[1][0] * a[2][1] - a[1][1] * a[2][0];
    c[1][0] = a[0][2] * a[2][1] - a[0][1] * a[2][2];
    c[1][1] = a[0][0] * a[2][2] - a[0][2] * a[2][0];
    c[1][2] = a[0][1] * a[2][0] - a[0][0] * a[2][1];
    c[2][0] = a[0][1] * a[1][2] - a[0][2] * a[1][1];
    c[2][1] = a[0][2] * a[1][0] - a[0][0] * a[1][2];
    c[2][2] = a[0][0] * a[1][1] - a[0][1] * a[1][0];
    const float det = a[0][0] * c[0][0] + a[0][1] * c[0][1] + a[0][2] * c[0][2];
    const float scale = det != 0.0f && std::isfinite(1.0f / det) ? 1.0f / det : 1.0f;
    // (M^-1)^T = cofactor(M) / det.
    std::memset(out, 0, sizeof(float) * 16);
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            out[i * 4 + j] = c[i][j] * scale;
    }
    out[15] = 1.0f;
}

void colorValue(const D3DCOLORVALUE& c, float out[4])
{
    out[0] = c.r;
    out[1] = c.g;
    out[2] = c.b;
    out[3] = c.a;
}

void packedColor(DWORD argb, float out[4])
{
    out[0] = float((argb >> 16) & 0xFF) / 255.0f;
    out[1] = float((argb >> 8) & 0xFF) / 255.0f;
    out[2] = float(argb & 0xFF) / 255.0f;
    out[3] = float(argb >> 24) / 255.0f;
}

void transformPoint(const D3DVECTOR& v, const D3DMATRIX& m, float out[4])
{
    for (int j = 0; j < 3; ++j)
        out[j] = v.x * m.m[0][j] + v.y * m.m[1][j] + v.z * m.m[2][j] + m.m[3][j];
    out[3] = 1.0f;
}

void transformDirection(const D3DVECTOR& v, const D3DMATRIX& m, float out[4])
{
    for (int j = 0; j < 3; ++j)
        out[j] = v.x * m.m[0][j] + v.y * m.m[1][j] + v.z * m.m[2][j];
    const float length = std::sqrt(out[0] * out[0] + out[1] * out[1] + out[2] * out[2]);
    if (length > 0.0f && std::isfinite(length)) {
        for (int j = 0; j < 3; ++j)
            out[j] /= length;
    }
    out[3] = 0.0f;
}

void fillUniforms(const FixedFunctionState& state, FixedFunctionPipeline::Uniforms& u)
{
    std::memset(&u, 0, sizeof u);
    const DWORD* rs = state.renderStates;
    D3DMATRIX worldView, worldViewProj;
    multiply(state.world, state.view, worldView);
    multiply(worldView, state.projection, worldViewProj);
    store(worldViewProj, u.worldViewProj);
    store(worldView, u.worldView);
    normalMatrix(worldView, u.normalMatrix);
    store(state.world, u.world);
    for (int i = 0; i < 8; ++i)
        store(state.texture[i], u.textureMatrix[i]);

    for (int i = 0; i < 8; ++i) {
        if (!state.lightEnabled[i])
            continue;
        const D3DLIGHT9& light = state.lights[i];
        colorValue(light.Diffuse, u.lightDiffuse[i]);
        colorValue(light.Specular, u.lightSpecular[i]);
        colorValue(light.Ambient, u.lightAmbient[i]);
        transformPoint(light.Position, state.view, u.lightPosition[i]);
        transformDirection(light.Direction, state.view, u.lightDirection[i]);
        u.lightSpot[i][1] = light.Falloff;
        u.lightSpot[i][2] = std::cos(light.Theta * 0.5f);
        u.lightSpot[i][3] = std::cos(light.Phi * 0.5f);
        u.lightAttenuation[i][0] = light.Attenuation0;
        u.lightAttenuation[i][1] = light.Attenuation1;
        u.lightAttenuation[i][2] = light.Attenuation2;
        u.lightAttenuation[i][3] = light.Range;
    }
    colorValue(state.material.Diffuse, u.materialDiffuse);
    colorValue(state.material.Ambient, u.materialAmbient);
    colorValue(state.material.Specular, u.materialSpecular);
    colorValue(state.material.Emissive, u.materialEmissive);
    packedColor(rs[D3DRS_AMBIENT], u.globalAmbient);

    packedColor(rs[D3DRS_FOGCOLOR], u.fogColor);
    u.fogParams[0] = bitsToFloat(rs[D3DRS_FOGSTART]);
    u.fogParams[1] = bitsToFloat(rs[D3DRS_FOGEND]);
    u.fogParams[2] = bitsToFloat(rs[D3DRS_FOGDENSITY]);
    // Pixel fog is eye-relative unless the projection is affine (its fourth
    // column is 0, 0, 0, 1).
    const D3DMATRIX& p = state.projection;
    const bool affine = p._14 == 0.0f && p._24 == 0.0f && p._34 == 0.0f && p._44 == 1.0f;
    u.fogParams[3] = affine ? 0.0f : 1.0f;

    packedColor(rs[D3DRS_TEXTUREFACTOR], u.textureFactor);
    for (int i = 0; i < 8; ++i)
        packedColor(state.stageStates[i][D3DTSS_CONSTANT], u.stageConstant[i]);
    for (int j = 0; j < 6; ++j)
        std::memcpy(u.clipPlane[j], state.clipPlanes[j], sizeof u.clipPlane[j]);

    const D3DVIEWPORT9& vp = state.viewport;
    const float width = vp.Width ? float(vp.Width) : 1.0f;
    const float height = vp.Height ? float(vp.Height) : 1.0f;
    u.viewportRect[0] = float(vp.X);
    u.viewportRect[1] = float(vp.Y);
    u.viewportRect[2] = 2.0f / width;
    u.viewportRect[3] = 2.0f / height;
    u.depthRange[0] = vp.MinZ;
    u.depthRange[1] = vp.MaxZ != vp.MinZ ? 1.0f / (vp.MaxZ - vp.MinZ) : 0.0f;
    // Half a pixel right and down, less one sub-pixel step, with inputs
    // read a step up (see subpixelStep).
    const float step = state.fillsTriangles ? subpixelStep() : 0.0f;
    u.posFixup[0] = 1.0f / width;
    u.posFixup[1] = -(1.0f - 2.0f * step) / height;
    u.posFixup[2] = -step;

    u.misc[0] = float(rs[D3DRS_ALPHAREF] & 0xFF);
    float pointSize = bitsToFloat(rs[D3DRS_POINTSIZE]);
    const float pointMin = bitsToFloat(rs[D3DRS_POINTSIZE_MIN]);
    const float pointMax = bitsToFloat(rs[D3DRS_POINTSIZE_MAX]);
    if (pointSize < pointMin)
        pointSize = pointMin;
    if (pointMax > 0.0f && pointSize > pointMax)
        pointSize = pointMax;
    u.misc[1] = pointSize > 1.0f ? pointSize : 1.0f;
    u.misc[2] = state.material.Power;
}

void logFailure(const char* what, const std::string& source, const char* log)
{
    std::fprintf(stderr, "d3d9: internal error: the fixed-function %s failed\n%s\n--- info log ---\n%s\n", what,
                 source.c_str(), log);
    std::fflush(stderr);
}

GLuint compile(GLenum type, const std::string& source)
{
    std::string log;
    GLuint shader = compileShader(type, source, log);
    if (!shader)
        logFailure(type == GL_VERTEX_SHADER ? "vertex shader compile" : "fragment shader compile", source,
                   log.c_str());
    return shader;
}

} // namespace

FixedFunctionPipeline::FixedFunctionPipeline(std::size_t capacity)
    : m_capacity(capacity > 0 ? capacity : 1)
{
}

FixedFunctionPipeline::~FixedFunctionPipeline()
{
    clear();
}

std::size_t FixedFunctionPipeline::uniformBlockSize()
{
    return sizeof(Uniforms);
}

void FixedFunctionPipeline::clear()
{
    for (const Entry& entry : m_lru) {
        if (entry.program)
            glDeleteProgram(entry.program);
    }
    m_lru.clear();
    m_entries.clear();
    if (m_buffer)
        glDeleteBuffers(1, &m_buffer);
    m_buffer = 0;
    m_lastUploaded.reset();
}

unsigned FixedFunctionPipeline::build(const FixedFunctionKey& key)
{
    ++m_builds;
    const std::string vertexSource = generateFixedFunctionVertexShader(key);
    const std::string fragmentSource = generateFixedFunctionFragmentShader(key);
    GLuint vs = compile(GL_VERTEX_SHADER, vertexSource);
    if (!vs)
        return 0;
    GLuint fs = compile(GL_FRAGMENT_SHADER, fragmentSource);
    if (!fs) {
        glDeleteShader(vs);
        return 0;
    }
    GLuint program = glCreateProgram();
    glAttachShader(program, vs);
    glAttachShader(program, fs);
    glLinkProgram(program);
    glDetachShader(program, vs);
    glDetachShader(program, fs);
    glDeleteShader(vs);
    glDeleteShader(fs);
    GLint ok = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (!ok) {
        logFailure("program link", vertexSource + "\n" + fragmentSource, infoLog(program, true).c_str());
        glDeleteProgram(program);
        return 0;
    }
    return program;
}

unsigned FixedFunctionPipeline::use(const FixedFunctionState& state)
{
    const FixedFunctionKey key = makeFixedFunctionKey(state);
    unsigned program = 0;
    auto found = m_entries.find(key);
    if (found != m_entries.end()) {
        m_lru.splice(m_lru.begin(), m_lru, found->second);
        program = found->second->program;
    } else {
        program = build(key);
        m_lru.push_front(Entry{key, program});
        m_entries.emplace(key, m_lru.begin());
        while (m_lru.size() > m_capacity) {
            const Entry& oldest = m_lru.back();
            if (oldest.program)
                glDeleteProgram(oldest.program);
            m_entries.erase(oldest.key);
            m_lru.pop_back();
        }
    }
    if (!program)
        return 0;

    if (!m_buffer) {
        glCreateBuffers(1, &m_buffer);
        glNamedBufferData(m_buffer, sizeof(Uniforms), nullptr, GL_DYNAMIC_DRAW);
    }
    Uniforms uniforms;
    fillUniforms(state, uniforms);
    if (!m_lastUploaded || std::memcmp(m_lastUploaded.get(), &uniforms, sizeof uniforms) != 0) {
        glNamedBufferSubData(m_buffer, 0, sizeof uniforms, &uniforms);
        if (!m_lastUploaded)
            m_lastUploaded = std::make_unique<Uniforms>();
        *m_lastUploaded = uniforms;
    }
    // The multi-bind form leaves the generic GL_UNIFORM_BUFFER binding alone.
    glBindBuffersBase(GL_UNIFORM_BUFFER, kFixedFunctionUniformBinding, 1, &m_buffer);
    glUseProgram(program);
    return program;
}

} // namespace platform::d3d9
