// The sarpack command line, run as the built executable on a scratch folder.
#include "tools/sarpack/sar_writer.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#ifndef QUILLON_SARPACK
#define QUILLON_SARPACK ""
#endif

extern char** environ;

namespace fs = std::filesystem;

namespace {

struct RunResult {
    int exitCode = -1;
    std::string output; // stdout and stderr together
};

std::vector<u8> fileBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<u8>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const fs::path& path, const std::vector<u8>& bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), (std::streamsize)bytes.size());
}

void writeText(const fs::path& path, const std::string& text)
{
    writeBytes(path, std::vector<u8>(text.begin(), text.end()));
}

class SarpackCli : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!*QUILLON_SARPACK)
            GTEST_SKIP() << "the build did not say where sarpack is";
        static int serial = 0;
        root = fs::temp_directory_path() /
               ("sarpack_cli_" + std::to_string(getpid()) + "_" + std::to_string(serial++));
        fs::remove_all(root);
        fs::create_directories(root);
    }
    void TearDown() override
    {
        if (!root.empty())
            fs::remove_all(root);
    }

    // Runs sarpack with args in the scratch folder.
    RunResult sarpack(const std::vector<std::string>& args)
    {
        RunResult result;
        const fs::path log = root / "output.log";
        std::vector<std::string> all = {QUILLON_SARPACK};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addchdir_np(&actions, root.c_str());
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        pid_t pid = 0;
        const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) {
            result.output = "spawn failed";
            return result;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        const std::vector<u8> out = fileBytes(log);
        result.output.assign(out.begin(), out.end());
        fs::remove(log);
        return result;
    }

    fs::path root;
};

std::vector<u8> randomBytes(size_t n, u32 seed)
{
    std::mt19937 rng(seed);
    std::vector<u8> out(n);
    for (u8& b : out)
        b = (u8)rng();
    return out;
}

} // namespace

TEST_F(SarpackCli, CreateListExtractRoundTrip)
{
    const std::vector<std::string> names = {"scene.scr", "sub/deep/data.bin", "empty", "Mixed Case.TXT"};
    writeText(root / "src/scene.scr", "0:00.00 scene intro.lws\n0:10.00 stopdemo\n");
    writeBytes(root / "src/sub/deep/data.bin", randomBytes(100000, 1));
    writeText(root / "src/empty", "");
    writeText(root / "src/Mixed Case.TXT", std::string(5000, 'z'));

    std::vector<std::string> args = {"create", "out.sar", "-C", "src"};
    args.insert(args.end(), names.begin(), names.end());
    RunResult r = sarpack(args);
    ASSERT_EQ(r.exitCode, 0) << r.output;

    r = sarpack({"list", "out.sar"});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("sub\\deep\\data.bin"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("100000"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Mixed Case.TXT"), std::string::npos) << r.output;
    // entries keep the order given
    EXPECT_LT(r.output.find("scene.scr"), r.output.find("Mixed Case.TXT"));

    r = sarpack({"extract", "out.sar", "-C", "dst"});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(fs::is_regular_file(root / "dst" / name));
        EXPECT_TRUE(fileBytes(root / "dst" / name) == fileBytes(root / "src" / name));
    }

    // the same input gives the same bytes
    args[1] = (root / "again.sar").string();
    ASSERT_EQ(sarpack(args).exitCode, 0);
    EXPECT_TRUE(fileBytes(root / "out.sar") == fileBytes(root / "again.sar"));
}

TEST_F(SarpackCli, DefaultsToTheWorkingFolder)
{
    writeText(root / "a.txt", "alpha");
    ASSERT_EQ(sarpack({"create", "x.sar", "a.txt"}).exitCode, 0);
    fs::remove(root / "a.txt");
    const RunResult r = sarpack({"extract", "x.sar"});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(fileBytes(root / "a.txt"), (std::vector<u8>{'a', 'l', 'p', 'h', 'a'}));
}

TEST_F(SarpackCli, BadArgumentsGiveUsage)
{
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"pack", "x.sar"},
        {"create"},
        {"create", "x.sar"},
        {"create", "x.sar", "-C"},
        {"create", "x.sar", "-C", "src"},
        {"list"},
        {"list", "a.sar", "b.sar"},
        {"extract"},
        {"extract", "a.sar", "-X", "dir"},
        {"extract", "a.sar", "-C"},
    };
    for (const auto& args : bad) {
        const RunResult r = sarpack(args);
        std::string line;
        for (const auto& a : args)
            line += a + " ";
        EXPECT_EQ(r.exitCode, 2) << line << r.output;
        EXPECT_NE(r.output.find("usage:"), std::string::npos) << line << r.output;
    }
    EXPECT_FALSE(fs::exists(root / "x.sar"));
}

TEST_F(SarpackCli, RefusesNamesAndLeavesNoArchive)
{
    writeText(root / "ok.txt", "fine");
    const std::string longFolder = std::string(100, 'd') + "/" + std::string(100, 'e') + "/";
    writeText(root / (longFolder + std::string(52, 'f')), "254 characters of name");
    writeText(root / (longFolder + std::string(51, 'f')), "253 characters of name");
    writeText(root / "caf\xc3\xa9.txt", "non-ASCII");
    writeText(root / "Twin.txt", "one");
    writeText(root / "twin.TXT", "two");

    struct Refusal {
        std::vector<std::string> names;
        const char* message;
    };
    const std::vector<Refusal> refusals = {
        {{"ok.txt", "missing.txt"}, "missing.txt"},
        {{"ok.txt", longFolder + std::string(52, 'f')}, "253"},
        {{"caf\xc3\xa9.txt"}, "ASCII"},
        {{"Twin.txt", "twin.TXT"}, "duplicate"},
        {{"../ok.txt"}, "relative"},
        {{"/etc/hostname"}, "relative"},
        {{"sub/"}, "relative"},
    };
    for (const Refusal& refusal : refusals) {
        std::vector<std::string> args = {"create", "out.sar"};
        args.insert(args.end(), refusal.names.begin(), refusal.names.end());
        const RunResult r = sarpack(args);
        EXPECT_EQ(r.exitCode, 1) << refusal.message << ": " << r.output;
        EXPECT_NE(r.output.find(refusal.message), std::string::npos) << r.output;
        EXPECT_FALSE(fs::exists(root / "out.sar")) << refusal.message;
    }
    const RunResult r = sarpack({"create", "out.sar", longFolder + std::string(51, 'f')});
    EXPECT_EQ(r.exitCode, 0) << r.output;
}

TEST_F(SarpackCli, ListAndExtractRefuseNonArchives)
{
    writeText(root / "plain.txt", "not an archive at all");
    for (const char* command : {"list", "extract"}) {
        RunResult r = sarpack({command, "plain.txt"});
        EXPECT_EQ(r.exitCode, 1) << r.output;
        EXPECT_NE(r.output.find("plain.txt"), std::string::npos) << r.output;
        r = sarpack({command, "missing.sar"});
        EXPECT_EQ(r.exitCode, 1) << r.output;
    }
}

// Patches the directory slot of name: its type byte, or its last character.
void patchSlot(std::vector<u8>& archive, const std::string& name, int typeByte, char lastChar = 0)
{
    for (size_t at = 12; at + 1 + name.size() < archive.size(); ++at) {
        if (archive[at] == name.size() && std::equal(name.begin(), name.end(), archive.begin() + at + 1)) {
            if (typeByte >= 0)
                archive[at + 1 + name.size()] = (u8)typeByte;
            if (lastChar)
                archive[at + name.size()] = (u8)lastChar;
            return;
        }
    }
    FAIL() << name << " not in the directory";
}

// Names come from the archive: extraction must not write outside its folder
// and must not write slots the engine never serves (a type with other bits,
// a name that an earlier entry shadows).
TEST_F(SarpackCli, ExtractSkipsUnsafeAndUnservedEntries)
{
    SarWriter writer;
    ASSERT_TRUE(writer.add("..\\escape.txt", std::vector<u8>{'x'}));
    ASSERT_TRUE(writer.add("ok.txt", std::vector<u8>{'o', 'k'}));
    ASSERT_TRUE(writer.add("deeper/..\\..\\escape2.txt", std::vector<u8>{'x'}));
    ASSERT_TRUE(writer.add("hidden.txt", std::vector<u8>{'h'}));
    ASSERT_TRUE(writer.add("twin.txt", std::vector<u8>{'1'}));
    ASSERT_TRUE(writer.add("TWIN.TXU", std::vector<u8>{'2'}));
    std::vector<u8> archive = writer.build();
    patchSlot(archive, "hidden.txt", 7);
    patchSlot(archive, "TWIN.TXU", -1, 'T');
    writeBytes(root / "evil.sar", archive);

    const RunResult r = sarpack({"extract", "evil.sar", "-C", "out/inner"});
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find("escape.txt"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("hidden.txt"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("TWIN.TXT"), std::string::npos) << r.output;
    EXPECT_EQ(fileBytes(root / "out/inner/ok.txt"), (std::vector<u8>{'o', 'k'}));
    EXPECT_EQ(fileBytes(root / "out/inner/twin.txt"), (std::vector<u8>{'1'}));
    EXPECT_FALSE(fs::exists(root / "out/inner/TWIN.TXT"));
    EXPECT_FALSE(fs::exists(root / "out/inner/hidden.txt"));
    EXPECT_FALSE(fs::exists(root / "out/escape.txt"));
    EXPECT_FALSE(fs::exists(root / "escape2.txt"));
    EXPECT_FALSE(fs::exists(root / "out/escape2.txt"));
}

// A whole entry to a regular file of the folder, or nothing: not a cut
// entry, not through a link, FIFO or linked folder standing there.
TEST_F(SarpackCli, ExtractWritesWholeEntriesToPlainFilesOnly)
{
    SarWriter writer;
    ASSERT_TRUE(writer.add("ok.txt", std::vector<u8>{'o', 'k'}, 0));
    for (const char* name : {"linked.txt", "via/inner.txt", "pipe.txt"})
        ASSERT_TRUE(writer.add(name, std::vector<u8>{'x'}, 0));
    ASSERT_TRUE(writer.add("cut.bin", randomBytes(10240, 2), 0));
    std::vector<u8> archive = writer.build();
    archive.erase(archive.end() - 6000, archive.end()); // cut into the last entry
    writeBytes(root / "a.sar", archive);
    writeText(root / "outside/linked.txt", "keep");
    fs::create_directories(root / "out");
    fs::create_symlink(root / "outside/linked.txt", root / "out/linked.txt");
    fs::create_directory_symlink(root / "outside", root / "out/via");
    ASSERT_EQ(::mkfifo((root / "out/pipe.txt").c_str(), 0600), 0);

    const RunResult r = sarpack({"extract", "a.sar", "-C", "out"});
    EXPECT_EQ(r.exitCode, 1) << r.output;
    for (const char* name : {"linked.txt", "via", "pipe.txt", "cut.bin"})
        EXPECT_NE(r.output.find(name), std::string::npos) << name << "\n" << r.output;
    EXPECT_EQ(fileBytes(root / "out/ok.txt"), (std::vector<u8>{'o', 'k'}));
    EXPECT_EQ(fileBytes(root / "outside/linked.txt"), (std::vector<u8>{'k', 'e', 'e', 'p'}));
    EXPECT_FALSE(fs::exists(root / "outside/inner.txt"));
    EXPECT_FALSE(fs::exists(root / "out/cut.bin"));
}

TEST_F(SarpackCli, FifoArchivesAndFolderOutputsFailAtOnce)
{
    ASSERT_EQ(::mkfifo((root / "pipe.sar").c_str(), 0600), 0);
    for (const char* command : {"list", "extract"})
        EXPECT_EQ(sarpack({command, "pipe.sar"}).exitCode, 1) << command;
    // A failed create leaves a folder standing at the output alone.
    writeText(root / "a.txt", "alpha");
    fs::create_directory(root / "taken.sar");
    EXPECT_EQ(sarpack({"create", "taken.sar", "a.txt"}).exitCode, 1);
    EXPECT_TRUE(fs::is_directory(root / "taken.sar"));
    EXPECT_EQ(std::distance(fs::directory_iterator(root), fs::directory_iterator()), 3);
}

TEST_F(SarpackCli, ListEscapesControlCharacters)
{
    SarWriter writer;
    ASSERT_TRUE(writer.add("bellZ", std::vector<u8>{'b'}));
    std::vector<u8> archive = writer.build();
    patchSlot(archive, "bellZ", -1, '\x1b');
    writeBytes(root / "esc.sar", archive);
    const RunResult r = sarpack({"list", "esc.sar"});
    EXPECT_NE(r.output.find("bell\\x1B"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find('\x1b'), std::string::npos);
}
