#include "materials/shader_parameters.h"

#include "foundation/matrix.h"
#include "materials/engine.h"

#include <cmath>
#include <cstring>
#include <new>

namespace {

void setIdentity(D3DMATRIX& m)
{
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            m.m[r][c] = r == c ? 1.0f : 0.0f;
}

// The first three columns of m, each written as a row of four: what the
// vertex shaders take as a float4x3 (three dot products per position).
void writeColumnsAsRows(float* out, const D3DMATRIX& m)
{
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c)
            out[4 * r + c] = m.m[c][r];
}

} // namespace

float signedSqrt(float a, float b)
{
    const float root = std::sqrt(std::fabs(a * b));
    return a < 0.0f ? -root : root;
}

ShaderParameters::ShaderParameters(Engine* owner) : engine(owner)
{
}

ShaderParameters::~ShaderParameters()
{
    clear();
}

void ShaderParameters::clear()
{
    for (ShaderParam& p : params)
        ::operator delete(p.storage);
    params.clear();
    params.shrink_to_fit();
}

void* ShaderParameters::add(const char* name, i32 count)
{
    const size_t bytes = static_cast<size_t>(count) * 4u;
    void* storage = ::operator new(bytes);
    std::memset(storage, 0, bytes);
    params.push_back(ShaderParam{name, count, storage});
    return storage;
}

ShaderParam* ShaderParameters::find(const char* name)
{
    for (ShaderParam& p : params)
        if (std::strcmp(p.name, name) == 0)
            return &p;
    return nullptr;
}

const ShaderParam* ShaderParameters::find(const char* name) const
{
    return const_cast<ShaderParameters*>(this)->find(name);
}

i32 ShaderParameters::totalCount() const
{
    i32 total = 0;
    for (const ShaderParam& p : params)
        total += p.count;
    return total;
}

ShaderSwitches::ShaderSwitches(Engine* owner) : ShaderParameters(owner)
{
    params.reserve(kEntryCount);
#define QUILLON_ADD_SWITCH(entry, count) entry = static_cast<i32*>(add(#entry, count));
    QUILLON_SHADER_SWITCHES(QUILLON_ADD_SWITCH)
#undef QUILLON_ADD_SWITCH
}

void ShaderSwitches::key(std::vector<i32>& out) const
{
    out.clear();
    out.reserve(static_cast<size_t>(totalCount()));
    for (const ShaderParam& p : params)
        out.insert(out.end(), p.ints(), p.ints() + p.count);
}

ShaderUniforms::ShaderUniforms(Engine* owner) : ShaderParameters(owner)
{
    setIdentity(world);
    setIdentity(view);
    setIdentity(projection);
    for (D3DMATRIX& m : textureMatrix)
        setIdentity(m);
    for (D3DMATRIX& m : boneMatrix)
        setIdentity(m);

    params.reserve(kEntryCount);
#define QUILLON_ADD_UNIFORM(entry, count) entry = static_cast<float*>(add(#entry, count));
    QUILLON_SHADER_UNIFORMS(QUILLON_ADD_UNIFORM)
#undef QUILLON_ADD_UNIFORM
}

void ShaderUniforms::setDeviceTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX& m)
{
    // A block without a device (no output was created) keeps its values only.
    if (engine && engine->currentDevice)
        engine->currentDevice->SetTransform(state, &m);
}

void ShaderUniforms::setWorld(const D3DMATRIX& m)
{
    world = m;
    setDeviceTransform(D3DTS_WORLD, world);
    derivedValid = 0;
}

void ShaderUniforms::setView(const D3DMATRIX& m)
{
    view = m;
    setDeviceTransform(D3DTS_VIEW, view);
    derivedValid = 0;
}

void ShaderUniforms::setProjection(const D3DMATRIX& m)
{
    projection = m;
    setDeviceTransform(D3DTS_PROJECTION, projection);
    derivedValid = 0;
}

void ShaderUniforms::setTextureMatrix(int n, const D3DMATRIX& m)
{
    if (n < 0 || n >= kTextureMatrixCount)
        return;
    textureMatrix[n] = m;
    setDeviceTransform(static_cast<D3DTRANSFORMSTATETYPE>(D3DTS_TEXTURE0 + n), textureMatrix[n]);
}

void ShaderUniforms::setBoneMatrix(int i, const D3DMATRIX& m)
{
    if (i < 0 || i >= kBoneMatrixCount)
        return;
    boneMatrix[i] = m;
    writeColumnsAsRows(matBone + 12 * i, boneMatrix[i]);
}

void ShaderUniforms::computeMatrices()
{
    if (derivedValid)
        return;

    D3DMATRIX wv;
    matMulAffine(wv, world, view);
    writeColumnsAsRows(matWorldView, wv);

    D3DMATRIX wvp;
    matMulAffineFull(wvp, wv, projection);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            matWorldViewProj[4 * r + c] = wvp.m[c][r];

    // For a rotation with uniform scale this is the pure rotation, which
    // transforms normals without renormalising.
    D3DMATRIX inverse;
    matInvertAffine(inverse, wv);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            matWorldViewNormalized[3 * j + i] = signedSqrt(wv.m[i][j], inverse.m[j][i]);

    writeColumnsAsRows(matWorldWT, world);
    derivedValid = 1;
}
