// The fixed-function key: which states change the generated program and
// which only change uniforms; vertex layouts from FVF codes and
// declarations.
#include "platform/d3d9/fixed_function.h"

#include <gtest/gtest.h>

#include <cstring>
#include <unordered_set>

using namespace platform::d3d9;

namespace {

DWORD floatBits(float f)
{
    DWORD d;
    std::memcpy(&d, &f, 4);
    return d;
}

FixedFunctionState litState()
{
    FixedFunctionState s;
    s.layout = fixedVertexLayoutFromFVF(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1);
    s.lights[0].Type = D3DLIGHT_DIRECTIONAL;
    s.lights[0].Direction = {0, 0, 1};
    s.lightEnabled[0] = true;
    s.textureKind[0] = FixedTextureKind::Texture2D;
    return s;
}

FixedFunctionKey keyOf(const FixedFunctionState& s)
{
    return makeFixedFunctionKey(s);
}

TEST(FixedFunctionKey, DefaultStateMatchesDirect3DDefaults)
{
    FixedFunctionState s;
    EXPECT_EQ(s.renderStates[D3DRS_LIGHTING], DWORD(TRUE));
    EXPECT_EQ(s.renderStates[D3DRS_COLORVERTEX], DWORD(TRUE));
    EXPECT_EQ(s.renderStates[D3DRS_DIFFUSEMATERIALSOURCE], DWORD(D3DMCS_COLOR1));
    EXPECT_EQ(s.renderStates[D3DRS_SPECULARMATERIALSOURCE], DWORD(D3DMCS_COLOR2));
    EXPECT_EQ(s.renderStates[D3DRS_TEXTUREFACTOR], 0xFFFFFFFFu);
    EXPECT_EQ(s.renderStates[D3DRS_FOGEND], floatBits(1.0f));
    EXPECT_EQ(s.stageStates[0][D3DTSS_COLOROP], DWORD(D3DTOP_MODULATE));
    EXPECT_EQ(s.stageStates[0][D3DTSS_ALPHAOP], DWORD(D3DTOP_SELECTARG1));
    EXPECT_EQ(s.stageStates[1][D3DTSS_COLOROP], DWORD(D3DTOP_DISABLE));
    EXPECT_EQ(s.stageStates[3][D3DTSS_TEXCOORDINDEX], 3u);
    EXPECT_EQ(s.stageStates[5][D3DTSS_COLORARG0], DWORD(D3DTA_CURRENT));
    EXPECT_EQ(s.world._11, 1.0f);
    EXPECT_EQ(s.texture[7]._44, 1.0f);

    const FixedFunctionKey k = keyOf(s);
    EXPECT_EQ(k.stages[0].colorOp, D3DTOP_MODULATE);
    EXPECT_EQ(k.stages[0].colorArg[1], D3DTA_TEXTURE);
    EXPECT_EQ(k.stages[0].colorArg[2], D3DTA_CURRENT);
    EXPECT_EQ(k.stages[0].colorArg[0], 0) << "MODULATE does not read ARG0";
    EXPECT_EQ(k.stages[1].colorOp, D3DTOP_DISABLE);
    EXPECT_EQ(k.stages[0].textureKind, 0) << "nothing bound: no sampler";
}

TEST(FixedFunctionKey, UniformOnlyStatesLeaveTheKeyAlone)
{
    const FixedFunctionState base = litState();
    const FixedFunctionKey k = keyOf(base);

    FixedFunctionState s = base;
    s.world._41 = 5.0f;
    s.view._22 = -1.0f;
    s.projection._34 = 1.0f;
    s.texture[0]._11 = 2.0f;
    s.material.Diffuse = {0.1f, 0.2f, 0.3f, 0.4f};
    s.material.Power = 17.0f;
    s.lights[0].Diffuse = {1, 0, 0, 1};
    s.lights[0].Direction = {1, 0, 0};
    s.lights[0].Range = 3.0f;
    s.lights[0].Attenuation1 = 0.5f;
    s.renderStates[D3DRS_AMBIENT] = 0xFF102030;
    s.renderStates[D3DRS_TEXTUREFACTOR] = 0x80FF0000;
    s.renderStates[D3DRS_FOGCOLOR] = 0x00FF00FF;
    s.renderStates[D3DRS_FOGSTART] = floatBits(10.0f);
    s.renderStates[D3DRS_FOGEND] = floatBits(100.0f);
    s.renderStates[D3DRS_FOGDENSITY] = floatBits(0.25f);
    s.renderStates[D3DRS_ALPHAREF] = 127;
    s.renderStates[D3DRS_POINTSIZE] = floatBits(5.0f);
    s.renderStates[D3DRS_ZENABLE] = FALSE;
    s.renderStates[D3DRS_CULLMODE] = D3DCULL_NONE;
    s.renderStates[D3DRS_ALPHABLENDENABLE] = TRUE;
    s.stageStates[0][D3DTSS_CONSTANT] = 0x12345678;
    s.clipPlanes[0][2] = 1.0f;
    s.viewport = {10, 20, 300, 200, 0.25f, 0.75f};
    EXPECT_EQ(keyOf(s), k);
}

TEST(FixedFunctionKey, CodeStatesChangeTheKey)
{
    const FixedFunctionState base = litState();
    const FixedFunctionKey k = keyOf(base);
    auto differs = [&](auto change) {
        FixedFunctionState s = base;
        change(s);
        return keyOf(s) != k;
    };
    EXPECT_TRUE(differs([](FixedFunctionState& s) { s.renderStates[D3DRS_LIGHTING] = FALSE; }));
    EXPECT_TRUE(differs([](FixedFunctionState& s) { s.lights[0].Type = D3DLIGHT_POINT; }));
    EXPECT_TRUE(differs([](FixedFunctionState& s) { s.lightEnabled[0] = false; }));
    EXPECT_TRUE(differs([](FixedFunctionState& s) {
        s.lightEnabled[3] = true;
        s.lights[3].Type = D3DLIGHT_SPOT;
    }));
    EXPECT_TRUE(differs([](FixedFunctionState& s) { s.renderStates[D3DRS_SPECULARENABLE] = TRUE; }));
    EXPECT_TRUE(differs([](FixedFunctionState& s) { s.renderStates[D3DRS_NORMALIZENORMALS] = TRUE; }));
    EXPECT_TRUE(differs([](FixedFunctionState& s) { s.renderStates[D3DRS_AMBIENTMATERIALSOURCE] = D3DMCS_COLOR1;
                                                     s.layout.diffuse = true; }));
    EXPECT_TRUE(differs([](FixedFunctionState& s) {
        s.renderStates[D3DRS_FOGENABLE] = TRUE;
        s.renderStates[D3DRS_FOGTABLEMODE] = D3DFOG_LINEAR;
    }));
    EXPECT_TRUE(differs([](FixedFunctionState& s) {
        s.renderStates[D3DRS_FOGENABLE] = TRUE;
        s.renderStates[D3DRS_FOGVERTEXMODE] = D3DFOG_EXP;
    }));
    EXPECT_TRUE(differs([](FixedFunctionState& s) { s.stageStates[0][D3DTSS_COLOROP] = D3DTOP_MODULATE2X; }));
    EXPECT_TRUE(differs([](FixedFunctionState& s) {
        s.stageStates[0][D3DTSS_COLORARG1] = D3DTA_TEXTURE | D3DTA_COMPLEMENT;
    }));
    EXPECT_TRUE(differs([](FixedFunctionState& s) { s.stageStates[0][D3DTSS_ALPHAOP] = D3DTOP_DISABLE; }));
    EXPECT_TRUE(differs([](FixedFunctionState& s) { s.stageStates[0][D3DTSS_RESULTARG] = D3DTA_TEMP; }));
    EXPECT_TRUE(differs([](FixedFunctionState& s) { s.textureKind[0] = FixedTextureKind::Cube; }));
    EXPECT_TRUE(differs([](FixedFunctionState& s) {
        s.stageStates[0][D3DTSS_TEXCOORDINDEX] = D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR;
    }));
    EXPECT_TRUE(differs([](FixedFunctionState& s) {
        s.stageStates[0][D3DTSS_TEXTURETRANSFORMFLAGS] = D3DTTFF_COUNT2;
    }));
    EXPECT_TRUE(differs([](FixedFunctionState& s) {
        s.stageStates[0][D3DTSS_TEXTURETRANSFORMFLAGS] = D3DTTFF_COUNT3 | D3DTTFF_PROJECTED;
    }));
    EXPECT_TRUE(differs([](FixedFunctionState& s) {
        s.renderStates[D3DRS_ALPHATESTENABLE] = TRUE;
        s.renderStates[D3DRS_ALPHAFUNC] = D3DCMP_GREATER;
    }));
    EXPECT_TRUE(differs([](FixedFunctionState& s) { s.renderStates[D3DRS_CLIPPLANEENABLE] = D3DCLIPPLANE0; }));
    EXPECT_TRUE(differs([](FixedFunctionState& s) { s.layout.positionT = true; }));
    EXPECT_TRUE(differs([](FixedFunctionState& s) { s.layout.normal = false; }));
    EXPECT_TRUE(differs([](FixedFunctionState& s) { s.renderStates[D3DRS_SHADEMODE] = D3DSHADE_FLAT; }));
    EXPECT_TRUE(differs([](FixedFunctionState& s) { s.fillsTriangles = false; }));
    EXPECT_TRUE(differs([](FixedFunctionState& s) { s.stageStates[1][D3DTSS_COLOROP] = D3DTOP_ADD; }));
}

TEST(FixedFunctionKey, StatesBeyondTheFirstDisabledStageDoNotCount)
{
    FixedFunctionState a = litState();
    FixedFunctionState b = a;
    b.stageStates[2][D3DTSS_COLOROP] = D3DTOP_MODULATE4X;
    b.stageStates[2][D3DTSS_COLORARG1] = D3DTA_SPECULAR;
    b.textureKind[2] = FixedTextureKind::Volume;
    b.stageStates[1][D3DTSS_ALPHAOP] = D3DTOP_ADD; // stage 1 is DISABLE
    EXPECT_EQ(keyOf(a), keyOf(b));

    // Stage 0 disabled: nothing of stage 0 or later matters.
    a.stageStates[0][D3DTSS_COLOROP] = D3DTOP_DISABLE;
    b = a;
    b.stageStates[0][D3DTSS_COLORARG1] = D3DTA_TFACTOR;
    b.stageStates[0][D3DTSS_ALPHAOP] = D3DTOP_MODULATE;
    b.stageStates[1][D3DTSS_COLOROP] = D3DTOP_ADD;
    EXPECT_EQ(keyOf(a), keyOf(b));
}

TEST(FixedFunctionKey, ArgumentsAnOperationDoesNotReadDoNotCount)
{
    FixedFunctionState a = litState();
    a.stageStates[0][D3DTSS_COLOROP] = D3DTOP_SELECTARG1;
    a.stageStates[0][D3DTSS_ALPHAOP] = D3DTOP_SELECTARG2;
    FixedFunctionState b = a;
    b.stageStates[0][D3DTSS_COLORARG2] = D3DTA_TFACTOR; // unread by SELECTARG1
    b.stageStates[0][D3DTSS_COLORARG0] = D3DTA_SPECULAR;
    b.stageStates[0][D3DTSS_ALPHAARG1] = D3DTA_DIFFUSE; // unread by SELECTARG2
    EXPECT_EQ(keyOf(a), keyOf(b));
    b.stageStates[0][D3DTSS_COLORARG1] = D3DTA_TFACTOR;
    EXPECT_NE(keyOf(a), keyOf(b));

    // MULTIPLYADD reads ARG0.
    a.stageStates[0][D3DTSS_COLOROP] = D3DTOP_MULTIPLYADD;
    b = a;
    b.stageStates[0][D3DTSS_COLORARG0] = D3DTA_SPECULAR;
    EXPECT_NE(keyOf(a), keyOf(b));
}

TEST(FixedFunctionKey, TextureCoordinatesOnlyForSampledStages)
{
    // Stage 0 reads only TFACTOR: its coordinate index, transform and the
    // bound texture's kind are irrelevant.
    FixedFunctionState a = litState();
    a.stageStates[0][D3DTSS_COLOROP] = D3DTOP_SELECTARG1;
    a.stageStates[0][D3DTSS_COLORARG1] = D3DTA_TFACTOR;
    a.stageStates[0][D3DTSS_ALPHAARG1] = D3DTA_TFACTOR;
    FixedFunctionState b = a;
    b.stageStates[0][D3DTSS_TEXCOORDINDEX] = D3DTSS_TCI_CAMERASPACENORMAL | 3;
    b.stageStates[0][D3DTSS_TEXTURETRANSFORMFLAGS] = D3DTTFF_COUNT3;
    b.textureKind[0] = FixedTextureKind::Cube;
    EXPECT_EQ(keyOf(a), keyOf(b));
    EXPECT_EQ(keyOf(a).stages[0].textureKind, 0);

    // A BLENDTEXTUREALPHA stage samples even without a TEXTURE argument.
    a.stageStates[0][D3DTSS_COLOROP] = D3DTOP_BLENDTEXTUREALPHA;
    a.stageStates[0][D3DTSS_COLORARG2] = D3DTA_DIFFUSE;
    EXPECT_EQ(keyOf(a).stages[0].textureKind, std::uint8_t(FixedTextureKind::Texture2D));
}

TEST(FixedFunctionKey, LightingOffIgnoresLightsAndMaterialSources)
{
    FixedFunctionState a = litState();
    a.renderStates[D3DRS_LIGHTING] = FALSE;
    FixedFunctionState b = a;
    b.lights[2].Type = D3DLIGHT_SPOT;
    b.lightEnabled[2] = true;
    b.renderStates[D3DRS_EMISSIVEMATERIALSOURCE] = D3DMCS_COLOR2;
    b.renderStates[D3DRS_LOCALVIEWER] = FALSE;
    b.renderStates[D3DRS_NORMALIZENORMALS] = TRUE;
    b.renderStates[D3DRS_SPECULARENABLE] = FALSE;
    EXPECT_EQ(keyOf(a), keyOf(b));
}

TEST(FixedFunctionKey, PretransformedVerticesAreNeitherLitNorClipped)
{
    FixedFunctionState s = litState();
    s.layout = fixedVertexLayoutFromFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
    s.renderStates[D3DRS_CLIPPLANEENABLE] = 1;
    s.renderStates[D3DRS_FOGENABLE] = TRUE;
    s.renderStates[D3DRS_FOGVERTEXMODE] = D3DFOG_LINEAR;
    s.stageStates[0][D3DTSS_TEXTURETRANSFORMFLAGS] = D3DTTFF_COUNT2;
    const FixedFunctionKey k = keyOf(s);
    EXPECT_EQ(k.positionT, 1);
    EXPECT_EQ(k.lighting, 0);
    EXPECT_EQ(k.lightTypes[0], 0);
    EXPECT_EQ(k.clipPlaneMask, 0);
    EXPECT_EQ(k.fogVertexMode, 0);
    EXPECT_EQ(k.stages[0].transformCount, 0);
    EXPECT_EQ(k.hasDiffuse, 1);
}

TEST(FixedFunctionKey, MaterialSourcesResolveToWhatTheVertexHas)
{
    FixedFunctionState s = litState(); // no vertex colours
    s.renderStates[D3DRS_EMISSIVEMATERIALSOURCE] = D3DMCS_COLOR1;
    EXPECT_EQ(keyOf(s).diffuseSource, 0) << "COLOR1 without a diffuse colour falls back to the material";
    EXPECT_EQ(keyOf(s).emissiveSource, 0);
    s.layout.diffuse = true;
    EXPECT_EQ(keyOf(s).diffuseSource, 1);
    EXPECT_EQ(keyOf(s).emissiveSource, 1);
    s.renderStates[D3DRS_COLORVERTEX] = FALSE;
    EXPECT_EQ(keyOf(s).diffuseSource, 0);
    EXPECT_EQ(keyOf(s).emissiveSource, 0);
    EXPECT_EQ(keyOf(s).hasDiffuse, 0) << "nothing reads the vertex colour";
}

TEST(FixedFunctionKey, FogModeSelection)
{
    FixedFunctionState s = litState();
    s.renderStates[D3DRS_FOGTABLEMODE] = D3DFOG_EXP2;
    s.renderStates[D3DRS_FOGVERTEXMODE] = D3DFOG_LINEAR;
    EXPECT_EQ(keyOf(s).fogTableMode, 0) << "FOGENABLE off";
    s.renderStates[D3DRS_FOGENABLE] = TRUE;
    EXPECT_EQ(keyOf(s).fogTableMode, D3DFOG_EXP2) << "pixel fog wins over vertex fog";
    EXPECT_EQ(keyOf(s).fogVertexMode, 0);
    s.renderStates[D3DRS_FOGTABLEMODE] = D3DFOG_NONE;
    EXPECT_EQ(keyOf(s).fogVertexMode, D3DFOG_LINEAR);
    s.renderStates[D3DRS_FOGTABLEMODE] = 99; // invalid counts as NONE
    EXPECT_EQ(keyOf(s).fogVertexMode, D3DFOG_LINEAR);
}

TEST(FixedFunctionKey, InvalidValuesAreCanonical)
{
    FixedFunctionState a = litState();
    a.stageStates[0][D3DTSS_COLOROP] = 200; // invalid: ends the chain
    FixedFunctionState b = litState();
    b.stageStates[0][D3DTSS_COLOROP] = D3DTOP_DISABLE;
    EXPECT_EQ(keyOf(a), keyOf(b));

    a = litState();
    a.stageStates[0][D3DTSS_COLORARG2] = 0xF; // unknown selector reads CURRENT
    EXPECT_EQ(keyOf(a), keyOf(litState()));

    a = litState();
    a.renderStates[D3DRS_ALPHATESTENABLE] = TRUE;
    a.renderStates[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
    EXPECT_EQ(keyOf(a), keyOf(litState())) << "ALWAYS tests nothing";
}

TEST(FixedFunctionKey, HashSpreadsKeys)
{
    std::unordered_set<std::size_t> hashes;
    int keys = 0;
    for (DWORD op = D3DTOP_SELECTARG1; op <= D3DTOP_LERP; ++op) {
        for (DWORD arg = 0; arg <= D3DTA_CONSTANT; ++arg) {
            FixedFunctionState s = litState();
            s.stageStates[0][D3DTSS_COLOROP] = op;
            s.stageStates[0][D3DTSS_COLORARG1] = arg;
            s.stageStates[0][D3DTSS_COLORARG2] = D3DTA_DIFFUSE;
            s.stageStates[0][D3DTSS_COLORARG0] = D3DTA_SPECULAR;
            hashes.insert(keyOf(s).hash());
            ++keys;
        }
    }
    // Operations that ignore ARG1 (SELECTARG2, bump mapping) collapse; the rest are distinct.
    EXPECT_GT(hashes.size(), size_t(keys) * 8 / 10);
}

TEST(FixedVertexLayout, FromFVF)
{
    FixedVertexLayout l = fixedVertexLayoutFromFVF(D3DFVF_XYZ | D3DFVF_TEX1 | D3DFVF_TEXCOORDSIZE3(0));
    EXPECT_FALSE(l.positionT);
    EXPECT_FALSE(l.normal);
    EXPECT_EQ(l.texCoordSize[0], 3);
    EXPECT_EQ(l.texCoordSize[1], 0);

    l = fixedVertexLayoutFromFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX3 |
                                 D3DFVF_TEXCOORDSIZE1(1) | D3DFVF_TEXCOORDSIZE4(2));
    EXPECT_TRUE(l.positionT);
    EXPECT_TRUE(l.diffuse);
    EXPECT_TRUE(l.specular);
    EXPECT_EQ(l.texCoordSize[0], 2);
    EXPECT_EQ(l.texCoordSize[1], 1);
    EXPECT_EQ(l.texCoordSize[2], 4);

    // A texture count beyond 8 is cut, not overrun.
    l = fixedVertexLayoutFromFVF(D3DFVF_XYZ | 0xF00);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(l.texCoordSize[i], 2);
}

TEST(FixedVertexLayout, FromDeclaration)
{
    const D3DVERTEXELEMENT9 decl[] = {
        {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
        {0, 12, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_NORMAL, 0},
        {0, 24, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
        {0, 32, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 1},
        {0, 44, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 1},
        {0, 48, D3DDECLTYPE_FLOAT1, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 9},
        D3DDECL_END()};
    const FixedVertexLayout l = fixedVertexLayoutFromDeclaration(decl);
    EXPECT_FALSE(l.positionT);
    EXPECT_TRUE(l.normal);
    EXPECT_FALSE(l.diffuse);
    EXPECT_TRUE(l.specular);
    EXPECT_EQ(l.texCoordSize[0], 2);
    EXPECT_EQ(l.texCoordSize[1], 3);

    const D3DVERTEXELEMENT9 transformed[] = {
        {0, 0, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITIONT, 0}, D3DDECL_END()};
    EXPECT_TRUE(fixedVertexLayoutFromDeclaration(transformed).positionT);
    EXPECT_FALSE(fixedVertexLayoutFromDeclaration(nullptr).positionT);
}

TEST(FixedVertexLayout, UnterminatedDeclarationStopsAtTheLimit)
{
    D3DVERTEXELEMENT9 decl[MAXD3DDECLLENGTH + 1];
    for (auto& e : decl)
        e = {0, 0, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 2};
    decl[MAXD3DDECLLENGTH] = {0, 0, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITIONT, 0};
    const FixedVertexLayout l = fixedVertexLayoutFromDeclaration(decl);
    EXPECT_EQ(l.texCoordSize[2], 2);
    EXPECT_FALSE(l.positionT) << "element beyond the limit read";
}

} // namespace
