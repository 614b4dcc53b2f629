#include "foundation/sar_archive.h"

#include "foundation/diagnostics.h"
#include "foundation/engine_limits.h"
#include "foundation/file_names.h"
#include "foundation/inverse_bwt.h"
#include "foundation/log.h"
#include "foundation/mtf_decoder.h"
#include "foundation/range_decoder.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

namespace {

u32 le32(const u8* p)
{
    return (u32)p[0] | (u32)p[1] << 8 | (u32)p[2] << 16 | (u32)p[3] << 24;
}

// The name as the directory spells it: backslashes between folders.
String directoryName(const char* name)
{
    String converted(name);
    for (char* c = converted.data; *c; ++c)
        if (*c == '/')
            *c = '\\';
    return converted;
}

// Reads up to n bytes; out ends up holding exactly what arrived. The
// buffer grows with the bytes actually read, so a size field or a stream
// size that promises far more than exists costs no more memory than exists.
void readUpTo(Stream& stream, u32 n, String& out)
{
    constexpr u32 kFirstChunk = 1u << 20;
    out.resize(0);
    u32 got = 0;
    while (got < n) {
        const u32 chunk = std::min(n - got, std::max(got, kFirstChunk));
        out.resize(got + chunk);
        const u32 r = stream.read(out.data + got, chunk);
        got += std::min(r, chunk);
        if (r < chunk)
            break;
    }
    out.resize(got);
}

// A name from the file as the log shows it: control bytes would break the
// log's lines, so each one shows as '?'.
std::string shown(const char* name)
{
    std::string out = name ? name : "";
    for (char& c : out)
        if ((unsigned char)c < 0x20 || c == 0x7F)
            c = '?';
    return out;
}

bool hasExtension(const char* name, const char* const* extensions)
{
    const char* dot = std::strrchr(name, '.');
    if (!dot)
        return false;
    for (; *extensions; ++extensions)
        if (_stricmp(dot + 1, *extensions) == 0)
            return true;
    return false;
}

// The largest entry the reader of this name can use, and what it is called
// in the log.
struct EntryLimit {
    u32 bytes;
    const char* kind;
};

EntryLimit entryLimit(const char* name)
{
    static const char* const kScripts[] = {"scr", "mts", "fx", "fxh", nullptr};
    static const char* const kScenes[] = {"lws", nullptr};
    static const char* const kObjects[] = {"lwo", nullptr};
    static const char* const kPictures[] = {"jpg", "bmp", "tga", "pcx", "dds", nullptr};
    if (hasExtension(name, kScripts))
        return {limits::scriptEntryBytes, "a script"};
    if (hasExtension(name, kScenes))
        return {limits::sceneEntryBytes, "a scene"};
    if (hasExtension(name, kObjects))
        return {limits::objectEntryBytes, "an object"};
    if (hasExtension(name, kPictures))
        return {limits::pictureEntryBytes, "a picture"};
    return {limits::otherEntryBytes, "an entry"};
}

// False, with a log line, when size is more than the reader of name can
// use; checked before anything is read or decoded.
bool withinLimit(const char* archive, const char* name, u32 size)
{
    const EntryLimit limit = entryLimit(name);
    if (size <= limit.bytes)
        return true;
    logStream << "archive \"" << shown(archive) << "\": \"" << shown(name) << "\" is " << size << " bytes, more than "
              << limit.kind << " may have (" << limit.bytes << ")" << std::endl;
    return false;
}

} // namespace

SarArchive::SarArchive(Stream& src)
    : source(src.clone())
{
    content.bytes.resize(0);
}

SarArchive::SarArchive(const SarArchive& other)
    : ByteViewStream(), source(other.source->clone()), mountName(other.mountName), count(other.count),
      dataStart(other.dataStart)
{
    if (mountName)
        source->open(mountName);
    if (count > 0) {
        entries = new SarEntry[count];
        std::memcpy(entries, other.entries, (size_t)count * sizeof(SarEntry));
    }
    content.bytes.resize(0);
}

SarArchive::~SarArchive()
{
    delete[] entries;
    if (mountName)
        source->close();
    delete source;
}

Stream* SarArchive::clone()
{
    return new SarArchive(*this);
}

bool SarArchive::mount(const char* name)
{
    if (mountName || !name)
        return false;
    if (!source->exists(name) || !source->open(name))
        return false;

    SarEntry* slots = nullptr;
    u32 slotCount = 0;
    auto fail = [&](const std::string& why) {
        logStream << "archive \"" << shown(name) << "\": " << why << std::endl;
        delete[] slots;
        source->close();
        return false;
    };

    u8 header[12];
    if (source->read(header, sizeof header) != sizeof header || le32(header) != kMagic)
        return fail("not a SAR archive");
    if (le32(header + 4) >= kVersionLimit)
        return fail("version " + std::to_string(le32(header + 4)) + " is not supported");
    // Every entry takes at least 14 bytes.
    const u32 n = le32(header + 8);
    if (source->size < sizeof header || n > (source->size - sizeof header) / 14)
        return fail(std::to_string(n) + " entries do not fit in " + std::to_string(source->size) + " bytes");

    for (u32 i = 0; i < n; ++i) {
        // Slots are added as entries arrive, not all at once: the stream's
        // size may claim far more than it holds.
        if (i == slotCount) {
            const u32 grown = std::min(n, std::max(16u, slotCount * 2));
            SarEntry* bigger = new SarEntry[grown]();
            if (slots)
                std::memcpy(bigger, slots, (size_t)slotCount * sizeof(SarEntry));
            delete[] slots;
            slots = bigger;
            slotCount = grown;
        }
        SarEntry& e = slots[i];
        u8 length;
        u8 fields[13];
        if (source->read(&length, 1) != 1)
            return fail("the directory is cut short at entry " + std::to_string(i));
        if (length > kMaxNameLength)
            return fail("the name of entry " + std::to_string(i) + " is longer than " +
                        std::to_string(kMaxNameLength) + " characters");
        if (source->read(e.name, length) != length || source->read(fields, sizeof fields) != sizeof fields)
            return fail("the directory is cut short at entry " + std::to_string(i));
        e.name[length] = 0;
        e.nameLength = length;
        e.type = fields[0];
        e.offset = le32(fields + 1);
        e.packedSize = le32(fields + 5);
        e.size = le32(fields + 9);
    }

    entries = slots;
    count = (i32)n;
    dataStart = source->tell();
    mountName = name;
    return true;
}

bool SarArchive::exists(const char* name)
{
    if (!name)
        return false;
    const String converted = directoryName(name);
    for (i32 i = 0; i < count; ++i)
        if (sameFileName(entries[i].name, converted.c_str()))
            return true;
    return source->exists(converted.c_str());
}

bool SarArchive::open(const char* name)
{
    if (!name)
        return false;
    const String converted = directoryName(name);
    const SarEntry* passedOver = nullptr;
    for (i32 i = 0; i < count; ++i) {
        const SarEntry& e = entries[i];
        if (!sameFileName(e.name, converted.c_str()))
            continue;
        if ((e.type & ~(kRangeCoded | kBlockSorted)) == 0)
            return openEntry(e);
        if (!passedOver)
            passedOver = &e;
    }
    if (passedOver)
        logStream << "archive \"" << shown(mountName) << "\": \"" << shown(passedOver->name)
                  << "\" has the unknown type " << (u32)passedOver->type << " and is passed over" << std::endl;
    if (openFile(converted.c_str()))
        return true;
    if (diagnosticsLevel >= 1)
        MessageBoxA(nullptr, String::format("error: \"%s\" not found !!!\n", converted.c_str()).c_str(),
                    "Error", MB_ICONEXCLAMATION);
    return false;
}

bool SarArchive::openEntry(const SarEntry& e)
{
    auto damaged = [&](const std::string& why) {
        logStream << "archive \"" << shown(mountName) << "\": \"" << shown(e.name) << "\" " << why << std::endl;
        return false;
    };
    // What the entry decodes to, checked before anything is read: a coded
    // entry may expand to 512 times its packed bytes.
    if (!withinLimit(mountName, e.name, (e.type & kRangeCoded) ? e.size : e.packedSize))
        return false;
    const u64 start = (u64)dataStart + e.offset;
    if (start > source->size || !source->seek((u32)start))
        return damaged("lies past the end of the archive");

    ByteBuffer packed;
    readUpTo(*source, e.packedSize, packed.bytes);
    if (packed.bytes.size != e.packedSize)
        return damaged("is cut short: " + std::to_string(packed.bytes.size) + " of its " +
                       std::to_string(e.packedSize) + " bytes are there");

    // With both stages, the move-to-front step runs inside the range
    // decoder, sparing a pass over the bytes.
    MtfDecoder mtf;
    String bytes;
    if (e.type & kRangeCoded) {
        // A valid entry decodes to exactly its size; the bound also stops a
        // stream that never ends, and the decoder cannot honestly produce
        // more than its bytes pay for, so a size field above that costs
        // nothing.
        const u32 limit =
            std::min(e.size, RangeDecoder::maxSymbols((u64)packed.bytes.size + limits::codedTailBytes));
        ByteBuffer decoded;
        decoded.bytes.resize(limit);
        RangeDecoder decoder;
        if (!decoder.decode(packed, decoded, limit, (e.type & kBlockSorted) ? &mtf : nullptr))
            return damaged("does not decode within its size of " + std::to_string(e.size) + " bytes");
        bytes = std::move(decoded.bytes);
    } else {
        bytes = std::move(packed.bytes);
        if (e.type & kBlockSorted)
            mtf.decode(bytes, bytes);
    }
    packed.bytes.resize(0);

    if (e.type & kBlockSorted) {
        u8 field[4];
        if (source->read(field, sizeof field) != sizeof field)
            return damaged("is cut short: its block-sort index is missing");
        // The writer's index names the end-of-text row: 1..n, or 0 for an
        // empty entry. Any other, taken as signed or not, decodes to garbage.
        const u32 index = le32(field);
        const u32 n = bytes.size;
        if (n == 0 ? index != 0 : (index == 0 || index > n))
            return damaged("has the block-sort index " + std::to_string(index) + " for " + std::to_string(n) +
                           " bytes");
        String restored;
        if (!inverseBwt(bytes, (i32)index, restored))
            return damaged("has a block-sort index that leads out of its bytes");
        bytes = std::move(restored);
    }
    take(bytes);
    return true;
}

bool SarArchive::openFile(const char* name)
{
    Stream* file = source->clone();
    bool found = file->open(name);
    if (found) {
        found = withinLimit(mountName, name, file->size);
        if (found) {
            String bytes;
            readUpTo(*file, file->size, bytes);
            take(bytes);
        }
        file->close();
    }
    delete file;
    return found;
}

void SarArchive::take(String& bytes)
{
    content.bytes = std::move(bytes);
    content.pos = 0;
    size = content.bytes.size;
    pos = 0;
}

bool SarArchive::create(const char*)
{
    return false;
}

bool SarArchive::close()
{
    content.bytes.resize(0);
    content.pos = 0;
    size = 0;
    pos = 0;
    return true;
}

