// The fixed-function state's defaults, vertex layouts, and the reduction of
// a state to the key of its generated program.
#include "platform/d3d9/fixed_function.h"

#include <cstring>

namespace platform::d3d9 {

namespace {

DWORD floatBits(float value)
{
    DWORD bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

void setIdentity(D3DMATRIX& m)
{
    std::memset(&m, 0, sizeof m);
    m._11 = m._22 = m._33 = m._44 = 1.0f;
}

std::uint8_t declTypeSize(BYTE type)
{
    switch (type) {
    case D3DDECLTYPE_FLOAT1:
        return 1;
    case D3DDECLTYPE_FLOAT2:
    case D3DDECLTYPE_SHORT2:
    case D3DDECLTYPE_SHORT2N:
    case D3DDECLTYPE_USHORT2N:
    case D3DDECLTYPE_FLOAT16_2:
        return 2;
    case D3DDECLTYPE_FLOAT3:
    case D3DDECLTYPE_UDEC3:
    case D3DDECLTYPE_DEC3N:
        return 3;
    case D3DDECLTYPE_FLOAT4:
    case D3DDECLTYPE_D3DCOLOR:
    case D3DDECLTYPE_UBYTE4:
    case D3DDECLTYPE_SHORT4:
    case D3DDECLTYPE_UBYTE4N:
    case D3DDECLTYPE_SHORT4N:
    case D3DDECLTYPE_USHORT4N:
    case D3DDECLTYPE_FLOAT16_4:
        return 4;
    default:
        return 0;
    }
}

// Argument selector with its modifiers; an unknown selector reads CURRENT.
std::uint8_t canonicalArg(DWORD arg)
{
    DWORD select = arg & D3DTA_SELECTMASK;
    if (select > D3DTA_CONSTANT)
        select = D3DTA_CURRENT;
    return std::uint8_t(select | (arg & (D3DTA_COMPLEMENT | D3DTA_ALPHAREPLICATE)));
}

bool validOp(DWORD op)
{
    return op >= D3DTOP_DISABLE && op <= D3DTOP_LERP;
}

// Which of ARG0, ARG1, ARG2 an operation reads.
void usedArgs(DWORD op, bool used[3])
{
    used[0] = op == D3DTOP_MULTIPLYADD || op == D3DTOP_LERP;
    used[1] = op != D3DTOP_DISABLE && op != D3DTOP_SELECTARG2 && op != D3DTOP_BUMPENVMAP &&
              op != D3DTOP_BUMPENVMAPLUMINANCE;
    used[2] = op != D3DTOP_DISABLE && op != D3DTOP_SELECTARG1 && op != D3DTOP_BUMPENVMAP &&
              op != D3DTOP_BUMPENVMAPLUMINANCE;
}

// Fills op and args of one channel; true when the channel reads the stage's
// texture.
bool fillChannel(DWORD op, const DWORD args[3], std::uint8_t& outOp, std::uint8_t outArgs[3])
{
    outOp = std::uint8_t(op);
    bool used[3];
    usedArgs(op, used);
    bool readsTexture = op == D3DTOP_BLENDTEXTUREALPHA || op == D3DTOP_BLENDTEXTUREALPHAPM;
    for (int a = 0; a < 3; ++a) {
        outArgs[a] = used[a] ? canonicalArg(args[a]) : 0;
        if (used[a] && (outArgs[a] & D3DTA_SELECTMASK) == D3DTA_TEXTURE)
            readsTexture = true;
    }
    return readsTexture;
}

std::uint8_t resolveSource(DWORD source, bool colorVertex, const FixedVertexLayout& layout)
{
    if (!colorVertex)
        return 0;
    if (source == D3DMCS_COLOR1 && layout.diffuse)
        return 1;
    if (source == D3DMCS_COLOR2 && layout.specular)
        return 2;
    return 0;
}

std::uint8_t validFog(DWORD mode)
{
    return mode <= D3DFOG_LINEAR ? std::uint8_t(mode) : 0;
}

} // namespace

FixedFunctionState::FixedFunctionState()
{
    DWORD* rs = renderStates;
    rs[D3DRS_ZENABLE] = D3DZB_TRUE;
    rs[D3DRS_FILLMODE] = D3DFILL_SOLID;
    rs[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
    rs[D3DRS_ZWRITEENABLE] = TRUE;
    rs[D3DRS_LASTPIXEL] = TRUE;
    rs[D3DRS_SRCBLEND] = D3DBLEND_ONE;
    rs[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
    rs[D3DRS_CULLMODE] = D3DCULL_CCW;
    rs[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
    rs[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
    rs[D3DRS_FOGSTART] = floatBits(0.0f);
    rs[D3DRS_FOGEND] = floatBits(1.0f);
    rs[D3DRS_FOGDENSITY] = floatBits(1.0f);
    rs[D3DRS_STENCILFAIL] = D3DSTENCILOP_KEEP;
    rs[D3DRS_STENCILZFAIL] = D3DSTENCILOP_KEEP;
    rs[D3DRS_STENCILPASS] = D3DSTENCILOP_KEEP;
    rs[D3DRS_STENCILFUNC] = D3DCMP_ALWAYS;
    rs[D3DRS_STENCILMASK] = 0xFFFFFFFF;
    rs[D3DRS_STENCILWRITEMASK] = 0xFFFFFFFF;
    rs[D3DRS_TEXTUREFACTOR] = 0xFFFFFFFF;
    rs[D3DRS_CLIPPING] = TRUE;
    rs[D3DRS_LIGHTING] = TRUE;
    rs[D3DRS_COLORVERTEX] = TRUE;
    rs[D3DRS_LOCALVIEWER] = TRUE;
    rs[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
    rs[D3DRS_SPECULARMATERIALSOURCE] = D3DMCS_COLOR2;
    rs[D3DRS_AMBIENTMATERIALSOURCE] = D3DMCS_MATERIAL;
    rs[D3DRS_EMISSIVEMATERIALSOURCE] = D3DMCS_MATERIAL;
    rs[D3DRS_POINTSIZE] = floatBits(1.0f);
    rs[D3DRS_POINTSIZE_MIN] = floatBits(1.0f);
    rs[D3DRS_POINTSIZE_MAX] = floatBits(64.0f);
    rs[D3DRS_POINTSCALE_A] = floatBits(1.0f);
    rs[D3DRS_MULTISAMPLEANTIALIAS] = TRUE;
    rs[D3DRS_MULTISAMPLEMASK] = 0xFFFFFFFF;
    rs[D3DRS_COLORWRITEENABLE] = 0xF;
    rs[D3DRS_BLENDOP] = D3DBLENDOP_ADD;
    for (int i = 0; i < 8; ++i) {
        DWORD* ss = stageStates[i];
        ss[D3DTSS_COLOROP] = i == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
        ss[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
        ss[D3DTSS_COLORARG2] = D3DTA_CURRENT;
        ss[D3DTSS_ALPHAOP] = i == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
        ss[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
        ss[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
        ss[D3DTSS_TEXCOORDINDEX] = DWORD(i);
        ss[D3DTSS_COLORARG0] = D3DTA_CURRENT;
        ss[D3DTSS_ALPHAARG0] = D3DTA_CURRENT;
        ss[D3DTSS_RESULTARG] = D3DTA_CURRENT;
        ss[D3DTSS_CONSTANT] = 0xFFFFFFFF;
        setIdentity(texture[i]);
    }
    setIdentity(world);
    setIdentity(view);
    setIdentity(projection);
}

FixedVertexLayout fixedVertexLayoutFromFVF(DWORD fvf)
{
    FixedVertexLayout layout;
    layout.positionT = (fvf & D3DFVF_POSITION_MASK) == D3DFVF_XYZRHW;
    layout.normal = (fvf & D3DFVF_NORMAL) != 0;
    layout.diffuse = (fvf & D3DFVF_DIFFUSE) != 0;
    layout.specular = (fvf & D3DFVF_SPECULAR) != 0;
    DWORD count = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
    if (count > 8)
        count = 8;
    for (DWORD i = 0; i < count; ++i) {
        switch ((fvf >> (16 + 2 * i)) & 3) {
        case D3DFVF_TEXTUREFORMAT1:
            layout.texCoordSize[i] = 1;
            break;
        case D3DFVF_TEXTUREFORMAT3:
            layout.texCoordSize[i] = 3;
            break;
        case D3DFVF_TEXTUREFORMAT4:
            layout.texCoordSize[i] = 4;
            break;
        default:
            layout.texCoordSize[i] = 2;
            break;
        }
    }
    return layout;
}

FixedVertexLayout fixedVertexLayoutFromDeclaration(const D3DVERTEXELEMENT9* elements)
{
    FixedVertexLayout layout;
    if (!elements)
        return layout;
    for (int i = 0; i < MAXD3DDECLLENGTH && elements[i].Stream != 0xFF; ++i) {
        const D3DVERTEXELEMENT9& e = elements[i];
        const std::uint8_t size = declTypeSize(e.Type);
        if (size == 0)
            continue;
        switch (e.Usage) {
        case D3DDECLUSAGE_POSITIONT:
            if (e.UsageIndex == 0)
                layout.positionT = true;
            break;
        case D3DDECLUSAGE_NORMAL:
            if (e.UsageIndex == 0)
                layout.normal = true;
            break;
        case D3DDECLUSAGE_COLOR:
            if (e.UsageIndex == 0)
                layout.diffuse = true;
            else if (e.UsageIndex == 1)
                layout.specular = true;
            break;
        case D3DDECLUSAGE_TEXCOORD:
            if (e.UsageIndex < 8)
                layout.texCoordSize[e.UsageIndex] = size;
            break;
        default:
            break;
        }
    }
    return layout;
}

bool FixedFunctionKey::operator==(const FixedFunctionKey& other) const
{
    return std::memcmp(this, &other, sizeof *this) == 0;
}

std::size_t FixedFunctionKey::hash() const
{
    // FNV-1a over the bytes; the key is small and all bytes matter.
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(this);
    std::uint64_t h = 1469598103934665603ull;
    for (std::size_t i = 0; i < sizeof *this; ++i) {
        h ^= bytes[i];
        h *= 1099511628211ull;
    }
    return std::size_t(h ^ (h >> 32));
}

FixedFunctionKey makeFixedFunctionKey(const FixedFunctionState& state)
{
    static_assert(sizeof(FixedFunctionKey) == 36 + 8 * 14, "the key has no padding");
    FixedFunctionKey key;
    std::memset(&key, 0, sizeof key);
    const DWORD* rs = state.renderStates;
    const FixedVertexLayout& layout = state.layout;
    const bool positionT = layout.positionT;
    key.positionT = positionT;
    key.hasDiffuse = layout.diffuse;
    key.hasSpecular = layout.specular;
    key.flatShade = rs[D3DRS_SHADEMODE] == D3DSHADE_FLAT;
    key.offsetInputs = state.fillsTriangles;

    // Pixel stages first: they decide which coordinates the vertex stage makes.
    bool usesNormal = false;
    bool usesReflection = false;
    bool readsSpecular = false;
    for (int i = 0; i < 8; ++i) {
        const DWORD* ss = state.stageStates[i];
        FixedFunctionKey::Stage& stage = key.stages[i];
        const DWORD colorOp = ss[D3DTSS_COLOROP];
        if (!validOp(colorOp) || colorOp == D3DTOP_DISABLE) {
            stage.colorOp = D3DTOP_DISABLE;
            break;
        }
        const DWORD colorArgs[3] = {ss[D3DTSS_COLORARG0], ss[D3DTSS_COLORARG1], ss[D3DTSS_COLORARG2]};
        bool sampled = fillChannel(colorOp, colorArgs, stage.colorOp, stage.colorArg);
        DWORD alphaOp = ss[D3DTSS_ALPHAOP];
        if (colorOp == D3DTOP_DOTPRODUCT3) {
            // The dot product goes to alpha as well; ALPHAOP does not count.
        } else if (!validOp(alphaOp) || alphaOp == D3DTOP_DISABLE) {
            stage.alphaOp = D3DTOP_DISABLE;
        } else {
            const DWORD alphaArgs[3] = {ss[D3DTSS_ALPHAARG0], ss[D3DTSS_ALPHAARG1], ss[D3DTSS_ALPHAARG2]};
            sampled = fillChannel(alphaOp, alphaArgs, stage.alphaOp, stage.alphaArg) || sampled;
        }
        stage.resultTemp = (ss[D3DTSS_RESULTARG] & D3DTA_SELECTMASK) == D3DTA_TEMP;
        for (int a = 0; a < 3; ++a) {
            if ((stage.colorArg[a] & D3DTA_SELECTMASK) == D3DTA_SPECULAR || (stage.alphaArg[a] & D3DTA_SELECTMASK) == D3DTA_SPECULAR)
                readsSpecular = true;
        }
        const FixedTextureKind kind = state.textureKind[i];
        if (!sampled || kind == FixedTextureKind::None || std::uint8_t(kind) > 3)
            continue;
        stage.textureKind = std::uint8_t(kind);
        const DWORD index = ss[D3DTSS_TEXCOORDINDEX];
        const DWORD flags = ss[D3DTSS_TEXTURETRANSFORMFLAGS];
        std::uint8_t texGen = std::uint8_t((index >> 16) & 0xFFFF);
        // Sphere maps are not generated (nothing asks for them): coordinates pass through.
        if (texGen > (D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR >> 16))
            texGen = 0;
        std::uint8_t count = std::uint8_t(flags & 0xFF);
        if (count > D3DTTFF_COUNT4)
            count = 0;
        stage.projected = (flags & D3DTTFF_PROJECTED) != 0;
        if (positionT) {
            // Transformed vertices keep their coordinates as given.
            texGen = 0;
            count = 0;
        }
        stage.texGen = texGen;
        stage.transformCount = count;
        if (texGen == 0) {
            stage.texCoordSet = std::uint8_t(index & 7);
            key.texCoordSize[stage.texCoordSet] = layout.texCoordSize[stage.texCoordSet];
        }
        if (texGen == (D3DTSS_TCI_CAMERASPACENORMAL >> 16))
            usesNormal = true;
        if (texGen == (D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR >> 16))
            usesNormal = usesReflection = true;
    }

    const bool lighting = !positionT && rs[D3DRS_LIGHTING] != 0;
    key.lighting = lighting;
    key.specularEnable = rs[D3DRS_SPECULARENABLE] != 0;
    if (lighting) {
        for (int i = 0; i < 8; ++i) {
            const DWORD type = state.lights[i].Type;
            if (state.lightEnabled[i] && type >= D3DLIGHT_POINT && type <= D3DLIGHT_DIRECTIONAL)
                key.lightTypes[i] = std::uint8_t(type);
        }
        const bool colorVertex = rs[D3DRS_COLORVERTEX] != 0;
        key.diffuseSource = resolveSource(rs[D3DRS_DIFFUSEMATERIALSOURCE], colorVertex, layout);
        key.ambientSource = resolveSource(rs[D3DRS_AMBIENTMATERIALSOURCE], colorVertex, layout);
        key.specularSource = key.specularEnable ? resolveSource(rs[D3DRS_SPECULARMATERIALSOURCE], colorVertex, layout) : 0;
        key.emissiveSource = resolveSource(rs[D3DRS_EMISSIVEMATERIALSOURCE], colorVertex, layout);
        usesNormal = true;
    }
    if (usesNormal && !positionT) {
        key.hasNormal = layout.normal;
        key.normalizeNormals = rs[D3DRS_NORMALIZENORMALS] != 0;
    }
    if ((lighting && key.specularEnable) || usesReflection)
        key.localViewer = rs[D3DRS_LOCALVIEWER] != 0;

    if (rs[D3DRS_FOGENABLE]) {
        const std::uint8_t table = validFog(rs[D3DRS_FOGTABLEMODE]);
        const std::uint8_t vertex = validFog(rs[D3DRS_FOGVERTEXMODE]);
        if (table != D3DFOG_NONE) {
            key.fogTableMode = table;
        } else if (!positionT && vertex != D3DFOG_NONE) {
            key.fogVertexMode = vertex;
            key.rangeFog = rs[D3DRS_RANGEFOGENABLE] != 0;
        } else if (layout.specular && !lighting) {
            key.fogFromSpecular = 1;
        }
    }
    // Vertex colours only where something reads them.
    if (lighting) {
        key.hasDiffuse = key.diffuseSource == 1 || key.ambientSource == 1 || key.specularSource == 1 ||
                         key.emissiveSource == 1;
        key.hasSpecular = key.diffuseSource == 2 || key.ambientSource == 2 || key.specularSource == 2 ||
                          key.emissiveSource == 2;
    } else {
        key.hasSpecular = layout.specular && (key.specularEnable || readsSpecular || key.fogFromSpecular);
    }
    if (!positionT && rs[D3DRS_CLIPPING])
        key.clipPlaneMask = std::uint8_t(rs[D3DRS_CLIPPLANEENABLE] & 0x3F);
    if (rs[D3DRS_ALPHATESTENABLE]) {
        const DWORD func = rs[D3DRS_ALPHAFUNC];
        if (func >= D3DCMP_NEVER && func < D3DCMP_ALWAYS)
            key.alphaFunc = std::uint8_t(func);
    }
    return key;
}

} // namespace platform::d3d9
