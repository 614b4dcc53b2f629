#include <io.h>
#include <windows.h>

#include "scoped_state.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include <dlfcn.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

struct TempDir {
    fs::path path;
    TempDir()
    {
        path = fs::temp_directory_path() / ("quillon_crt_" + std::to_string(::getpid()) + "_" +
                                            std::to_string(counter()++));
        fs::create_directories(path);
    }
    ~TempDir() { fs::remove_all(path); }
    static int& counter()
    {
        static int c = 0;
        return c;
    }
};

void writeFile(const fs::path& p, const std::string& bytes)
{
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
}

} // namespace

TEST(Crt, VsnprintfReportsOverflowLikeTheWindowsRuntime)
{
    char buf[8];
    EXPECT_EQ(_snprintf(buf, sizeof buf, "%s", "1234567"), 7);
    EXPECT_STREQ(buf, "1234567");
    EXPECT_EQ(_snprintf(buf, sizeof buf, "%s", "12345678"), -1);
    EXPECT_EQ(_snprintf(buf, sizeof buf, "%s", "123456789"), -1);
}

// Shader variants compile a fifth slower on glibc's allocator: a link order
// or a dropped library that brings it back would go unnoticed otherwise.
TEST(Crt, MallocIsTcmallocsOutsideTheSanitizers)
{
#if QUILLON_TCMALLOC
    void* tcMalloc = dlsym(RTLD_DEFAULT, "tc_malloc");
    ASSERT_NE(tcMalloc, nullptr);
    EXPECT_EQ(dlsym(RTLD_DEFAULT, "malloc"), tcMalloc);
#else
    GTEST_SKIP() << "a sanitizer's allocator";
#endif
}

TEST(Crt, CaseInsensitiveCompare)
{
    EXPECT_EQ(_stricmp("Images\\Logo.JPG", "images\\logo.jpg"), 0);
    EXPECT_LT(_stricmp("a", "B"), 0);
    EXPECT_EQ(_strnicmp("ABCx", "abcy", 3), 0);
}

TEST(FileIo, BackslashesAreFolderSeparators)
{
    TempDir dir;
    writeFile(dir.path / "sub" / "a.txt", "hello");
    const std::string name = dir.path.string() + "\\sub\\a.txt";
    const int fd = _open(name.c_str(), _O_RDONLY | _O_BINARY);
    ASSERT_NE(fd, -1);
    EXPECT_EQ(_filelength(fd), 5);
    char buf[16] = {};
    EXPECT_EQ(_read(fd, buf, sizeof buf), 5);
    EXPECT_STREQ(buf, "hello");
    EXPECT_EQ(_lseek(fd, 1, SEEK_SET), 1);
    EXPECT_EQ(_read(fd, buf, 2), 2);
    EXPECT_EQ(std::string(buf, 2), "el");
    EXPECT_EQ(_lseek(fd, 0, SEEK_CUR), 3);
    EXPECT_EQ(_close(fd), 0);
}

TEST(FileIo, OnlyRegularFilesOpen)
{
    TempDir dir;
    const std::string fifo = (dir.path / "pipe").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // A FIFO without a writer would block a plain open for ever.
    for (const std::string& name : {dir.path.string(), fifo, std::string("/dev/null"), std::string()}) {
        EXPECT_EQ(_open(name.c_str(), _O_RDONLY | _O_BINARY), -1) << name;
        EXPECT_EQ(_open(name.c_str(), _O_RDWR | _O_CREAT | _O_TRUNC, _S_IREAD | _S_IWRITE), -1) << name;
    }
}

TEST(FileIo, LetterCaseOfAMissingNameIsResolved)
{
    TempDir dir;
    writeFile(dir.path / "Images" / "Logo.jpg", "x");
    const std::string name = dir.path.string() + "\\images\\LOGO.JPG";
    const int fd = _open(name.c_str(), _O_RDONLY | _O_BINARY);
    ASSERT_NE(fd, -1);
    _close(fd);
    EXPECT_EQ(_open((dir.path.string() + "/images/missing.jpg").c_str(), _O_RDONLY), -1);
}

TEST(FileIo, CreateTruncatesAndWrites)
{
    TempDir dir;
    const std::string name = (dir.path / "out.bin").string();
    writeFile(name, "old contents");
    int fd = _open(name.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
    ASSERT_NE(fd, -1);
    EXPECT_EQ(_write(fd, "new", 3), 3);
    _close(fd);
    EXPECT_EQ(fs::file_size(name), 3u);
    // A link named like the output is refused and its target kept.
    const std::string outside = (dir.path / "outside.bin").string();
    writeFile(outside, "keep");
    fs::create_symlink(outside, dir.path / "frame.bmp");
    EXPECT_EQ(_open((dir.path / "frame.bmp").c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC, _S_IWRITE), -1);
    EXPECT_EQ(fs::file_size(outside), 4u);
    EXPECT_EQ(0x8301, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY);
    EXPECT_EQ(0x180, _S_IREAD | _S_IWRITE);
}

TEST(Resources, FoundByTypeAndIdOrName)
{
    static const unsigned char bytes[] = {1, 2, 3};
    platform::registerResource("TESTRES", 77, bytes, sizeof bytes);
    platform::registerResource("TESTRES", "NAMED", bytes, 2);
    testsupport::OnExit unregister([] {
        platform::unregisterResource("TESTRES", MAKEINTRESOURCEA(77));
        platform::unregisterResource("TESTRES", "NAMED");
    });
    HRSRC r = FindResourceA(nullptr, MAKEINTRESOURCEA(77), "testres");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(SizeofResource(nullptr, r), 3u);
    EXPECT_EQ(LockResource(LoadResource(nullptr, r)), (void*)bytes);
    HRSRC named = FindResourceA(nullptr, "named", "TESTRES");
    ASSERT_NE(named, nullptr);
    EXPECT_EQ(SizeofResource(nullptr, named), 2u);
    EXPECT_EQ(FindResourceA(nullptr, MAKEINTRESOURCEA(78), "TESTRES"), nullptr);
    EXPECT_EQ(FindResourceA(nullptr, MAKEINTRESOURCEA(77), "OTHER"), nullptr);
    EXPECT_EQ(SizeofResource(nullptr, nullptr), 0u);
}

TEST(MessageBox, RecordsEveryBox)
{
    platform::clearRecordedMessageBoxes();
    testsupport::OnExit forget(platform::clearRecordedMessageBoxes);
    MessageBoxA(nullptr, "text one", "Caption", MB_ICONEXCLAMATION);
    MessageBoxA(nullptr, "two\n", "Error", MB_ICONHAND);
    const auto& boxes = platform::recordedMessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "text one");
    EXPECT_EQ(boxes[0].caption, "Caption");
    EXPECT_EQ(boxes[0].type, (UINT)MB_ICONEXCLAMATION);
    EXPECT_EQ(boxes[1].text, "two\n");
}
