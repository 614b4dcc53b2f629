// The two named parameter blocks that carry every value the shaders see.
// ShaderSwitches holds integers that select a shader variant (each is set as
// a literal before a compile, and all of them together are the variant key);
// ShaderUniforms holds floats uploaded on every activation, plus the current
// transforms and the matrices derived from them. Entry names are the names
// of the effect files' globals. The render code writes values through the
// named storage pointers, never by lookup.
#pragma once

#include "foundation/types.h"

#include <d3d9.h>

#include <vector>

class Engine;

// One table entry: count 4-byte elements (i32 in ShaderSwitches, float in
// ShaderUniforms), zero-filled at construction and owned by the entry.
struct ShaderParam {
    const char* name;
    i32 count;
    void* storage;

    i32* ints() const { return static_cast<i32*>(storage); }
    float* floats() const { return static_cast<float*>(storage); }
    u32 byteSize() const { return static_cast<u32>(count) * 4u; }
};

class ShaderParameters {
public:
    std::vector<ShaderParam> params; // in table order
    Engine* engine;

    explicit ShaderParameters(Engine* owner);
    ~ShaderParameters();
    ShaderParameters(const ShaderParameters&) = delete;
    ShaderParameters& operator=(const ShaderParameters&) = delete;

    // Frees every entry's storage and empties the table. The derived blocks'
    // named pointers dangle afterwards; only the engine's teardown calls it.
    void clear();

    // The entry with exactly this name, or null.
    ShaderParam* find(const char* name);
    const ShaderParam* find(const char* name) const;
    // Elements over all entries.
    i32 totalCount() const;

protected:
    // Appends an entry with zeroed storage and returns that storage.
    void* add(const char* name, i32 count);
};

// name, count; in table order, which is also the order of the variant key.
#define QUILLON_SHADER_SWITCHES(X)      \
    X(bake, 1)                          \
    X(specularEnabled, 1)               \
    X(isFogEnabled, 1)                  \
    X(isLocalViewer, 1)                 \
    X(isCylindricalViewer, 1)           \
    X(numActiveDistantLights, 1)        \
    X(numActivePointLights, 1)          \
    X(numActiveSpotLights, 1)           \
    X(pointLightFalloffType, 8)         \
    X(spotLightFalloffType, 8)          \
    X(numTexCOLR, 1)                    \
    X(numTexLUMI, 1)                    \
    X(numTexDIFF, 1)                    \
    X(numTexREFL, 1)                    \
    X(numTexSPEC, 1)                    \
    X(numTexTRAN, 1)                    \
    X(numTexTRNL, 1)                    \
    X(numTexBUMP, 1)                    \
    X(numShadows, 1)                    \
    X(metaTexCOLRFullOpacity, 4)        \
    X(metaTexLUMIFullOpacity, 4)        \
    X(metaTexDIFFFullOpacity, 4)        \
    X(metaTexREFLFullOpacity, 4)        \
    X(metaTexSPECFullOpacity, 4)        \
    X(metaTexTRANFullOpacity, 4)        \
    X(metaTexBUMPFullOpacity, 4)        \
    X(metaTexCOLRInvert, 4)             \
    X(metaTexLUMIInvert, 4)             \
    X(metaTexDIFFInvert, 4)             \
    X(metaTexREFLInvert, 4)             \
    X(metaTexSPECInvert, 4)             \
    X(metaTexTRANInvert, 4)             \
    X(metaTexBUMPInvert, 4)             \
    X(metaTexCOLRBlendop, 4)            \
    X(metaTexLUMIBlendop, 4)            \
    X(metaTexDIFFBlendop, 4)            \
    X(metaTexREFLBlendop, 4)            \
    X(metaTexSPECBlendop, 4)            \
    X(metaTexTRANBlendop, 4)            \
    X(metaTexBUMPBlendop, 4)            \
    X(metaTexCOLRgInput, 4)             \
    X(metaTexLUMIgInput, 4)             \
    X(metaTexDIFFgInput, 4)             \
    X(metaTexREFLgInput, 4)             \
    X(metaTexSPECgInput, 4)             \
    X(metaTexTRANgInput, 4)             \
    X(metaTexBUMPgInput, 4)             \
    X(sphericalEnvmapAvailable, 1)      \
    X(cubemapAvailable, 1)              \
    X(numBoneWeights, 1)                \
    X(displacement, 1)                  \
    X(animatedTexSets, 1)

#define QUILLON_SHADER_UNIFORMS(X)                  \
    X(matWorldViewProj, 16)                         \
    X(matWorldView, 12)                             \
    X(matWorldViewNormalized, 9)                    \
    X(matWorldWT, 12)                               \
    X(matWorldLightviewLightprojShadowbias, 16)     \
    X(matBone, 288)                                 \
    X(time, 1)                                      \
    X(cylindricalScale, 1)                          \
    X(ambientLightColor, 3)                         \
    X(distantLightColor, 24)                        \
    X(distantLightDir, 24)                          \
    X(pointLightColor, 24)                          \
    X(pointLightPos, 24)                            \
    X(pointLightAttenuation, 24)                    \
    X(spotLightColor, 24)                           \
    X(spotLightPos, 24)                             \
    X(spotLightDir, 24)                             \
    X(spotLightCosTheta, 8)                         \
    X(spotLightCosThetaMinusCosPhi, 8)              \
    X(spotLightAttenuation, 24)                     \
    X(cameraPos, 3)                                 \
    X(srfColor, 4)                                  \
    X(srfLighting, 4)                               \
    X(srfReflectivity, 3)                           \
    X(srfAddTransparency, 1)                        \
    X(metaTexCOLROpacity, 12)                       \
    X(metaTexLUMIOpacity, 4)                        \
    X(metaTexDIFFOpacity, 4)                        \
    X(metaTexREFLOpacity, 4)                        \
    X(metaTexSPECOpacity, 4)                        \
    X(metaTexTRANOpacity, 4)                        \
    X(metaTexBUMPOpacity, 4)                        \
    X(metaTexCOLRgParam, 16)                        \
    X(metaTexLUMIgParam, 16)                        \
    X(metaTexDIFFgParam, 16)                        \
    X(metaTexREFLgParam, 16)                        \
    X(metaTexSPECgParam, 16)                        \
    X(metaTexTRANgParam, 16)                        \
    X(metaTexBUMPgParam, 16)                        \
    X(matTexProjection, 64)

// Integer switches. The per-layer arrays hold the first four layers of a
// channel; TRNL has only its count. Lights come eight of each kind.
// animatedTexSets has bit k set when layer slot k's placement is animated:
// the vertex shader then projects that set from the vertex position through
// matTexProjection.
class ShaderSwitches : public ShaderParameters {
public:
    static constexpr int kEntryCount = 52;
    static constexpr int kValueCount = 150;

#define QUILLON_DECLARE_SWITCH(name, count) i32* name = nullptr;
    QUILLON_SHADER_SWITCHES(QUILLON_DECLARE_SWITCH)
#undef QUILLON_DECLARE_SWITCH

    explicit ShaderSwitches(Engine* owner);

    // Every value in table order, count values per entry: the key under
    // which a compiled variant is cached.
    void key(std::vector<i32>& out) const;
};

// Float uniforms and the transforms they are derived from. Transforms are
// row-major, row vectors, translation in row 3. matTexProjection holds two
// float4 per layer slot k, for the sets animatedTexSets names: the u and v
// columns of the layer's texCoordMatrix at the draw time, each dotted with
// the position (x, y, z, 1).
class ShaderUniforms : public ShaderParameters {
public:
    static constexpr int kEntryCount = 40;
    static constexpr int kTextureMatrixCount = 8;
    static constexpr int kBoneMatrixCount = 24;

    D3DMATRIX world;
    D3DMATRIX view;
    D3DMATRIX projection;
    D3DMATRIX textureMatrix[kTextureMatrixCount];
    D3DMATRIX boneMatrix[kBoneMatrixCount];
    // The derived matrices match world, view and projection.
    u8 derivedValid = 0;

#define QUILLON_DECLARE_UNIFORM(name, count) float* name = nullptr;
    QUILLON_SHADER_UNIFORMS(QUILLON_DECLARE_UNIFORM)
#undef QUILLON_DECLARE_UNIFORM

    explicit ShaderUniforms(Engine* owner);

    // Each stores the matrix and sets it on the engine's current device;
    // world, view and projection also mark the derived matrices stale.
    void setWorld(const D3DMATRIX& m);
    void setView(const D3DMATRIX& m);
    void setProjection(const D3DMATRIX& m);
    // n in 0..7 (D3DTS_TEXTURE0 + n); the derived matrices stay valid. Any
    // other n is ignored.
    void setTextureMatrix(int n, const D3DMATRIX& m);
    // i in 0..23: stores the matrix and its first three columns, as rows of
    // four, into matBone[12i ..]; no device call. Any other i is ignored.
    void setBoneMatrix(int i, const D3DMATRIX& m);

    // Derives matWorldView, matWorldViewProj, matWorldViewNormalized and
    // matWorldWT from the transforms; nothing to do while derivedValid.
    void computeMatrices();

private:
    void setDeviceTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX& m);
};

// sqrt(|a * b|), negative when a is: the signed geometric mean of a matrix
// element and the matching element of its inverse transpose.
float signedSqrt(float a, float b);
