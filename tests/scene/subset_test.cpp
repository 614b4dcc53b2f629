// Subsets: vertex layouts, packing, tangent frames, index formats, and the
// calls a draw makes towards the device and the shader pair.
#include "mesh_test_support.h"

#include "materials/shader_pair.h"
#include "materials/shader_parameters.h"

#include <cmath>
#include <cstring>
#include <string>

using namespace meshtest;
using platform::d3d9::DeviceCall;

namespace {

// A surface with the given layers (channel ids in slot order).
std::unique_ptr<Surface> surfaceWith(std::initializer_list<u32> channels, i32 boneWeights = 0)
{
    auto s = std::make_unique<Surface>(nullptr, "t@s");
    for (u32 channel : channels) {
        auto layer = std::make_unique<TextureLayer>();
        layer->channel = channel;
        layer->texture = fakeTexture();
        layer->projection = TextureLayer::projectionUV;
        EXPECT_TRUE(s->addLayer(std::move(layer)));
    }
    s->boneWeightCount = boneWeights;
    return s;
}

struct Element {
    u32 offset, type, usage, index;
    bool operator==(const Element&) const = default;
};

TEST(Subset, VertexLayouts)
{
    MeshRig rig;
    REQUIRE_ENGINE(rig.engine);
    rig->hardwareTnL = 1;
    rig->hardwareVertexShaders = 0;
    struct Case {
        const char* name;
        u8 fixedFunction;
        std::initializer_list<u32> layers;
        i32 bones;
        u32 stride;
        u8 software;
        std::vector<Element> elements; // after position and normal
    } cases[] = {
        {"two layers", 0, {channelCOLR, channelCOLR}, 0, 40, 1,
         {{24, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 0}, {32, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 1}}},
        {"bump and three bones", 0, {channelCOLR, channelBUMP}, 3, 104, 1,
         {{24, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 0},
          {32, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 1},
          {40, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_TEXCOORD, 2},
          {52, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_TEXCOORD, 3},
          {64, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_TEXCOORD, 4},
          {76, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_TEXCOORD, 5},
          {88, D3DDECLTYPE_UBYTE4, D3DDECLUSAGE_BLENDINDICES, 0},
          {92, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_BLENDWEIGHT, 0}}},
        {"one bone, no layers", 0, {}, 1, 32, 1,
         {{24, D3DDECLTYPE_UBYTE4, D3DDECLUSAGE_BLENDINDICES, 0}, {28, D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_BLENDWEIGHT, 0}}},
        {"fixed function", 1, {channelCOLR, channelBUMP, channelCOLR}, 4, 40, 0,
         {{24, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 0}, {32, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 1}}},
    };
    for (const Case& c : cases) {
        rig->fixedFunction = c.fixedFunction;
        auto surface = surfaceWith(c.layers, c.bones);
        StaticSubset subset(rig.get(), surface.get());
        const VertexLayout& l = subset.layout;
        EXPECT_EQ(l.stride, c.stride) << c.name;
        EXPECT_EQ(l.softwareProcessing, c.software) << c.name;
        EXPECT_NE(l.declarations[0], nullptr) << c.name;
        std::vector<Element> got;
        for (const D3DVERTEXELEMENT9& e : l.elements())
            if (e.Stream != 0xFF && e.Offset >= 24)
                got.push_back({e.Offset, e.Type, e.Usage, e.UsageIndex});
        EXPECT_EQ(got, c.elements) << c.name;
    }
}

MeshVertex vertexAt(float x, float y, float z)
{
    MeshVertex v;
    v.position = {x, y, z};
    v.normal = {0, 0, -1};
    return v;
}

TEST(Subset, PackingAppendsAndStopsAfterTheBuild)
{
    MeshRig rig;
    REQUIRE_ENGINE(rig.engine);
    rig->fixedFunction = 0;
    auto surface = surfaceWith({channelCOLR, channelBUMP}, 3);
    StaticSubset subset(rig.get(), surface.get());
    MeshVertex a = vertexAt(1, 2, 3);
    a.texCoords[1][0] = 0.25f;
    a.texCoords[1][1] = 0.75f;
    a.boneIndices[0] = 1, a.boneIndices[1] = 2, a.boneIndices[2] = 3;
    a.boneWeights[0] = 0.5f, a.boneWeights[1] = 0.3f, a.boneWeights[2] = 0.2f, a.boneWeights[3] = 9.0f;
    const MeshVertex b[2] = {vertexAt(4, 5, 6), vertexAt(7, 8, 9)};
    ASSERT_TRUE(subset.addVertices(&a, 1));
    ASSERT_TRUE(subset.addVertices(b, 2)); // after the first, not over it
    ASSERT_EQ(subset.vertexData.size(), 3u * 104);
    const float* v0 = vertexFloats(subset, 0);
    EXPECT_EQ(v0[0], 1.0f);
    EXPECT_EQ(v0[8], 0.25f);
    EXPECT_EQ(v0[9], 0.75f);
    u32 packedIndices;
    std::memcpy(&packedIndices, subset.vertexData.data() + 88, 4);
    EXPECT_EQ(packedIndices, 0x00030201u);
    EXPECT_EQ(v0[23], 0.5f);
    EXPECT_EQ(v0[25], 0.2f);
    EXPECT_EQ(vertexFloats(subset, 1)[0], 4.0f);
    EXPECT_EQ(vertexFloats(subset, 2)[2], 9.0f);

    const u32 tri[3] = {0, 1, 2};
    ASSERT_TRUE(subset.addTriangles(tri, 3));
    ASSERT_TRUE(subset.build());
    EXPECT_FALSE(subset.build());
    EXPECT_FALSE(subset.addVertices(b, 2));
    EXPECT_FALSE(subset.addTriangles(tri, 3));
    EXPECT_EQ(subset.vertexCount, 3);
    EXPECT_EQ(subset.indexCount, 3u);
}

// One triangle in the z = 0 plane with u = x in the last set (the bump
// layer's): T = (0, -1, 0), A = T x N = (1, 0, 0), A x B = (0, 0, -1).
TEST(Subset, TangentFrame)
{
    MeshRig rig;
    REQUIRE_ENGINE(rig.engine);
    rig->fixedFunction = 0;
    auto surface = surfaceWith({channelCOLR, channelBUMP});
    StaticSubset subset(rig.get(), surface.get());
    MeshVertex v[3] = {vertexAt(0, 0, 0), vertexAt(1, 0, 0), vertexAt(0, 1, 0)};
    for (MeshVertex& m : v) {
        m.normal = {0, 0, -2}; // normalised by the build
        m.texCoords[1][0] = m.position.x;
    }
    const u32 tri[3] = {0, 1, 2};
    subset.addVertices(v, 3);
    subset.addTriangles(tri, 3);
    subset.computeTangentSpace();
    const float expected[15] = {0, 0, -1, /*A*/ 1, 0, 0, /*B*/ 0, -1, 0, /*AxB*/ 0, 0, -1, /*zero*/ 0, 0, 0};
    for (int i = 0; i < 3; ++i) {
        const float* f = vertexFloats(subset, i);
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(f[3 + k], expected[k], 1e-6f) << i;
        for (int k = 0; k < 12; ++k)
            EXPECT_NEAR(f[10 + k], expected[3 + k], 1e-6f) << i << " " << k;
    }
}

// 16- or 32-bit indices by the largest index and the caps; every index
// reaches the buffer.
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
        bool box;
    } cases[] = {
        {65535, 0xFFFFFF, 3, true, D3DFMT_INDEX16, false},
        {65536, 0xFFFFFF, 3, true, D3DFMT_INDEX32, false},
        {65536, 0xFFFF, 3, false, D3DFMT_INDEX16, true}, // would wrap: refused
        {65536, 0xFFFF, 0, false, D3DFMT_INDEX16, false},
    };
    auto surface = surfaceWith({});
    std::vector<MeshVertex> vertices(65537);
    for (const Case& c : cases) {
        texturetest::Diagnostics level(c.level);
        rig->caps.MaxVertexIndex = c.maxVertexIndex;
        StaticSubset subset(rig.get(), surface.get());
        const u32 tri[3] = {0, 1, c.largest};
        subset.addTriangles(tri, 3);
        subset.addVertices(vertices.data(), int(c.largest + 1));
        EXPECT_EQ(subset.build(), c.built) << c.largest << " " << c.maxVertexIndex;
        EXPECT_EQ(subset.indexFormat, c.format) << c.largest;
        EXPECT_EQ(texturetest::boxTexts(),
                  c.box ? std::vector<std::string>{"Assertion failed: too many indices"} : std::vector<std::string>{});
        if (!c.built)
            continue;
        void* data = nullptr;
        ASSERT_EQ(subset.indexBuffers[0]->Lock(0, 0, &data, D3DLOCK_READONLY), D3D_OK);
        const u32 last = c.format == D3DFMT_INDEX16 ? static_cast<u16*>(data)[2] : static_cast<u32*>(data)[2];
        subset.indexBuffers[0]->Unlock();
        EXPECT_EQ(last, c.largest);
    }
}

// Records its calls among the device's, so the order shows.
class RecordingPair : public ShaderPair {
public:
    RecordingPair(Engine* engine, bool activates) : ShaderPair(engine), activates(activates) {}
    bool activate() override
    {
        note("activate");
        return activates;
    }
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
    std::vector<std::string> names() const
    {
        std::vector<std::string> out;
        for (const DeviceCall& c : calls)
            if (c.name != "SetTextureStageState")
                out.push_back(c.name);
        return out;
    }
    const DeviceCall* find(const std::string& name) const
    {
        for (const DeviceCall& c : calls)
            if (c.name == name)
                return &c;
        return nullptr;
    }

    bool activates;
    std::vector<DeviceCall> calls;
};

// A built two-triangle subset.
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
        RecordingPair pair(rig.get(), activates);
        rig->drawCalls = 5;
        rig->primitivesDrawn = 10;
        platform::d3d9::setCallLogging(rig.device(), true);
        subset->render(&pair, 0.0);
        pair.flush();
        platform::d3d9::setCallLogging(rig.device(), false);
        std::vector<std::string> expected = {"SetSoftwareVertexProcessing", "setStates", "SetVertexDeclaration",
                                             "activate"};
        if (activates)
            expected.push_back("setSources");
        else
            expected.insert(expected.end(), {"SetPixelShader", "SetMaterial", "SetRenderState"});
        expected.insert(expected.end(), {"SetStreamSource", "SetIndices", "DrawIndexedPrimitive"});
        EXPECT_EQ(pair.names(), expected);
        const DeviceCall* draw = pair.find("DrawIndexedPrimitive");
        ASSERT_NE(draw, nullptr);
        EXPECT_EQ(draw->args, (std::vector<double>{D3DPT_TRIANGLELIST, 0, 0, 4, 0, 2}));
        EXPECT_EQ(pair.find("SetStreamSource")->args, (std::vector<double>{0, 1, 0, 40}));
        EXPECT_EQ(rig->drawCalls, 6u);
        EXPECT_EQ(rig->primitivesDrawn, 12u);
    }
}

// The fallback's stages from the channel counts, never past the device's
// blend stages.
TEST(Subset, FallbackStages)
{
    MeshRig rig;
    REQUIRE_ENGINE(rig.engine);
    auto surface = surfaceWith({});
    auto subset = quadSubset(rig.get(), surface.get());
    constexpr DWORD dot3 = D3DTOP_DOTPRODUCT3, mod = D3DTOP_MODULATE, madd = D3DTOP_MULTIPLYADD,
                    off = D3DTOP_DISABLE;
    struct Case {
        i32 bump, color, specular, specularEnabled;
        DWORD blendStages;
        std::vector<DWORD> colorOps; // stage by stage
    } cases[] = {
        {0, 2, 0, 0, 8, {mod, mod, off}},
        {1, 1, 1, 1, 8, {dot3, mod, madd, off}},
        {0, 0, 0, 0, 8, {off}},
        {2, 4, 2, 0, 4, {dot3, dot3, mod, mod}},
        {2, 4, 2, 0, 8, {dot3, dot3, mod, mod, mod, mod, madd, madd}},
        {-3, 1, 0, 0, 8, {mod, off}},
    };
    ShaderSwitches& sw = *rig->switches;
    for (const Case& c : cases) {
        *sw.numTexBUMP = c.bump;
        *sw.numTexCOLR = c.color;
        *sw.numTexSPEC = c.specular;
        *sw.specularEnabled = c.specularEnabled;
        rig->caps.MaxTextureBlendStages = c.blendStages;
        RecordingPair pair(rig.get(), false);
        platform::d3d9::setCallLogging(rig.device(), true);
        subset->render(&pair, 0.0);
        pair.flush();
        platform::d3d9::setCallLogging(rig.device(), false);
        std::vector<DWORD> ops;
        for (const DeviceCall& call : pair.calls) {
            if (call.name == "SetTextureStageState" && call.args[1] == double(D3DTSS_COLOROP)) {
                EXPECT_EQ(call.args[0], double(ops.size()));
                ops.push_back(DWORD(call.args[2]));
            }
            if (call.name == "SetRenderState" && call.args[0] == double(D3DRS_SPECULARENABLE)) {
                EXPECT_EQ(call.args[1], c.specularEnabled);
            }
        }
        EXPECT_EQ(ops, c.colorOps) << c.bump << " " << c.color << " " << c.specular;
        D3DMATERIAL9 m;
        const DeviceCall* set = pair.find("SetMaterial");
        ASSERT_NE(set, nullptr);
        std::memcpy(&m, set->data.data(), sizeof m);
        EXPECT_EQ(m.Power, Subset::fallbackPower);
        EXPECT_EQ(m.Ambient.r, 0.25f);
        EXPECT_EQ(m.Emissive.g, 1.0f);
    }
    rig->caps.MaxTextureBlendStages = 8;
}

// A subset whose buffers were never made on the current device draws
// nothing and counts nothing.
TEST(Subset, UnbuiltSubsetDrawsNothing)
{
    MeshRig rig;
    REQUIRE_ENGINE(rig.engine);
    auto surface = surfaceWith({});
    StaticSubset subset(rig.get(), surface.get());
    const MeshVertex v[3] = {vertexAt(0, 0, 0), vertexAt(0, 1, 0), vertexAt(1, 1, 0)};
    const u32 tri[3] = {0, 1, 2};
    subset.addVertices(v, 3);
    subset.addTriangles(tri, 3);
    platform::d3d9::failBufferCreation(rig.device());
    EXPECT_FALSE(subset.build());
    platform::d3d9::failBufferCreation(rig.device(), false);
    RecordingPair pair(rig.get(), true);
    const u32 before = rig->drawCalls;
    subset.render(&pair, 0.0);
    EXPECT_EQ(rig->drawCalls, before);
    EXPECT_TRUE(pair.calls.empty());
}

} // namespace
