// Hostile effect text: everything that would crash or hang glslang is a
// clean compile error, while long but flat effects still compile.
#include "d3dx9_test_support.h"

#include "platform/d3dx9/effect_compiler.h"
#include "platform/d3dx9/hlsl_guard.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace d3dx9test;

namespace {

std::string repeat(const std::string& s, int n)
{
    std::string r;
    for (int i = 0; i < n; ++i)
        r += s;
    return r;
}

std::string sum(int terms)
{
    std::string s = "float4 w[4];\nfloat4 f() : COLOR0 { return w[0]";
    for (int i = 1; i < terms; ++i)
        s += " + w[" + std::to_string(i % 4) + "]";
    return s + "; }\n";
}

} // namespace

TEST(HostileEffect, RefusedWithAnErrorAtItsLine)
{
    const struct {
        const char* what;
        std::string text;
        const char* error;
    } cases[] = {
        {"brackets built by a macro",
         "#define OPEN " + repeat("(", 32) + "\n#define CLOSE " + repeat(")", 32) +
             "\nfloat4 f() : COLOR0 { return " + repeat("OPEN ", 160) + "1" + repeat(" CLOSE", 160) + "; }\n",
         "nested too deeply"},
        {"nesting hidden behind #if 0",
         "float4 f() : COLOR0 { return " + repeat("(\n#if 0\n)\n#endif\n", 5000) + "1" + repeat(")", 5000) + "; }\n",
         "nested too deeply"},
        {"unsized array then the same name", "int b[]b", "redefinition of 'b'"},
        {"unterminated array size", "int c=1d[n d", "unexpected token in brackets"},
        {"a parameter's size left open", "float4 f(float4 [ : COLOR0) : COLOR0 { return 1; }",
         "unexpected token in brackets"},
        {"two sizes in one bracket", "float4 f(float4 c[1 2]) : COLOR0 { return 1; }",
         "unexpected token in brackets"},
        {"a global declared again as an array", "int b;\nint b[2];\n", "redefinition of 'b'"},
        {"a parameter qualifier at the end of the effect", "float a;\nin float", "'in' is only valid"},
        {"a primitive qualifier at the end of the effect", "point float4", "'point' is only valid"},
        {"an increment of a uniform in a sum", "int n;\nfloat4 f() : COLOR0 { return 1 + n++; }\n", "l-value"},
        {"an increment of a constant as an argument",
         "static const int k = 1;\nfloat4 f() : COLOR0 { return max(k++, 1); }\n", "l-value"},
        {"an increment of a call's result", "int g() { return 1; }\nfloat4 f() : COLOR0 { return 1 + g()++; }\n",
         "l-value"},
        {"the end inside a conditional", "float4 f() : COLOR0 { return true ? 1 :", "unexpected end of file"},
        {"the end inside a global's conditional", "float a = 1 ? 2 : 3 ? 4 :", "unexpected end of file"},
        {"macros doubling their arguments",
         "#define F(a) a a\nfloat4 f() : COLOR0 { return " + repeat("F(", 40) + "1" + repeat(")", 40) + "; }\n",
         "macro expansion too large"},
        {"a macro standing for a doubling macro",
         "#define F(a) a a\n#define M F\nfloat4 f() : COLOR0 { return " + repeat("M(", 40) + "1" + repeat(")", 40) +
             "; }\n",
         "macro expansion too large"},
        {"macros doubling each other",
         "#define A0 1+1\n" + [] {
             std::string s;
             for (int i = 1; i < 40; ++i)
                 s += "#define A" + std::to_string(i) + " A" + std::to_string(i - 1) + "+A" +
                      std::to_string(i - 1) + "\n";
             return s;
         }() + "float4 f() : COLOR0 { return A39; }\n",
         "macro expansion too large"},
        {"macro arguments nested", "#define F(a) (a)\nfloat4 f() : COLOR0 { return " + repeat("F(", 5000) + "1" +
                                       repeat(")", 5000) + "; }\n",
         "nested too deeply"},
        {"a flat sum past the limit", sum(5000), "expression too long"},
    };
    for (const auto& c : cases) {
        std::string errors;
        ID3DXEffectCompiler* fx = createCompiler(c.text, &errors);
        EXPECT_EQ(fx, nullptr) << c.what;
        if (fx)
            fx->Release();
        EXPECT_EQ(errors.rfind("(", 0), 0u) << c.what << ": " << errors;
        EXPECT_NE(errors.find(c.error), std::string::npos) << c.what << ": " << errors;
    }
}

// Semantic errors glslang trips over, which no token check sees: the effect
// is refused, the process goes on.
TEST(HostileEffect, FrontEndCrashesCostTheEffectNotTheProcess)
{
    for (const char* text : {"float4 f() : COLOR0 { return true ? 1 : x; }\n",
                             "sampler2D s;\nfloat4 f() : COLOR0 { return 1 + (true ? 1 : s); }\n"}) {
        std::string errors;
        ID3DXEffectCompiler* fx = createCompiler(text, &errors);
        EXPECT_EQ(fx, nullptr) << text;
        if (fx)
            fx->Release();
        EXPECT_NE(errors.find("error"), std::string::npos) << text;
    }
}

// Macros given by the caller are expanded as the effect's own are.
TEST(HostileEffect, CallerDefinesAreGuardedToo)
{
    std::string open = repeat("(", 40), close = repeat(")", 40);
    D3DXMACRO defines[] = {{"OPEN", open.c_str()}, {"CLOSE", close.c_str()}, {nullptr, nullptr}};
    std::string errors;
    ID3DXEffectCompiler* fx = createCompiler(
        "float4 f() : COLOR0 {\n return " + repeat("OPEN ", 10) + "1" + repeat(" CLOSE", 10) + "; }\n", &errors,
        nullptr, defines);
    EXPECT_EQ(fx, nullptr);
    if (fx)
        fx->Release();
    EXPECT_EQ(errors.rfind("(2,", 0), 0u) << errors;
    EXPECT_NE(errors.find("nested too deeply"), std::string::npos) << errors;
}

TEST(HostileEffect, LongFlatAndOrdinaryEffectsCompile)
{
    const struct {
        const char* what;
        std::string text;
    } cases[] = {
        {"a sum of 128 terms", sum(128)},
        {"a sum of 1024 terms", sum(1024)},
        {"a cast of an earlier global", "float b;\nfloat4 f() : COLOR0 { return (float)b; }\nfloat a = (float)b;\n"},
        {"indices, casts and attributes in brackets",
         "float4 w[4];\nfloat4 f(int i : TEXCOORD0) : COLOR0 { float4 c = w[(int)(i + 1) % 4] + w[-i + 3] + "
         "w[min(i, 3)];\n [unroll] for (int k = 0; k < 2; ++k) c += w[k];\n return c; }\n"},
        {"an initialiser list naming a global twice",
         "static const float b = 1;\nfloat2 x = {b, b};\nfloat4 f() : COLOR0 { return x.xyxy; }\n"},
        {"semantics, registers and declarator lists",
         "float4x4 m : WORLD;\nfloat a : register(c4), b;\nfloat4 f() : COLOR0 { return m[0] * a * b; }\n"},
        {"increments of locals, parameters and statics",
         "static int count;\nfloat4 f(int p : TEXCOORD0) : COLOR0 { int b[2]; b[p++] = 1; float4 v = 0;\n"
         " for (int i = 0, j = 0; i < 2; i++, j++) v.x++;\n return max(p++, 1) + b[0] + v.x++ + count++; }\n"},
        {"macros used many times", "#define SQ(x) ((x) * (x))\nfloat4 f() : COLOR0 { return " +
                                       repeat("SQ(SQ(2)) + ", 200) + "1; }\n"},
    };
    for (const auto& c : cases) {
        Compiled out = compile(c.text, "f", "ps_2_0");
        EXPECT_EQ(out.hr, D3D_OK) << c.what << ": " << out.errors;
    }
}

// Fourteen levels of functions calling the one below twice, whose inlining never ended,
// fail at once in the helper and in process; a child's CPU limit ends a runaway.
TEST(HostileEffect, CallsThatInlineWithoutEndFailAtOnce)
{
    std::string text = "float4 f0(float4 x) { return x * 1.5 + 0.25; }\n";
    for (int i = 1; i <= 14; ++i)
        text += "float4 f" + std::to_string(i) + "(float4 x) { return f" + std::to_string(i - 1) + "(x) + f" +
                std::to_string(i - 1) + "(x.yzwx); }\n";
    text += "float4 pshader(float4 c : COLOR0) : COLOR0 { return f14(c); }\n";
    for (bool inProcess : {false, true}) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            const rlimit cpu{20, 21};
            setrlimit(RLIMIT_CPU, &cpu);
            platform::d3dx9::setCompilesInProcess(inProcess);
            const std::string errors = compile(text, "pshader", "ps_3_0").errors;
            if (errors.find("inline to more than") == std::string::npos)
                _exit(write(2, errors.data(), errors.size()) < 0 ? 2 : 1);
            _exit(0);
        }
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << inProcess;
        EXPECT_LT(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec, 1) << inProcess;
    }
}

TEST(HostileEffect, LineNumbersPastTheLimitAreClamped)
{
    for (const char* line : {"4294967295", "2147483647", "99999999999999999999"}) {
        std::string errors;
        ID3DXEffectCompiler* fx = createCompiler(
            std::string("float4 f() : COLOR0 {\n#line ") + line + "\n\n return x; }\n", &errors);
        EXPECT_EQ(fx, nullptr);
        EXPECT_EQ(errors.find('-'), std::string::npos) << errors;
        EXPECT_EQ(errors.rfind("(1000000001,", 0), 0u) << errors;
    }
}

// The front end runs on a stack of its own: a caller on a small thread
// stack still gets the deepest nesting allowed compiled.
TEST(HostileEffect, DeepButAllowedNestingCompilesOnASmallThreadStack)
{
    struct Job {
        std::string text;
        Compiled out;
        static void* run(void* p)
        {
            Job* j = static_cast<Job*>(p);
            j->out = compile(j->text, "f", "ps_2_0");
            return nullptr;
        }
    } job;
    uint32_t depth = platform::d3dx9::kMaxNesting - 8;
    job.text = "float4 f() : COLOR0 { return " + repeat("(", int(depth)) + "1" + repeat(")", int(depth)) + "; }\n";
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 512u << 10);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attr, &Job::run, &job), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    EXPECT_EQ(job.out.hr, D3D_OK) << job.out.errors;
}

// What counts as a level of the parser's recursion and what only lengthens
// an expression.
TEST(HostileEffect, NestingMeasure)
{
    using platform::d3dx9::checkNesting;
    using platform::d3dx9::HlslFinding;
    const struct {
        const char* what;
        std::string body;
        bool refused;
    } cases[] = {
        {"prefix operators", repeat("- ", 300) + "1", true},
        {"casts", repeat("(float)", 300) + "1", true},
        {"assignments", repeat("a = ", 300) + "1", true},
        {"conditionals", repeat("a ? 1 : ", 300) + "1", true},
        {"comparisons and logic, flat", repeat("a == 1 && a <= 2 || ", 300) + "1", false},
        {"calls side by side", repeat("f(a, -b) + ", 300) + "1", false},
        {"increments", repeat("a++ + ", 300) + "1", false},
    };
    for (const auto& c : cases) {
        HlslFinding finding;
        bool ok = checkNesting("float4 f() : COLOR0 { return " + c.body + "; }", finding);
        EXPECT_EQ(ok, !c.refused) << c.what << ": " << finding.message;
    }
}

// A literal is written out as nested initialiser lists, one per dimension:
// the text compiled then nests deeper than the effect as written.
TEST(HostileEffect, LiteralsNestingTooDeepAreAnErrorNotACrash)
{
    std::string errors;
    ID3DXEffectCompiler* fx = createCompiler(
        "float a" + repeat("[1]", 5000) + ";\nfloat4 f() : COLOR0 { return 1; }\n", &errors);
    ASSERT_NE(fx, nullptr) << errors;
    EXPECT_EQ(fx->SetLiteral("a", TRUE), D3D_OK);
    Compiled out = compileWith(fx, "f", "ps_2_0");
    fx->Release();
    EXPECT_NE(out.hr, D3D_OK);
    EXPECT_NE(out.errors.find("nested too deeply"), std::string::npos) << out.errors;
}
