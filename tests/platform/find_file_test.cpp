#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct FindFileDir {
    fs::path path = fs::temp_directory_path() / ("quillon_find_" + std::to_string(::getpid()));
    FindFileDir() { fs::create_directories(path); }
    ~FindFileDir() { fs::remove_all(path); }
};

uint64_t ticks(const FILETIME& t)
{
    return (uint64_t)t.dwHighDateTime << 32 | t.dwLowDateTime;
}

TEST(FindFile, ReportsSizeTimesAndName)
{
    FindFileDir dir;
    const fs::path file = dir.path / "Crate.jpg";
    std::ofstream(file, std::ios::binary) << std::string(1234, 'x');
    // 2020-01-01 00:00:00 UTC, in 100-ns ticks since 1601.
    const auto when = std::chrono::file_clock::from_sys(std::chrono::sys_seconds(std::chrono::seconds(1577836800)));
    fs::last_write_time(file, when);

    WIN32_FIND_DATAA found;
    // Windows separators, and another letter case than on disk.
    std::string name = (dir.path / "crate.JPG").string();
    for (char& c : name)
        if (c == '/')
            c = '\\';
    const HANDLE search = FindFirstFileA(name.c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_EQ(found.nFileSizeLow, 1234u);
    EXPECT_EQ(found.nFileSizeHigh, 0u);
    EXPECT_EQ(found.dwFileAttributes, (DWORD)FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(ticks(found.ftLastWriteTime), 132223104000000000ull);
    EXPECT_STREQ(found.cFileName, "crate.JPG");
    EXPECT_FALSE(FindNextFileA(search, &found));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_MORE_FILES);
    EXPECT_TRUE(FindClose(search));
    EXPECT_FALSE(FindClose(search)); // closed already

    const HANDLE folder = FindFirstFileA(dir.path.string().c_str(), &found);
    ASSERT_NE(folder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(found.dwFileAttributes, (DWORD)FILE_ATTRIBUTE_DIRECTORY);
    FindClose(folder);
}

TEST(FindFile, MissingNamesAndComparisons)
{
    FindFileDir dir;
    WIN32_FIND_DATAA found;
    EXPECT_EQ(FindFirstFileA((dir.path / "absent.dds").string().c_str(), &found), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(FindFirstFileA("", &found), INVALID_HANDLE_VALUE);
    EXPECT_EQ(FindFirstFileA((dir.path / "*").string().c_str(), &found), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(FindClose(INVALID_HANDLE_VALUE));

    const FILETIME early{5, 1};
    const FILETIME late{0, 2};
    EXPECT_EQ(CompareFileTime(&early, &late), -1);
    EXPECT_EQ(CompareFileTime(&late, &early), 1);
    EXPECT_EQ(CompareFileTime(&late, &late), 0);
}

} // namespace
