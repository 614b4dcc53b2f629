#include "platform/win32/registry.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Key file layout (little endian):
//   "QREG" u32 version=1 u32 valueCount
//   per value: u32 type, u32 nameLength, name, u32 dataLength, data
//   u32 FNV-1a of every byte before it
// Anything that does not parse to the last byte, or fails the checksum, is
// not a key.
constexpr char kMagic[4] = {'Q', 'R', 'E', 'G'};
constexpr uint32_t kVersion = 1;
constexpr size_t kMaxFileSize = 16u << 20;
constexpr uint32_t kMaxNameLength = 16383; // Windows' limit on value names

struct Value {
    DWORD type = REG_NONE;
    std::string name; // as given; lookups ignore ASCII case
    std::vector<unsigned char> data;
};

using ValueMap = std::map<std::string, Value>; // by lower-cased name

struct OpenKey {
    std::string root;              // folder of the root key
    std::vector<std::string> path; // lower-cased components
    REGSAM access = 0;
};

struct State {
    std::mutex mutex;
    std::string folderOverride;
    std::set<OpenKey*> open;
};

State& state()
{
    static State s;
    return s;
}

std::string lower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return s;
}

uint32_t fnv1a(const unsigned char* p, size_t n)
{
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 16777619u;
    }
    return h;
}

void put32(std::vector<unsigned char>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back((unsigned char)(v >> (8 * i)));
}

struct Reader {
    const unsigned char* p;
    size_t left;

    bool get32(uint32_t& v)
    {
        if (left < 4)
            return false;
        v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
        p += 4;
        left -= 4;
        return true;
    }

    bool bytes(size_t n, const unsigned char*& out)
    {
        if (left < n)
            return false;
        out = p;
        p += n;
        left -= n;
        return true;
    }
};

std::optional<ValueMap> parseKeyFile(const std::vector<unsigned char>& file)
{
    if (file.size() < 16 || std::memcmp(file.data(), kMagic, 4) != 0)
        return std::nullopt;
    const size_t body = file.size() - 4;
    Reader tail{file.data() + body, 4};
    uint32_t sum = 0;
    if (!tail.get32(sum) || sum != fnv1a(file.data(), body))
        return std::nullopt;
    Reader r{file.data() + 4, body - 4};
    uint32_t version = 0, count = 0;
    if (!r.get32(version) || version != kVersion || !r.get32(count))
        return std::nullopt;
    ValueMap values;
    for (uint32_t i = 0; i < count; ++i) {
        Value v;
        uint32_t type = 0, nameLength = 0, dataLength = 0;
        const unsigned char* name = nullptr;
        const unsigned char* data = nullptr;
        if (!r.get32(type) || !r.get32(nameLength) || nameLength > kMaxNameLength ||
            !r.bytes(nameLength, name) || !r.get32(dataLength) || !r.bytes(dataLength, data))
            return std::nullopt;
        v.type = type;
        v.name.assign(reinterpret_cast<const char*>(name), nameLength);
        v.data.assign(data, data + dataLength);
        values[lower(v.name)] = std::move(v);
    }
    if (r.left != 0)
        return std::nullopt;
    return values;
}

std::vector<unsigned char> serialise(const ValueMap& values)
{
    std::vector<unsigned char> out(kMagic, kMagic + 4);
    put32(out, kVersion);
    put32(out, (uint32_t)values.size());
    for (const auto& [key, v] : values) {
        put32(out, v.type);
        put32(out, (uint32_t)v.name.size());
        out.insert(out.end(), v.name.begin(), v.name.end());
        put32(out, (uint32_t)v.data.size());
        out.insert(out.end(), v.data.begin(), v.data.end());
    }
    put32(out, fnv1a(out.data(), out.size()));
    return out;
}

// Bytes serialise() makes of the values.
size_t serialisedSize(const ValueMap& values)
{
    size_t size = 16;
    for (const auto& [key, v] : values)
        size += 12 + v.name.size() + v.data.size();
    return size;
}

// A key name component as a file name: letters, digits, space, '-' and '_'
// stay; everything else (separators, dots, bytes outside ASCII) is written
// %XX, so no name can leave the store and no folder name ends in ".key".
std::string fileComponent(const std::string& name)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : name) {
        const unsigned char c = (unsigned char)ch;
        const bool plain = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ' || c == '-' ||
                           c == '_';
        if (plain) {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string defaultFolder()
{
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/')
        return std::string(xdg) + "/quillon";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.config/quillon";
}

std::string currentFolder()
{
    State& s = state();
    return s.folderOverride.empty() ? defaultFolder() : s.folderOverride;
}

const char* rootName(HKEY key)
{
    if (key == HKEY_CLASSES_ROOT)
        return "HKEY_CLASSES_ROOT";
    if (key == HKEY_CURRENT_USER)
        return "HKEY_CURRENT_USER";
    if (key == HKEY_LOCAL_MACHINE)
        return "HKEY_LOCAL_MACHINE";
    if (key == HKEY_USERS)
        return "HKEY_USERS";
    return nullptr;
}

fs::path keyDirectory(const OpenKey& k)
{
    fs::path p = fs::path(currentFolder()) / k.root;
    for (const std::string& c : k.path)
        p /= fileComponent(c);
    return p;
}

fs::path keyFile(const OpenKey& k)
{
    fs::path dir = keyDirectory(k);
    if (k.path.empty())
        return dir / ".values";
    return dir.parent_path() / (fileComponent(k.path.back()) + ".key");
}

// Only a regular file is read: the open does not block (a FIFO put in the
// key file's place would wait for a writer for ever) and the type is checked
// on the open descriptor.
std::optional<std::vector<unsigned char>> readFile(const fs::path& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > off_t(kMaxFileSize)) {
        ::close(fd);
        return std::nullopt;
    }
    std::vector<unsigned char> data;
    unsigned char chunk[4096];
    bool failed = false;
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            failed = n < 0;
            break;
        }
        if (data.size() + size_t(n) > kMaxFileSize) {
            failed = true;
            break;
        }
        data.insert(data.end(), chunk, chunk + n);
    }
    ::close(fd);
    if (failed)
        return std::nullopt;
    return data;
}

// Values of the key, or nothing when its file is missing or damaged.
std::optional<ValueMap> loadValues(const OpenKey& k)
{
    auto file = readFile(keyFile(k));
    if (!file)
        return std::nullopt;
    return parseKeyFile(*file);
}

bool keyExists(const OpenKey& k)
{
    if (k.path.empty())
        return true; // a root key always exists
    std::error_code ec;
    if (fs::is_directory(keyDirectory(k), ec))
        return true; // it has sub-keys
    return loadValues(k).has_value();
}

bool writeValues(const OpenKey& k, const ValueMap& values)
{
    const fs::path file = keyFile(k);
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    if (ec)
        return false;
    static std::atomic<unsigned> counter{0};
    const fs::path temp = file.parent_path() /
                          (file.filename().string() + ".tmp" + std::to_string(getpid()) + "_" +
                           std::to_string(counter++));
    const std::vector<unsigned char> bytes = serialise(values);
    if (bytes.size() > kMaxFileSize)
        return false; // the reader would drop the whole key
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            break;
        done += size_t(n);
    }
    const bool ok = done == bytes.size() && ::fsync(fd) == 0;
    ::close(fd);
    if (!ok || ::rename(temp.c_str(), file.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

std::vector<std::string> splitKeyPath(LPCSTR subKey)
{
    std::vector<std::string> parts;
    if (!subKey)
        return parts;
    std::string current;
    for (const char* p = subKey;; ++p) {
        if (*p == '\\' || *p == 0) {
            if (!current.empty())
                parts.push_back(lower(current));
            current.clear();
            if (*p == 0)
                break;
        } else {
            current += *p;
        }
    }
    return parts;
}

// Resolves a handle (predefined root or open key) plus a sub-key path.
// Call with the state's mutex held.
LSTATUS resolve(HKEY key, LPCSTR subKey, OpenKey& out)
{
    if (const char* root = rootName(key)) {
        out.root = root;
        out.path.clear();
    } else {
        OpenKey* open = reinterpret_cast<OpenKey*>(key);
        if (!state().open.count(open))
            return ERROR_INVALID_HANDLE;
        out.root = open->root;
        out.path = open->path;
    }
    for (std::string& part : splitKeyPath(subKey))
        out.path.push_back(std::move(part));
    return ERROR_SUCCESS;
}

OpenKey* lookup(HKEY key)
{
    OpenKey* open = reinterpret_cast<OpenKey*>(key);
    return state().open.count(open) ? open : nullptr;
}

HKEY issue(OpenKey k)
{
    OpenKey* open = new OpenKey(std::move(k));
    state().open.insert(open);
    return reinterpret_cast<HKEY>(open);
}

// Opens a key; with create, makes it when missing (disposition tells which).
LSTATUS openKey(HKEY key, LPCSTR subKey, REGSAM access, PHKEY result, bool create, LPDWORD disposition)
{
    if (!result)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::lock_guard<std::mutex> lock(state().mutex);
    OpenKey k;
    if (LSTATUS status = resolve(key, subKey, k); status != ERROR_SUCCESS)
        return status;
    DWORD how = REG_OPENED_EXISTING_KEY;
    if (!keyExists(k)) {
        if (!create)
            return ERROR_FILE_NOT_FOUND;
        // A damaged file is replaced by an empty key.
        if (!writeValues(k, {}))
            return ERROR_CANTWRITE;
        how = REG_CREATED_NEW_KEY;
    }
    if (disposition)
        *disposition = how;
    k.access = access;
    *result = issue(std::move(k));
    return ERROR_SUCCESS;
}

// The key a value call works on: the open key behind the handle, which must
// grant needed, or a predefined root. Call with the state's mutex held.
LSTATUS valueKey(HKEY key, REGSAM needed, OpenKey& k)
{
    if (const OpenKey* open = lookup(key)) {
        if (!(open->access & needed))
            return ERROR_ACCESS_DENIED;
        k = *open;
        return ERROR_SUCCESS;
    }
    return resolve(key, nullptr, k);
}

} // namespace

LSTATUS WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM access, PHKEY result)
{
    return openKey(key, subKey, access, result, false, nullptr);
}

LSTATUS WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM access, LPSECURITY_ATTRIBUTES,
                               PHKEY result, LPDWORD disposition)
{
    return openKey(key, subKey, access, result, true, disposition);
}

LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD dataSize)
{
    if (data && !dataSize)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(state().mutex);
    OpenKey k;
    if (LSTATUS status = valueKey(key, KEY_QUERY_VALUE, k); status != ERROR_SUCCESS)
        return status;
    const std::optional<ValueMap> values = loadValues(k);
    if (!values)
        return ERROR_FILE_NOT_FOUND;
    const auto it = values->find(lower(valueName ? valueName : ""));
    if (it == values->end())
        return ERROR_FILE_NOT_FOUND;
    const Value& v = it->second;
    if (type)
        *type = v.type;
    const DWORD size = (DWORD)v.data.size();
    if (!data) {
        if (dataSize)
            *dataSize = size;
        return ERROR_SUCCESS;
    }
    if (*dataSize < size) {
        *dataSize = size;
        return ERROR_MORE_DATA;
    }
    if (size)
        std::memcpy(data, v.data.data(), size);
    *dataSize = size;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD dataSize)
{
    if (!data && dataSize)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(state().mutex);
    OpenKey k;
    if (LSTATUS status = valueKey(key, KEY_SET_VALUE, k); status != ERROR_SUCCESS)
        return status;
    // What the reader would refuse is refused here, before anything is
    // written: a key file it cannot read loses every value in it.
    const size_t nameLength = valueName ? std::strlen(valueName) : 0;
    if (nameLength > kMaxNameLength)
        return ERROR_INVALID_PARAMETER;
    ValueMap values = loadValues(k).value_or(ValueMap{});
    const std::string slot = lower(valueName ? valueName : "");
    size_t fileSize = serialisedSize(values) + 12 + nameLength + dataSize;
    if (const auto old = values.find(slot); old != values.end())
        fileSize -= 12 + old->second.name.size() + old->second.data.size();
    if (dataSize > kMaxFileSize || fileSize > kMaxFileSize)
        return ERROR_NOT_ENOUGH_QUOTA;
    Value v;
    v.type = type;
    v.name.assign(valueName ? valueName : "", nameLength);
    if (dataSize)
        v.data.assign(data, data + dataSize);
    values[slot] = std::move(v);
    return writeValues(k, values) ? ERROR_SUCCESS : ERROR_CANTWRITE;
}

LSTATUS WINAPI RegDeleteValueA(HKEY key, LPCSTR valueName)
{
    std::lock_guard<std::mutex> lock(state().mutex);
    OpenKey* open = lookup(key);
    if (!open)
        return ERROR_INVALID_HANDLE;
    if (!(open->access & KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    std::optional<ValueMap> values = loadValues(*open);
    if (!values || !values->erase(lower(valueName ? valueName : "")))
        return ERROR_FILE_NOT_FOUND;
    return writeValues(*open, *values) ? ERROR_SUCCESS : ERROR_CANTWRITE;
}

LSTATUS WINAPI RegCloseKey(HKEY key)
{
    if (rootName(key))
        return ERROR_SUCCESS;
    std::lock_guard<std::mutex> lock(state().mutex);
    OpenKey* open = lookup(key);
    if (!open)
        return ERROR_INVALID_HANDLE;
    state().open.erase(open);
    delete open;
    return ERROR_SUCCESS;
}

namespace platform {

void setRegistryFolder(const std::string& folder)
{
    std::lock_guard<std::mutex> lock(state().mutex);
    state().folderOverride = folder;
}

std::string registryFolder()
{
    std::lock_guard<std::mutex> lock(state().mutex);
    return currentFolder();
}

} // namespace platform
