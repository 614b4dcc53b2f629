// Constant tables: reflection of the registers and the register contents
// that each Set* call writes through the device.
#include "d3dx9_recording_device.h"
#include "d3dx9_test_support.h"
#include "fixed_function_test_support.h"

#include <gtest/gtest.h>

using namespace d3dx9test;

namespace {

const char* const kConstantsEffect = R"(
float scalar = 2.5;
float second;  // std140 would pack it next to scalar
float3 direction = {0, 0, 1};
float3 colours[3];
float4x4 matWorldViewProj;
float4x3 matWorldView;
float3x3 matNormal;
row_major float4x4 rowMatrix;
float4x3 matBone[2];
int count = 7;
bool flags[2] = {true, false};
float4 fixedSlot : register(c20) = {9, 8, 7, 6};
float unused;
sampler2D SPOT0 : register(s3);
sampler2D COLR0;
sampler2D DIFF0;

float4 vshader(float3 p : POSITION, float3 n : NORMAL) : POSITION
{
    float4 pos = mul(float4(p, 1), matWorldViewProj);
    float3 v = mul(float4(p, 1), matWorldView) + mul(n, matNormal) + direction * scalar * second;
    for (int i = 0; i < 3; ++i)
        v += colours[i];
    for (int k = 0; k < count; ++k)
        v += flags[k % 2] ? 1 : 0;
    v += mul(float4(p, 1), matBone[1]);
    return pos + mul(float4(v, 1), rowMatrix) + fixedSlot;
}

float4 pshader(float2 uv : TEXCOORD0) : COLOR0
{
    return tex2D(COLR0, uv) + tex2D(SPOT0, uv) * tex2D(DIFF0, uv) * direction.z;
}
)";

class ConstantTableTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string errors;
        compiler = createCompiler(kConstantsEffect, &errors);
        ASSERT_NE(compiler, nullptr) << errors;
        ID3DXBuffer* err = nullptr;
        HRESULT hr = compiler->CompileShader("vshader", "vs_2_0", 0, &vsCode, &err, &vs);
        ASSERT_EQ(hr, D3D_OK) << bufferText(err);
        hr = compiler->CompileShader("pshader", "ps_2_0", 0, &psCode, &err, &ps);
        ASSERT_EQ(hr, D3D_OK) << bufferText(err);
    }
    void TearDown() override
    {
        for (IUnknown* u : std::initializer_list<IUnknown*>{vs, ps, vsCode, psCode, compiler})
            if (u)
                u->Release();
    }

    D3DXCONSTANT_DESC desc(ID3DXConstantTable* t, const char* name)
    {
        D3DXCONSTANT_DESC d{};
        UINT count = 1;
        EXPECT_EQ(t->GetConstantDesc(name, &d, &count), D3D_OK) << name;
        EXPECT_EQ(count, 1u);
        return d;
    }
    UINT reg(const char* name) { return desc(vs, name).RegisterIndex; }

    ID3DXEffectCompiler* compiler = nullptr;
    ID3DXBuffer* vsCode = nullptr;
    ID3DXBuffer* psCode = nullptr;
    ID3DXConstantTable* vs = nullptr;
    ID3DXConstantTable* ps = nullptr;
    RecordingDevice device;
};

} // namespace

TEST_F(ConstantTableTest, ReflectsRegistersOfEveryKindOfConstant)
{
    struct Expect {
        const char* name;
        D3DXREGISTER_SET set;
        UINT count;
        D3DXPARAMETER_CLASS cls;
        UINT rows, columns, elements;
    } expected[] = {
        {"scalar", D3DXRS_FLOAT4, 1, D3DXPC_SCALAR, 1, 1, 1},
        {"second", D3DXRS_FLOAT4, 1, D3DXPC_SCALAR, 1, 1, 1},
        {"direction", D3DXRS_FLOAT4, 1, D3DXPC_VECTOR, 1, 3, 1},
        {"colours", D3DXRS_FLOAT4, 3, D3DXPC_VECTOR, 1, 3, 3},
        {"matWorldViewProj", D3DXRS_FLOAT4, 4, D3DXPC_MATRIX_COLUMNS, 4, 4, 1},
        {"matWorldView", D3DXRS_FLOAT4, 3, D3DXPC_MATRIX_COLUMNS, 4, 3, 1},
        {"matNormal", D3DXRS_FLOAT4, 3, D3DXPC_MATRIX_COLUMNS, 3, 3, 1},
        {"rowMatrix", D3DXRS_FLOAT4, 4, D3DXPC_MATRIX_ROWS, 4, 4, 1},
        {"matBone", D3DXRS_FLOAT4, 6, D3DXPC_MATRIX_COLUMNS, 4, 3, 2},
        {"count", D3DXRS_INT4, 1, D3DXPC_SCALAR, 1, 1, 1},
        {"flags", D3DXRS_BOOL, 2, D3DXPC_SCALAR, 1, 1, 2},
        {"fixedSlot", D3DXRS_FLOAT4, 1, D3DXPC_VECTOR, 1, 4, 1},
    };
    std::vector<bool> used(256, false);
    for (const Expect& e : expected) {
        D3DXCONSTANT_DESC d = desc(vs, e.name);
        EXPECT_STREQ(d.Name, e.name);
        EXPECT_EQ(d.RegisterSet, e.set) << e.name;
        EXPECT_EQ(d.RegisterCount, e.count) << e.name;
        EXPECT_EQ(d.Class, e.cls) << e.name;
        EXPECT_EQ(d.Rows, e.rows) << e.name;
        EXPECT_EQ(d.Columns, e.columns) << e.name;
        EXPECT_EQ(d.Elements, e.elements) << e.name;
        if (e.set == D3DXRS_FLOAT4) {
            for (UINT r = d.RegisterIndex; r < d.RegisterIndex + d.RegisterCount; ++r) {
                EXPECT_FALSE(used[r]) << e.name << " overlaps at c" << r;
                used[r] = true;
            }
        }
    }
    EXPECT_EQ(reg("fixedSlot"), 20u) << "register(c20) is kept";
    EXPECT_EQ(reg("scalar"), 0u) << "registers follow declaration order";
    EXPECT_EQ(vs->GetConstantByName(nullptr, "unused"), nullptr) << "an unused global gets no register";
    EXPECT_EQ(vs->GetConstantByName(nullptr, "COLR0"), nullptr);

    D3DXCONSTANTTABLE_DESC table;
    ASSERT_EQ(vs->GetDesc(&table), D3D_OK);
    EXPECT_EQ(table.Version, 0xFFFE0200u);
    EXPECT_EQ(table.Constants, UINT(std::size(expected)));

    // Defaults in register layout.
    D3DXCONSTANT_DESC s = desc(vs, "scalar");
    ASSERT_NE(s.DefaultValue, nullptr);
    EXPECT_EQ(static_cast<const float*>(s.DefaultValue)[0], 2.5f);
    EXPECT_EQ(desc(vs, "colours").DefaultValue, nullptr);
    D3DXCONSTANT_DESC f = desc(vs, "flags");
    ASSERT_NE(f.DefaultValue, nullptr);
    EXPECT_EQ(static_cast<const BOOL*>(f.DefaultValue)[0], TRUE);
    EXPECT_EQ(static_cast<const BOOL*>(f.DefaultValue)[1], FALSE);

    // Element handles.
    D3DXHANDLE bone1 = vs->GetConstantElement("matBone", 1);
    ASSERT_NE(bone1, nullptr);
    D3DXCONSTANT_DESC b1 = desc(vs, bone1);
    EXPECT_EQ(b1.RegisterIndex, reg("matBone") + 3);
    EXPECT_EQ(b1.RegisterCount, 3u);
    EXPECT_EQ(vs->GetConstantElement("matBone", 2), nullptr);
    EXPECT_EQ(desc(vs, "colours[2]").RegisterIndex, reg("colours") + 2);
}

TEST_F(ConstantTableTest, SamplersAreListedInRegisterOrder)
{
    EXPECT_EQ(ps->GetSamplerIndex("SPOT0"), 3u) << "register(s3) is kept";
    EXPECT_EQ(ps->GetSamplerIndex("COLR0"), 0u);
    EXPECT_EQ(ps->GetSamplerIndex("DIFF0"), 1u);
    EXPECT_EQ(ps->GetSamplerIndex("direction"), UINT(-1));
    EXPECT_EQ(ps->GetSamplerIndex("nothing"), UINT(-1));
    D3DXCONSTANT_DESC d = desc(ps, "SPOT0");
    EXPECT_EQ(d.RegisterSet, D3DXRS_SAMPLER);
    EXPECT_EQ(d.Type, D3DXPT_SAMPLER2D);
    EXPECT_EQ(d.Class, D3DXPC_OBJECT);

    const DWORD* code = static_cast<const DWORD*>(psCode->GetBufferPointer());
    UINT count = 99;
    ASSERT_EQ(D3DXGetShaderSamplers(code, nullptr, &count), D3D_OK);
    EXPECT_EQ(count, 4u);
    LPCSTR names[16] = {};
    ASSERT_EQ(D3DXGetShaderSamplers(code, names, &count), D3D_OK);
    ASSERT_EQ(count, 4u);
    EXPECT_STREQ(names[0], "COLR0");
    EXPECT_STREQ(names[1], "DIFF0");
    EXPECT_STREQ(names[2], "") << "s2 is used by none";
    EXPECT_STREQ(names[3], "SPOT0");

    UINT none = 5;
    ASSERT_EQ(D3DXGetShaderSamplers(static_cast<const DWORD*>(vsCode->GetBufferPointer()), names, &none), D3D_OK);
    EXPECT_EQ(none, 0u);
    const DWORD junk[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(D3DXGetShaderSamplers(junk, names, &none), D3DXERR_INVALIDDATA);
}

TEST_F(ConstantTableTest, SetValueTakesDataPackedPerRegister)
{
    // float4x3 from the engine: the three columns of the matrix, four values each.
    float wv[12];
    for (int i = 0; i < 12; ++i)
        wv[i] = float(i + 1);
    ASSERT_EQ(vs->SetValue(&device, "matWorldView", wv, sizeof wv), D3D_OK);
    UINT r = reg("matWorldView");
    ASSERT_EQ(device.calls.size(), 1u);
    EXPECT_EQ(device.calls[0].set, 'F');
    EXPECT_TRUE(device.calls[0].vertex);
    EXPECT_EQ(device.calls[0].start, r);
    EXPECT_EQ(device.calls[0].count, 3u);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(device.vsFloat[r + i / 4][i % 4], float(i + 1));

    // float3 arrays: three values per register, the fourth component 0.
    float c[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    device.vsFloat[reg("colours")][3] = 42;
    ASSERT_EQ(vs->SetValue(&device, "colours", c, sizeof c), D3D_OK);
    UINT cr = reg("colours");
    EXPECT_EQ(device.vsFloat[cr][0], 1);
    EXPECT_EQ(device.vsFloat[cr][3], 0);
    EXPECT_EQ(device.vsFloat[cr + 2][2], 9);

    // float3x3: a column per register.
    float n[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    ASSERT_EQ(vs->SetValue(&device, "matNormal", n, sizeof n), D3D_OK);
    EXPECT_EQ(device.vsFloat[reg("matNormal") + 1][0], 4);

    // More data than the constant holds: only its registers are written.
    float big[64] = {};
    device.calls.clear();
    ASSERT_EQ(vs->SetValue(&device, "scalar", big, sizeof big), D3D_OK);
    ASSERT_EQ(device.calls.size(), 1u);
    EXPECT_EQ(device.calls[0].count, 1u);

    // Names the shader does not use are refused without a device call.
    device.calls.clear();
    EXPECT_EQ(vs->SetValue(&device, "srfColor", big, 16), D3DERR_INVALIDCALL);
    EXPECT_EQ(vs->SetValue(&device, "unused", big, 4), D3DERR_INVALIDCALL);
    EXPECT_EQ(vs->SetValue(nullptr, "scalar", big, 4), D3DERR_INVALIDCALL);
    EXPECT_EQ(vs->SetValue(&device, nullptr, big, 4), D3DERR_INVALIDCALL);
    EXPECT_TRUE(device.calls.empty());

    // Int and bool constants go to their own register files.
    int seven = 7;
    ASSERT_EQ(vs->SetValue(&device, "count", &seven, 4), D3D_OK);
    EXPECT_EQ(device.vsInt[reg("count")][0], 7);
    BOOL flags[2] = {FALSE, 5};
    ASSERT_EQ(vs->SetValue(&device, "flags", flags, sizeof flags), D3D_OK);
    EXPECT_EQ(device.vsBool[reg("flags")], FALSE);
    EXPECT_EQ(device.vsBool[reg("flags") + 1], TRUE);
}

TEST_F(ConstantTableTest, MatricesAreWrittenInTheirPacking)
{
    D3DXMATRIX m;
    for (int i = 0; i < 16; ++i)
        m.m[i / 4][i % 4] = float(10 * (i / 4) + i % 4);  // m[r][c] = 10r + c

    // column_major (the default): register i holds column i.
    ASSERT_EQ(vs->SetMatrix(&device, "matWorldViewProj", &m), D3D_OK);
    UINT r = reg("matWorldViewProj");
    for (int i = 0; i < 4; ++i)
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(device.vsFloat[r + i][k], float(10 * k + i));
    ASSERT_EQ(vs->SetMatrixTranspose(&device, "matWorldViewProj", &m), D3D_OK);
    for (int i = 0; i < 4; ++i)
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(device.vsFloat[r + i][k], float(10 * i + k));

    // row_major: register i holds row i.
    ASSERT_EQ(vs->SetMatrix(&device, "rowMatrix", &m), D3D_OK);
    UINT rr = reg("rowMatrix");
    EXPECT_EQ(device.vsFloat[rr + 2][1], 21.0f);

    // float4x3 arrays: three columns of four per element.
    D3DXMATRIX bones[2] = {m, m};
    bones[1].m[3][2] = 99;
    device.calls.clear();
    ASSERT_EQ(vs->SetMatrixArray(&device, "matBone", bones, 2), D3D_OK);
    UINT br = reg("matBone");
    ASSERT_EQ(device.calls.size(), 1u);
    EXPECT_EQ(device.calls[0].count, 6u);
    EXPECT_EQ(device.vsFloat[br + 5][3], 99.0f) << "element 1, column 2, row 3";
    EXPECT_EQ(device.vsFloat[br + 1][0], 1.0f);
    const D3DXMATRIX* pointers[1] = {&bones[1]};
    ASSERT_EQ(vs->SetMatrixPointerArray(&device, "matBone[1]", pointers, 1), D3D_OK);
    EXPECT_EQ(device.vsFloat[br + 5][3], 99.0f);
    EXPECT_EQ(vs->SetMatrix(&device, "matWorldViewProj", nullptr), D3DERR_INVALIDCALL);
}

TEST_F(ConstantTableTest, ScalarsVectorsAndConversions)
{
    ASSERT_EQ(vs->SetFloat(&device, "count", 3.75f), D3D_OK);
    EXPECT_EQ(device.vsInt[reg("count")][0], 3);
    ASSERT_EQ(vs->SetInt(&device, "scalar", -4), D3D_OK);
    EXPECT_EQ(device.vsFloat[reg("scalar")][0], -4.0f);
    ASSERT_EQ(vs->SetBool(&device, "scalar", TRUE), D3D_OK);
    EXPECT_EQ(device.vsFloat[reg("scalar")][0], 1.0f);
    ASSERT_EQ(vs->SetFloat(&device, "flags[1]", 0.5f), D3D_OK);
    EXPECT_EQ(device.vsBool[reg("flags") + 1], TRUE);

    D3DXVECTOR4 v(1, 2, 3, 4);
    ASSERT_EQ(vs->SetVector(&device, "direction", &v), D3D_OK);
    UINT d = reg("direction");
    EXPECT_EQ(device.vsFloat[d][2], 3.0f);
    EXPECT_EQ(device.vsFloat[d][3], 4.0f);
    D3DXVECTOR4 vs3[5] = {{1, 1, 1, 1}, {2, 2, 2, 2}, {3, 3, 3, 3}, {4, 4, 4, 4}, {5, 5, 5, 5}};
    device.calls.clear();
    ASSERT_EQ(vs->SetVectorArray(&device, "colours", vs3, 5), D3D_OK);
    EXPECT_EQ(device.calls[0].count, 3u) << "no more registers than the constant has";
    float arr[2] = {6, 7};
    ASSERT_EQ(vs->SetFloatArray(&device, "direction", arr, 2), D3D_OK);
    EXPECT_EQ(device.vsFloat[d][1], 7.0f);
    EXPECT_EQ(device.vsFloat[d][2], 0.0f);

    EXPECT_EQ(ps->SetFloat(&device, "COLR0", 1), D3DERR_INVALIDCALL) << "samplers take no values";
}

TEST_F(ConstantTableTest, SetDefaultsWritesDeclaredInitialisersOnly)
{
    ASSERT_EQ(vs->SetDefaults(&device), D3D_OK);
    EXPECT_EQ(device.vsFloat[reg("scalar")][0], 2.5f);
    EXPECT_EQ(device.vsFloat[reg("direction")][2], 1.0f);
    EXPECT_EQ(device.vsFloat[20][0], 9.0f);
    EXPECT_EQ(device.vsFloat[20][3], 6.0f);
    EXPECT_EQ(device.vsInt[reg("count")][0], 7);
    EXPECT_EQ(device.vsBool[reg("flags")], TRUE);
    for (const RecordingDevice::Call& c : device.calls) {
        EXPECT_TRUE(c.vertex);
        EXPECT_NE(c.start, reg("colours")) << "no initialiser, nothing written";
        EXPECT_NE(c.start, reg("matWorldViewProj"));
    }

    // The pixel table writes the pixel registers.
    device.calls.clear();
    ASSERT_EQ(ps->SetValue(&device, "direction", std::vector<float>{1, 2, 3}.data(), 12), D3D_OK);
    ASSERT_EQ(device.calls.size(), 1u);
    EXPECT_FALSE(device.calls[0].vertex);
    EXPECT_EQ(device.psFloat[desc(ps, "direction").RegisterIndex][1], 2.0f);
}

TEST_F(ConstantTableTest, TablesComeFromCodeAlone)
{
    ID3DXConstantTable* again = nullptr;
    ASSERT_EQ(D3DXGetShaderConstantTable(static_cast<const DWORD*>(vsCode->GetBufferPointer()), &again), D3D_OK);
    ASSERT_NE(again, nullptr);
    D3DXCONSTANT_DESC d{};
    UINT count = 1;
    ASSERT_EQ(again->GetConstantDesc("matBone", &d, &count), D3D_OK);
    EXPECT_EQ(d.RegisterIndex, reg("matBone"));
    EXPECT_EQ(again->GetBufferSize(), vsCode->GetBufferSize());
    again->Release();

    const DWORD junk[6] = {0x42485351, 1, 0, 0, 24, 0};  // a header alone, checksum wrong
    ID3DXConstantTable* none = nullptr;
    EXPECT_EQ(D3DXGetShaderConstantTable(junk, &none), D3DXERR_INVALIDDATA);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(D3DXGetShaderConstantTable(nullptr, &none), D3DXERR_INVALIDDATA);
}

TEST_F(ConstantTableTest, RegistersMapOntoTheUniformBlock)
{
    platform::d3d9::ShaderBlob blob;
    ASSERT_TRUE(platform::d3d9::parseShaderBlob(vsCode->GetBufferPointer(), vsCode->GetBufferSize(), blob));
    // Each register of a constant reaches the block at its own 16 bytes.
    for (const auto& c : blob.constants) {
        ASSERT_NE(c.registerSet, platform::d3d9::RegisterSet::Sampler);
        EXPECT_EQ(c.blockOffset % 16, 0u) << c.name;
        for (uint32_t r = 0; r < c.registerCount; ++r) {
            size_t covered = 0;
            for (const auto& u : blob.uploads) {
                if (u.registerSet == c.registerSet && u.firstRegister <= c.registerIndex + r &&
                    c.registerIndex + r < u.firstRegister + u.registerCount) {
                    ++covered;
                    EXPECT_EQ(u.blockOffset + (c.registerIndex + r - u.firstRegister) * u.blockStride,
                              c.blockOffset + r * 16)
                        << c.name << " register " << r;
                }
            }
            EXPECT_EQ(covered, 1u) << c.name << " register " << r;
        }
        EXPECT_LE(c.blockOffset + c.registerCount * 16, blob.uniformBlockSize) << c.name;
    }
    // GL places each member where the blob says.
    FF_RUN_WITH_GL([&] {
        const char* vsText = blob.glsl.c_str();
        const char* fsText = "#version 450\nout vec4 c;\nvoid main() { c = vec4(1.0); }\n";
        GLuint vs = glCreateShader(GL_VERTEX_SHADER), fs = glCreateShader(GL_FRAGMENT_SHADER);
        glShaderSource(vs, 1, &vsText, nullptr);
        glShaderSource(fs, 1, &fsText, nullptr);
        glCompileShader(vs);
        glCompileShader(fs);
        GLuint program = glCreateProgram();
        glAttachShader(program, vs);
        glAttachShader(program, fs);
        glLinkProgram(program);
        GLint linked = 0;
        glGetProgramiv(program, GL_LINK_STATUS, &linked);
        ASSERT_TRUE(linked) << blob.glsl;
        GLuint block = glGetUniformBlockIndex(program, blob.uniformBlockName.c_str());
        ASSERT_NE(block, GL_INVALID_INDEX);
        GLint size = 0;
        glGetActiveUniformBlockiv(program, block, GL_UNIFORM_BLOCK_DATA_SIZE, &size);
        EXPECT_LE(size, GLint(blob.uniformBlockSize));
        for (const auto& c : blob.constants) {
            std::string name = blob.uniformBlockName + "." + c.name + (c.elements > 1 ? "[0]" : "");
            const char* n = name.c_str();
            GLuint index = GL_INVALID_INDEX;
            glGetUniformIndices(program, 1, &n, &index);
            ASSERT_NE(index, GL_INVALID_INDEX) << name;
            GLint offset = -1;
            glGetActiveUniformsiv(program, 1, &index, GL_UNIFORM_OFFSET, &offset);
            EXPECT_EQ(offset, GLint(c.blockOffset)) << name;
        }
        glDeleteProgram(program);
        glDeleteShader(vs);
        glDeleteShader(fs);
    });
}
