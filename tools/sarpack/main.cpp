// sarpack: packs files into a SAR archive, lists one and extracts one. Lists
// and extracts read through the engine's own SarArchive, and every archive
// written is read back the same way and compared before sarpack succeeds,
// so an archive that leaves here is one the engine decodes exactly.
#include "foundation/file_stream.h"
#include "foundation/sar_archive.h"
#include "tools/sarpack/sar_writer.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <strings.h>
#include <vector>

namespace fs = std::filesystem;

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

bool writeFile(const fs::path& path, const u8* bytes, size_t n)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        return false;
    out.write(reinterpret_cast<const char*>(bytes), (std::streamsize)n);
    out.close();
    return !out.fail();
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

    const std::vector<u8> archive = writer.build();
    if (!writeFile(out, archive.data(), archive.size())) {
        std::error_code ec;
        fs::remove(out, ec);
        return fail(std::string("cannot write ") + out);
    }
    if (!verify(out, files)) {
        // Leave nothing behind that a build could mistake for a good archive.
        std::error_code ec;
        fs::remove(out, ec);
        return fail(std::string("verification failed, ") + out + " removed");
    }
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
        std::printf("%10u %10u %u %s\n", e.size, e.packedSize, e.type, e.name);
    }
    return 0;
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

    int status = 0;
    for (int i = 0; i < archive.count; ++i) {
        const SarEntry& e = archive.entries[i];
        const std::string name = e.name;
        // Names come from the file: nothing may land outside the folder, and
        // only the slot that open really serves is written.
        if (!isPlainRelativeName(name)) {
            status = fail("skipping unsafe name " + name);
            continue;
        }
        if (servedSlot(archive, e.name) != i) {
            status = fail("skipping " + name + ": invalid type or a duplicate name");
            continue;
        }
        if (!archive.open(e.name)) {
            status = fail("cannot decode " + name);
            continue;
        }
        const std::vector<u8> bytes = readEntry(archive);
        archive.close();
        const fs::path target = diskPath(dir, name);
        std::error_code ec;
        fs::create_directories(target.parent_path(), ec);
        if (!writeFile(target, bytes.data(), bytes.size()))
            status = fail("cannot write " + target.string());
    }
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
