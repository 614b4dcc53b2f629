// The effect compiler: parsing at creation, literals, shaders per function
// and profile, and the D3DX shape of its messages.
#include "d3dx9_test_support.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <map>
#include <memory>
#include <random>
#include <thread>
#include <vector>

using namespace d3dx9test;
using platform::d3d9::RegisterSet;
using platform::d3d9::ShaderStage;

namespace {

const char* const kLitEffect = R"(// a small lit effect
float4x4 matWorldViewProj;
float3 lightColor[4];
int numLights;
bool useTexture;
float4 tint = {1, 0.5, 0.25, 1};
sampler2D COLR0 = sampler_state { MinFilter = Linear; };

struct VsOut {
    float4 pos : POSITION;
    float2 uv : TEXCOORD0;
    float4 colour : COLOR0;
};

VsOut vshader(float3 p : POSITION, float2 uv : TEXCOORD0)
{
    VsOut o;
    o.pos = mul(float4(p, 1), matWorldViewProj);
    float3 c = 0;
    for (int i = 0; i < numLights; ++i)
        c += lightColor[i];
    o.colour = float4(c, 1);
    o.uv = uv;
    return o;
}

float4 pshader(float2 uv : TEXCOORD0, float4 colour : COLOR0) : COLOR0
{
    float4 c = colour * tint;
    if (useTexture)
        c *= tex2D(COLR0, uv);
    return c;
}

technique Lit
{
    pass P0
    {
        VertexShader = compile vs_2_0 vshader();
        PixelShader = compile ps_2_0 pshader();
    }
}
)";

struct CompilerRef {
    ID3DXEffectCompiler* p = nullptr;
    explicit CompilerRef(ID3DXEffectCompiler* c) : p(c) {}
    ~CompilerRef()
    {
        if (p)
            p->Release();
    }
    ID3DXEffectCompiler* operator->() const { return p; }
};

} // namespace

TEST(EffectCompiler, CompilesVertexAndPixelShadersOfAnEffect)
{
    CompilerRef fx(createCompiler(kLitEffect));
    ASSERT_NE(fx.p, nullptr);

    Compiled vs = compileWith(fx.p, "vshader", "vs_2_0");
    ASSERT_EQ(vs.hr, D3D_OK) << vs.errors;
    EXPECT_EQ(vs.blob.stage, ShaderStage::Vertex);
    EXPECT_EQ(vs.blob.versionToken, 0xFFFE0200u);
    EXPECT_NE(vs.blob.glsl.find("#version 450"), std::string::npos);
    EXPECT_NE(vs.blob.glsl.find("gl_Position = "), std::string::npos) << "POSITION is gl_Position";
    EXPECT_NE(vs.blob.glsl.find("gl_Position.xy += dx_PosFixup * gl_Position.w;"), std::string::npos);
    EXPECT_NE(vs.blob.glsl.find("layout(location = 0) out vec2 v_TEXCOORD0;"), std::string::npos) << vs.blob.glsl;
    EXPECT_NE(vs.blob.glsl.find("layout(location = 10) out vec4 v_COLOR0;"), std::string::npos);
    EXPECT_NE(vs.blob.glsl.find("layout(location = 8) in vec2 dx_in_TEXCOORD0;"), std::string::npos)
        << "vertex inputs sit at the device's attribute locations";
    EXPECT_NE(vs.blob.glsl.find("layout(location = 0) in vec3 dx_in_POSITION0;"), std::string::npos);
    ASSERT_EQ(vs.blob.inputs.size(), 2u);
    EXPECT_EQ(vs.blob.inputs[1].usage, uint32_t(D3DDECLUSAGE_TEXCOORD));
    EXPECT_EQ(vs.blob.inputs[1].location, 8u);
    EXPECT_EQ(vs.blob.uniformBlockName, "dx_GlobalsVS");
    EXPECT_NE(findConstant(vs.blob, "matWorldViewProj"), nullptr);
    EXPECT_EQ(findConstant(vs.blob, "tint"), nullptr) << "the vertex shader does not use tint";

    Compiled ps = compileWith(fx.p, "pshader", "ps_2_0");
    ASSERT_EQ(ps.hr, D3D_OK) << ps.errors;
    EXPECT_EQ(ps.blob.stage, ShaderStage::Pixel);
    EXPECT_EQ(ps.blob.versionToken, 0xFFFF0200u);
    EXPECT_NE(ps.blob.glsl.find("layout(location = 0) in vec2 v_TEXCOORD0;"), std::string::npos) << ps.blob.glsl;
    EXPECT_NE(ps.blob.glsl.find("layout(location = 10) in vec4 v_COLOR0;"), std::string::npos);
    EXPECT_NE(ps.blob.glsl.find("out vec4 dx_Color0;"), std::string::npos);
    EXPECT_EQ(ps.blob.glsl.find("binding"), std::string::npos) << "samplers are bound by unit uniforms";
    ASSERT_EQ(ps.blob.samplers.size(), 1u);
    EXPECT_EQ(ps.blob.samplers[0].name, "COLR0");
    EXPECT_EQ(ps.blob.samplers[0].glslName, "dx_ps_s0");
    EXPECT_EQ(ps.blob.uniformBlockName, "dx_GlobalsPS");

    auto states = platform::d3dx9::effectSamplerStates(fx.p);
    ASSERT_EQ(states.size(), 1u);
    EXPECT_EQ(states[0].states[0].second, "Linear");
    auto techniques = platform::d3dx9::effectTechniques(fx.p);
    ASSERT_EQ(techniques.size(), 1u);
    EXPECT_EQ(techniques[0].name, "Lit");
}

TEST(EffectCompiler, LiteralsSpecialiseTheCode)
{
    CompilerRef fx(createCompiler(kLitEffect));
    ASSERT_NE(fx.p, nullptr);

    // Not literal: a uniform in the int registers.
    Compiled plain = compileWith(fx.p, "vshader", "vs_2_0");
    ASSERT_EQ(plain.hr, D3D_OK) << plain.errors;
    const auto* n = findConstant(plain.blob, "numLights");
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->registerSet, RegisterSet::Int4);

    EXPECT_EQ(fx->SetLiteral("numLights", TRUE), D3D_OK);
    EXPECT_EQ(fx->SetLiteral("useTexture", TRUE), D3D_OK);
    EXPECT_EQ(fx->SetLiteral("notAGlobal", TRUE), D3DERR_INVALIDCALL);
    BOOL literal = FALSE;
    EXPECT_EQ(fx->GetLiteral("numLights", &literal), D3D_OK);
    EXPECT_TRUE(literal);

    int one = 1, three = 3;
    ASSERT_EQ(fx->SetValue("numLights", &one, 4), D3D_OK);
    Compiled withOne = compileWith(fx.p, "vshader", "vs_2_0");
    ASSERT_EQ(fx->SetValue("numLights", &three, 4), D3D_OK);
    Compiled withThree = compileWith(fx.p, "vshader", "vs_2_0");
    ASSERT_EQ(withOne.hr, D3D_OK) << withOne.errors;
    ASSERT_EQ(withThree.hr, D3D_OK) << withThree.errors;
    EXPECT_EQ(findConstant(withOne.blob, "numLights"), nullptr) << "a literal is no constant";
    EXPECT_NE(withOne.blob.glsl, withThree.blob.glsl);
    // The literal bounds the loop: one light reads lightColor[0] only.
    EXPECT_EQ(findConstant(withOne.blob, "lightColor")->registerCount, 4u);

    int yes = TRUE, no = FALSE;
    ASSERT_EQ(fx->SetValue("useTexture", &no, 4), D3D_OK);
    Compiled untextured = compileWith(fx.p, "pshader", "ps_2_0");
    ASSERT_EQ(fx->SetValue("useTexture", &yes, 4), D3D_OK);
    Compiled textured = compileWith(fx.p, "pshader", "ps_2_0");
    ASSERT_EQ(untextured.hr, D3D_OK) << untextured.errors;
    ASSERT_EQ(textured.hr, D3D_OK) << textured.errors;
    EXPECT_TRUE(untextured.blob.samplers.empty()) << "the branch and its sampler are gone";
    EXPECT_EQ(textured.blob.samplers.size(), 1u);

    // Too much data for the parameter changes nothing.
    int eight[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    EXPECT_EQ(fx->SetValue("numLights", eight, sizeof eight), D3DERR_INVALIDCALL);
    INT value = 0;
    EXPECT_EQ(fx->GetInt("numLights", &value), D3D_OK);
    EXPECT_EQ(value, 3);
}

// Three threads at once (one more than the compiler keeps) on one compiler
// per literal value, so the stages of one effect and of another interleave,
// as a shader pair's two stages do: each gets what it gets alone, messages
// included. The compilers are made first, on this thread: making one forks
// a syntax check, which the engine does alone on its main thread.
TEST(EffectCompiler, ThreadsCompilingAtOnceGetWhatTheyGetInTurn)
{
    struct Job {
        const char* function;
        const char* profile;
        int numLights;
    };
    const Job jobs[] = {{"vshader", "vs_2_0", 1}, {"pshader", "ps_2_0", 1}, {"vshader", "vs_2_0", 3},
                        {"pshader", "ps_2_0", 3}, {"vshader", "vs_2_0", 2}, {"nothere", "vs_2_0", 2}};
    std::map<int, std::unique_ptr<CompilerRef>> compilers;
    for (const Job& job : jobs) {
        auto& fx = compilers[job.numLights];
        if (fx)
            continue;
        fx = std::make_unique<CompilerRef>(createCompiler(kLitEffect));
        ASSERT_NE(fx->p, nullptr);
        fx->p->SetLiteral("numLights", TRUE);
        fx->p->SetValue("numLights", &job.numLights, 4);
    }
    auto compileJob = [&compilers](const Job& job) {
        return compileWith(compilers.at(job.numLights)->p, job.function, job.profile);
    };
    std::vector<Compiled> inTurn;
    for (const Job& job : jobs)
        inTurn.push_back(compileJob(job));
    EXPECT_NE(inTurn[0].code, inTurn[2].code);
    EXPECT_EQ(inTurn[5].hr, E_FAIL);

    constexpr size_t kThreads = 3;
    std::vector<Compiled> atOnce(std::size(jobs) * 2);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (size_t k = t; k < atOnce.size(); k += kThreads)
                atOnce[k] = compileJob(jobs[k % std::size(jobs)]);
        });
    for (std::thread& thread : threads)
        thread.join();
    for (size_t k = 0; k < atOnce.size(); ++k) {
        const Compiled& expected = inTurn[k % std::size(jobs)];
        EXPECT_EQ(atOnce[k].hr, expected.hr) << k;
        EXPECT_EQ(atOnce[k].code, expected.code) << k;
        EXPECT_EQ(atOnce[k].errors, expected.errors) << k;
    }
}

// Macros in unclosed calls that the guard's estimate lets through but that
// glslang's preprocessor expands without end: the syntax check stops at its
// processor-time and memory budget (it ran 40 s into 8 GB before), and the
// effect fails with a message.
TEST(EffectCompiler, RunawayMacrosEndWithinTheChecksBudget)
{
    const std::string text = "#define F(a) a-a\n"
                             "uint g = 0(F(F(F(F(F(F(F(F(F(F(F(F(F)F(F(FVts;\n"
                             "struct VsOut {\n"
                             "    float4 coloVV(F(F(F())))))1))))(F(1))))))))))switch1,2,3,4,5,7};\n"
                             "uint g = 0(F(F(F(F(F(F(F(F(F(F(F(F(F(F(Fx)))+)1))))(F(1))))))))))uint g = "
                             "0(F(F(F(F(F(F(F(F(F(F(F(F(F)F(F(F(F(F(F())))U)))))))))))))))))))))))))))))))); }";
    std::string errors;
    EXPECT_EQ(createCompiler(text, &errors), nullptr);
    EXPECT_NE(errors.find("error"), std::string::npos) << errors;
    rusage helpers{};
    getrusage(RUSAGE_CHILDREN, &helpers);
    EXPECT_LT(helpers.ru_maxrss, 3L << 20); // kilobytes
    EXPECT_LT(helpers.ru_utime.tv_sec + helpers.ru_stime.tv_sec, 30);
}

TEST(EffectCompiler, ErrorsPointAtTheLineOfTheEffectOrInclude)
{
    // Line 9 of the effect, after a technique spread over lines 2-7.
    const std::string fx = "float4 c;\n"
                           "technique T\n"
                           "{\n"
                           "    pass P\n"
                           "    {\n"
                           "    }\n"
                           "}\n"
                           "float4 ps() : COLOR0 {\n"
                           "    return c * undefinedName;\n"
                           "}\n";
    std::string errors;
    EXPECT_EQ(createCompiler(fx, &errors), nullptr);
    EXPECT_EQ(errors.rfind("(9,", 0), 0u) << errors;
    EXPECT_NE(errors.find("error"), std::string::npos);
    EXPECT_NE(errors.find("undefinedName"), std::string::npos);

    // Columns are the source's, not those of the macros' expansion.
    errors.clear();
    EXPECT_EQ(createCompiler("#define TWICE(x) ((x) + (x))\nfloat4 ps() : COLOR0 {\n"
                             "        return    TWICE(1.0) * missing;\n}\n",
                             &errors),
              nullptr);
    EXPECT_EQ(errors.rfind("(3,39): error", 0), 0u) << errors;

    MemoryInclude inc;
    inc.files["lib.fxh"] = "float4 f(float4 x)\n{\n    return x +* 2;\n}\n";
    errors.clear();
    EXPECT_EQ(createCompiler("float a;\n#include \"lib.fxh\"\nfloat b;\n", &errors, &inc), nullptr);
    EXPECT_EQ(errors.rfind("lib.fxh(3,", 0), 0u) << errors;
    EXPECT_TRUE(inc.open.empty());
    EXPECT_EQ(inc.closes, 1);

    // The main file's lines after an include keep their numbers.
    inc.files["ok.fxh"] = "float x;\nfloat y;\nfloat z;\n";
    errors.clear();
    EXPECT_EQ(createCompiler("#include \"ok.fxh\"\nfloat b;\nint q = ;\n", &errors, &inc), nullptr);
    EXPECT_EQ(errors.rfind("(3,", 0), 0u) << errors;

    // An include that fails to open is reported where it is included.
    errors.clear();
    EXPECT_EQ(createCompiler("\n#include \"absent.fxh\"\n", &errors, &inc), nullptr);
    EXPECT_EQ(errors.rfind("(2,1): error", 0), 0u) << errors;
}

TEST(EffectCompiler, MissingFunctionsAndBadProfilesFail)
{
    CompilerRef fx(createCompiler(kLitEffect));
    ASSERT_NE(fx.p, nullptr);
    Compiled missing = compileWith(fx.p, "vshaderSF5", "vs_2_0");
    EXPECT_EQ(missing.hr, E_FAIL);
    EXPECT_TRUE(missing.code.empty());
    EXPECT_NE(missing.errors.find("vshaderSF5"), std::string::npos) << missing.errors;
    EXPECT_NE(missing.errors.find("entrypoint not found"), std::string::npos);

    // The compiler is still usable afterwards.
    EXPECT_EQ(compileWith(fx.p, "vshader", "vs_2_0").hr, D3D_OK);

    Compiled badProfile = compileWith(fx.p, "vshader", "vs_9_9");
    EXPECT_EQ(badProfile.hr, E_FAIL);
    EXPECT_NE(badProfile.errors.find("vs_9_9"), std::string::npos);

    struct {
        const char* function;
        const char* profile;
        uint32_t token;
    } profiles[] = {{"vshader", "vs_1_1", 0xFFFE0101}, {"vshader", "vs_2_sw", 0xFFFE02FF},
                    {"vshader", "vs_3_0", 0xFFFE0300}, {"pshader", "ps_1_4", 0xFFFF0104},
                    {"pshader", "ps_2_sw", 0xFFFF02FF}, {"pshader", "ps_3_0", 0xFFFF0300}};
    for (const auto& p : profiles) {
        Compiled c = compileWith(fx.p, p.function, p.profile);
        EXPECT_EQ(c.hr, D3D_OK) << p.profile << c.errors;
        EXPECT_EQ(c.blob.versionToken, p.token) << p.profile;
        EXPECT_EQ(D3DXGetShaderVersion(c.code.data()), p.token);
        EXPECT_EQ(D3DXGetShaderSize(c.code.data()), c.code.size() * 4);
    }

    ID3DXBuffer* code = nullptr;
    EXPECT_EQ(fx->CompileShader("vshader", "vs_2_0", 0, &code, nullptr, nullptr), D3D_OK)
        << "error and table outputs are optional";
    ASSERT_NE(code, nullptr);
    code->Release();
    EXPECT_EQ(fx->CompileShader("vshader", "vs_2_0", 0, nullptr, nullptr, nullptr), D3DERR_INVALIDCALL);
}

TEST(EffectCompiler, EmptyBinaryAndHugeEffects)
{
    CompilerRef empty(createCompiler(""));
    ASSERT_NE(empty.p, nullptr);
    EXPECT_EQ(empty->GetParameter(nullptr, 0), nullptr);
    EXPECT_EQ(compileWith(empty.p, "vshader", "vs_2_0").hr, E_FAIL);

    std::mt19937 random(99);
    for (int round = 0; round < 20; ++round) {
        std::string bytes(size_t(200 + random() % 3000), '\0');
        for (char& c : bytes)
            c = char(1 + random() % 255);
        std::string errors;
        ID3DXEffectCompiler* c = createCompiler(bytes, &errors);
        if (c)
            c->Release();
        else
            EXPECT_FALSE(errors.empty());
    }

    std::string huge = "// huge\n";
    for (int i = 0; huge.size() < (1u << 20); ++i)
        huge += "float4 value" + std::to_string(i) + " = {1, 2, 3, 4}; /* a comment to make it long */\n";
    huge += "float4 pshader() : COLOR0 { return value7 + value1000; }\n";
    CompilerRef big(createCompiler(huge));
    ASSERT_NE(big.p, nullptr);
    Compiled ps = compileWith(big.p, "pshader", "ps_2_0");
    ASSERT_EQ(ps.hr, D3D_OK) << ps.errors;
    EXPECT_EQ(ps.blob.constants.size(), 2u);
}

TEST(EffectCompiler, DefinesAndParameters)
{
    D3DXMACRO defines[] = {{"SCALE", "2.0"}, {"USE_TINT", nullptr}, {nullptr, nullptr}};
    CompilerRef fx(createCompiler("float4 tint = {1, 2, 3, 4};\n"
                                  "float4 pshader() : COLOR0 {\n"
                                  "#ifdef USE_TINT\n"
                                  "    return tint * SCALE;\n"
                                  "#endif\n"
                                  "}\n",
                                  nullptr, nullptr, defines));
    ASSERT_NE(fx.p, nullptr);
    D3DXHANDLE tint = fx->GetParameterByName(nullptr, "tint");
    ASSERT_NE(tint, nullptr);
    EXPECT_STREQ(tint, "tint");
    EXPECT_EQ(fx->GetParameter(nullptr, 0), tint);
    D3DXPARAMETER_DESC desc;
    ASSERT_EQ(fx->GetParameterDesc(tint, &desc), D3D_OK);
    EXPECT_EQ(desc.Class, D3DXPC_VECTOR);
    EXPECT_EQ(desc.Type, D3DXPT_FLOAT);
    EXPECT_EQ(desc.Columns, 4u);
    EXPECT_EQ(desc.Bytes, 16u);
    FLOAT f = 0;
    EXPECT_EQ(fx->GetFloat(tint, &f), D3D_OK);
    EXPECT_EQ(f, 1.0f);

    Compiled ps = compileWith(fx.p, "pshader", "ps_2_0");
    ASSERT_EQ(ps.hr, D3D_OK) << ps.errors;
    EXPECT_NE(ps.blob.glsl.find("2.0"), std::string::npos) << ps.blob.glsl;
    const auto* c = findConstant(ps.blob, "tint");
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(c->defaultValue.size(), 16u);

    // A value set on a parameter that is not literal becomes its default.
    float twos[4] = {2, 2, 2, 2};
    ASSERT_EQ(fx->SetFloatArray(tint, twos, 4), D3D_OK);
    Compiled again = compileWith(fx.p, "pshader", "ps_2_0");
    const auto* c2 = findConstant(again.blob, "tint");
    ASSERT_NE(c2, nullptr);
    float first;
    std::memcpy(&first, c2->defaultValue.data(), 4);
    EXPECT_EQ(first, 2.0f);

    D3DXMACRO bad[] = {{"A B", "1"}, {nullptr, nullptr}};
    std::string errors;
    EXPECT_EQ(createCompiler("float a;", &errors, nullptr, bad), nullptr);
    EXPECT_FALSE(errors.empty());
}

TEST(EffectCompiler, UnsupportedSemanticsAreErrorsNotBadCode)
{
    Compiled c = compile("float4 vs(float4 p : POSITION, float4 b : BINORMAL) : POSITION { return p + b; }",
                         "vs", "vs_2_0");
    EXPECT_EQ(c.hr, E_FAIL);
    EXPECT_NE(c.errors.find("BINORMAL"), std::string::npos) << c.errors;

    Compiled twice = compile("struct O { float4 p : POSITION; float4 a : TEXCOORD1; float4 b : texcoord1; };\n"
                             "O vs(float4 p : POSITION) { O o; o.p = p; o.a = p; o.b = p; return o; }",
                             "vs", "vs_2_0");
    EXPECT_EQ(twice.hr, E_FAIL);
    EXPECT_NE(twice.errors.find("twice"), std::string::npos) << twice.errors;
}
