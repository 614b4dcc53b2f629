#include "foundation/diagnostics.h"
#include "foundation/engine_limits.h"
#include "foundation/file_stream.h"
#include "foundation/resource_stream.h"
#include "foundation/sar_archive.h"
#include "foundation/script_tokenizer.h"
#include "tools/sarpack/range_encoder.h"

#include "cost_test_support.h"
#include "log_test_support.h"
#include "scoped_state.h"

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<u8>;

Bytes bytesOf(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

void put32(Bytes& out, u32 v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back((u8)(v >> (8 * i)));
}

// The whole archive of the format notes: version 2, one type-3 entry
// "scene.scr" holding "0 stopdemo\n".
const Bytes kSceneArchive = {
    0x53, 0x41, 0x52, 0x43, 0x02, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x09, 0x73,
    0x63, 0x65, 0x6e, 0x65, 0x2e, 0x73, 0x63, 0x72, 0x03, 0x00, 0x00, 0x00, 0x00, 0x0f,
    0x00, 0x00, 0x00, 0x0b, 0x00, 0x00, 0x00, 0x00, 0x0a, 0x64, 0xee, 0x3c, 0xd1, 0x84,
    0xf1, 0x36, 0xe7, 0x51, 0x5b, 0x01, 0xe7, 0x7a, 0x03, 0x00, 0x00, 0x00};

// Coded vectors: "banana" (move-to-front 97 110 0 99 2 0, primary index 4)
// and an empty entry.
const Bytes kBananaCoded = {0x00, 0x61, 0x0d, 0x16, 0xa1, 0x39, 0xf2, 0xec, 0x2c, 0x94};
const Bytes kBananaMtf = {97, 110, 0, 99, 2, 0};
const Bytes kEmptyCoded = {0x00, 0xff, 0x00, 0xfe, 0x00};

struct EntrySpec {
    std::string name;
    u8 type;
    Bytes packed;
    u32 size;
    i64 primary = -1;     // appended behind the packed bytes when >= 0
    i64 offset = -1;      // directory offset; behind the previous entry when < 0
    i64 packedField = -1; // directory packed size; the real one when < 0
};

struct ArchiveSpec {
    u32 magic = SarArchive::kMagic;
    u32 version = 2;
    i64 countField = -1;
    std::vector<EntrySpec> entries;

    Bytes build() const
    {
        Bytes out;
        put32(out, magic);
        put32(out, version);
        put32(out, countField >= 0 ? (u32)countField : (u32)entries.size());
        Bytes data;
        for (const EntrySpec& e : entries) {
            out.push_back((u8)e.name.size());
            out.insert(out.end(), e.name.begin(), e.name.end());
            out.push_back(e.type);
            put32(out, e.offset >= 0 ? (u32)e.offset : (u32)data.size());
            put32(out, e.packedField >= 0 ? (u32)e.packedField : (u32)e.packed.size());
            put32(out, e.size);
            data.insert(data.end(), e.packed.begin(), e.packed.end());
            if (e.primary >= 0)
                put32(data, (u32)e.primary);
        }
        out.insert(out.end(), data.begin(), data.end());
        return out;
    }
};

EntrySpec stored(const std::string& name, const std::string& text)
{
    return {name, 0, bytesOf(text), (u32)text.size()};
}

// Named blobs in memory. Its size can be made to claim more than the blob
// holds, and it counts how many of its contents are open.
class BlobStream : public Stream {
public:
    struct Shared {
        std::map<std::string, Bytes> blobs;
        u32 claimedSize = 0; // when nonzero, the size every open reports
        int openCount = 0;
    };

    explicit BlobStream(std::shared_ptr<Shared> s) : shared(std::move(s)) {}
    ~BlobStream() override { close(); }

    Stream* clone() override { return new BlobStream(shared); }
    bool exists(const char* name) override { return shared->blobs.count(name) != 0; }
    bool open(const char* name) override
    {
        const auto it = shared->blobs.find(name);
        if (current || it == shared->blobs.end())
            return false;
        current = &it->second;
        size = shared->claimedSize ? shared->claimedSize : (u32)current->size();
        at = 0;
        ++shared->openCount;
        return true;
    }
    bool create(const char*) override { return false; }
    bool close() override
    {
        if (!current)
            return false;
        current = nullptr;
        size = 0;
        --shared->openCount;
        return true;
    }
    u32 read(void* buf, u32 n) override
    {
        if (!current || at >= current->size())
            return 0;
        const u32 count = std::min<u32>(n, (u32)current->size() - at);
        std::memcpy(buf, current->data() + at, count);
        at += count;
        return count;
    }
    u32 write(const void*, u32) override { return 0; }
    bool seek(u32 p) override
    {
        at = p; // like a file: past the end is allowed, reads give nothing
        return current != nullptr;
    }
    bool skip(i32 delta) override { return seek(at + (u32)delta); }
    u32 tell() override { return at; }

private:
    std::shared_ptr<Shared> shared;
    const Bytes* current = nullptr;
    u32 at = 0;
};

class SarArchiveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        diagnosticsLevel = 0;
        platform::clearRecordedMessageBoxes();
    }

    // A mounted archive over the bytes, named "demo.sar" in the source.
    std::unique_ptr<SarArchive> mounted(const Bytes& bytes, bool expectMount = true)
    {
        shared->blobs["demo.sar"] = bytes;
        BlobStream source(shared);
        auto archive = std::make_unique<SarArchive>(source);
        EXPECT_EQ(archive->mount("demo.sar"), expectMount);
        return archive;
    }

    // What is left of the current content, read in pieces of 5.
    static Bytes readAll(Stream& s)
    {
        Bytes out;
        u8 piece[5];
        while (const u32 got = s.read(piece, sizeof piece))
            out.insert(out.end(), piece, piece + got);
        return out;
    }

    std::shared_ptr<BlobStream::Shared> shared = std::make_shared<BlobStream::Shared>();
    testsupport::LevelGuard level; // also drops the test's boxes
};

} // namespace

// ---- Mounting and reading ---------------------------------------------------

TEST_F(SarArchiveTest, TheSampleArchiveMountsAndDecodes)
{
    auto archive = mounted(kSceneArchive);
    ASSERT_EQ(archive->count, 1);
    const SarEntry& e = archive->entries[0];
    EXPECT_EQ(e.nameLength, 9);
    EXPECT_STREQ(e.name, "scene.scr");
    EXPECT_EQ(e.type, 3);
    EXPECT_EQ(e.offset, 0u);
    EXPECT_EQ(e.packedSize, 15u);
    EXPECT_EQ(e.size, 11u);
    EXPECT_EQ(archive->dataStart, 35u);
    EXPECT_STREQ(archive->mountName, "demo.sar");
    ASSERT_TRUE(archive->open("scene.scr"));
    EXPECT_EQ(archive->size, 11u);
    EXPECT_EQ(readAll(*archive), bytesOf("0 stopdemo\n"));
}

TEST_F(SarArchiveTest, TheBuilderHereMakesTheSampleArchive)
{
    ArchiveSpec spec;
    const Bytes coded(kSceneArchive.begin() + 35, kSceneArchive.end() - 4);
    spec.entries.push_back({"scene.scr", 3, coded, 11, 3});
    EXPECT_EQ(spec.build(), kSceneArchive);
}

TEST_F(SarArchiveTest, ReadsInPiecesAndPositions)
{
    auto archive = mounted(kSceneArchive);
    ASSERT_TRUE(archive->open("scene.scr"));
    std::string text;
    char piece[4];
    u32 got;
    while ((got = archive->read(piece, 3)) != 0)
        text.append(piece, got);
    EXPECT_EQ(text, "0 stopdemo\n");
    EXPECT_EQ(archive->tell(), 11u);

    EXPECT_TRUE(archive->seek(2));
    EXPECT_EQ(archive->read(piece, 4), 4u);
    EXPECT_EQ(std::string(piece, 4), "stop");
    EXPECT_TRUE(archive->seek(1000)); // past the end lands at the end
    EXPECT_EQ(archive->tell(), 11u);
    EXPECT_EQ(archive->read(piece, 4), 0u);
    EXPECT_TRUE(archive->seek(5));
    EXPECT_TRUE(archive->skip(-2));
    EXPECT_EQ(archive->tell(), 3u);
    EXPECT_TRUE(archive->skip(-4)); // backward past the start wraps to the end
    EXPECT_EQ(archive->tell(), 11u);

    EXPECT_TRUE(archive->close());
    EXPECT_EQ(archive->size, 0u);
    EXPECT_EQ(archive->tell(), 0u);
    EXPECT_EQ(archive->read(piece, 4), 0u);
    EXPECT_FALSE(archive->create("x"));
    EXPECT_EQ(archive->write("x", 1), 0u);
}

TEST_F(SarArchiveTest, MountsOnAResourceAndOnAFile)
{
    static const Bytes resource = kSceneArchive; // must outlive the test
    platform::registerResource("SARFILE", (WORD)4242, resource.data(), resource.size());
    testsupport::OnExit unregister([] { platform::unregisterResource("SARFILE", MAKEINTRESOURCEA(4242)); });
    {
        ResourceStream stream("SARFILE", 4242, "main");
        SarArchive archive(stream);
        ASSERT_TRUE(archive.mount("main"));
        ASSERT_TRUE(archive.open("SCENE.SCR"));
        EXPECT_EQ(readAll(archive), bytesOf("0 stopdemo\n"));
        // Inside a resource there is nothing to fall back to.
        EXPECT_FALSE(archive.open("other.txt"));
        EXPECT_FALSE(archive.exists("other.txt"));
    }
    platform::unregisterResource("SARFILE", MAKEINTRESOURCEA(4242));

    const std::string path = testing::TempDir() + "sar_archive_test.sar";
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(kSceneArchive.data(), 1, kSceneArchive.size(), f);
    std::fclose(f);
    {
        FileStream disk("");
        SarArchive archive(disk);
        ASSERT_TRUE(archive.mount(path.c_str()));
        ASSERT_TRUE(archive.open("scene.scr"));
        EXPECT_EQ(readAll(archive), bytesOf("0 stopdemo\n"));
    }
    std::remove(path.c_str());
}

TEST_F(SarArchiveTest, NamesMatchIgnoringCaseWithEitherSlash)
{
    ArchiveSpec spec;
    spec.entries.push_back(stored("images\\logo.jpg", "JPEG"));
    auto archive = mounted(spec.build());
    EXPECT_TRUE(archive->exists("images/Logo.JPG"));
    ASSERT_TRUE(archive->open("images/Logo.JPG"));
    EXPECT_EQ(readAll(*archive), bytesOf("JPEG"));
    EXPECT_TRUE(archive->open("IMAGES\\LOGO.jpg"));
    EXPECT_FALSE(archive->exists("logo.jpg"));
}

TEST_F(SarArchiveTest, VersionsBelow0x10000Mount)
{
    for (u32 version : {0u, 2u, 0xFFFFu}) {
        ArchiveSpec spec;
        spec.version = version;
        mounted(spec.build(), true);
    }
    for (u32 version : {0x10000u, 0xFFFFFFFFu}) {
        ArchiveSpec spec;
        spec.version = version;
        mounted(spec.build(), false);
    }
}

TEST_F(SarArchiveTest, MountFailsQuietlyOnABadHeaderOrSource)
{
    diagnosticsLevel = 3;
    ArchiveSpec spec;
    spec.magic = 0x43524154;
    mounted(spec.build(), false);
    mounted(Bytes(kSceneArchive.begin(), kSceneArchive.begin() + 11), false);
    mounted({}, false);

    BlobStream source(shared);
    SarArchive archive(source);
    EXPECT_FALSE(archive.mount("absent.sar"));
    EXPECT_FALSE(archive.mount(nullptr));
    EXPECT_TRUE(platform::recordedMessageBoxes().empty());
    EXPECT_EQ(shared->openCount, 0); // failed mounts close what they opened
}

TEST_F(SarArchiveTest, MountsOnlyOnce)
{
    auto archive = mounted(kSceneArchive);
    EXPECT_FALSE(archive->mount("demo.sar"));
    EXPECT_EQ(archive->count, 1);
}

TEST_F(SarArchiveTest, ClosesItsSourceWhenDestroyed)
{
    {
        auto archive = mounted(kSceneArchive);
        auto copy = std::unique_ptr<Stream>(archive->clone());
        EXPECT_EQ(shared->openCount, 2);
    }
    EXPECT_EQ(shared->openCount, 0);
}

// ---- Entry types ------------------------------------------------------------

TEST_F(SarArchiveTest, EveryTypeDecodes)
{
    ArchiveSpec spec;
    spec.entries.push_back(stored("raw.txt", "plain bytes"));
    spec.entries.push_back({"coded.bin", 1, kBananaCoded, 6});
    spec.entries.push_back({"sorted.bin", 2, kBananaMtf, 6, 4});
    spec.entries.push_back({"both.bin", 3, kBananaCoded, 6, 4});
    auto archive = mounted(spec.build());
    ASSERT_TRUE(archive->open("raw.txt"));
    EXPECT_EQ(readAll(*archive), bytesOf("plain bytes"));
    ASSERT_TRUE(archive->open("coded.bin"));
    EXPECT_EQ(readAll(*archive), kBananaMtf);
    ASSERT_TRUE(archive->open("sorted.bin"));
    EXPECT_EQ(readAll(*archive), bytesOf("banana"));
    ASSERT_TRUE(archive->open("both.bin"));
    EXPECT_EQ(archive->size, 6u);
    EXPECT_EQ(readAll(*archive), bytesOf("banana"));
}

TEST_F(SarArchiveTest, EmptyEntriesOpenEmpty)
{
    ArchiveSpec spec;
    spec.entries.push_back(stored("empty.txt", ""));
    spec.entries.push_back({"empty.bin", 3, kEmptyCoded, 0, 0});
    spec.entries.push_back({"empty1.bin", 1, kEmptyCoded, 0});
    auto archive = mounted(spec.build());
    for (const char* name : {"empty.txt", "empty.bin", "empty1.bin"}) {
        ASSERT_TRUE(archive->open(name)) << name;
        EXPECT_EQ(archive->size, 0u);
        char c;
        EXPECT_EQ(archive->read(&c, 1), 0u);
    }
}

TEST_F(SarArchiveTest, OtherTypeBitsArePassedOver)
{
    ArchiveSpec spec;
    spec.entries.push_back({"a.txt", 4, bytesOf("four"), 4});
    spec.entries.push_back(stored("A.TXT", "zero"));
    spec.entries.push_back({"only.txt", 0x80, bytesOf("high"), 4});
    spec.entries.push_back(stored("a.txt", "later"));
    auto archive = mounted(spec.build());
    ASSERT_TRUE(archive->open("a.txt"));
    EXPECT_EQ(readAll(*archive), bytesOf("zero")); // the first valid one wins
    EXPECT_TRUE(archive->exists("only.txt"));      // exists ignores the type
    EXPECT_FALSE(archive->open("only.txt"));
}

// ---- Names the archive does not hold ------------------------------------------

TEST_F(SarArchiveTest, FallsBackToFilesOfTheSource)
{
    shared->blobs["docs\\readme.txt"] = bytesOf("outside");
    auto archive = mounted(kSceneArchive);
    EXPECT_TRUE(archive->exists("docs/readme.txt"));
    ASSERT_TRUE(archive->open("docs/readme.txt"));
    EXPECT_EQ(readAll(*archive), bytesOf("outside"));
    EXPECT_EQ(shared->openCount, 1); // the clone that read it is gone
}

TEST_F(SarArchiveTest, AMissingNameShowsTheBoxOnlyFromLevelOne)
{
    auto archive = mounted(kSceneArchive);
    ASSERT_TRUE(archive->open("scene.scr"));
    char c;
    ASSERT_EQ(archive->read(&c, 1), 1u);

    diagnosticsLevel = 0;
    EXPECT_FALSE(archive->open("images/none.jpg"));
    EXPECT_TRUE(platform::recordedMessageBoxes().empty());
    EXPECT_FALSE(archive->exists("images/none.jpg"));

    diagnosticsLevel = 1;
    EXPECT_FALSE(archive->open("images/none.jpg"));
    ASSERT_EQ(platform::recordedMessageBoxes().size(), 1u);
    const platform::MessageBoxRecord& box = platform::recordedMessageBoxes()[0];
    EXPECT_EQ(box.text, "error: \"images\\none.jpg\" not found !!!\n");
    EXPECT_EQ(box.caption, "Error");
    EXPECT_EQ(box.type, (UINT)MB_ICONEXCLAMATION);
    EXPECT_EQ(box.owner, nullptr);

    // The entry opened before is still there, where it was.
    EXPECT_EQ(archive->size, 11u);
    EXPECT_EQ(archive->tell(), 1u);
    EXPECT_EQ(readAll(*archive).size(), 10u);
}

// ---- Clones -------------------------------------------------------------------

TEST_F(SarArchiveTest, ClonesReadIndependently)
{
    ArchiveSpec spec;
    spec.entries.push_back({"scene.scr", 3, Bytes(kSceneArchive.begin() + 35, kSceneArchive.end() - 4), 11, 3});
    spec.entries.push_back(stored("other.txt", "another entry"));
    auto archive = mounted(spec.build());
    std::unique_ptr<Stream> a(archive->clone());
    std::unique_ptr<Stream> b(a->clone());
    ASSERT_TRUE(a->open("scene.scr"));
    ASSERT_TRUE(b->open("scene.scr"));
    char x[4], y[4];
    ASSERT_EQ(a->read(x, 2), 2u);
    ASSERT_EQ(b->read(y, 4), 4u);
    ASSERT_EQ(a->read(x + 2, 2), 2u);
    EXPECT_EQ(std::string(x, 4), "0 st");
    EXPECT_EQ(std::string(y, 4), "0 st");
    ASSERT_TRUE(archive->open("other.txt")); // moves the original's source
    EXPECT_EQ(a->read(x, 4), 4u);
    EXPECT_EQ(std::string(x, 4), "opde");
    ASSERT_TRUE(b->open("other.txt"));
    EXPECT_EQ(readAll(*b), bytesOf("another entry"));

    // A clone of an unmounted archive has no directory but the fallback.
    shared->blobs["loose.txt"] = bytesOf("loose");
    BlobStream source(shared);
    SarArchive unmounted(source);
    std::unique_ptr<Stream> c(unmounted.clone());
    ASSERT_TRUE(c->open("loose.txt"));
    EXPECT_EQ(readAll(*c), bytesOf("loose"));
}

// ---- Damaged archives -----------------------------------------------------------

TEST_F(SarArchiveTest, CountsTheFileCannotHoldAreRefused)
{
    for (i64 count : {2ll, 0x10000000ll, 0x7FFFFFFFll, 0x80000000ll, 0xFFFFFFFFll}) {
        ArchiveSpec spec;
        spec.entries.push_back(stored("a", "b"));
        spec.countField = count;
        mounted(spec.build(), false);
    }
    // A source that claims to be huge still runs out of directory bytes;
    // slots come as entries arrive, so nothing near the claim is allocated.
    ArchiveSpec spec;
    spec.entries.push_back(stored("a", "b"));
    spec.countField = 300000000;
    shared->claimedSize = 0xFFFFFFF0u;
    mounted(spec.build(), false);
}

TEST_F(SarArchiveTest, NamesOf254CharactersAreRefused)
{
    for (size_t length : {253u, 254u, 255u}) {
        ArchiveSpec spec;
        spec.entries.push_back(stored(std::string(length, 'n'), "x"));
        auto archive = mounted(spec.build(), length == 253);
        if (length == 253) {
            ASSERT_TRUE(archive->open(std::string(253, 'N').c_str()));
            EXPECT_EQ(readAll(*archive), bytesOf("x"));
        }
    }
}

TEST_F(SarArchiveTest, EntriesBeyondTheFileOrCutShortFail)
{
    ArchiveSpec spec;
    spec.entries.push_back(stored("ok.txt", "fine"));
    EntrySpec far = stored("far.txt", "");
    far.offset = 1000;
    spec.entries.push_back(far);
    EntrySpec wrap = stored("wrap.txt", "");
    wrap.offset = 0xFFFFFFF0u; // dataStart + offset passes 2^32
    spec.entries.push_back(wrap);
    EntrySpec longer = stored("long.txt", "");
    longer.offset = 0;
    longer.packedField = 0xFFFFFF00u;
    spec.entries.push_back(longer);
    EntrySpec coded{"coded.bin", 3, {}, 11, -1};
    coded.offset = 0;
    coded.packedField = 500;
    spec.entries.push_back(coded);
    auto archive = mounted(spec.build());
    ASSERT_TRUE(archive->open("ok.txt"));
    EXPECT_FALSE(archive->open("far.txt"));
    EXPECT_FALSE(archive->open("wrap.txt"));
    // Serving what exists would pass a cut-short entry off as whole.
    EXPECT_FALSE(archive->open("long.txt"));
    EXPECT_FALSE(archive->open("coded.bin"));
}

TEST_F(SarArchiveTest, ABadPrimaryIndexFailsTheOpen)
{
    // "ba" (move-to-front 98 98) has T = (1, 0); an index of 2 or more lifts
    // both targets and the walk leaves the two bytes after the first; 0, or
    // one that reads as negative, lifts nothing and makes bytes never stored.
    for (i64 primary : {2ll, 3ll, 0x7FFFFFFFll, 0ll, 0xFFFFFFFFll}) {
        ArchiveSpec spec;
        spec.entries.push_back(stored("keep.txt", "kept"));
        spec.entries.push_back({"bad.bin", 2, {98, 98}, 2, primary});
        auto archive = mounted(spec.build());
        ASSERT_TRUE(archive->open("keep.txt"));
        char c;
        ASSERT_EQ(archive->read(&c, 1), 1u);
        EXPECT_FALSE(archive->open("bad.bin")) << primary;
        EXPECT_EQ(archive->tell(), 1u);
        EXPECT_EQ(readAll(*archive), bytesOf("ept")) << primary;
    }
    ArchiveSpec spec;
    spec.entries.push_back({"good.bin", 2, {98, 98}, 2, 1});
    auto archive = mounted(spec.build());
    ASSERT_TRUE(archive->open("good.bin"));
    EXPECT_EQ(readAll(*archive), bytesOf("ab"));
}

TEST_F(SarArchiveTest, ACodedStreamPastItsSizeFails)
{
    // Zero bytes decode to byte 0 long past their end; the size field stops
    // them. A huge size field is held to what the bytes can pay for.
    for (u32 size : {0u, 50u, 5000u}) {
        ArchiveSpec spec;
        spec.entries.push_back({"endless.bin", 1, Bytes(1000, 0), size});
        auto archive = mounted(spec.build());
        EXPECT_FALSE(archive->open("endless.bin")) << size;
    }
    ArchiveSpec spec;
    spec.entries.push_back({"huge.bin", 1, Bytes(1000, 0), 200u << 20});
    spec.entries.push_back({"short.bin", 1, kBananaCoded, 1000});
    auto archive = mounted(spec.build());
    ASSERT_TRUE(archive->open("huge.bin"));
    EXPECT_GT(archive->size, 5000u);
    // The block is sized by the bound, not by the field: overcommit would
    // let a request of 200 MiB pass unnoticed.
    EXPECT_LE(archive->content.bytes.capacity, 512u * (1000 + 1024));
    // The size field is a bound, not a promise: shorter output is served.
    ASSERT_TRUE(archive->open("short.bin"));
    EXPECT_EQ(readAll(*archive), kBananaMtf);
}

TEST_F(SarArchiveTest, EntriesBiggerThanTheirReaderCanUseAreRefused)
{
    // Six coded bytes under a size field one above a kind's bound; under its
    // own kind's bound an entry opens (the field only bounds the decoding).
    const u32 script = limits::scriptEntryBytes + 1, scene = limits::sceneEntryBytes + 1,
              object = limits::objectEntryBytes + 1, picture = limits::pictureEntryBytes + 1,
              other = limits::otherEntryBytes + 1;
    const struct {
        const char* name;
        u32 size;
        bool opens;
    } cases[] = {
        {"scene.scr", script, false},      {"Meta1.MTS", script, false},
        {"common.fxh", script, false},     {"scenes\\hall.lws", script, true},
        {"scenes\\hall.lws", scene, false}, {"objects\\ball.lwo", scene, true},
        {"objects\\ball.lwo", object, false}, {"crate.jpg", picture, false},
        {"floor.TGA", picture, false},     {"tex.dds", picture, false},
        {"music.ogg", picture, true},      {"music.ogg", other, false},
        {"two\nlines.scr", script, false},
    };
    for (const auto& c : cases) {
        ArchiveSpec spec;
        spec.entries.push_back({c.name, 3, kBananaCoded, c.size, 4});
        auto archive = mounted(spec.build());
        const std::streampos logged = testsupport::logPosition();
        EXPECT_EQ(archive->open(c.name), c.opens) << c.name << " " << c.size;
        if (!c.opens) {
            // A control byte in the name shows as '?' in the log's one line.
            std::string named = c.name;
            std::replace(named.begin(), named.end(), '\n', '?');
            EXPECT_THAT(testsupport::logLinesFrom(logged), testing::ElementsAre(testing::HasSubstr(named)));
        }
    }
    // A file of the source behind the archive is held to the same bounds.
    shared->blobs["loose.scr"] = bytesOf("0 stopdemo\n");
    shared->claimedSize = script;
    auto archive = mounted(kSceneArchive);
    EXPECT_FALSE(archive->open("loose.scr"));
}

// 17 MiB of newlines coded in 70 KB: decoded and tokenised it would take
// 200 MiB. The peak is measured in a child so that it is this attempt's alone.
TEST_F(SarArchiveTest, AnOversizedScriptCostsNoMemory)
{
    const u32 n = limits::scriptEntryBytes + (1u << 20);
    Bytes moved(n, 0);
    moved[0] = '\n'; // move-to-front of all newlines, whose block sort is itself
    std::vector<u8> coded;
    RangeEncoder::pack(moved.data(), moved.size(), coded);
    moved = Bytes();
    ArchiveSpec spec;
    spec.entries.push_back({"scene.scr", 3, coded, n, n});
    shared->blobs["demo.sar"] = spec.build();
    coded = std::vector<u8>();

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        BlobStream source(shared);
        SarArchive archive(source);
        ScriptTokenizer script(&archive);
        const long before = testsupport::peakMegabytes();
        if (archive.mount("demo.sar"))
            script.load("scene.scr");
        _exit((int)std::min(testsupport::peakMegabytes() - before, 255L));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_LT(WEXITSTATUS(status), 16); // MiB; decoded and tokenised it took 200
}

TEST_F(SarArchiveTest, TruncatedArchivesNeverReadPastWhatExists)
{
    ArchiveSpec spec;
    spec.entries.push_back({"scene.scr", 3, Bytes(kSceneArchive.begin() + 35, kSceneArchive.end() - 4), 11, 3});
    spec.entries.push_back(stored("text.txt", "stored text"));
    spec.entries.push_back({"sorted.bin", 2, kBananaMtf, 6, 4});
    spec.entries.push_back({"coded.bin", 1, kBananaCoded, 6});
    const Bytes whole = spec.build();
    const std::map<std::string, Bytes> expected = {{"scene.scr", bytesOf("0 stopdemo\n")},
                                                   {"text.txt", bytesOf("stored text")},
                                                   {"sorted.bin", bytesOf("banana")},
                                                   {"coded.bin", kBananaMtf}};
    for (u32 claimed : {0u, (u32)whole.size()}) {
        shared->claimedSize = claimed; // 0: the stream tells the truth
        for (size_t cut = 0; cut <= whole.size(); ++cut) {
            const Bytes prefix(whole.begin(), whole.begin() + cut);
            shared->blobs["demo.sar"] = prefix;
            BlobStream source(shared);
            SarArchive archive(source);
            if (!archive.mount("demo.sar"))
                continue;
            ASSERT_EQ(archive.count, 4) << cut;
            for (const auto& [name, bytes] : expected) {
                if (!archive.open(name.c_str()))
                    continue;
                const Bytes got = readAll(archive);
                if (name == "text.txt") { // stored: exactly the bytes that exist
                    ASSERT_EQ(got, Bytes(bytes.begin(), bytes.begin() + std::min(got.size(), bytes.size())));
                }
                ASSERT_LE(got.size(), name == "text.txt" ? bytes.size() : 11u) << name << " " << cut;
                if (cut == whole.size()) {
                    ASSERT_EQ(got, bytes) << name;
                }
            }
        }
    }
}

TEST_F(SarArchiveTest, FlippedBitsNeverBreakTheReader)
{
    ArchiveSpec spec;
    spec.entries.push_back({"scene.scr", 3, Bytes(kSceneArchive.begin() + 35, kSceneArchive.end() - 4), 11, 3});
    spec.entries.push_back(stored("text.txt", "stored text"));
    spec.entries.push_back({"sorted.bin", 2, kBananaMtf, 6, 4});
    const Bytes whole = spec.build();
    const Bytes contents[] = {bytesOf("0 stopdemo\n"), bytesOf("stored text"), bytesOf("banana")};
    // Where the directory ends (a changed name length there moves every
    // entry's data) and where each entry's data lies.
    size_t at = 12, dataAt = 0;
    for (const EntrySpec& e : spec.entries)
        at += 2 + e.name.size() + 12;
    const size_t directoryEnd = at;
    std::vector<std::pair<size_t, size_t>> data;
    for (const EntrySpec& e : spec.entries) {
        const size_t length = e.packed.size() + (e.primary >= 0 ? 4 : 0);
        data.emplace_back(at + dataAt, at + dataAt + length);
        dataAt += length;
    }
    std::mt19937 rng(99);
    for (int round = 0; round < 3000; ++round) {
        Bytes damaged = whole;
        std::vector<size_t> flipped;
        for (int flips = 1 + round % 3; flips > 0; --flips) {
            flipped.push_back(rng() % damaged.size());
            damaged[flipped.back()] ^= (u8)(1u << (rng() % 8));
        }
        shared->blobs["demo.sar"] = damaged;
        BlobStream source(shared);
        SarArchive archive(source);
        if (!archive.mount("demo.sar"))
            continue;
        for (i32 i = 0; i < archive.count; ++i) {
            const std::string name = archive.entries[i].name;
            if (archive.open(name.c_str()))
                readAll(archive);
        }
        // An entry whose data and the directory are untouched reads back
        // whole, whatever happened to the other entries' data.
        for (size_t e = 0; e < spec.entries.size(); ++e) {
            bool touched = false;
            for (size_t f : flipped)
                touched = touched || f < directoryEnd || (f >= data[e].first && f < data[e].second);
            if (touched)
                continue;
            ASSERT_TRUE(archive.open(spec.entries[e].name.c_str())) << round;
            ASSERT_EQ(readAll(archive), contents[e]) << spec.entries[e].name << " " << round;
        }
    }
}
