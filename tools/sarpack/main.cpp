// sarpack: packs files into a SAR archive, lists one and extracts one. Lists
// and extracts read through the engine's own SarArchive, and every archive
// written is read back the same way and compared before sarpack succeeds,
// so an archive that leaves here is one the engine decodes exactly.
#include "foundation/file_stream.h"
#include "foundation/sar_archive.h"
#include "tools/sarpack/sar_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <strings.h>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

// The archive reader logs each entry it refuses to the player's log. sarpack
// says on stderr what failed, and must not leave an "nga.out" in whatever
// folder it runs in, nor empty the player's: this log is never opened, and
// the engine's, which opens that file at start-up, is not linked in.
std::ofstream logStream;

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

int usage(const char* why)
{
    std::fprintf(stderr,
                 "sarpack: %s\n"
                 "usage: sarpack create OUT.sar [-C DIR] NAME...\n"
                 "       sarpack list A.sar\n"
                 "       sarpack extract A.sar [-C DIR]\n",
                 why);
    return kExitUsage;
}

int fail(const std::string& message)
{
    std::fprintf(stderr, "sarpack: %s\n", message.c_str());
    return kExitFailure;
}

// A name that stays below the folder it is relative to: no root, no drive,
// no empty, "." or ".." component. Separators are '/' or '\'.
bool isPlainRelativeName(const std::string& name)
{
    if (name.empty() || name.find(':') != std::string::npos)
        return false;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of("/\\", start);
        if (end == std::string::npos)
            end = name.size();
        const std::string part = name.substr(start, end - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        start = end + 1;
    }
    return true;
}

fs::path diskPath(const std::string& dir, const std::string& name)
{
    std::string relative = name;
    for (char& c : relative)
        if (c == '\\')
            c = '/';
    return fs::path(dir) / relative;
}

bool readFile(const fs::path& path, std::vector<u8>& bytes, std::string& why)
{
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) {
        why = "not a file";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        why = "cannot open";
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        why = "read error";
        return false;
    }
    return true;
}

// Names as text for the terminal: control bytes and bytes outside ASCII
// become \xNN, so an entry name cannot move the cursor or rewrite a line.
std::string printable(const std::string& name)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : name) {
        const unsigned char c = (unsigned char)ch;
        if (c < 0x20 || c >= 0x7F) {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

// Writes all n bytes to fd; false on any error.
bool writeAll(int fd, const u8* bytes, size_t n)
{
    while (n > 0) {
        const ssize_t done = ::write(fd, bytes, n);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        bytes += done;
        n -= (size_t)done;
    }
    return true;
}

// Writes the archive to a new file beside path and renames it into place
// once it reads back correctly, so a failure removes only that new file
// and leaves whatever stood at path untouched.
bool writeAndVerify(const std::string& path, const std::vector<u8>& archive,
                    bool (*check)(const char*, const void*), const void* context, std::string& why)
{
    const std::string temp = path + ".sarpack" + std::to_string(::getpid());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        why = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool written = writeAll(fd, archive.data(), archive.size());
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
        why = "cannot write " + path;
    } else if (!check(temp.c_str(), context)) {
        why = "verification failed, nothing written to " + path;
    } else if (::rename(temp.c_str(), path.c_str()) != 0) {
        why = "cannot write " + path + ": " + std::strerror(errno);
    } else {
        return true;
    }
    ::unlink(temp.c_str());
    return false;
}

// Reads the whole current entry of the archive.
std::vector<u8> readEntry(SarArchive& archive)
{
    std::vector<u8> bytes(archive.size);
    const u32 got = archive.size ? archive.read(bytes.data(), archive.size) : 0;
    bytes.resize(got);
    return bytes;
}

// The index of the directory slot that SarArchive::open serves for name, or
// -1: the first one of that name (ignoring case) with a valid type.
int servedSlot(const SarArchive& archive, const char* name)
{
    for (int i = 0; i < archive.count; ++i) {
        const SarEntry& e = archive.entries[i];
        if ((e.type & ~3u) == 0 && strcasecmp(e.name, name) == 0)
            return i;
    }
    return -1;
}

struct Packed {
    std::string stored;
    std::vector<u8> bytes;
};

bool verify(const char* path, const std::vector<Packed>& files)
{
    FileStream disk("");
    SarArchive archive(disk);
    if (!archive.mount(path)) {
        std::fprintf(stderr, "sarpack: verify: %s does not mount\n", path);
        return false;
    }
    bool ok = true;
    if (archive.count != (int)files.size()) {
        std::fprintf(stderr, "sarpack: verify: %d entries read back, %zu written\n", archive.count,
                     files.size());
        ok = false;
    }
    for (size_t i = 0; i < files.size(); ++i) {
        const char* name = files[i].stored.c_str();
        // The slot must be this entry's own, so that a loose file of the
        // same name beside the archive cannot stand in for it.
        if (servedSlot(archive, name) != (int)i) {
            std::fprintf(stderr, "sarpack: verify: entry %s not found in the directory\n", name);
            ok = false;
            continue;
        }
        if (!archive.open(name)) {
            std::fprintf(stderr, "sarpack: verify: entry %s does not open\n", name);
            ok = false;
            continue;
        }
        const std::vector<u8> back = readEntry(archive);
        archive.close();
        if (back != files[i].bytes) {
            size_t at = 0;
            while (at < back.size() && at < files[i].bytes.size() && back[at] == files[i].bytes[at])
                ++at;
            std::fprintf(stderr,
                         "sarpack: verify: entry %s decodes differently (%zu bytes read back, %zu "
                         "written, first difference at byte %zu)\n",
                         name, back.size(), files[i].bytes.size(), at);
            ok = false;
        }
    }
    return ok;
}

int create(int argc, char** argv)
{
    if (argc < 3)
        return usage("create needs an output archive");
    const char* out = argv[2];
    std::string dir = ".";
    int first = 3;
    if (first < argc && std::strcmp(argv[first], "-C") == 0) {
        if (first + 1 >= argc)
            return usage("-C needs a folder");
        dir = argv[first + 1];
        first += 2;
    }
    if (first >= argc)
        return usage("create needs at least one NAME");

    SarWriter writer;
    std::vector<Packed> files;
    for (int i = first; i < argc; ++i) {
        const std::string name = argv[i];
        Packed file;
        std::string why;
        if (!SarWriter::storedName(name, file.stored, why))
            return fail(why);
        if (!isPlainRelativeName(name))
            return fail("name must be relative, without empty, . or .. parts: " + name);
        if (!readFile(diskPath(dir, name), file.bytes, why))
            return fail(name + ": " + why);
        if (!writer.add(name, file.bytes))
            return fail(writer.error());
        files.push_back(std::move(file));
    }

    // Nothing is left behind that a build could mistake for a good archive.
    auto check = [](const char* path, const void* context) {
        return verify(path, *static_cast<const std::vector<Packed>*>(context));
    };
    std::string why;
    if (!writeAndVerify(out, writer.build(), check, &files, why))
        return fail(why);
    return 0;
}

bool mountArchive(SarArchive& archive, const char* path)
{
    if (archive.mount(path))
        return true;
    std::fprintf(stderr, "sarpack: %s is not a readable archive\n", path);
    return false;
}

int list(int argc, char** argv)
{
    if (argc != 3)
        return usage("list takes exactly one archive");
    FileStream disk("");
    SarArchive archive(disk);
    if (!mountArchive(archive, argv[2]))
        return kExitFailure;
    for (int i = 0; i < archive.count; ++i) {
        const SarEntry& e = archive.entries[i];
        std::printf("%10u %10u %u %s\n", e.size, e.packedSize, e.type, printable(e.name).c_str());
    }
    return 0;
}

// Opens (creating where missing) the folders of name below the folder
// dirFd, never following a symbolic link on the way; the descriptor of the
// last folder, or -1 with why set.
int openParentFolder(int dirFd, const std::vector<std::string>& parts, std::string& why)
{
    int fd = ::dup(dirFd);
    if (fd < 0)
        why = std::strerror(errno);
    for (size_t i = 0; fd >= 0 && i + 1 < parts.size(); ++i) {
        const std::string shown = printable(parts[i]);
        if (::mkdirat(fd, parts[i].c_str(), 0777) != 0 && errno != EEXIST) {
            why = "cannot create folder " + shown + ": " + std::strerror(errno);
            ::close(fd);
            return -1;
        }
        const int next = ::openat(fd, parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int error = errno;
        ::close(fd);
        if (next < 0) {
            const bool linked = error == ELOOP || error == ENOTDIR;
            why = "folder " + shown +
                  (linked ? " is a link or not a folder" : ": " + std::string(std::strerror(error)));
        }
        fd = next;
    }
    return fd;
}

// Writes one entry's bytes to the regular file name below dirFd. A
// symbolic link, FIFO or device standing at the name, or a linked folder
// on the way, is refused rather than written through.
bool writeEntry(int dirFd, const std::string& name, const std::vector<u8>& bytes, std::string& why)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= name.size()) {
        const size_t end = std::min(name.find_first_of("/\\", start), name.size());
        parts.push_back(name.substr(start, end - start));
        start = end + 1;
    }
    const int folder = openParentFolder(dirFd, parts, why);
    if (folder < 0)
        return false;
    const char* leaf = parts.back().c_str();
    // Looked at before opening, so a device is never opened at all; the
    // open below still refuses a link that appears in between.
    struct stat st {};
    if (::fstatat(folder, leaf, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode)) {
        why = S_ISLNK(st.st_mode) ? "a symbolic link stands there" : "not a regular file";
        ::close(folder);
        return false;
    }
    const int fd = ::openat(folder, leaf, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        why = errno == ELOOP ? std::string("a symbolic link stands there") : std::strerror(errno);
        ::close(folder);
        return false;
    }
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!ok)
        why = "not a regular file";
    else if (!(ok = ::ftruncate(fd, 0) == 0 && writeAll(fd, bytes.data(), bytes.size())))
        why = std::strerror(errno);
    if (::close(fd) != 0 && ok) {
        ok = false;
        why = std::strerror(errno);
    }
    if (!ok && S_ISREG(st.st_mode))
        ::unlinkat(folder, leaf, 0); // no partial file stays behind
    ::close(folder);
    return ok;
}

int extract(int argc, char** argv)
{
    if (argc != 3 && argc != 5)
        return usage("extract takes an archive and optionally -C DIR");
    std::string dir = ".";
    if (argc == 5) {
        if (std::strcmp(argv[3], "-C") != 0)
            return usage("unexpected argument after the archive");
        dir = argv[4];
    }
    FileStream disk("");
    SarArchive archive(disk);
    if (!mountArchive(archive, argv[2]))
        return kExitFailure;
    std::error_code ec;
    fs::create_directories(dir, ec);
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return fail("cannot open folder " + dir + ": " + std::strerror(errno));

    int status = 0;
    for (int i = 0; i < archive.count; ++i) {
        const SarEntry& e = archive.entries[i];
        const std::string name = e.name;
        const std::string shown = printable(name);
        // Names come from the file: nothing may land outside the folder, and
        // only the slot that open really serves is written.
        if (!isPlainRelativeName(name)) {
            status = fail("skipping unsafe name " + shown);
            continue;
        }
        if (servedSlot(archive, e.name) != i) {
            status = fail("skipping " + shown + ": invalid type or a duplicate name");
            continue;
        }
        if (!archive.open(e.name)) {
            status = fail("cannot decode " + shown);
            continue;
        }
        const std::vector<u8> bytes = readEntry(archive);
        archive.close();
        if (bytes.size() != e.size) {
            status = fail("skipping " + shown + ": " + std::to_string(bytes.size()) + " of " +
                          std::to_string(e.size) + " bytes in the archive");
            continue;
        }
        std::string why;
        if (!writeEntry(dirFd, name, bytes, why))
            status = fail("cannot write " + (fs::path(dir) / shown).string() + ": " + why);
    }
    ::close(dirFd);
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return usage("no command");
    const std::string command = argv[1];
    if (command == "create")
        return create(argc, argv);
    if (command == "list")
        return list(argc, argv);
    if (command == "extract")
        return extract(argc, argv);
    return usage(("unknown command " + command).c_str());
}
