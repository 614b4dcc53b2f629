// Every interesting fixed-function key compiles and links under GL 4.5
// core, the uniform block matches the C++ image, and the program cache
// stays bounded.
#include "fixed_function_test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace fftest;

namespace {

FixedFunctionState texturedLit()
{
    FixedFunctionState s;
    s.layout = fixedVertexLayoutFromFVF(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX2);
    for (int i = 0; i < 8; ++i)
        s.textureKind[i] = FixedTextureKind::Texture2D;
    return s;
}

std::vector<FixedFunctionState> interestingStates()
{
    std::vector<FixedFunctionState> states;
    states.push_back(FixedFunctionState());

    // Lights: every type in every slot pattern that matters, with and
    // without specular, local viewer, normalisation and normals.
    for (DWORD type = D3DLIGHT_POINT; type <= D3DLIGHT_DIRECTIONAL; ++type) {
        for (int variant = 0; variant < 4; ++variant) {
            FixedFunctionState s = texturedLit();
            for (int i = 0; i < 8; ++i) {
                s.lights[i].Type = D3DLIGHTTYPE(((type - 1 + DWORD(i)) % 3) + 1);
                s.lightEnabled[i] = (i % (variant + 1)) == 0;
            }
            s.renderStates[D3DRS_SPECULARENABLE] = variant & 1;
            s.renderStates[D3DRS_LOCALVIEWER] = (variant >> 1) & 1;
            s.renderStates[D3DRS_NORMALIZENORMALS] = variant == 2;
            if (variant == 3)
                s.layout.normal = false;
            states.push_back(s);
        }
    }
    // Material sources.
    for (DWORD src = D3DMCS_MATERIAL; src <= D3DMCS_COLOR2; ++src) {
        FixedFunctionState s = texturedLit();
        s.lights[0].Type = D3DLIGHT_POINT;
        s.lightEnabled[0] = true;
        s.renderStates[D3DRS_SPECULARENABLE] = TRUE;
        s.renderStates[D3DRS_DIFFUSEMATERIALSOURCE] = src;
        s.renderStates[D3DRS_AMBIENTMATERIALSOURCE] = (src + 1) % 3;
        s.renderStates[D3DRS_SPECULARMATERIALSOURCE] = (src + 2) % 3;
        s.renderStates[D3DRS_EMISSIVEMATERIALSOURCE] = src;
        states.push_back(s);
    }
    // Fog: vertex and table modes, range fog, fog from specular alpha.
    for (DWORD mode = D3DFOG_EXP; mode <= D3DFOG_LINEAR; ++mode) {
        for (int table = 0; table < 2; ++table) {
            FixedFunctionState s = texturedLit();
            s.renderStates[D3DRS_FOGENABLE] = TRUE;
            s.renderStates[table ? D3DRS_FOGTABLEMODE : D3DRS_FOGVERTEXMODE] = mode;
            s.renderStates[D3DRS_RANGEFOGENABLE] = mode == D3DFOG_EXP2;
            states.push_back(s);
        }
    }
    {
        FixedFunctionState s = texturedLit();
        s.renderStates[D3DRS_LIGHTING] = FALSE;
        s.renderStates[D3DRS_FOGENABLE] = TRUE;
        states.push_back(s);
    }
    // Every operation, in a chain that reads every argument kind with the
    // modifiers, writing TEMP in between.
    for (DWORD op = D3DTOP_SELECTARG1; op <= D3DTOP_LERP; ++op) {
        FixedFunctionState s = texturedLit();
        s.renderStates[D3DRS_LIGHTING] = FALSE;
        for (int i = 0; i < 4; ++i) {
            DWORD* ss = s.stageStates[i];
            ss[D3DTSS_COLOROP] = op;
            ss[D3DTSS_ALPHAOP] = (op + DWORD(i)) % D3DTOP_LERP + 1;
            ss[D3DTSS_COLORARG0] = DWORD((i + 4) % 7) | D3DTA_COMPLEMENT;
            ss[D3DTSS_COLORARG1] = DWORD(i % 7) | (i & 1 ? D3DTA_ALPHAREPLICATE : 0);
            ss[D3DTSS_COLORARG2] = DWORD((i + 2) % 7) | D3DTA_COMPLEMENT | D3DTA_ALPHAREPLICATE;
            ss[D3DTSS_ALPHAARG0] = DWORD((i + 5) % 7);
            ss[D3DTSS_ALPHAARG1] = DWORD((i + 1) % 7) | D3DTA_COMPLEMENT;
            ss[D3DTSS_ALPHAARG2] = DWORD((i + 3) % 7);
            ss[D3DTSS_RESULTARG] = i == 1 ? D3DTA_TEMP : D3DTA_CURRENT;
            ss[D3DTSS_TEXCOORDINDEX] = DWORD(i & 1);
        }
        states.push_back(s);
    }
    // Texture coordinates: generation, transforms, projection, kinds.
    for (DWORD gen = 0; gen <= 3; ++gen) {
        for (DWORD count = 0; count <= 4; ++count) {
            FixedFunctionState s = texturedLit();
            s.layout.texCoordSize[1] = 3;
            s.stageStates[0][D3DTSS_TEXCOORDINDEX] = (gen << 16) | 1;
            s.stageStates[0][D3DTSS_TEXTURETRANSFORMFLAGS] = count | (count == 3 ? D3DTTFF_PROJECTED : 0);
            s.textureKind[0] = count == 3 ? FixedTextureKind::Cube
                               : count == 4 ? FixedTextureKind::Volume
                                            : FixedTextureKind::Texture2D;
            s.renderStates[D3DRS_LOCALVIEWER] = gen & 1;
            states.push_back(s);
        }
    }
    {
        FixedFunctionState s = texturedLit();
        s.stageStates[0][D3DTSS_TEXCOORDINDEX] = 5; // a set the vertex lacks
        s.stageStates[0][D3DTSS_TEXTURETRANSFORMFLAGS] = D3DTTFF_COUNT2 | D3DTTFF_PROJECTED;
        states.push_back(s);
    }
    // Alpha test functions, clip planes, flat shading, transformed vertices.
    for (DWORD func = D3DCMP_NEVER; func <= D3DCMP_ALWAYS; ++func) {
        FixedFunctionState s = texturedLit();
        s.renderStates[D3DRS_ALPHATESTENABLE] = TRUE;
        s.renderStates[D3DRS_ALPHAFUNC] = func;
        s.renderStates[D3DRS_CLIPPLANEENABLE] = func * 7;
        s.renderStates[D3DRS_SHADEMODE] = func & 1 ? D3DSHADE_FLAT : D3DSHADE_GOURAUD;
        states.push_back(s);
    }
    for (int fog = 0; fog < 3; ++fog) {
        FixedFunctionState s = texturedLit();
        s.layout = fixedVertexLayoutFromFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX1);
        s.stageStates[0][D3DTSS_TEXTURETRANSFORMFLAGS] = D3DTTFF_COUNT2 | D3DTTFF_PROJECTED;
        s.renderStates[D3DRS_FOGENABLE] = fog > 0;
        s.renderStates[D3DRS_FOGTABLEMODE] = fog == 2 ? D3DFOG_LINEAR : D3DFOG_NONE;
        states.push_back(s);
    }
    return states;
}

TEST(FixedFunctionCompile, EveryInterestingKeyLinks)
{
    const std::vector<FixedFunctionState> states = interestingStates();
    FF_RUN_WITH_GL([&] {
        Target target(4, 4);
        FixedFunctionPipeline pipeline(1024);
        for (size_t i = 0; i < states.size(); ++i) {
            SCOPED_TRACE("state " + std::to_string(i));
            const unsigned program = pipeline.use(states[i]);
            EXPECT_NE(program, 0u);
            EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
        }
        EXPECT_EQ(pipeline.buildCount(), pipeline.cachedProgramCount()) << "a key was built twice";
    });
}

TEST(FixedFunctionCompile, UniformBlockMatchesTheCppImage)
{
    FF_RUN_WITH_GL([] {
        Target target(4, 4);
        FixedFunctionPipeline pipeline;
        FixedFunctionState s = texturedLit();
        s.lights[0].Type = D3DLIGHT_SPOT;
        s.lightEnabled[0] = true;
        s.renderStates[D3DRS_SPECULARENABLE] = TRUE;
        s.renderStates[D3DRS_CLIPPLANEENABLE] = 0x3F;
        s.renderStates[D3DRS_ALPHATESTENABLE] = TRUE;
        s.renderStates[D3DRS_ALPHAFUNC] = D3DCMP_LESS;
        const GLuint program = pipeline.use(s);
        ASSERT_NE(program, 0u);
        const GLuint block = glGetProgramResourceIndex(program, GL_UNIFORM_BLOCK, "FixedFunctionUniforms");
        ASSERT_NE(block, GL_INVALID_INDEX);
        const GLenum props[] = {GL_BUFFER_DATA_SIZE, GL_BUFFER_BINDING};
        GLint values[2] = {};
        glGetProgramResourceiv(program, GL_UNIFORM_BLOCK, block, 2, props, 2, nullptr, values);
        EXPECT_EQ(size_t(values[0]), FixedFunctionPipeline::uniformBlockSize());
        EXPECT_EQ(GLuint(values[1]), kFixedFunctionUniformBinding);
        // The last member sits where the C++ image has it.
        const GLuint fixup = glGetProgramResourceIndex(program, GL_UNIFORM, "dx_PosFixup");
        ASSERT_NE(fixup, GL_INVALID_INDEX);
        const GLenum offsetProp = GL_OFFSET;
        GLint offset = -1;
        glGetProgramResourceiv(program, GL_UNIFORM, fixup, 1, &offsetProp, 1, nullptr, &offset);
        EXPECT_EQ(size_t(offset), FixedFunctionPipeline::uniformBlockSize() - 16);
        // use() leaves the generic uniform-buffer binding alone.
        GLint generic = -1;
        glGetIntegerv(GL_UNIFORM_BUFFER_BINDING, &generic);
        EXPECT_EQ(generic, 0);
        GLint current = 0;
        glGetIntegerv(GL_CURRENT_PROGRAM, &current);
        EXPECT_EQ(GLuint(current), program);
    });
}

TEST(FixedFunctionCompile, CacheIsBoundedAndLeastRecentlyUsedGoesFirst)
{
    FF_RUN_WITH_GL([] {
        Target target(4, 4);
        FixedFunctionPipeline pipeline(2);
        FixedFunctionState a;
        FixedFunctionState b = a;
        b.stageStates[0][D3DTSS_COLOROP] = D3DTOP_ADD;
        FixedFunctionState c = a;
        c.stageStates[0][D3DTSS_COLOROP] = D3DTOP_SUBTRACT;

        const unsigned pa = pipeline.use(a);
        pipeline.use(b);
        EXPECT_EQ(pipeline.use(a), pa) << "cached program reused";
        EXPECT_EQ(pipeline.buildCount(), 2u);
        pipeline.use(c); // evicts b, the least recently used
        EXPECT_EQ(pipeline.cachedProgramCount(), 2u);
        EXPECT_EQ(pipeline.buildCount(), 3u);
        EXPECT_EQ(pipeline.use(a), pa);
        EXPECT_EQ(pipeline.buildCount(), 3u);
        pipeline.use(b);
        EXPECT_EQ(pipeline.buildCount(), 4u) << "evicted key rebuilt";
        EXPECT_EQ(pipeline.cachedProgramCount(), 2u);
        pipeline.clear();
        EXPECT_EQ(pipeline.cachedProgramCount(), 0u);
        EXPECT_NE(pipeline.use(a), 0u) << "usable after clear";
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    });
}

TEST(FixedFunctionCompile, GeneratedSourceEndsWithTheHalfPixelFixup)
{
    const FixedFunctionKey key = makeFixedFunctionKey(FixedFunctionState());
    const std::string vs = generateFixedFunctionVertexShader(key);
    const std::string line = "gl_Position.xy += dx_PosFixup.xy * gl_Position.w;";
    const size_t fixup = vs.find(line);
    ASSERT_NE(fixup, std::string::npos);
    EXPECT_EQ(vs.find("gl_Position", fixup + line.size()), std::string::npos) << "position changed after the fixup";
    EXPECT_EQ(vs.rfind("#version 450 core", 0), 0u);
    EXPECT_EQ(generateFixedFunctionFragmentShader(key).rfind("#version 450 core", 0), 0u);
}

// Each interpolated input is read one way only (at the offset for filled
// triangles, plainly for points and lines): Mesa's linker garbles an input
// read both ways whose vertex output is constant.
TEST(FixedFunctionCompile, InputsAreReadOneWayOnly)
{
    FixedFunctionState state = texturedLit();
    state.renderStates[D3DRS_SPECULARENABLE] = TRUE;
    state.renderStates[D3DRS_FOGENABLE] = TRUE;
    state.renderStates[D3DRS_FOGVERTEXMODE] = D3DFOG_LINEAR;
    for (const bool triangles : {true, false}) {
        state.fillsTriangles = triangles;
        const std::string fs = generateFixedFunctionFragmentShader(makeFixedFunctionKey(state));
        for (const char* input : {"vDiffuse_in", "vSpecular_in", "vFog_in", "vTex0_in"}) {
            const std::string main = fs.substr(fs.find("void main()"));
            const std::string offset = std::string("interpolateAtOffset(") + input;
            size_t reads = 0;
            for (size_t at = main.find(input); at != std::string::npos; at = main.find(input, at + 1))
                ++reads;
            EXPECT_EQ(reads, 1u) << input << (triangles ? " in triangles" : " in points");
            EXPECT_EQ(main.find(offset) != std::string::npos, triangles) << input;
        }
    }
}

} // namespace
