#include "lightwave/lwo2_reader.h"
#include "lwo2_test_support.h"

#include "materials/texture.h"
#include "materials/texture_layer.h"
#include "scene/wire_meshes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include <sys/resource.h>

using namespace lwo2test;

namespace {

const char* const packageRoot = "/usr/share/assimp/models";

std::vector<std::string> packageFiles()
{
    namespace fs = std::filesystem;
    std::vector<std::string> files;
    const fs::path lwo2 = fs::path(packageRoot) / "LWO/LWO2";
    if (!fs::exists(lwo2))
        return files;
    for (const auto& entry : fs::recursive_directory_iterator(lwo2))
        if (entry.path().extension() == ".lwo" || entry.path().filename() == "formatDetection")
            files.push_back(entry.path().string());
    files.push_back(std::string(packageRoot) + "/LWS/simple_cube.lwo");
    std::sort(files.begin(), files.end());
    return files;
}

std::string fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

struct Totals {
    long faces = 0;
    long corners = 0;
    float lo[3] = {1e30f, 1e30f, 1e30f};
    float hi[3] = {-1e30f, -1e30f, -1e30f};
};

Totals totalsOf(const LWObject* object)
{
    Totals t;
    for (Mesh* mesh : object->layers) {
        PolyMesh* poly = mesh ? mesh->asPolyMesh() : nullptr;
        if (!poly)
            continue;
        t.faces += poly->polygonCount;
        for (i32 i = 0; i < poly->polygonCount; ++i) {
            t.corners += poly->polygons[i].vertexCount;
            for (u32 k = 0; k < poly->polygons[i].vertexCount; ++k) {
                const D3DVECTOR& p = poly->pointArray[poly->polygons[i].pointIndices[k]];
                const float xyz[3] = {p.x, p.y, -p.z};
                for (int a = 0; a < 3; ++a) {
                    t.lo[a] = std::min(t.lo[a], xyz[a]);
                    t.hi[a] = std::max(t.hi[a], xyz[a]);
                }
            }
        }
    }
    return t;
}

// "Faces", "Vertices", "Minimum point" and "Maximum point" of assimp's
// report on the file; false when the tool is not there.
bool assimpTotals(const std::string& path, Totals& t)
{
    const std::string command = "assimp info '" + path + "' -r 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return false;
    char line[512];
    int found = 0;
    while (std::fgets(line, sizeof line, pipe)) {
        found += std::sscanf(line, "Faces: %ld", &t.faces);
        found += std::sscanf(line, "Vertices: %ld", &t.corners);
        found += std::sscanf(line, "Minimum point (%f %f %f)", &t.lo[0], &t.lo[1], &t.lo[2]) == 3;
        found += std::sscanf(line, "Maximum point (%f %f %f)", &t.hi[0], &t.hi[1], &t.hi[2]) == 3;
    }
    pclose(pipe);
    return found == 4;
}

} // namespace

TEST(Lwo2Cursor, Primitives)
{
    struct Case {
        std::string bytes;
        u32 vx;
        u32 consumed;
    } cases[] = {
        {std::string("\x00\x05", 2), 5, 2},
        {std::string("\xFE\xFF", 2), 0xFEFF, 2},
        {std::string("\xFF\x01\x02\x03", 4), 0x010203, 4},
        {std::string("\xFF\x01", 2), 0, 2}, // cut short: zero, at the end
    };
    for (const Case& c : cases) {
        Lwo2Cursor cursor((const u8*)c.bytes.data(), (const u8*)c.bytes.data() + c.bytes.size());
        EXPECT_EQ(cursor.readVX(), c.vx);
        EXPECT_EQ(cursor.tell(), c.consumed);
    }

    struct S0Case {
        std::string bytes;
        std::string text;
        u32 consumed;
    } strings[] = {
        {std::string("abc\0x", 5), "abc", 4},
        {std::string("ab\0\0x", 5), "ab", 4},
        {std::string("abc", 3), "abc", 3}, // no terminator
        {std::string(1500, 'a') + std::string("\0\0", 2), std::string(999, 'a'), 1502},
    };
    for (const S0Case& c : strings) {
        Lwo2Cursor cursor((const u8*)c.bytes.data(), (const u8*)c.bytes.data() + c.bytes.size());
        EXPECT_EQ(cursor.readS0().c_str(), c.text);
        EXPECT_EQ(cursor.tell(), c.consumed);
    }
}

TEST(Lwo2Reader, PackageFilesMatchTheThirdPartyReader)
{
    const auto files = packageFiles();
    if (files.size() != 37)
        GTEST_SKIP() << "the test models are not installed";
    Loader f;
    REQUIRE_ENGINE(f.engine);
    Diagnostics quiet(0);
    bool compared = false;
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        LWObject* object = f.load(path, fileBytes(path));
        ASSERT_NE(object, nullptr);
        const Totals ours = totalsOf(object);
        Totals theirs;
        if (ours.faces == 0 || !assimpTotals(path, theirs))
            continue; // patches only, or no tool to compare with
        compared = true;
        EXPECT_EQ(ours.faces, theirs.faces);
        EXPECT_EQ(ours.corners, theirs.corners);
        for (int a = 0; a < 3; ++a) {
            EXPECT_NEAR(ours.lo[a], theirs.lo[a], 1e-5);
            EXPECT_NEAR(ours.hi[a], theirs.hi[a], 1e-5);
        }
    }
    EXPECT_TRUE(compared);
}

TEST(Lwo2Reader, PackageObjectsInDetail)
{
    const std::string dir = std::string(packageRoot) + "/LWO/LWO2/";
    if (!std::filesystem::exists(dir + "hierarchy.lwo"))
        GTEST_SKIP() << "the test models are not installed";
    Loader f;
    REQUIRE_ENGINE(f.engine);
    Diagnostics quiet(0);

    // LAYR 3, 4, 2, 1 in file order; no layer 0.
    LWObject* hierarchy = f.load("hierarchy.lwo", fileBytes(dir + "hierarchy.lwo"));
    ASSERT_NE(hierarchy, nullptr);
    ASSERT_EQ(hierarchy->layers.size(), 5u);
    EXPECT_EQ(hierarchy->layers[0], nullptr);
    const i32 points[5] = {0, 8, 8, 8, 266};
    for (int i = 1; i < 5; ++i) {
        ASSERT_NE(polyMesh(hierarchy, i), nullptr) << i;
        EXPECT_EQ(polyMesh(hierarchy, i)->pointCount, points[i]) << i;
        EXPECT_EQ(polyMesh(hierarchy, i)->layerIndex, i);
    }
    EXPECT_STREQ(hierarchy->layers[3]->name.c_str(), "hierarchy.lwo:4");

    LWObject* patches = f.load("Subdivision.lwo", fileBytes(dir + "Subdivision.lwo"));
    ASSERT_NE(patches, nullptr);
    EXPECT_TRUE(std::all_of(patches->layers.begin(), patches->layers.end(), [](Mesh* m) { return !m; }));

    LWObject* transparent = f.load("transparency.lwo", fileBytes(dir + "transparency.lwo"));
    ASSERT_NE(transparent, nullptr);
    Surface* glass = nullptr;
    for (i32 i = 0; i < transparent->tagCount; ++i)
        if (transparent->tags[i]->transparent)
            glass = transparent->tags[i];
    ASSERT_NE(glass, nullptr);
    EXPECT_FLOAT_EQ(glass->transparency.value, 0.5f);
    EXPECT_EQ(glass->doubleSided, 1);
    EXPECT_EQ(glass->smoothing, 1);
    EXPECT_NEAR(glass->smoothingCosine, std::cos(1.5625f) - 1e-6f, 1e-6);
    EXPECT_EQ(glass->loaded, 1);

    const std::string earth = dir + "MappingModes/earth_cylindrical_x.lwo";
    ASSERT_NE(f.load(earth, fileBytes(earth)), nullptr);
    EXPECT_NE(f.meta->findTexture("Q:/ASSIMP/coordsys/test/models/LWO/LWO2/MappingModes/earthCylindric.jpg", 0),
              nullptr);
}

TEST(Lwo2Reader, DriveLetterPathsAndMissingImagesStillGiveTextures)
{
    Loader f;
    REQUIRE_ENGINE(f.engine);
    Diagnostics quiet(0);
    Bytes b = quadObject();
    b.chunk("CLIP", Bytes().u4(1).sub("STIL", Bytes().s0("C:Users/x/pic.png")));
    b.chunk("CLIP", Bytes().u4(2).sub("STIL", Bytes().s0("Q:ASSIMP/y.jpg_nodxt")));
    ASSERT_NE(f.load(b), nullptr);
    ASSERT_EQ(f.meta->textures.size(), 2u);
    EXPECT_STREQ(f.meta->textures[0]->name.c_str(), "C:/Users/x/pic.png");
    EXPECT_EQ(f.meta->textures[0]->flags, 3u);
    EXPECT_STREQ(f.meta->textures[1]->name.c_str(), "Q:/ASSIMP/y.jpg_nodxt");
    EXPECT_EQ(f.meta->textures[1]->flags, 2u);
}

TEST(Lwo2Reader, LayersAndTheObjectTable)
{
    Loader f;
    REQUIRE_ENGINE(f.engine);
    Diagnostics boxes(1);
    Bytes b = quadObject();
    b.chunk("LAYR", layr(2));
    b.chunk("PNTS", pnts({0, 0, 0, 1, 0, 0, 0, 1, 0}));
    b.chunk("POLS", pols("FACE", {{0, 1, 2}, {0, 1}, {2}}));
    b.chunk("LAYR", layr(3));
    b.chunk("PNTS", pnts({1, 2, 3}));
    b.chunk("POLS", pols("PTCL", {{0}}));
    ASSERT_NE(f.load(b), nullptr);

    LWObject* object = f.meta->lwObjects.at(0);
    ASSERT_EQ(object->layers.size(), 4u);
    EXPECT_NE(polyMesh(object, 0), nullptr);
    EXPECT_EQ(object->layers[1], nullptr);
    ASSERT_NE(polyMesh(object, 2), nullptr);
    EXPECT_EQ(polyMesh(object, 2)->polygonCount, 3);
    EXPECT_NE(dynamic_cast<PartigonMesh*>(object->layers[3]), nullptr);
    EXPECT_EQ(object->layers[3]->center.y, 2.0f); // its box is round its particle

    // Another scene of the metascene reads nothing again; layer 1 is reported.
    auto* second = new Scene(f.meta.get());
    f.meta->scenes.push_back(second);
    EXPECT_EQ(LWObject::layer("obj.lwo", 2, second, &f.files), object->layers[2]);
    EXPECT_EQ(LWObject::layer("obj.lwo", 1, f.scene, &f.files), nullptr);
    EXPECT_EQ(f.meta->lwObjects.size(), 1u);
    EXPECT_EQ(boxTexts(), std::vector<std::string>{"Error: 1 is not a valid layer number for obj.lwo!\n"});
}

TEST(Lwo2Reader, SurfacesAreSharedPerFileName)
{
    Loader f;
    REQUIRE_ENGINE(f.engine);
    Diagnostics quiet(0);
    ASSERT_NE(f.load("a.lwo", quadObject("Skin").form()), nullptr);
    ASSERT_NE(f.load("b.lwo", quadObject("Skin").form()), nullptr);
    ASSERT_EQ(f.meta->surfaces.size(), 2u);
    EXPECT_NE(f.surface("a.lwo@Skin"), nullptr);
    EXPECT_NE(f.surface("b.lwo@Skin"), nullptr);
}

TEST(Lwo2Reader, VertexMapsGoToTheSurfacesThatUseThem)
{
    Loader f;
    REQUIRE_ENGINE(f.engine);
    Diagnostics quiet(0);
    Bytes b = quadObject();
    // Point 4 and 9 are past the four points: dropped.
    b.chunk("VMAP", Bytes().id("TXUV").u2(2).s0("uv").vx(1).f4(0.5f).f4(0.25f).vx(4).f4(1).f4(1));
    b.chunk("VMAP", Bytes().id("RGB ").u2(3).s0("paint").vx(2).f4(1).f4(0).f4(0).vx(9).f4(1).f4(1).f4(1));
    b.chunk("VMAP", Bytes().id("MORF").u2(3).s0("m").vx(4).f4(1).f4(1).f4(1));
    b.chunk("VMAD", Bytes().id("TXUV").u2(2).s0("uv").vx(3).vx(0).f4(0.1f).f4(0.2f).vx(7).vx(0).f4(0).f4(0));
    b.chunk("SURF", surf("Default", Bytes().sub("VCOL", Bytes().f4(1).u2(0).id("RGB ").s0("paint"))));
    ASSERT_NE(f.load(b), nullptr);
    Surface* s = f.surface("obj.lwo@Default");
    ASSERT_NE(s, nullptr);
    VertexColorMap* colors = s->vertexColorMap(0);
    ASSERT_NE(colors, nullptr);
    EXPECT_EQ(colors->refCount, 1u); // the load's own reference is gone
    ASSERT_EQ(colors->colors.size(), 16u);
    EXPECT_EQ(colors->colors[8], 1.0f);
    EXPECT_EQ(colors->colors[11], 1.0f); // RGB gets alpha 1
}

TEST(Lwo2Reader, OddLengthsArePaddedEverywhere)
{
    Loader f;
    REQUIRE_ENGINE(f.engine);
    Diagnostics quiet(0);
    // An unknown odd-length chunk or sub-chunk at one place; what follows it
    // must read the same as without it.
    const Bytes odd = Bytes().raw("1234567");
    struct Case {
        const char* name;
        Bytes top, clip, surface, header, attribute;
    } cases[] = {
        {"none", {}, {}, {}, {}, {}},
        {"top level", Bytes().chunk("ODDC", odd), {}, {}, {}, {}},
        {"clip", {}, Bytes().sub("ODDS", odd), {}, {}, {}},
        {"surface", {}, {}, Bytes().sub("ODDS", odd), {}, {}},
        {"block header", {}, {}, {}, Bytes().sub("ODDS", odd), {}},
        {"block attribute", {}, {}, {}, {}, Bytes().sub("ODDS", odd)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes b = quadObject();
        b.raw(c.top.data);
        b.chunk("LAYR", layr(1)).chunk("PNTS", pnts({0, 0, 0, 1, 0, 0, 0, 1, 0})).chunk("POLS", pols("FACE", {{0, 1, 2}}));
        b.chunk("CLIP", Bytes().u4(1).raw(c.clip.data).sub("STIL", Bytes().s0("pic.png")));
        const Bytes block = blok("IMAP", Bytes().raw(c.header.data).sub("CHAN", Bytes().id("COLR")),
                                 Bytes().raw(c.attribute.data).sub("IMAG", Bytes().u2(1)));
        b.chunk("SURF", surf("Default", Bytes().raw(c.surface.data).sub("DIFF", Bytes().f4(0.5f).u2(0)).sub("BLOK", block)));
        const std::string name = std::string(c.name) + ".lwo";
        LWObject* object = f.load(name, b.form());
        ASSERT_NE(object, nullptr);
        ASSERT_EQ(object->layers.size(), 2u);
        ASSERT_NE(polyMesh(object, 1), nullptr);
        EXPECT_EQ(polyMesh(object, 1)->polygonCount, 1);
        Surface* s = f.surface((name + "@Default").c_str());
        EXPECT_EQ(s->diffuse.value, 0.5f);
        ASSERT_EQ(s->layerCount, 1);
        EXPECT_EQ(s->layerSlots[0]->channel, iffId("COLR"));
        ASSERT_NE(s->layerSlots[0]->texture, nullptr);
        EXPECT_STREQ(s->layerSlots[0]->texture->name.c_str(), "pic.png");
    }
}

// 2,048 empty maps of each kind on a layer of 20,000 points: each would be
// held dense, so together they may take no more than the file warrants.
TEST(Lwo2Reader, VertexMapMemoryIsBoundedByTheFileSize)
{
    Loader f;
    REQUIRE_ENGINE(f.engine);
    Diagnostics quiet(0);
    std::vector<float> xyz(3 * 20000, 0.0f);
    Bytes b;
    b.chunk("TAGS", tags({"Default"}));
    b.chunk("LAYR", layr(0));
    b.chunk("PNTS", pnts(xyz));
    b.chunk("POLS", pols("FACE", {{0, 1, 2}}));
    for (int i = 0; i < 2048; ++i) {
        const std::string name = std::to_string(i);
        b.chunk("VMAP", Bytes().id("TXUV").u2(2).s0(name));
        b.chunk("VMAP", Bytes().id("RGBA").u2(4).s0(name));
        b.chunk("VMAP", Bytes().id("MORF").u2(3).s0(name));
    }
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    ASSERT_NE(f.load(b), nullptr);
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 200L * 1024); // kilobytes; unbounded: 1.1 GB
}

TEST(Lwo2Reader, DamagedChunksStayInside)
{
    Loader f;
    REQUIRE_ENGINE(f.engine);
    Diagnostics quiet(0);
    Bytes many;
    for (int i = 0; i < 2100; ++i)
        many.s0("t" + std::to_string(i));
    struct Case {
        const char* name;
        Bytes chunks;
        i32 polygons; // of layer 0; -1: the load gives null
    } cases[] = {
        {"PNTS not a multiple of 12", Bytes(quadObject()).chunk("PNTS", Bytes().raw(std::string(13, '\0'))), 1},
        {"index past the points", Bytes(quadObject()).chunk("POLS", pols("FACE", {{0, 1, 7}})), 1},
        {"PTAG past the tags", Bytes(quadObject()).chunk("PTAG", Bytes().id("SURF").vx(0).u2(5)), 1},
        {"PTAG past the polygons", Bytes(quadObject()).chunk("PTAG", Bytes().id("SURF").vx(9).u2(0)), 1},
        {"over 2048 tags", Bytes().chunk("TAGS", many).raw(quadObject().data.substr(8 + 6 + 2)), 1},
        {"polygon cut by its chunk", Bytes(quadObject()).chunk("POLS", Bytes().id("FACE").u2(3).vx(0)), 0},
        {"geometry before LAYR",
         Bytes().chunk("PNTS", pnts({1, 1, 1})).chunk("POLS", pols("FACE", {{0, 0, 0}})).raw(quadObject().data), 1},
        {"SURF before TAGS", Bytes().chunk("SURF", surf("Late", Bytes())).raw(quadObject("Late").data), -1},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        f.meta->lwObjects.clear();
        LWObject* object = f.load(c.chunks);
        if (c.polygons < 0) {
            EXPECT_EQ(object, nullptr);
            continue;
        }
        ASSERT_NE(object, nullptr);
        PolyMesh* mesh = polyMesh(object, 0);
        EXPECT_EQ(mesh ? mesh->polygonCount : 0, c.polygons);
        if (mesh) {
            EXPECT_LE(object->tagCount, 2048);
            EXPECT_TRUE(mesh->prepare()); // and the build reads inside its arrays
        }
        delete object;
    }
}

TEST(Lwo2Reader, WrongFormsAreRefused)
{
    Loader f;
    REQUIRE_ENGINE(f.engine);
    Diagnostics boxes(1);
    std::vector<std::string> forms = {quadObject().form("LWOB"), quadObject().form("LXOB"), "", "FORM"};
    namespace fs = std::filesystem;
    for (const char* dir : {"/LWO/LWOB", "/LWO/LXOB_Modo"})
        if (fs::exists(std::string(packageRoot) + dir))
            for (const auto& entry : fs::recursive_directory_iterator(std::string(packageRoot) + dir))
                if (entry.is_regular_file() && (entry.path().extension() == ".lwo" || entry.path().extension() == ".lxo"))
                    forms.push_back(fileBytes(entry.path().string()));
    for (const std::string& bytes : forms)
        EXPECT_EQ(f.load("x.lwo", bytes), nullptr);
    EXPECT_EQ(boxTexts().size(), forms.size());
    EXPECT_EQ(boxTexts()[0], "Error: x.lwo is not an LWO2 file!\n");
    Diagnostics quiet(1);
    EXPECT_EQ(MetaScene::loadLwo("missing.lwo", f.scene, &f.files), nullptr);
    EXPECT_TRUE(boxTexts().empty());
}

TEST(Lwo2Reader, CutAndFlippedPackageFilesLoadSafely)
{
    const auto files = packageFiles();
    if (files.empty())
        GTEST_SKIP() << "the test models are not installed";
    Loader f;
    REQUIRE_ENGINE(f.engine);
    Diagnostics quiet(0);
    u32 seed = 12345;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    for (const std::string& path : files) {
        const std::string bytes = fileBytes(path);
        // Cut after a whole chunk, the object keeps every layer read before
        // the cut as the whole file has it.
        f.files.files["whole.lwo"] = bytes;
        std::unique_ptr<LWObject> whole(openLWO2(&f.files, "whole.lwo", f.scene));
        ASSERT_NE(whole, nullptr) << path;
        std::vector<size_t> ends;
        for (size_t at = 12; at + 8 <= bytes.size();) {
            const u32 length = u32(u8(bytes[at + 4])) << 24 | u32(u8(bytes[at + 5])) << 16 |
                               u32(u8(bytes[at + 6])) << 8 | u8(bytes[at + 7]);
            at += 8 + size_t(length) + (length & 1);
            ends.push_back(std::min(at, bytes.size()));
        }
        for (size_t k = 0; k < ends.size(); k += 1 + ends.size() / 8) {
            f.files.files["cut.lwo"] = bytes.substr(0, ends[k]);
            std::unique_ptr<LWObject> cut(openLWO2(&f.files, "cut.lwo", f.scene));
            ASSERT_NE(cut, nullptr) << path << " " << ends[k];
            ASSERT_LE(cut->layers.size(), whole->layers.size()) << path;
            for (size_t l = 0; l < cut->layers.size(); ++l)
                if (PolyMesh* mesh = polyMesh(cut.get(), l)) {
                    ASSERT_NE(polyMesh(whole.get(), l), nullptr) << path << " " << l;
                    EXPECT_EQ(mesh->polygonCount, polyMesh(whole.get(), l)->polygonCount) << path << " " << l;
                }
        }
        for (int i = 0; i < 12; ++i) {
            std::string damaged = bytes.substr(0, 12 + next() % (bytes.size() - 11));
            std::string flipped = bytes;
            for (int k = 0; k < 4; ++k)
                flipped[12 + next() % (flipped.size() - 12)] ^= char(1 << (next() % 8));
            for (const std::string* d : {&damaged, &flipped}) {
                f.files.files["d.lwo"] = *d;
                LWObject* object = openLWO2(&f.files, "d.lwo", f.scene);
                for (Mesh* mesh : object ? object->layers : std::vector<Mesh*>())
                    if (mesh)
                        mesh->prepare();
                delete object;
            }
        }
    }
}
