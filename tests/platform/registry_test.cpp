#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

const char kSetupKey[] = "Software\\Corvane\\Quillon 3D";

class RegistryTest : public ::testing::Test {
protected:
    fs::path folder;

    void SetUp() override
    {
        folder = fs::current_path() / ("registry_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(folder);
        platform::setRegistryFolder(folder.string());
    }

    void TearDown() override
    {
        platform::setRegistryFolder("");
        fs::remove_all(folder);
    }

    static std::vector<fs::path> keyFiles(const fs::path& root)
    {
        std::vector<fs::path> files;
        if (fs::exists(root))
            for (const auto& entry : fs::recursive_directory_iterator(root))
                if (entry.is_regular_file())
                    files.push_back(entry.path());
        return files;
    }
};

// The settings path of the program: read the key if there is one; then
// store windowed/nosound/ffp, and "nosetup" only when it cannot be read.
struct StoredSettings {
    BYTE windowed = 0, nosound = 0, nosetup = 0, ffp = 0;

    LSTATUS load()
    {
        HKEY key = nullptr;
        const LSTATUS status = RegOpenKeyExA(HKEY_CURRENT_USER, kSetupKey, 0, KEY_READ, &key);
        if (status != ERROR_SUCCESS)
            return status;
        for (auto [name, field] : {std::pair{"windowed", &windowed}, std::pair{"nosound", &nosound},
                                   std::pair{"nosetup", &nosetup}, std::pair{"ffp", &ffp}}) {
            DWORD size = 1;
            RegQueryValueExA(key, name, nullptr, nullptr, field, &size);
        }
        RegCloseKey(key);
        return ERROR_SUCCESS;
    }

    void save()
    {
        HKEY key = nullptr;
        DWORD disposition = 0;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kSetupKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                  nullptr, &key, &disposition),
                  ERROR_SUCCESS);
        RegSetValueExA(key, "windowed", 0, REG_BINARY, &windowed, 1);
        RegSetValueExA(key, "nosound", 0, REG_BINARY, &nosound, 1);
        RegSetValueExA(key, "ffp", 0, REG_BINARY, &ffp, 1);
        BYTE probe = 0;
        DWORD size = 1;
        if (RegQueryValueExA(key, "nosetup", nullptr, nullptr, &probe, &size) != ERROR_SUCCESS)
            RegSetValueExA(key, "nosetup", 0, REG_BINARY, &nosetup, 1);
        RegCloseKey(key);
    }
};

TEST_F(RegistryTest, FirstRunCreatesTheKeyAndStoresNosetupOnce)
{
    StoredSettings first;
    EXPECT_EQ(first.load(), ERROR_FILE_NOT_FOUND);
    first.windowed = 1;
    first.nosetup = 1;
    first.save();

    StoredSettings second;
    ASSERT_EQ(second.load(), ERROR_SUCCESS);
    EXPECT_EQ(second.windowed, 1);
    EXPECT_EQ(second.nosetup, 1);
    second.windowed = 0;
    second.ffp = 1;
    second.nosetup = 0; // a later run's value is not written
    second.save();

    StoredSettings third;
    ASSERT_EQ(third.load(), ERROR_SUCCESS);
    EXPECT_EQ(third.windowed, 0);
    EXPECT_EQ(third.ffp, 1);
    EXPECT_EQ(third.nosetup, 1);
}

TEST_F(RegistryTest, ValuesRoundTripWithTypesAndSizes)
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kSetupKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, DWORD(REG_CREATED_NEW_KEY));
    const DWORD number = 0xCAFEBABE;
    const char text[] = "architecture.sar";
    const BYTE blob[3] = {0, 255, 7};
    EXPECT_EQ(RegSetValueExA(key, "Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, "Archive", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, "blob", 0, REG_BINARY, blob, 3), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, nullptr, 0, REG_BINARY, blob, 0), ERROR_SUCCESS) << "the default value, empty";
    RegCloseKey(key);

    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\corvane\\QUILLON 3D", 0, KEY_READ, &key), ERROR_SUCCESS)
        << "key names ignore case";
    DWORD type = 0, readNumber = 0, size = sizeof readNumber;
    EXPECT_EQ(RegQueryValueExA(key, "NUMBER", nullptr, &type, reinterpret_cast<BYTE*>(&readNumber), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_DWORD));
    EXPECT_EQ(readNumber, number);
    EXPECT_EQ(size, 4u);

    size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "archive", nullptr, &type, nullptr, &size), ERROR_SUCCESS) << "size only";
    EXPECT_EQ(size, DWORD(sizeof text));
    EXPECT_EQ(type, DWORD(REG_SZ));

    char small[4] = {'x', 'x', 'x', 'x'};
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExA(key, "archive", nullptr, nullptr, reinterpret_cast<BYTE*>(small), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, DWORD(sizeof text));
    EXPECT_EQ(small[0], 'x') << "nothing written on ERROR_MORE_DATA";

    BYTE readBlob[8] = {};
    size = sizeof readBlob;
    EXPECT_EQ(RegQueryValueExA(key, "blob", nullptr, &type, readBlob, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(readBlob[1], 255);

    size = 8;
    EXPECT_EQ(RegQueryValueExA(key, "", nullptr, &type, readBlob, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(RegQueryValueExA(key, "missing", nullptr, &type, readBlob, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExA(key, "blob", nullptr, &type, readBlob, nullptr), ERROR_INVALID_PARAMETER);

    EXPECT_EQ(RegSetValueExA(key, "blob", 0, REG_BINARY, blob, 3), ERROR_ACCESS_DENIED) << "opened for reading";
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryValueExA(key, "blob", nullptr, &type, readBlob, &size), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryTest, WritesTheReaderWouldRefuseAreRefusedAndLoseNothing)
{
    StoredSettings stored{1, 1, 1, 1};
    stored.save();
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kSetupKey, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    const std::string longName(16384, 'n');
    const std::vector<BYTE> big(17u << 20, 7);
    const BYTE one = 1;
    EXPECT_EQ(RegSetValueExA(key, longName.c_str(), 0, REG_BINARY, &one, 1), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExA(key, "big", 0, REG_BINARY, big.data(), (DWORD)big.size()), ERROR_NOT_ENOUGH_QUOTA);
    // Each piece within its limit, together past the file's.
    EXPECT_EQ(RegSetValueExA(key, "half", 0, REG_BINARY, big.data(), 9u << 20), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, "half2", 0, REG_BINARY, big.data(), 9u << 20), ERROR_NOT_ENOUGH_QUOTA);
    EXPECT_EQ(RegSetValueExA(key, "ffp", 0, REG_BINARY, &one, 1), ERROR_SUCCESS);
    RegCloseKey(key);
    StoredSettings loaded;
    ASSERT_EQ(loaded.load(), ERROR_SUCCESS);
    EXPECT_EQ(loaded.windowed + loaded.nosound + loaded.nosetup + loaded.ffp, 4);
}

TEST_F(RegistryTest, OpeningNeedsAnExistingKey)
{
    HKEY key = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Nobody", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kSetupKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    // The parents of a created key exist, and a sub-key opens relative to
    // an open key.
    HKEY parent = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Corvane", 0, KEY_READ, &parent), ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExA(parent, "Quillon 3D", 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    RegCloseKey(parent);
    EXPECT_EQ(RegOpenKeyExA(reinterpret_cast<HKEY>(0x1234), "x", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryTest, DamagedFilesCountAsAbsentKeys)
{
    StoredSettings s;
    s.windowed = 1;
    s.save();
    std::vector<fs::path> files = keyFiles(folder);
    ASSERT_EQ(files.size(), 1u);
    const fs::path file = files[0];
    std::ifstream in(file, std::ios::binary);
    const std::string good((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    ASSERT_GT(good.size(), 16u);

    auto write = [&](const std::string& bytes) {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), std::streamsize(bytes.size()));
    };
    // Every truncation, and every single flipped byte, is refused.
    for (size_t length = 0; length < good.size(); ++length) {
        write(good.substr(0, length));
        StoredSettings t;
        EXPECT_EQ(t.load(), ERROR_FILE_NOT_FOUND) << "truncated to " << length;
    }
    for (size_t at = 0; at < good.size(); ++at) {
        std::string bad = good;
        bad[at] = char(bad[at] ^ 0x5A);
        write(bad);
        StoredSettings t;
        EXPECT_EQ(t.load(), ERROR_FILE_NOT_FOUND) << "byte " << at << " changed";
    }
    write(std::string(100000, '\xFF'));
    StoredSettings garbage;
    EXPECT_EQ(garbage.load(), ERROR_FILE_NOT_FOUND);

    // A damaged key is created anew, as on a first run.
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kSetupKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, DWORD(REG_CREATED_NEW_KEY));
    RegCloseKey(key);
    write(good);
    StoredSettings restored;
    EXPECT_EQ(restored.load(), ERROR_SUCCESS);
    EXPECT_EQ(restored.windowed, 1);
}

TEST_F(RegistryTest, AKeyFileThatIsNoFileIsAbsentWithoutBlocking)
{
    StoredSettings s;
    s.save();
    std::vector<fs::path> files = keyFiles(folder);
    ASSERT_EQ(files.size(), 1u);
    fs::remove(files[0]);
    ASSERT_EQ(::mkfifo(files[0].c_str(), 0600), 0); // no writer: a blocking open waits for ever
    StoredSettings t;
    EXPECT_EQ(t.load(), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, KeyNamesStayInsideTheStore)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "..\\..\\a/b\\.hidden\\x.key", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    const BYTE one = 1;
    EXPECT_EQ(RegSetValueExA(key, "v", 0, REG_BINARY, &one, 1), ERROR_SUCCESS);
    RegCloseKey(key);
    for (const fs::path& f : keyFiles(folder.parent_path() / folder.filename()))
        EXPECT_EQ(f.string().rfind(folder.string(), 0), 0u) << f;
    for (const auto& entry : fs::directory_iterator(folder.parent_path()))
        EXPECT_NE(entry.path().filename(), "a") << "nothing escaped the store";
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "..\\..\\A/B\\.HIDDEN\\X.KEY", 0, KEY_READ, &key), ERROR_SUCCESS);
    BYTE value = 0;
    DWORD size = 1;
    EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, &value, &size), ERROR_SUCCESS);
    EXPECT_EQ(value, 1);
    RegCloseKey(key);
}

TEST_F(RegistryTest, DefaultFolderFollowsXdgConfigHome)
{
    const char* old = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = old ? old : "";
    platform::setRegistryFolder("");
    setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
    EXPECT_EQ(platform::registryFolder(), (folder / "quillon").string());
    StoredSettings s;
    s.save();
    EXPECT_EQ(keyFiles(folder / "quillon").size(), 1u);
    if (old)
        setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
}

} // namespace
