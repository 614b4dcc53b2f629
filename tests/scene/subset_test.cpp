// Subsets: vertex layouts, packing, tangent frames, index formats, and the
// calls a draw makes towards the device and the shader pair.
#include "mesh_test_support.h"

#include "materials/shader_pair.h"
#include "materials/shader_parameters.h"

#include <cstring>
#include <string>

using namespace meshtest;
using platform::d3d9::DeviceCall;

namespace {

std::unique_ptr<Surface> surfaceWith(std::initializer_list<u32> channels, i32 boneWeights = 0)
{
    auto s = std::make_unique<Surface>(nullptr, "t@s");
    for (u32 channel : channels)
        addLayer(s.get(), channel);
    s->boneWeightCount = boneWeights;
    return s;
}

MeshVertex vertexAt(float x, float y, float z)
{
    MeshVertex v;
    v.position = {x, y, z};
    v.normal = {0, 0, -1};
    return v;
}

// Elements past position and normal: offset, type, usage, index.
using Elements = std::vector<std::array<u32, 4>>;

TEST(Subset, VertexLayouts)
{
    MeshRig rig;
    REQUIRE_ENGINE(rig.engine);
    rig->hardwareTnL = 1;
    rig->hardwareVertexShaders = 0;
    constexpr u32 f1 = D3DDECLTYPE_FLOAT1, f2 = D3DDECLTYPE_FLOAT2, f3 = D3DDECLTYPE_FLOAT3, ub4 = D3DDECLTYPE_UBYTE4,
                  tex = D3DDECLUSAGE_TEXCOORD, idx = D3DDECLUSAGE_BLENDINDICES, wt = D3DDECLUSAGE_BLENDWEIGHT;
    struct Case {
        u8 fixedFunction;
        std::initializer_list<u32> layers;
        i32 bones;
        u32 stride;
        u8 software;
        Elements elements;
    } cases[] = {
        {0, {channelCOLR, channelCOLR}, 0, 40, 1, {{24, f2, tex, 0}, {32, f2, tex, 1}}},
        {0, {channelCOLR, channelBUMP}, 3, 104, 1,
         {{24, f2, tex, 0}, {32, f2, tex, 1}, {40, f3, tex, 2}, {52, f3, tex, 3}, {64, f3, tex, 4}, {76, f3, tex, 5},
          {88, ub4, idx, 0}, {92, f3, wt, 0}}},
        {0, {}, 1, 32, 1, {{24, ub4, idx, 0}, {28, f1, wt, 0}}},
        {1, {channelCOLR, channelBUMP, channelCOLR}, 4, 40, 0, {{24, f2, tex, 0}, {32, f2, tex, 1}}},
    };
    for (const Case& c : cases) {
        rig->fixedFunction = c.fixedFunction;
        auto surface = surfaceWith(c.layers, c.bones);
        StaticSubset subset(rig.get(), surface.get());
        const VertexLayout& l = subset.layout;
        EXPECT_EQ(l.stride, c.stride);
        EXPECT_EQ(l.softwareProcessing, c.software) << c.stride;
        EXPECT_NE(l.declarations[0], nullptr) << c.stride;
        Elements got;
        for (const D3DVERTEXELEMENT9& e : l.elements())
            if (e.Stream != 0xFF && e.Offset >= 24)
                got.push_back({e.Offset, e.Type, e.Usage, e.UsageIndex});
        EXPECT_EQ(got, c.elements) << c.stride;
    }
}

// Packing (two calls append), the tangent frame of one triangle in z = 0
// with u = x in the last set (T = (0, -1, 0), A = T x N = (1, 0, 0),
// A x B = (0, 0, -1), unit normal), and no more data after the build.
TEST(Subset, PackingAndTangentFrame)
{
    MeshRig rig;
    REQUIRE_ENGINE(rig.engine);
    rig->fixedFunction = 0;
    auto surface = surfaceWith({channelCOLR, channelBUMP}, 3);
    StaticSubset subset(rig.get(), surface.get());
    MeshVertex v[3] = {vertexAt(0, 0, 0), vertexAt(1, 0, 0), vertexAt(0, 1, 0)};
    for (MeshVertex& m : v) {
        m.normal = {0, 0, -2};
        m.texCoords[1][0] = m.position.x;
    }
    v[0].boneIndices[0] = 1, v[0].boneIndices[1] = 2, v[0].boneIndices[2] = 3;
    v[0].boneWeights[0] = 0.5f, v[0].boneWeights[2] = 0.2f, v[0].boneWeights[3] = 9.0f;
    const u32 tri[3] = {0, 1, 2};
    ASSERT_TRUE(subset.addVertices(v, 1) && subset.addVertices(v + 1, 2));
    ASSERT_TRUE(subset.addTriangles(tri, 3));
    ASSERT_TRUE(subset.build());
    ASSERT_EQ(subset.vertexData.size(), 3u * 104);
    u32 packedIndices;
    std::memcpy(&packedIndices, vertexFloats(subset, 0) + 22, 4); // byte 88
    EXPECT_EQ(packedIndices, 0x00030201u);
    EXPECT_TRUE(vertexFloats(subset, 0)[23] == 0.5f && vertexFloats(subset, 0)[25] == 0.2f);
    EXPECT_TRUE(vertexFloats(subset, 1)[0] == 1 && vertexFloats(subset, 2)[1] == 1);
    const float expected[15] = {0, 0, -1, 1, 0, 0, 0, -1, 0, 0, 0, -1, 0, 0, 0};
    for (int i = 0; i < 3; ++i)
        for (int k = 0; k < 15; ++k)
            EXPECT_NEAR(vertexFloats(subset, i)[k < 3 ? 3 + k : 7 + k], expected[k], 1e-6f) << i << " " << k;
    EXPECT_FALSE(subset.build() || subset.addVertices(v, 2) || subset.addTriangles(tri, 3));
    EXPECT_TRUE(subset.vertexCount == 3 && subset.indexCount == 3);
}

// 16- or 32-bit indices by the largest index and the caps; every index
// reaches the buffer; indices that would wrap or that name a vertex past the
// last refuse the build.
TEST(Subset, IndexFormats)
{
    MeshRig rig;
    REQUIRE_ENGINE(rig.engine);
    struct Case {
        u32 largest;
        DWORD maxVertexIndex;
        int level;
        bool built;
        D3DFORMAT format;
        size_t boxes;
        u32 vertices = largest + 1;
    } cases[] = {
        {65535, 0xFFFFFF, 3, true, D3DFMT_INDEX16, 0},
        {65536, 0xFFFFFF, 3, true, D3DFMT_INDEX32, 0},
        {65536, 0xFFFF, 3, false, D3DFMT_INDEX16, 1},
        {65536, 0xFFFF, 0, false, D3DFMT_INDEX16, 0},
        {2, 0xFFFFFF, 3, false, D3DFMT_INDEX16, 0, 2},
    };
    auto surface = surfaceWith({});
    const std::vector<MeshVertex> vertices(65537);
    for (const Case& c : cases) {
        texturetest::Diagnostics level(c.level);
        rig->caps.MaxVertexIndex = c.maxVertexIndex;
        StaticSubset subset(rig.get(), surface.get());
        const u32 tri[3] = {0, 1, c.largest};
        subset.addTriangles(tri, 3);
        subset.addVertices(vertices.data(), int(c.vertices));
        EXPECT_EQ(subset.build(), c.built) << c.largest << " " << c.maxVertexIndex;
        EXPECT_EQ(subset.indexFormat, c.format) << c.largest;
        const auto boxes = texturetest::boxTexts();
        ASSERT_EQ(boxes.size(), c.boxes);
        if (c.boxes) {
            EXPECT_EQ(boxes[0], "Assertion failed: too many indices");
        }
        void* data = nullptr;
        if (!c.built || subset.indexBuffers[0]->Lock(0, 0, &data, D3DLOCK_READONLY) != D3D_OK)
            continue;
        EXPECT_EQ(c.format == D3DFMT_INDEX16 ? static_cast<u16*>(data)[2] : static_cast<u32*>(data)[2], c.largest);
        subset.indexBuffers[0]->Unlock();
    }
}

// Notes its calls among the device's, so the order shows.
class RecordingPair : public ShaderPair {
public:
    RecordingPair(Engine* engine, bool activates) : ShaderPair(engine), activates(activates) {}
    bool activate() override { return note("activate"), activates; }
    void setSources(Surface*, double) override { note("setSources"); }
    void setStates(Surface*, double) override { note("setStates"); }
    void note(const char* name)
    {
        flush();
        calls.push_back({name, {}, {}, {}});
    }
    void flush()
    {
        for (DeviceCall& c : platform::d3d9::takeCallLog(engine->currentDevice))
            calls.push_back(std::move(c));
    }
    bool activates;
    std::vector<DeviceCall> calls;
};

std::vector<DeviceCall> drawLogged(Subset& subset, bool activates)
{
    RecordingPair pair(subset.engine, activates);
    platform::d3d9::setCallLogging(subset.engine->currentDevice, true);
    subset.render(&pair, 0.0);
    pair.flush();
    platform::d3d9::setCallLogging(subset.engine->currentDevice, false);
    return pair.calls;
}

std::unique_ptr<StaticSubset> quadSubset(Engine* engine, Surface* surface)
{
    auto s = std::make_unique<StaticSubset>(engine, surface);
    const MeshVertex v[4] = {vertexAt(0, 0, 0), vertexAt(0, 1, 0), vertexAt(1, 1, 0), vertexAt(1, 0, 0)};
    const u32 tri[6] = {0, 1, 2, 0, 2, 3};
    s->addVertices(v, 4);
    s->addTriangles(tri, 6);
    EXPECT_TRUE(s->build());
    return s;
}

TEST(Subset, DrawCallOrderAndCounters)
{
    MeshRig rig;
    REQUIRE_ENGINE(rig.engine);
    auto surface = surfaceWith({});
    auto subset = quadSubset(rig.get(), surface.get());
    for (bool activates : {true, false}) {
        rig->drawCalls = 5;
        rig->primitivesDrawn = 10;
        std::vector<std::string> names;
        std::vector<double> drawArgs, streamArgs;
        for (const DeviceCall& c : drawLogged(*subset, activates)) {
            if (c.name != "SetTextureStageState")
                names.push_back(c.name);
            if (c.name == "DrawIndexedPrimitive")
                drawArgs = c.args;
            if (c.name == "SetStreamSource")
                streamArgs = c.args;
        }
        std::vector<std::string> expected = {"SetSoftwareVertexProcessing", "setStates", "SetVertexDeclaration",
                                             "activate"};
        if (activates)
            expected.push_back("setSources");
        else
            expected.insert(expected.end(), {"SetPixelShader", "SetMaterial", "SetRenderState"});
        expected.insert(expected.end(), {"SetStreamSource", "SetIndices", "DrawIndexedPrimitive"});
        EXPECT_EQ(names, expected);
        EXPECT_EQ(drawArgs, (std::vector<double>{D3DPT_TRIANGLELIST, 0, 0, 4, 0, 2}));
        EXPECT_EQ(streamArgs, (std::vector<double>{0, 1, 0, 40}));
        EXPECT_TRUE(rig->drawCalls == 6 && rig->primitivesDrawn == 12);
    }
    // Buffers never made on this device: nothing is drawn or counted.
    StaticSubset unbuilt(rig.get(), surface.get());
    EXPECT_TRUE(drawLogged(unbuilt, true).empty());
    EXPECT_EQ(rig->drawCalls, 6u);
}

// The fallback's material and stages from the channel counts, never past
// the device's blend stages.
TEST(Subset, FallbackStages)
{
    MeshRig rig;
    REQUIRE_ENGINE(rig.engine);
    auto surface = surfaceWith({});
    auto subset = quadSubset(rig.get(), surface.get());
    constexpr DWORD dot3 = D3DTOP_DOTPRODUCT3, mod = D3DTOP_MODULATE, madd = D3DTOP_MULTIPLYADD, off = D3DTOP_DISABLE;
    struct Case {
        i32 bump, color, specular, specularEnabled;
        DWORD blendStages;
        std::vector<DWORD> colorOps; // stage by stage
    } cases[] = {
        {0, 2, 0, 0, 8, {mod, mod, off}},
        {1, 1, 1, 1, 8, {dot3, mod, madd, off}},
        {2, 4, 2, 0, 4, {dot3, dot3, mod, mod}},
        {2, 4, 2, 0, 8, {dot3, dot3, mod, mod, mod, mod, madd, madd}},
        {-3, 1, 0, 0, 8, {mod, off}},
    };
    ShaderSwitches& sw = *rig->switches;
    for (const Case& c : cases) {
        *sw.numTexBUMP = c.bump, *sw.numTexCOLR = c.color, *sw.numTexSPEC = c.specular;
        *sw.specularEnabled = c.specularEnabled;
        rig->caps.MaxTextureBlendStages = c.blendStages;
        std::vector<DWORD> ops;
        D3DMATERIAL9 m = {};
        for (const DeviceCall& call : drawLogged(*subset, false)) {
            if (call.name == "SetTextureStageState" && call.args[1] == double(D3DTSS_COLOROP)) {
                EXPECT_EQ(call.args[0], double(ops.size()));
                ops.push_back(DWORD(call.args[2]));
            }
            if (call.name == "SetRenderState" && call.args[0] == double(D3DRS_SPECULARENABLE)) {
                EXPECT_EQ(call.args[1], c.specularEnabled);
            }
            if (call.name == "SetMaterial")
                std::memcpy(&m, call.data.data(), sizeof m);
        }
        EXPECT_EQ(ops, c.colorOps) << c.bump << " " << c.color << " " << c.specular;
        EXPECT_TRUE(m.Power == Subset::fallbackPower && m.Ambient.r == 0.25f && m.Emissive.g == 1 && m.Diffuse.b == 1);
    }
}

} // namespace
