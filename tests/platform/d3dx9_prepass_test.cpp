// The effect pre-pass: what it removes, what it keeps aside, line numbers,
// includes and literal rewriting.
#include "d3dx9_test_support.h"

#include "platform/d3dx9/effect_prepass.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using namespace platform::d3dx9;
using d3dx9test::countLines;
using d3dx9test::MemoryInclude;

namespace {

EffectPrepass prepass(const std::string& text, ID3DXInclude* include = nullptr)
{
    return runEffectPrepass(text.data(), text.size(), include);
}

// The line (1-based) of text holding needle.
size_t lineOf(const std::string& text, const std::string& needle)
{
    size_t at = text.find(needle);
    return at == std::string::npos ? 0 : countLines(text.substr(0, at)) + 1;
}

std::vector<uint32_t> ints(std::initializer_list<int> v)
{
    std::vector<uint32_t> w;
    for (int i : v)
        w.push_back(uint32_t(i));
    return w;
}

} // namespace

TEST(EffectPrepass, RemovesEffectSyntaxAndKeepsEveryLine)
{
    const std::string fx = "float4 colour < string UIName = \"a;b>\"; float UIMin = 0; > = {1, 2, 3, 4};\n"
                           "texture diffuseMap < string file = \"x.jpg\"; >;\n"
                           "string description =\n"
                           "    \"text\";\n"
                           "sampler2D S = sampler_state\n"
                           "{\n"
                           "    Texture = <diffuseMap>;\n"
                           "    MinFilter = Linear;\n"
                           "};\n"
                           "vector<float, 3> v;\n"
                           "float4 ps(float2 uv : TEXCOORD0) : COLOR0 { return tex2D(S, uv) * colour; }\n"
                           "technique T0 < int order = 1; >\n"
                           "{\n"
                           "    pass P0 { VertexShader = compile vs_2_0 vs(); PixelShader = compile ps_2_0 ps(); }\n"
                           "    pass P1 { ZEnable = false; }\n"
                           "}\n"
                           "float after;\n";
    EffectPrepass p = prepass(fx);
    ASSERT_TRUE(p.ok) << p.errors;
    EXPECT_EQ(countLines(p.text), countLines(fx));
    EXPECT_EQ(lineOf(p.text, "float after;"), lineOf(fx, "float after;"));
    for (const char* gone : {"UIName", "diffuseMap", "description", "sampler_state", "MinFilter", "technique",
                             "pass", "compile"})
        EXPECT_EQ(p.text.find(gone), std::string::npos) << gone;
    EXPECT_NE(p.text.find("vector<float, 3> v;"), std::string::npos);
    EXPECT_NE(p.text.find("float4 colour"), std::string::npos);
    EXPECT_NE(p.text.find("= {1, 2, 3, 4};"), std::string::npos);

    ASSERT_EQ(p.samplerStates.size(), 1u);
    EXPECT_EQ(p.samplerStates[0].sampler, "S");
    ASSERT_EQ(p.samplerStates[0].states.size(), 2u);
    EXPECT_EQ(p.samplerStates[0].states[0], (std::pair<std::string, std::string>("Texture", "diffuseMap")));
    EXPECT_EQ(p.samplerStates[0].states[1], (std::pair<std::string, std::string>("MinFilter", "Linear")));

    ASSERT_EQ(p.techniques.size(), 1u);
    EXPECT_EQ(p.techniques[0].name, "T0");
    ASSERT_EQ(p.techniques[0].passes.size(), 2u);
    EXPECT_EQ(p.techniques[0].passes[0].name, "P0");
    EXPECT_EQ(p.techniques[0].passes[0].states[0].first, "VertexShader");
    EXPECT_EQ(p.techniques[0].passes[0].states[0].second, "compile vs_2_0 vs()");

    const EffectGlobal* colour = p.findGlobal("colour");
    ASSERT_NE(colour, nullptr);
    EXPECT_EQ(colour->baseType, EffectBaseType::Float);
    EXPECT_EQ(colour->columns, 4u);
    EXPECT_EQ(colour->defaultValues, (std::vector<double>{1, 2, 3, 4}));
    EXPECT_EQ(p.findGlobal("diffuseMap"), nullptr);
    ASSERT_NE(p.findGlobal("S"), nullptr);
    EXPECT_EQ(p.findGlobal("S")->baseType, EffectBaseType::Sampler);
    const EffectGlobal* v = p.findGlobal("v");
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->columns, 3u);
    EXPECT_EQ(p.findGlobal("ps"), nullptr) << "functions are not globals";
}

TEST(EffectPrepass, ReadsTypesRegistersAndInitialisers)
{
    const std::string fx = "#define COUNT 8\n"
                           "uniform row_major float4x3 m : register(c10);\n"
                           "float3 lights[COUNT];\n"
                           "static const float k = 2;\n"
                           "int a = -3, b[2] = {4, 0x10};\n"
                           "bool on = true;\n"
                           "half2 h = half2(0.5h, -.25);\n"
                           "float e = k * 2;\n"
                           "sampler2D Z : register(s3);\n"
                           "matrix<float, 2, 3> t;\n";
    EffectPrepass p = prepass(fx);
    ASSERT_TRUE(p.ok);
    const EffectGlobal* m = p.findGlobal("m");
    ASSERT_NE(m, nullptr);
    EXPECT_TRUE(m->isMatrix);
    EXPECT_TRUE(m->rowMajor);
    EXPECT_EQ(m->rows, 4u);
    EXPECT_EQ(m->columns, 3u);
    EXPECT_EQ(m->registerKind, 'c');
    EXPECT_EQ(m->registerIndex, 10);
    EXPECT_EQ(m->location.line, 2u);
    EXPECT_EQ(p.text.find("register"), std::string::npos) << "registers are placed by the translator";
    EXPECT_EQ(countLines(p.text), countLines(fx));

    const EffectGlobal* lights = p.findGlobal("lights");
    ASSERT_NE(lights, nullptr);
    EXPECT_EQ(lights->dims, std::vector<uint32_t>{8});
    EXPECT_EQ(lights->dimsText, "[8]");

    EXPECT_FALSE(p.findGlobal("k")->isParameter());
    EXPECT_EQ(p.findGlobal("a")->defaultValues, std::vector<double>{-3});
    EXPECT_EQ(p.findGlobal("b")->defaultValues, (std::vector<double>{4, 16}));
    EXPECT_EQ(p.findGlobal("b")->baseType, EffectBaseType::Int);
    EXPECT_EQ(p.findGlobal("on")->defaultValues, std::vector<double>{1});
    EXPECT_EQ(p.findGlobal("h")->defaultValues, (std::vector<double>{0.5, -0.25}));
    EXPECT_FALSE(p.findGlobal("e")->hasDefault) << "an expression is no constant default";
    EXPECT_EQ(p.findGlobal("Z")->registerKind, 's');
    EXPECT_EQ(p.findGlobal("Z")->registerIndex, 3);
    EXPECT_EQ(p.findGlobal("t")->rows, 2u);
    EXPECT_EQ(p.findGlobal("t")->columns, 3u);

    std::vector<uint32_t> words = defaultWords(*p.findGlobal("b"));
    EXPECT_EQ(words, ints({4, 16}));
    std::vector<uint32_t> hw = defaultWords(*p.findGlobal("h"));
    float h0;
    std::memcpy(&h0, &hw[0], 4);
    EXPECT_EQ(h0, 0.5f);
}

TEST(EffectPrepass, LiteralsBecomeStaticConstantsOnTheSameLines)
{
    const std::string fx = "int keep = 1, numLights\n"
                           "    = 2;\n"
                           "bool enable[4] = {true, false, false, false}; float other;\n"
                           "float scale;\n"
                           "#define N 2\n"
                           "int4 pairs[N];\n"
                           "float tail;\n";
    EffectPrepass p = prepass(fx);
    ASSERT_TRUE(p.ok);
    std::vector<const std::vector<uint32_t>*> literals(p.globals.size(), nullptr);
    auto index = [&](const char* name) {
        for (size_t i = 0; i < p.globals.size(); ++i)
            if (p.globals[i].name == name)
                return i;
        ADD_FAILURE() << name;
        return size_t(0);
    };
    std::vector<uint32_t> five = ints({5});
    std::vector<uint32_t> enable = ints({1, 1, 0, 7});
    float s = 1.5f;
    std::vector<uint32_t> scale(1);
    std::memcpy(&scale[0], &s, 4);
    std::vector<uint32_t> pairs = ints({1, 2, 3, 4, 5, 6, 7});  // one short: the last is 0
    literals[index("numLights")] = &five;
    literals[index("enable")] = &enable;
    literals[index("scale")] = &scale;
    literals[index("pairs")] = &pairs;

    std::string out = applyLiterals(p, literals);
    EXPECT_EQ(countLines(out), countLines(fx));
    EXPECT_NE(out.find("static const int numLights = 5;"), std::string::npos) << out;
    EXPECT_NE(out.find("int keep = 1;"), std::string::npos) << out;
    EXPECT_NE(out.find("static const bool enable[4] = {true, true, false, true};"), std::string::npos) << out;
    EXPECT_NE(out.find("float other;"), std::string::npos) << out;
    EXPECT_NE(out.find("static const float scale = 1.5;"), std::string::npos) << out;
    EXPECT_NE(out.find("static const int4 pairs[2] = {int4(1, 2, 3, 4), int4(5, 6, 7, 0)};"), std::string::npos)
        << out;
    EXPECT_EQ(lineOf(out, "float tail;"), 7u);
    EXPECT_EQ(lineOf(out, "enable"), 3u);
    // No literal: the text as it was.
    EXPECT_EQ(applyLiterals(p, std::vector<const std::vector<uint32_t>*>(p.globals.size(), nullptr)), p.text);
}

TEST(EffectPrepass, IncludesAreReadThroughTheHandlerAndMapped)
{
    MemoryInclude inc;
    inc.files["common.fxh"] = "// common\n#include \"inner.fxh\"\nfloat commonValue;";  // no final newline
    inc.files["inner.fxh"] = "float innerValue;\r\nfloat innerSecond;\r\n";
    const std::string fx = "float first;\n#include \"common.fxh\"\n  #  include <inner.fxh>\nfloat last;\n";
    EffectPrepass p = prepass(fx, &inc);
    ASSERT_TRUE(p.ok) << p.errors;
    EXPECT_EQ(inc.opened, (std::vector<std::string>{"common.fxh", "inner.fxh", "inner.fxh"}));
    EXPECT_EQ(inc.closes, 3);
    EXPECT_TRUE(inc.open.empty());
    EXPECT_EQ(inc.parents[0], nullptr);
    EXPECT_NE(inc.parents[1], nullptr) << "nested includes get their parent's data";

    uint32_t line = uint32_t(lineOf(p.text, "innerSecond"));
    EXPECT_EQ(p.locate(line, 7), "inner.fxh(2,7)");
    EXPECT_EQ(p.locate(uint32_t(lineOf(p.text, "commonValue")), 1), "common.fxh(3,1)");
    EXPECT_EQ(p.locate(uint32_t(lineOf(p.text, "last")), 1), "(4,1)");
    EXPECT_EQ(p.locate(uint32_t(lineOf(p.text, "first")), 2), "(1,2)");
    EXPECT_EQ(p.text.find("#include"), std::string::npos);
    EXPECT_EQ(p.text.find('\r'), std::string::npos);
}

TEST(EffectPrepass, IncludeFailuresAreErrorsAtTheDirective)
{
    {
        MemoryInclude inc;
        EffectPrepass p = prepass("float a;\n\n   #include \"missing.fxh\"\n", &inc);
        EXPECT_FALSE(p.ok);
        EXPECT_EQ(p.errors.rfind("(3,4): error", 0), 0u) << p.errors;
        EXPECT_NE(p.errors.find("missing.fxh"), std::string::npos);
    }
    {
        MemoryInclude inc;
        inc.files["self.fxh"] = "float s;\n#include \"self.fxh\"\n";
        EffectPrepass p = prepass("#include \"self.fxh\"\n", &inc);
        EXPECT_FALSE(p.ok);
        EXPECT_EQ(p.errors.rfind("self.fxh(2,1): error", 0), 0u) << p.errors;
        EXPECT_EQ(inc.closes, 1);
        EXPECT_TRUE(inc.open.empty());
    }
    {
        MemoryInclude inc;  // a -> b -> A (names compare case-insensitively)
        inc.files["a.fxh"] = "#include \"b.fxh\"\n";
        inc.files["b.fxh"] = "#include \"A.FXH\"\n";
        inc.files["A.FXH"] = "float never;\n";
        EffectPrepass p = prepass("#include \"a.fxh\"\n", &inc);
        EXPECT_FALSE(p.ok);
        EXPECT_NE(p.errors.find("b.fxh(1,1)"), std::string::npos) << p.errors;
        EXPECT_TRUE(inc.open.empty());
    }
    {
        MemoryInclude inc;  // a chain deeper than the limit
        for (int i = 0; i < 40; ++i)
            inc.files["f" + std::to_string(i)] = "#include \"f" + std::to_string(i + 1) + "\"\n";
        EffectPrepass p = prepass("#include \"f0\"\n", &inc);
        EXPECT_FALSE(p.ok);
        EXPECT_NE(p.errors.find("nested too deeply"), std::string::npos) << p.errors;
        EXPECT_EQ(inc.opened.size(), size_t(kMaxIncludeDepth));
        EXPECT_TRUE(inc.open.empty());
    }
    {
        MemoryInclude inc;
        EffectPrepass p = prepass("#include missing.fxh\n", &inc);
        EXPECT_FALSE(p.ok);
        EXPECT_NE(p.errors.find("expects"), std::string::npos);
    }
    {
        EffectPrepass p = prepass("#include \"x.fxh\"\n", nullptr);
        EXPECT_FALSE(p.ok) << "no include handler";
    }
    {
        // Commented-out includes are not read.
        MemoryInclude inc;
        EffectPrepass p = prepass("/*\n#include \"nothing.fxh\"\n*/\n// #include \"no.fxh\"\nfloat a;\n", &inc);
        EXPECT_TRUE(p.ok) << p.errors;
        EXPECT_TRUE(inc.opened.empty());
    }
}

TEST(EffectPrepass, IncludeBombsStopAtTheLimits)
{
    // Every file includes the next twice: 2^15 copies unless limited.
    MemoryInclude inc;
    for (int i = 0; i < 15; ++i) {
        std::string next = "#include \"g" + std::to_string(i + 1) + "\"\n";
        inc.files["g" + std::to_string(i)] = next + next;
    }
    inc.files["g15"] = "float x;\n";
    EffectPrepass p = prepass("#include \"g0\"\n", &inc);
    EXPECT_FALSE(p.ok);
    EXPECT_LE(inc.opened.size(), kMaxIncludes);
    EXPECT_TRUE(inc.open.empty());
}

TEST(EffectPrepass, EmptyBinaryAndMalformedTextNeverBreakIt)
{
    EXPECT_TRUE(prepass("").ok);
    EXPECT_TRUE(runEffectPrepass(nullptr, 0, nullptr).ok);

    const std::string withNul("float a;\nfloat\0b;\n", 18);
    EffectPrepass nul = prepass(withNul);
    EXPECT_FALSE(nul.ok);
    EXPECT_EQ(nul.errors.rfind("(2,6): error", 0), 0u) << nul.errors;

    for (const char* bad : {"technique", "technique T {", "technique T { pass P { a = <", "float4 c <", "float4 c < x",
                            "sampler S = sampler_state {", "/* open comment", "\"open string", "float a[", "int x = {{{",
                            "}}}}", "<<<<", "struct", "#define", "#include", "float a : register(", "vector<",
                            "texture", "string s = \"", "static const int", ";;;"}) {
        EffectPrepass p = prepass(bad);
        EXPECT_EQ(countLines(p.text), p.lines.size()) << bad;
    }

    std::mt19937 random(12345);
    for (int round = 0; round < 200; ++round) {
        std::string bytes(size_t(random() % 2000), '\0');
        for (char& c : bytes)
            c = char(random() % 256);
        static const char alphabet[] = "{}<>()[];=,:\"'/*#\n abcfloat0123";
        if (round % 2)  // mostly text-like: no NUL, many braces and brackets
            for (char& c : bytes)
                c = alphabet[uint8_t(c) % (sizeof alphabet - 1)];
        EffectPrepass p = prepass(bytes);
        if (p.ok) {
            EXPECT_EQ(countLines(p.text), p.lines.size());
        }
    }
}

TEST(EffectPrepass, MegabyteEffectsArePassedThroughLinearly)
{
    std::string fx;
    for (int i = 0; fx.size() < (1u << 20); ++i)
        fx += "float4 value" + std::to_string(i) + " < string n = \"x\"; > = {1, 2, 3, 4}; // comment\n";
    fx += "technique T { pass P { } }\n";
    EffectPrepass p = prepass(fx);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(countLines(p.text), countLines(fx));
    EXPECT_GT(p.globals.size(), 10000u);
    EXPECT_EQ(p.text.find("string n"), std::string::npos);

    std::string longLine(1u << 20, ' ');
    longLine += "float a;";
    EXPECT_TRUE(prepass(longLine).ok);
}

TEST(EffectPrepass, NestingTooDeepForTheParserIsAnError)
{
    auto repeat = [](const std::string& s, int n) {
        std::string r;
        for (int i = 0; i < n; ++i)
            r += s;
        return r;
    };
    const std::string deep[] = {
        "float4 f() : COLOR0 {\n return " + repeat("(", 5000) + "1" + repeat(")", 5000) + "; }",
        "float4 f() : COLOR0 {\n return " + repeat("- ", 5000) + "1; }",
        "float4 f() : COLOR0 { float a = 0;\n if (a > 0) a = 1;" + repeat(" else if (a > 1) a = 2;", 5000) + " return a; }",
        "float4 f() : COLOR0 {\n" + repeat("if (true) ", 5000) + "return 1; return 0; }",
        "float4 f() : COLOR0 {\n return " + repeat("(float)", 5000) + "1; }",
    };
    for (const std::string& fx : deep) {
        EffectPrepass p = prepass(fx);
        EXPECT_FALSE(p.ok) << fx.substr(0, 60);
        EXPECT_EQ(p.errors.rfind("(2,", 0), 0u) << p.errors;
        EXPECT_NE(p.errors.find("nested too deeply"), std::string::npos);
    }
    // What real effects do stays well inside.
    const std::string fine[] = {
        "static const float table[] = {" + repeat("-1.5, ", 5000) + "2};",
        "float4 f(float4 c) : COLOR0 { return max(c, float4(" + repeat("c.x * 2 + ", 20) + "1, 0, 0, 1)); }",
        "float4 f(int k) : COLOR0 { float a = 0; if (k == 0) a = 1;" + repeat(" else if (k == 1) a = 2;", 40) +
            " return a; }",
        "float4 f() : COLOR0 {" + repeat(" float a = 1; if (a > 0) { a = -a; } else { a = a * 2; }", 2000) +
            " return 0; }",
    };
    for (const std::string& fx : fine)
        EXPECT_TRUE(prepass(fx).ok) << fx.substr(0, 60);
}
