#include "foundation/file_stream.h"
#include "foundation/resource_stream.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// A scratch folder with a child folder "work" that becomes the current
// folder, so that ".\" and "..\" search-path elements can be exercised.
class StreamFolder : public ::testing::Test {
protected:
    fs::path root;
    fs::path previous;

    void SetUp() override
    {
        previous = fs::current_path();
        root = fs::temp_directory_path() / ("quillon_streams_" + std::to_string(::getpid()));
        fs::remove_all(root);
        fs::create_directories(root / "work");
        fs::current_path(root / "work");
    }
    void TearDown() override
    {
        fs::current_path(previous);
        fs::remove_all(root);
    }
    static void put(const fs::path& p, const std::string& bytes)
    {
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << bytes;
    }
    static std::string readAll(Stream& s)
    {
        std::string out(s.size, '\0');
        EXPECT_EQ(s.read(out.data(), s.size), s.size);
        return out;
    }
};

} // namespace

TEST_F(StreamFolder, OpensDirectlyBeforeTheSearchPath)
{
    put(root / "work" / "a.txt", "here");
    put(root / "a.txt", "parent");
    FileStream s(".\\;..\\");
    ASSERT_TRUE(s.open("a.txt"));
    EXPECT_EQ(readAll(s), "here");
}

TEST_F(StreamFolder, SearchPathDropsTheDrivePrefix)
{
    // c:\data\a.lwo does not exist; ..\ followed by \data\a.lwo does.
    put(root / "data" / "a.lwo", "lwo");
    FileStream s(".\\;..\\");
    ASSERT_TRUE(s.open("c:\\data\\a.lwo"));
    EXPECT_EQ(s.size, 3u);
    EXPECT_EQ(readAll(s), "lwo");
    // the first element wins when both hold the file
    ASSERT_TRUE(s.close());
    put(root / "work" / "data" / "a.lwo", "near");
    ASSERT_TRUE(s.open("c:\\data\\a.lwo"));
    EXPECT_EQ(readAll(s), "near");
}

TEST_F(StreamFolder, EmptySearchPathGivesNoFurtherTries)
{
    put(root / "b.txt", "x");
    FileStream s("");
    EXPECT_FALSE(s.open("b.txt"));
    FileStream withParent("..\\");
    EXPECT_TRUE(withParent.open("b.txt"));
}

TEST_F(StreamFolder, OpenOnAnOpenStreamFailsAndKeepsIt)
{
    put(root / "work" / "one.txt", "1");
    put(root / "work" / "two.txt", "22");
    FileStream s(".\\");
    ASSERT_TRUE(s.open("one.txt"));
    EXPECT_FALSE(s.open("two.txt"));
    EXPECT_EQ(s.size, 1u);
    EXPECT_TRUE(s.close());
    EXPECT_FALSE(s.close());
    EXPECT_EQ(s.size, 0u);
}

TEST_F(StreamFolder, ExistsUsesTheFixedSearchPath)
{
    put(root / "up.txt", "u");
    FileStream s(""); // its own path would not find it
    EXPECT_TRUE(s.exists("up.txt"));
    EXPECT_FALSE(s.exists("nothere.txt"));
    EXPECT_FALSE(s.exists(".")); // a folder is not a file
}

TEST_F(StreamFolder, SeekSkipTellAndShortReads)
{
    put(root / "work" / "d.bin", "0123456789");
    FileStream s(".\\");
    ASSERT_TRUE(s.open("d.bin"));
    char buf[4];
    EXPECT_TRUE(s.seek(7));
    EXPECT_EQ(s.tell(), 7u);
    EXPECT_EQ(s.read(buf, 4), 3u);
    EXPECT_EQ(std::string(buf, 3), "789");
    EXPECT_EQ(s.read(buf, 4), 0u);
    EXPECT_TRUE(s.skip(-5));
    EXPECT_EQ(s.tell(), 5u);
    EXPECT_FALSE(s.skip(-100)); // before the start of the file
}

TEST_F(StreamFolder, CreateWritesAndCountsSize)
{
    FileStream s(".\\;..\\");
    ASSERT_TRUE(s.create("out.bin"));
    EXPECT_EQ(s.write("abc", 3), 3u);
    EXPECT_EQ(s.write("de", 2), 2u);
    EXPECT_EQ(s.size, 5u);
    EXPECT_TRUE(s.close());
    EXPECT_EQ(fs::file_size(root / "work" / "out.bin"), 5u);

    FileStream bad(".\\");
    EXPECT_FALSE(bad.create("no\\such\\folder\\x.bin"));
    EXPECT_EQ(bad.write("abc", 3), 0u);
    EXPECT_EQ(bad.size, 0u);
}

TEST_F(StreamFolder, CloneIsUnopenedWithTheSameSearchPath)
{
    put(root / "c.txt", "cc");
    FileStream s("..\\");
    ASSERT_TRUE(s.open("c.txt"));
    std::unique_ptr<Stream> copy(s.clone());
    EXPECT_EQ(copy->size, 0u);
    ASSERT_TRUE(copy->open("c.txt"));
    EXPECT_EQ(copy->size, 2u);
}

namespace {

const unsigned char kResourceBytes[] = {'r', 'e', 's', 'o', 'u', 'r', 'c', 'e'};
[[maybe_unused]] const bool kRegistered =
    platform::registerResource("TESTSTREAM", 5, kResourceBytes, sizeof kResourceBytes);

} // namespace

TEST(ResourceStream, AnswersOnlyItsMountName)
{
    ResourceStream s("TESTSTREAM", 5, "demo.sar");
    ASSERT_TRUE(s.found());
    EXPECT_TRUE(s.exists("demo.sar"));
    EXPECT_FALSE(s.exists("other.sar"));
    EXPECT_FALSE(s.open("other.sar"));
    EXPECT_FALSE(s.create("demo.sar"));
    EXPECT_EQ(s.write("x", 1), 0u);
    ASSERT_TRUE(s.open("demo.sar"));
    EXPECT_EQ(s.size, 8u);

    ResourceStream missing("TESTSTREAM", 6, "demo.sar");
    EXPECT_FALSE(missing.found());
    EXPECT_FALSE(missing.open("demo.sar"));
}

TEST(ResourceStream, ReadsNothingBeforeOpen)
{
    ResourceStream s("TESTSTREAM", 5, "demo.sar");
    char buf[8];
    EXPECT_EQ(s.read(buf, 8), 0u);
}

TEST(ResourceStream, ReadSeekSkipClamp)
{
    ResourceStream s("TESTSTREAM", 5, "demo.sar");
    ASSERT_TRUE(s.open("demo.sar"));
    char buf[16];
    EXPECT_EQ(s.read(buf, 3), 3u);
    EXPECT_EQ(std::string(buf, 3), "res");
    EXPECT_TRUE(s.seek(100));
    EXPECT_EQ(s.tell(), 8u);
    EXPECT_EQ(s.read(buf, 1), 0u);
    EXPECT_TRUE(s.seek(2));
    // a backward skip past the start wraps and clamps to the size
    EXPECT_TRUE(s.skip(-5));
    EXPECT_EQ(s.tell(), 8u);
    EXPECT_TRUE(s.seek(2));
    EXPECT_TRUE(s.skip(3));
    EXPECT_EQ(s.tell(), 5u);
    EXPECT_EQ(s.read(buf, 16), 3u);
    EXPECT_EQ(std::string(buf, 3), "rce");
    EXPECT_TRUE(s.close());
    EXPECT_EQ(s.size, 0u);
    EXPECT_EQ(s.tell(), 0u);
}

TEST(ResourceStream, ClonesReadIndependently)
{
    ResourceStream s("TESTSTREAM", 5, "demo.sar");
    ASSERT_TRUE(s.open("demo.sar"));
    std::unique_ptr<Stream> c(s.clone());
    EXPECT_EQ(c->size, 0u);
    ASSERT_TRUE(c->open("demo.sar"));
    char a[2], b[2];
    s.read(a, 2);
    c->read(b, 1);
    EXPECT_EQ(s.tell(), 2u);
    EXPECT_EQ(c->tell(), 1u);
}
