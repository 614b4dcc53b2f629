#include "lightwave/lwo2_writer.h"

#include "foundation/envelope.h"
#include "lwo2_test_support.h"
#include "materials/texture_layer.h"
#include "tools/mkcontent/content.h"
#include "tools/mkcontent/lwo2_emitter.h"

#include "file_bytes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

using namespace lwo2test;

namespace {

std::string bytesOf(const std::vector<u8>& v) { return std::string(v.begin(), v.end()); }

std::string readFile(const std::string& path)
{
    return fileBytes(path);
}

// assimp's "Faces", "Vertices" and bounds of a file, as one comparable text;
// empty when it cannot read the file or the tool is missing.
std::string assimpSummary(const std::string& bytes)
{
    const std::string path = "written.lwo";
    std::ofstream(path, std::ios::binary) << bytes;
    FILE* pipe = popen(("assimp info " + path + " -r 2>/dev/null").c_str(), "r");
    if (!pipe)
        return "";
    std::string summary;
    char line[512];
    while (std::fgets(line, sizeof line, pipe))
        for (const char* key : {"Faces:", "Vertices:", "Minimum point", "Maximum point"})
            if (std::strncmp(line, key, std::strlen(key)) == 0)
                summary += line;
    pclose(pipe);
    return summary;
}

// Every PolyMesh layer of b equals a's, points and corners bit for bit.
void expectSameGeometry(const LWObject& a, const LWObject& b)
{
    for (size_t n = 0; n < a.layers.size(); ++n) {
        const PolyMesh* pa = polyMesh(&a, n);
        if (!pa)
            continue;
        const PolyMesh* pb = polyMesh(&b, n);
        ASSERT_NE(pb, nullptr) << "layer " << n;
        ASSERT_EQ(pa->pointCount, pb->pointCount);
        EXPECT_EQ(std::memcmp(pa->pointArray, pb->pointArray, sizeof(D3DVECTOR) * size_t(pa->pointCount)), 0);
        ASSERT_EQ(pa->polygonCount, pb->polygonCount);
        for (i32 p = 0; p < pa->polygonCount; ++p) {
            ASSERT_EQ(pa->polygons[p].vertexCount, pb->polygons[p].vertexCount);
            EXPECT_EQ(std::memcmp(pa->polygons[p].pointIndices, pb->polygons[p].pointIndices,
                                  4 * pa->polygons[p].vertexCount),
                      0);
            EXPECT_EQ(pa->polygons[p].surfaceIndex, pb->polygons[p].surfaceIndex);
        }
    }
}

void expectSameSurfaces(const LWObject& a, const LWObject& b)
{
    ASSERT_EQ(a.tagCount, b.tagCount);
    for (i32 t = 0; t < a.tagCount; ++t) {
        const Surface* sa = a.tags[t];
        const Surface* sb = b.tags[t];
        if (!sa)
            continue;
        ASSERT_NE(sb, nullptr);
        SCOPED_TRACE(sa->name.c_str());
        EXPECT_STREQ(Lwo2Writer::tagOf(*sa), Lwo2Writer::tagOf(*sb));
        const AnimatedValue Surface::*values[] = {&Surface::luminosity,  &Surface::diffuse,
                                                  &Surface::specularity, &Surface::glossiness,
                                                  &Surface::reflection,  &Surface::transparency};
        for (auto v : values)
            EXPECT_EQ((sa->*v).value, (sb->*v).value);
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(sa->color[c].value, sb->color[c].value);
        EXPECT_EQ(sa->doubleSided, sb->doubleSided);
        EXPECT_EQ(sa->smoothing, sb->smoothing);
        if (sa->smoothing) {
            EXPECT_NEAR(sa->smoothingCosine, sb->smoothingCosine, 1e-5); // the stored cosine is biased by 1e-6
        }
        ASSERT_EQ(sa->layerCount, sb->layerCount);
        for (i32 l = 0; l < sa->layerCount; ++l) {
            const TextureLayer& la = *sa->layerSlots[l];
            const TextureLayer& lb = *sb->layerSlots[l];
            EXPECT_EQ(la.channel, lb.channel);
            EXPECT_EQ(la.projection, lb.projection);
            EXPECT_EQ(la.axis, lb.axis);
            EXPECT_EQ(la.wrapModeWidth, lb.wrapModeWidth);
            EXPECT_EQ(la.antialiasingStrength, lb.antialiasingStrength);
            ASSERT_TRUE(la.texture && lb.texture);
            EXPECT_STREQ(la.texture->name.c_str(), lb.texture->name.c_str());
        }
    }
}

} // namespace

TEST(Lwo2Writer, Primitives)
{
    struct Case {
        const char* what;
        std::function<void(Lwo2Writer&)> put;
        std::string bytes;
    } cases[] = {
        {"S0 of even length gets terminator and pad", [](Lwo2Writer& w) { w.putS0("ab"); }, std::string("ab\0\0", 4)},
        {"S0 of odd length gets the terminator only", [](Lwo2Writer& w) { w.putS0("abc"); }, std::string("abc\0", 4)},
        {"VX below 0xFF00 is two bytes", [](Lwo2Writer& w) { w.putVX(0xFEFF); }, "\xFE\xFF"},
        {"VX from 0xFF00 is four", [](Lwo2Writer& w) { w.putVX(0xFF00); }, std::string("\xFF\x00\xFF\x00", 4)},
        {"F4 big-endian", [](Lwo2Writer& w) { w.putF4(1.0f); }, std::string("\x3F\x80\x00\x00", 4)},
        {"U4 big-endian", [](Lwo2Writer& w) { w.putU4(0x01020304); }, "\x01\x02\x03\x04"},
        {"FORM with an empty TAGS has length 12",
         [](Lwo2Writer& w) {
             const u32 form = w.beginChunk("FORM", "LWO2");
             w.endChunk(w.beginChunk("TAGS"));
             w.endChunk(form);
         },
         std::string("FORM\0\0\0\x0cLWO2TAGS\0\0\0\0", 20)},
        {"sub-chunk length after id and extra",
         [](Lwo2Writer& w) {
             const u32 at = w.beginSubChunk("SPAN", "TCB ");
             w.putF4(0.0f);
             w.endSubChunk(at);
         },
         std::string("SPAN\0\x08TCB \0\0\0\0", 14)},
        {"odd chunk padded outside its length",
         [](Lwo2Writer& w) {
             const u32 at = w.beginChunk("ODDC");
             w.putU1(7);
             w.endChunk(at);
         },
         std::string("ODDC\0\0\0\x01\x07\0", 10)},
        {"odd sub-chunk padded outside its length",
         [](Lwo2Writer& w) {
             const u32 at = w.beginSubChunk("ODDS");
             w.putU1(7);
             w.endSubChunk(at);
         },
         std::string("ODDS\0\x01\x07\0", 8)},
    };
    for (const Case& c : cases) {
        Lwo2Writer w;
        c.put(w);
        EXPECT_EQ(bytesOf(w.buffer), c.bytes) << c.what;
    }
    EXPECT_EQ(bytesOf(Lwo2Writer().write({}, {})), std::string("FORM\0\0\0\x0cLWO2TAGS\0\0\0\0", 20));
}

// Generated and package objects read, written and read again: the same
// geometry and surfaces for our reader, the same totals for assimp.
TEST(Lwo2Writer, WrittenObjectsReadBackTheSame)
{
    std::vector<std::pair<std::string, std::string>> sources;
    for (const auto& file : mkcontent::allContentFiles())
        if (file.name.ends_with(".lwo")) {
            sources.emplace_back(file.name, file.build());
            EXPECT_EQ(file.build(), sources.back().second) << "not deterministic: " << file.name;
        }
    const std::filesystem::path package = "/usr/share/assimp/models/LWO/LWO2";
    for (const char* name : {"hierarchy.lwo", "transparency.lwo", "ModoExport_vertNormals.lwo", "uvtest.lwo"})
        if (std::filesystem::exists(package / name))
            sources.emplace_back(name, readFile((package / name).string()));

    Loader f;
    REQUIRE_ENGINE(f.engine);
    Diagnostics quiet(0);
    int i = 0;
    for (const auto& [name, bytes] : sources) {
        SCOPED_TRACE(name);
        const LWObject* original = f.load(name, bytes);
        ASSERT_NE(original, nullptr);
        const std::string written = bytesOf(Lwo2Writer().write(*original));
        const LWObject* copy = f.load("copy" + std::to_string(i++) + ".lwo", written);
        ASSERT_NE(copy, nullptr);
        expectSameGeometry(*original, *copy);
        expectSameSurfaces(*original, *copy);
        bool faces = false;
        for (size_t n = 0; n < original->layers.size(); ++n)
            faces = faces || polyMesh(original, n);
        const std::string theirs = assimpSummary(bytes);
        // The 26-layer letter font's written copy reads differently in the
        // external importer while our reader reads both the same: open.
        if (faces && !theirs.empty()) {
            EXPECT_EQ(assimpSummary(written), theirs);
        }
    }
}

TEST(Lwo2Writer, EnvelopesAndClipNamesSurvive)
{
    mkcontent::Lwo2Emitter e;
    e.tags({"Skin"});
    e.layer(0);
    e.shape(mkcontent::box(1, 1, 1), 0);
    e.envelope(1, "Pulse", 1, 2,
               {{0.0f, 0.0f, "TCB ", {0.5f, 0.0f, 0.0f}},
                {1.0f, 2.0f, "TCB ", {0.0f, -0.5f, 0.3f}},
                {2.5f, 1.0f, "TCB ", {0.0f, 0.0f, 1.0f}}});
    e.envelope(4, "Step", 1, 1, {{0.0f, 1.0f, "TCB ", {}}, {1.0f, 3.0f, "STEP", {}}});
    e.clipStill(1, "C:maps/skin.jpg");
    e.beginSurface("Skin");
    e.color(1, 1, 1);
    e.value("LUMI", 1.0f, 1);
    e.value("DIFF", 1.0f, 4);
    e.beginBlock("IMAP", "COLR");
    e.u2("PROJ", 0);
    e.u2("IMAG", 1);
    e.endBlock();
    e.endSurface();

    Loader f;
    REQUIRE_ENGINE(f.engine);
    Diagnostics assertions(3);
    const LWObject* original = f.load("skin.lwo", e.finish());
    ASSERT_NE(original, nullptr);
    const std::string written = bytesOf(Lwo2Writer().write(*original));
    // The stepped key has no span the writer knows: reported, written without.
    EXPECT_EQ(boxTexts(), std::vector<std::string>{"Assertion failed: TODO: add other envtypes"});
    EXPECT_NE(written.find("C:maps/skin.jpg"), std::string::npos);
    const LWObject* copy = f.load("copy.lwo", written);
    ASSERT_NE(copy, nullptr);
    const Surface* a = original->tags[0];
    const Surface* b = copy->tags[0];
    ASSERT_TRUE(a->luminosity.source && b->luminosity.source);
    for (double t : {-1.0, 0.0, 0.4, 1.0, 1.7, 2.5, 4.0})
        EXPECT_FLOAT_EQ(b->luminosity.source->evaluate(t), a->luminosity.source->evaluate(t)) << t;
    Envelope* step = b->diffuse.source ? b->diffuse.source->asEnvelope() : nullptr;
    ASSERT_NE(step, nullptr);
    EXPECT_EQ(step->keys.size(), 1u);
    ASSERT_EQ(b->layerCount, 1);
    EXPECT_STREQ(b->layerSlots[0]->texture->name.c_str(), a->layerSlots[0]->texture->name.c_str());
}

TEST(Lwo2Writer, KeyWithoutSpanIsAnAssertionOnlyFromLevelThree)
{
    Envelope stepped;
    stepped.addSteppedKey(0.0f, 1.0f);
    Surface surface(nullptr, "a@Skin");
    surface.diffuse.source = &stepped;
    const std::vector<std::string> none, box{"Assertion failed: TODO: add other envtypes"};
    const struct {
        int level;
        const std::vector<std::string>& boxes;
    } cases[] = {{0, none}, {1, none}, {2, none}, {3, box}};
    for (const auto& c : cases) {
        Diagnostics diagnostics(c.level);
        Lwo2Writer().write({}, {&surface});
        EXPECT_EQ(boxTexts(), c.boxes) << "level " << c.level;
    }
    surface.diffuse.source = nullptr;
}
