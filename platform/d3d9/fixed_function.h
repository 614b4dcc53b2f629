// Direct3D 9's fixed-function vertex and pixel pipeline, emulated with GLSL
// generated from the states that change the code and cached per GL context.
//
// The device fills a FixedFunctionState (it may simply keep one as part of
// its state tables) and, for a draw without vertex and pixel shader, calls
// FixedFunctionPipeline::use() with its context current; a zero result means
// the program could not be built (already logged): skip the draw.
//
// What the generated programs expect of the device:
// - vertex attributes at the shared locations: POSITION/POSITIONT 0,
//   NORMAL 3, COLOR0 5, COLOR1 6, TEXCOORD0..7 8..15 (D3DCOLOR fetched as
//   normalized GL_BGRA bytes); an XYZRHW position arrives as a vec4;
// - texture stage i samples texture unit i (GL_TEXTURE_2D, _CUBE_MAP or
//   _3D as given by FixedFunctionState::textureKind);
// - glClipControl(GL_UPPER_LEFT, GL_ZERO_TO_ONE), glDepthRange(MinZ, MaxZ)
//   of the viewport, and GL_CLIP_DISTANCE0 + i enabled for each bit i of
//   D3DRS_CLIPPLANEENABLE (the shader writes gl_ClipDistance[0..5]);
// - gl_PointSize is written from D3DRS_POINTSIZE (enable
//   GL_PROGRAM_POINT_SIZE for point lists);
// - flat shading (D3DSHADE_FLAT) takes the colour of the first vertex only
//   with glProvokingVertex(GL_FIRST_VERTEX_CONVENTION).
// use() binds the program (glUseProgram) and the pipeline's uniform buffer
// at binding point kFixedFunctionUniformBinding, and changes no other GL
// state.
#pragma once

#include "platform/d3d9/d3d9_states.h"

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>

namespace platform::d3d9 {

// The uniform-buffer binding point the fixed-function programs read.
constexpr unsigned kFixedFunctionUniformBinding = 14;

enum class FixedTextureKind : std::uint8_t { None = 0, Texture2D = 1, Cube = 2, Volume = 3 };

// What the current vertex format (FVF or declaration) supplies.
struct FixedVertexLayout {
    bool positionT = false;         // XYZRHW / POSITIONT: already transformed and lit
    bool normal = false;            // NORMAL 0
    bool diffuse = false;           // COLOR0
    bool specular = false;          // COLOR1
    std::uint8_t texCoordSize[8] = {};  // components (1..4) of TEXCOORDn, 0 when absent
};

// A layout from an FVF code (D3DFVF_*; position kinds other than XYZ and
// XYZRHW count as XYZ).
FixedVertexLayout fixedVertexLayoutFromFVF(DWORD fvf);
// A layout from a declaration ending in D3DDECL_END (at most MAXD3DDECLLENGTH
// elements are read).
FixedVertexLayout fixedVertexLayoutFromDeclaration(const D3DVERTEXELEMENT9* elements);

// Everything the fixed-function pipeline reads.
struct FixedFunctionState {
    // Render states indexed by D3DRENDERSTATETYPE value; texture stage states
    // indexed by stage and D3DTEXTURESTAGESTATETYPE value (D3DTSS_CONSTANT is
    // 32). Both must hold Direct3D's defaults for unset states.
    DWORD renderStates[256] = {};
    DWORD stageStates[8][33] = {};
    D3DMATRIX world{};
    D3DMATRIX view{};
    D3DMATRIX projection{};
    D3DMATRIX texture[8] = {};
    // Up to eight active lights: slot i is used when lightEnabled[i] (the
    // device packs the first eight enabled lights in index order).
    D3DLIGHT9 lights[8] = {};
    bool lightEnabled[8] = {};
    D3DMATERIAL9 material{};
    // Planes (a, b, c, d) in world space, for the bits of D3DRS_CLIPPLANEENABLE.
    float clipPlanes[6][4] = {};
    FixedVertexLayout layout;
    FixedTextureKind textureKind[8] = {};
    D3DVIEWPORT9 viewport{0, 0, 1, 1, 0.0f, 1.0f};
    // The draw fills triangles: the fill-rule shift applies (see
    // subpixelStep). Points and lines keep the exact half pixel.
    bool fillsTriangles = true;

    // Direct3D's documented defaults for every state the pipeline reads,
    // identity transforms, no lights, a zero material and a 1 x 1 viewport.
    FixedFunctionState();
};

// The states that change the generated code, reduced to a canonical form:
// two states that draw alike give equal keys. Plain bytes, no padding, so
// that it compares and hashes as memory.
struct FixedFunctionKey {
    struct Stage {
        std::uint8_t colorOp;     // D3DTOP_*; DISABLE ends the chain
        std::uint8_t colorArg[3]; // D3DTA_* with modifiers, [0] = ARG0; unused ones 0
        std::uint8_t alphaOp;
        std::uint8_t alphaArg[3];
        std::uint8_t resultTemp;  // 1: D3DTSS_RESULTARG is D3DTA_TEMP
        std::uint8_t textureKind; // FixedTextureKind of the sampled texture, 0 when not sampled
        std::uint8_t texCoordSet; // TEXCOORDINDEX & 7 (sampled stages only)
        std::uint8_t texGen;      // TEXCOORDINDEX >> 16 (D3DTSS_TCI_* index)
        std::uint8_t transformCount; // D3DTTFF_COUNTn, 0 disabled
        std::uint8_t projected;   // D3DTTFF_PROJECTED
    };
    // Vertex part
    std::uint8_t positionT;
    std::uint8_t hasNormal;
    std::uint8_t hasDiffuse;
    std::uint8_t hasSpecular;
    std::uint8_t texCoordSize[8];
    std::uint8_t lighting;
    std::uint8_t lightTypes[8];   // D3DLIGHTTYPE per slot, 0 when unused
    std::uint8_t normalizeNormals;
    std::uint8_t localViewer;
    // Resolved colour sources: 0 material, 1 COLOR0, 2 COLOR1 (a missing
    // vertex colour or COLORVERTEX FALSE resolve to the material).
    std::uint8_t diffuseSource;
    std::uint8_t ambientSource;
    std::uint8_t specularSource;
    std::uint8_t emissiveSource;
    std::uint8_t fogVertexMode;   // D3DFOG_*, when vertex fog is used
    std::uint8_t fogTableMode;    // D3DFOG_*, when pixel fog is used
    std::uint8_t fogFromSpecular; // fog on, neither mode: the factor is the specular alpha
    std::uint8_t rangeFog;
    std::uint8_t clipPlaneMask;
    std::uint8_t flatShade;
    // Pixel part
    Stage stages[8];
    std::uint8_t specularEnable;
    std::uint8_t alphaFunc;       // D3DCMP_*, 0 when alpha testing is off
    std::uint8_t offsetInputs;    // filled triangles: inputs read at the fill-rule offset

    bool operator==(const FixedFunctionKey& other) const;
    bool operator!=(const FixedFunctionKey& other) const { return !(*this == other); }
    std::size_t hash() const;
};

// The key of a state (all unused fields zero).
FixedFunctionKey makeFixedFunctionKey(const FixedFunctionState& state);
// GLSL 4.50 core sources of a key's program.
std::string generateFixedFunctionVertexShader(const FixedFunctionKey& key);
std::string generateFixedFunctionFragmentShader(const FixedFunctionKey& key);

struct FixedFunctionKeyHash {
    std::size_t operator()(const FixedFunctionKey& key) const { return key.hash(); }
};

// One per GL context (the programs are shareable, the uniform buffer binding
// is not). Needs its context current in every call, including destruction.
class FixedFunctionPipeline {
public:
    explicit FixedFunctionPipeline(std::size_t capacity = 256);
    ~FixedFunctionPipeline();
    FixedFunctionPipeline(const FixedFunctionPipeline&) = delete;
    FixedFunctionPipeline& operator=(const FixedFunctionPipeline&) = delete;

    // Binds the program of the state's key (built and cached on first use,
    // least recently used evicted beyond the capacity) with its uniforms set
    // from the state. 0 when the program could not be built; the failure is
    // logged once with the GLSL and the info log, and remembered.
    unsigned use(const FixedFunctionState& state);

    // Programs (and remembered failures) in the cache.
    std::size_t cachedProgramCount() const { return m_entries.size(); }
    // Number of programs built so far (not looked up).
    std::size_t buildCount() const { return m_builds; }
    // Deletes every program and the uniform buffer.
    void clear();
    // Size in bytes of the uniform block the programs read.
    static std::size_t uniformBlockSize();

    struct Uniforms; // the uniform block's layout (fixed_function.cpp)

private:
    struct Entry {
        FixedFunctionKey key;
        unsigned program = 0;
    };
    using Lru = std::list<Entry>;

    unsigned build(const FixedFunctionKey& key);

    std::size_t m_capacity;
    Lru m_lru; // most recently used first
    std::unordered_map<FixedFunctionKey, Lru::iterator, FixedFunctionKeyHash> m_entries;
    std::size_t m_builds = 0;
    unsigned m_buffer = 0;
    std::unique_ptr<Uniforms> m_lastUploaded;
};

} // namespace platform::d3d9
