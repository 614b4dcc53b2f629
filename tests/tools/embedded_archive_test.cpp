// The build packs tests/data/archive/ with sarpack and links it into this
// executable as resource SARFILE 130; the engine's reader must hand back
// every file exactly as it lies on disk.
#include "foundation/resource_stream.h"
#include "foundation/sar_archive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

fs::path archiveSourceFolder()
{
    const char* data = std::getenv("QUILLON_TEST_DATA");
    return fs::path(data ? data : "tests/data") / "archive";
}

std::vector<u8> fileBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<u8>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> sourceNames()
{
    std::vector<std::string> names;
    const fs::path root = archiveSourceFolder();
    for (const auto& item : fs::recursive_directory_iterator(root))
        if (item.is_regular_file())
            names.push_back(fs::relative(item.path(), root).generic_string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(EmbeddedArchive, HoldsEveryTestFileUnchanged)
{
    const std::vector<std::string> names = sourceNames();
    ASSERT_FALSE(names.empty()) << "no files under " << archiveSourceFolder();

    ResourceStream resource("SARFILE", 130, "demo.sar");
    ASSERT_TRUE(resource.found());
    SarArchive archive(resource);
    ASSERT_TRUE(archive.mount("demo.sar"));
    EXPECT_EQ(archive.count, (int)names.size());

    bool sawEmpty = false, sawNested = false;
    for (int i = 0; i < archive.count && i < (int)names.size(); ++i) {
        // sorted names, backslash separators, every entry fully packed
        std::string stored = names[i];
        std::replace(stored.begin(), stored.end(), '/', '\\');
        EXPECT_STREQ(archive.entries[i].name, stored.c_str());
        EXPECT_EQ(archive.entries[i].type, 3);
    }
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const std::vector<u8> expected = fileBytes(archiveSourceFolder() / name);
        ASSERT_TRUE(archive.open(name.c_str()));
        ASSERT_EQ(archive.size, expected.size());
        std::vector<u8> back(archive.size);
        EXPECT_EQ(archive.read(back.data(), (u32)back.size() + 10), expected.size());
        EXPECT_TRUE(back == expected);
        archive.close();
        sawEmpty |= expected.empty();
        sawNested |= name.find('/') != std::string::npos;
    }
    EXPECT_TRUE(sawEmpty);
    EXPECT_TRUE(sawNested);
}
