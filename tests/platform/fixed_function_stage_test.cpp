// The texture stage cascade of the generated pixel programs against
// Direct3D 9's operation formulas: each case is one unlit point with known
// diffuse and specular colours, textures of one texel per stage, TFACTOR
// and the per-stage constants.
#include "fixed_function_reference.h"
#include "fixed_function_test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace fftest;
using ffref::C4;

namespace {

constexpr int kWidth = 16;
constexpr int kHeight = 16;
constexpr D3DCOLOR kDiffuse = 0xB0C08040;
constexpr D3DCOLOR kSpecular = 0x60203090;
constexpr D3DCOLOR kFactor = 0x40A0E010;
constexpr D3DCOLOR kTexel[3] = {0x9050A0F0, 0xE0FF2080, 0x30606060};
constexpr D3DCOLOR kConstant[2] = {0x8010F0A0, 0x20304050};

struct Stage {
    DWORD colorOp = D3DTOP_DISABLE;
    DWORD colorArg1 = D3DTA_TEXTURE, colorArg2 = D3DTA_CURRENT, colorArg0 = D3DTA_CURRENT;
    DWORD alphaOp = D3DTOP_DISABLE;
    DWORD alphaArg1 = D3DTA_TEXTURE, alphaArg2 = D3DTA_CURRENT, alphaArg0 = D3DTA_CURRENT;
    DWORD result = D3DTA_CURRENT;
};

struct Case {
    std::string name;
    std::vector<Stage> stages;
    bool specularEnable = false;
    int texturedStages = 3; // stages 0..n-1 have a texture bound
};

FixedFunctionState stateFor(const Case& c)
{
    FixedFunctionState s;
    s.layout = fixedVertexLayoutFromFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX1);
    s.projection = screenOrtho(kWidth, kHeight);
    s.viewport = {0, 0, kWidth, kHeight, 0.0f, 1.0f};
    s.renderStates[D3DRS_LIGHTING] = FALSE;
    s.renderStates[D3DRS_TEXTUREFACTOR] = kFactor;
    s.renderStates[D3DRS_SPECULARENABLE] = c.specularEnable;
    s.stageStates[0][D3DTSS_CONSTANT] = kConstant[0];
    s.stageStates[1][D3DTSS_CONSTANT] = kConstant[1];
    for (size_t i = 0; i < c.stages.size(); ++i) {
        DWORD* ss = s.stageStates[i];
        const Stage& st = c.stages[i];
        ss[D3DTSS_COLOROP] = st.colorOp;
        ss[D3DTSS_COLORARG0] = st.colorArg0;
        ss[D3DTSS_COLORARG1] = st.colorArg1;
        ss[D3DTSS_COLORARG2] = st.colorArg2;
        ss[D3DTSS_ALPHAOP] = st.alphaOp;
        ss[D3DTSS_ALPHAARG0] = st.alphaArg0;
        ss[D3DTSS_ALPHAARG1] = st.alphaArg1;
        ss[D3DTSS_ALPHAARG2] = st.alphaArg2;
        ss[D3DTSS_RESULTARG] = st.result;
        ss[D3DTSS_TEXCOORDINDEX] = 0;
    }
    for (int i = 0; i < c.texturedStages; ++i)
        s.textureKind[i] = FixedTextureKind::Texture2D;
    return s;
}

// Direct3D's cascade, written out from the documented operations.
C4 expectedColor(const Case& c)
{
    const C4 diffuse = ffref::c4(kDiffuse), specular = ffref::c4(kSpecular), factor = ffref::c4(kFactor);
    C4 current = diffuse, temp;
    for (size_t i = 0; i < c.stages.size(); ++i) {
        const Stage& st = c.stages[i];
        if (st.colorOp == D3DTOP_DISABLE)
            break;
        const C4 tex = int(i) < c.texturedStages && i < 3 ? ffref::c4(kTexel[i]) : C4{1, 1, 1, 1};
        const C4 constant = i < 2 ? ffref::c4(kConstant[i]) : C4{1, 1, 1, 1};
        auto arg = [&](DWORD a) {
            C4 v;
            switch (a & D3DTA_SELECTMASK) {
            case D3DTA_DIFFUSE: v = diffuse; break;
            case D3DTA_TEXTURE: v = tex; break;
            case D3DTA_TFACTOR: v = factor; break;
            case D3DTA_SPECULAR: v = specular; break;
            case D3DTA_TEMP: v = temp; break;
            case D3DTA_CONSTANT: v = constant; break;
            default: v = current; break;
            }
            return ffref::modified(v, a);
        };
        auto blendAlpha = [&](DWORD op) {
            switch (op) {
            case D3DTOP_BLENDDIFFUSEALPHA: return diffuse.a;
            case D3DTOP_BLENDTEXTUREALPHA:
            case D3DTOP_BLENDTEXTUREALPHAPM: return tex.a;
            case D3DTOP_BLENDFACTORALPHA: return factor.a;
            case D3DTOP_BLENDCURRENTALPHA: return current.a;
            default: return 0.0;
            }
        };
        const C4 a0 = arg(st.colorArg0), a1 = arg(st.colorArg1), a2 = arg(st.colorArg2);
        C4 out;
        const double b = blendAlpha(st.colorOp);
        switch (st.colorOp) {
        case D3DTOP_DOTPRODUCT3: {
            const double d = ffref::sat(4 * ((a1.r - .5) * (a2.r - .5) + (a1.g - .5) * (a2.g - .5) +
                                             (a1.b - .5) * (a2.b - .5)));
            out = {d, d, d, d};
            break;
        }
        case D3DTOP_MODULATEALPHA_ADDCOLOR:
            out = {a1.r + a1.a * a2.r, a1.g + a1.a * a2.g, a1.b + a1.a * a2.b, 0};
            break;
        case D3DTOP_MODULATECOLOR_ADDALPHA:
            out = {a1.r * a2.r + a1.a, a1.g * a2.g + a1.a, a1.b * a2.b + a1.a, 0};
            break;
        case D3DTOP_MODULATEINVALPHA_ADDCOLOR:
            out = {(1 - a1.a) * a2.r + a1.r, (1 - a1.a) * a2.g + a1.g, (1 - a1.a) * a2.b + a1.b, 0};
            break;
        case D3DTOP_MODULATEINVCOLOR_ADDALPHA:
            out = {(1 - a1.r) * a2.r + a1.a, (1 - a1.g) * a2.g + a1.a, (1 - a1.b) * a2.b + a1.a, 0};
            break;
        default:
            out = {ffref::channel(st.colorOp, a0.r, a1.r, a2.r, b), ffref::channel(st.colorOp, a0.g, a1.g, a2.g, b),
                   ffref::channel(st.colorOp, a0.b, a1.b, a2.b, b), 0};
            break;
        }
        if (st.colorOp != D3DTOP_DOTPRODUCT3) {
            if (st.alphaOp == D3DTOP_DISABLE) {
                out.a = current.a; // the rule for ALPHAOP DISABLE on an enabled stage
            } else {
                const C4 x0 = arg(st.alphaArg0), x1 = arg(st.alphaArg1), x2 = arg(st.alphaArg2);
                out.a = ffref::channel(st.alphaOp, x0.a, x1.a, x2.a, blendAlpha(st.alphaOp));
            }
        }
        out = ffref::sat(out);
        if ((st.result & D3DTA_SELECTMASK) == D3DTA_TEMP)
            temp = out;
        else
            current = out;
    }
    if (c.specularEnable)
        current = ffref::sat(C4{current.r + specular.r, current.g + specular.g, current.b + specular.b, current.a});
    return current;
}

Stage op(DWORD colorOp, DWORD arg1, DWORD arg2, DWORD alphaOp = D3DTOP_SELECTARG1, DWORD alphaArg1 = D3DTA_DIFFUSE,
         DWORD alphaArg2 = D3DTA_CURRENT)
{
    Stage s;
    s.colorOp = colorOp;
    s.colorArg1 = arg1;
    s.colorArg2 = arg2;
    s.alphaOp = alphaOp;
    s.alphaArg1 = alphaArg1;
    s.alphaArg2 = alphaArg2;
    return s;
}

void runCases(const std::vector<Case>& cases)
{
    ASSERT_LE(cases.size(), size_t(kWidth * kHeight));
    FF_RUN_WITH_GL([&] {
        Target target(kWidth, kHeight);
        target.clear(0x00000000);
        GLuint textures[3];
        for (int i = 0; i < 3; ++i)
            textures[i] = makeTexture2D(i, 1, 1, {kTexel[i]});
        FixedFunctionPipeline pipeline;
        for (size_t n = 0; n < cases.size(); ++n) {
            TestVertex v;
            v.position[0] = float(n % kWidth);
            v.position[1] = float(n / kWidth);
            v.position[2] = 1.0f;
            v.diffuse = kDiffuse;
            v.specular = kSpecular;
            v.tex[0][0] = v.tex[0][1] = 0.5f;
            ASSERT_TRUE(target.draw(pipeline, stateFor(cases[n]), {v}, GL_POINTS)) << cases[n].name;
        }
        for (size_t n = 0; n < cases.size(); ++n) {
            const C4 e = expectedColor(cases[n]);
            const Rgba p = target.pixel(int(n % kWidth), int(n / kWidth));
            EXPECT_NEAR(p.r, ffref::byte(e.r), 1) << cases[n].name;
            EXPECT_NEAR(p.g, ffref::byte(e.g), 1) << cases[n].name;
            EXPECT_NEAR(p.b, ffref::byte(e.b), 1) << cases[n].name;
            EXPECT_NEAR(p.a, ffref::byte(e.a), 1) << cases[n].name;
        }
        glDeleteTextures(3, textures);
    });
}

TEST(FixedFunctionStages, EveryOperationOnStageZero)
{
    const DWORD ops[] = {D3DTOP_SELECTARG1, D3DTOP_SELECTARG2, D3DTOP_MODULATE, D3DTOP_MODULATE2X,
                         D3DTOP_MODULATE4X, D3DTOP_ADD, D3DTOP_ADDSIGNED, D3DTOP_ADDSIGNED2X,
                         D3DTOP_SUBTRACT, D3DTOP_ADDSMOOTH, D3DTOP_BLENDDIFFUSEALPHA, D3DTOP_BLENDTEXTUREALPHA,
                         D3DTOP_BLENDFACTORALPHA, D3DTOP_BLENDCURRENTALPHA, D3DTOP_BLENDTEXTUREALPHAPM,
                         D3DTOP_MODULATEALPHA_ADDCOLOR, D3DTOP_MODULATECOLOR_ADDALPHA,
                         D3DTOP_MODULATEINVALPHA_ADDCOLOR, D3DTOP_MODULATEINVCOLOR_ADDALPHA, D3DTOP_DOTPRODUCT3,
                         D3DTOP_MULTIPLYADD, D3DTOP_LERP};
    std::vector<Case> cases;
    for (DWORD o : ops) {
        // Colour and alpha both run the operation (alpha on the
        // operations defined for it), on TEXTURE and DIFFUSE, ARG0 TFACTOR.
        Stage s = op(o, D3DTA_TEXTURE, D3DTA_DIFFUSE, o, D3DTA_TEXTURE, D3DTA_DIFFUSE);
        s.colorArg0 = s.alphaArg0 = D3DTA_TFACTOR;
        cases.push_back({"op " + std::to_string(o), {s}});
        // And swapped, on the second stage with CURRENT from a first.
        Stage first = op(D3DTOP_SELECTARG1, D3DTA_SPECULAR, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_TFACTOR);
        Stage second = op(o, D3DTA_CURRENT, D3DTA_TEXTURE, o, D3DTA_CURRENT, D3DTA_TEXTURE);
        cases.push_back({"op " + std::to_string(o) + " on stage 1", {first, second}});
    }
    runCases(cases);
}

TEST(FixedFunctionStages, ArgumentsAndModifiers)
{
    std::vector<Case> cases;
    const DWORD args[] = {D3DTA_DIFFUSE, D3DTA_CURRENT, D3DTA_TEXTURE, D3DTA_TFACTOR, D3DTA_SPECULAR, D3DTA_CONSTANT};
    const DWORD modifiers[] = {0, D3DTA_COMPLEMENT, D3DTA_ALPHAREPLICATE, D3DTA_COMPLEMENT | D3DTA_ALPHAREPLICATE};
    for (DWORD a : args) {
        for (DWORD m : modifiers) {
            cases.push_back({"arg " + std::to_string(a) + " modifier " + std::to_string(m),
                             {op(D3DTOP_SELECTARG1, a | m, D3DTA_CURRENT, D3DTOP_SELECTARG1, a | m)}});
            // The same on stage 1, where CURRENT is stage 0's result.
            cases.push_back({"stage 1 arg " + std::to_string(a) + " modifier " + std::to_string(m),
                             {op(D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_TFACTOR, D3DTOP_ADD, D3DTA_TEXTURE),
                              op(D3DTOP_SELECTARG2, D3DTA_TEXTURE, a | m, D3DTOP_SELECTARG2, D3DTA_TEXTURE, a | m)}});
        }
    }
    runCases(cases);
}

TEST(FixedFunctionStages, DisabledStagesAndAlphaOpDisable)
{
    std::vector<Case> cases;
    // Stage 0 disabled: the diffuse colour and alpha.
    cases.push_back({"stage 0 disabled", {Stage{}}});
    // The chain ends at the first disabled stage, whatever follows.
    cases.push_back({"stage 1 disabled ends the chain",
                     {op(D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_MODULATE, D3DTA_TEXTURE),
                      Stage{},
                      op(D3DTOP_SELECTARG1, D3DTA_TFACTOR, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_TFACTOR)}});
    // ALPHAOP DISABLE on an enabled colour stage: alpha passes through.
    cases.push_back({"alpha disabled on stage 0",
                     {op(D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_DISABLE)}});
    cases.push_back({"alpha disabled on stage 1",
                     {op(D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_SELECTARG1, D3DTA_TFACTOR),
                      op(D3DTOP_ADD, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_DISABLE)}});
    // DOTPRODUCT3 replicates into alpha whatever ALPHAOP says.
    cases.push_back({"dot3 alpha",
                     {op(D3DTOP_DOTPRODUCT3, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_SELECTARG1, D3DTA_TFACTOR)}});
    // No texture bound: TEXTURE reads white, so the default stage 0
    // (MODULATE TEXTURE, CURRENT; alpha TEXTURE) shows the vertex colour.
    Case untextured{"default stage without texture",
                    {op(D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_TEXTURE)}};
    untextured.texturedStages = 0;
    cases.push_back(untextured);
    runCases(cases);
}

TEST(FixedFunctionStages, TempRegisterAndResultArg)
{
    std::vector<Case> cases;
    Stage toTemp = op(D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_SPECULAR, D3DTOP_SELECTARG1, D3DTA_TEXTURE);
    toTemp.result = D3DTA_TEMP;
    // Stage 1 sees CURRENT unchanged (the diffuse colour) and TEMP.
    cases.push_back({"temp read later",
                     {toTemp, op(D3DTOP_ADD, D3DTA_TEMP, D3DTA_CURRENT, D3DTOP_MODULATE, D3DTA_TEMP, D3DTA_CURRENT)}});
    // TEMP starts at zero.
    cases.push_back({"temp starts at zero",
                     {op(D3DTOP_ADD, D3DTA_TEMP, D3DTA_TEXTURE, D3DTOP_ADD, D3DTA_TEMP, D3DTA_TEXTURE)}});
    // The last enabled stage writing TEMP leaves the output at CURRENT.
    Stage last = op(D3DTOP_SELECTARG1, D3DTA_TFACTOR, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_TFACTOR);
    last.result = D3DTA_TEMP;
    cases.push_back({"last stage to temp",
                     {op(D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_MODULATE, D3DTA_TEXTURE), last}});
    runCases(cases);
}

TEST(FixedFunctionStages, SpecularIsAddedAfterTheCascade)
{
    std::vector<Case> cases;
    Case on{"specular on", {op(D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_SELECTARG1, D3DTA_TEXTURE)}};
    on.specularEnable = true;
    Case off = on;
    off.name = "specular off";
    off.specularEnable = false;
    cases.push_back(on);
    cases.push_back(off);
    runCases(cases);
}

TEST(FixedFunctionStages, TheEnginesStageSetups)
{
    std::vector<Case> cases;
    // Transparency layer alone: colour times the texture's alpha, alpha
    // modulated; inverted with COMPLEMENT.
    for (DWORD invert : {DWORD(0), DWORD(D3DTA_COMPLEMENT)}) {
        cases.push_back({"transparency layer",
                         {op(D3DTOP_MODULATE, D3DTA_TEXTURE | D3DTA_ALPHAREPLICATE | invert, D3DTA_CURRENT,
                             D3DTOP_MODULATE, D3DTA_TEXTURE | invert, D3DTA_CURRENT)}});
    }
    // Colour and transparency layers on two stages.
    cases.push_back({"colour + transparency",
                     {op(D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE),
                      op(D3DTOP_MODULATE, D3DTA_TEXTURE | D3DTA_ALPHAREPLICATE, D3DTA_CURRENT, D3DTOP_MODULATE,
                         D3DTA_TEXTURE, D3DTA_CURRENT)}});
    // Colour layer doubled, then the specular layer: CURRENT + SPECULAR x
    // TEXTURE, with the alpha passed through.
    Stage spec = op(D3DTOP_MULTIPLYADD, D3DTA_SPECULAR, D3DTA_TEXTURE, D3DTOP_DISABLE);
    spec.colorArg0 = D3DTA_CURRENT;
    cases.push_back({"colour x2 + specular layer",
                     {op(D3DTOP_MODULATE2X, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_DISABLE), spec}});
    // Flat colour from TFACTOR.
    cases.push_back({"flat colour",
                     {op(D3DTOP_SELECTARG1, D3DTA_TFACTOR, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_TFACTOR)}});
    // Sphere-map stage: CURRENT + TEXTURE x TFACTOR, alpha CURRENT.
    Stage sphere = op(D3DTOP_MULTIPLYADD, D3DTA_TEXTURE, D3DTA_TFACTOR, D3DTOP_SELECTARG1, D3DTA_CURRENT);
    sphere.colorArg0 = D3DTA_CURRENT;
    cases.push_back({"sphere-map stage",
                     {op(D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE),
                      sphere}});
    // The fallback with bump, colour and specular counts of one each.
    Stage bump = op(D3DTOP_DOTPRODUCT3, D3DTA_CURRENT, D3DTA_TEXTURE, D3DTOP_MODULATE, D3DTA_CURRENT, D3DTA_TEXTURE);
    Stage colour = op(D3DTOP_MODULATE, D3DTA_CURRENT, D3DTA_TEXTURE, D3DTOP_MODULATE, D3DTA_CURRENT, D3DTA_TEXTURE);
    Stage specular = op(D3DTOP_MULTIPLYADD, D3DTA_CURRENT, D3DTA_TEXTURE, D3DTOP_MODULATE, D3DTA_CURRENT,
                        D3DTA_TEXTURE);
    cases.push_back({"fallback stages", {bump, colour, specular}});
    runCases(cases);
}

// Alpha test: the final alpha as an 8-bit value against ALPHAREF.
TEST(FixedFunctionStages, AlphaTestFunctions)
{
    FF_RUN_WITH_GL([] {
        Target target(kWidth, kHeight);
        target.clear(0x00000000);
        FixedFunctionPipeline pipeline;
        const int alphas[] = {0, 126, 127, 128, 255};
        for (DWORD func = D3DCMP_NEVER; func <= D3DCMP_ALWAYS; ++func) {
            for (int i = 0; i < 5; ++i) {
                Case c{"", {Stage{}}};
                FixedFunctionState s = stateFor(c);
                s.renderStates[D3DRS_ALPHATESTENABLE] = TRUE;
                s.renderStates[D3DRS_ALPHAFUNC] = func;
                s.renderStates[D3DRS_ALPHAREF] = 127;
                TestVertex v;
                v.position[0] = float(i);
                v.position[1] = float(func);
                v.diffuse = (DWORD(alphas[i]) << 24) | 0x00FFFFFF;
                ASSERT_TRUE(target.draw(pipeline, s, {v}, GL_POINTS));
            }
        }
        for (DWORD func = D3DCMP_NEVER; func <= D3DCMP_ALWAYS; ++func) {
            for (int i = 0; i < 5; ++i) {
                const int a = alphas[i];
                bool pass = false;
                switch (func) {
                case D3DCMP_LESS: pass = a < 127; break;
                case D3DCMP_EQUAL: pass = a == 127; break;
                case D3DCMP_LESSEQUAL: pass = a <= 127; break;
                case D3DCMP_GREATER: pass = a > 127; break;
                case D3DCMP_NOTEQUAL: pass = a != 127; break;
                case D3DCMP_GREATEREQUAL: pass = a >= 127; break;
                case D3DCMP_ALWAYS: pass = true; break;
                default: break;
                }
                EXPECT_EQ(target.pixel(i, int(func)).r, pass ? 255 : 0) << "func " << func << " alpha " << a;
            }
        }
    });
}

} // namespace
