#include "foundation/sar_archive.h"

#include "foundation/diagnostics.h"
#include "foundation/inverse_bwt.h"
#include "foundation/mtf_decoder.h"
#include "foundation/range_decoder.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
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

// How many 0xFF bytes past the end of its packed bytes a coded entry may
// make the decoder read. A writer may drop trailing 0xFF bytes, since the
// decoder supplies them; a stream that needs more than this never ends.
constexpr u32 kCodedTailAllowance = 1024;

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
    auto fail = [&]() {
        delete[] slots;
        source->close();
        return false;
    };

    u8 header[12];
    if (source->read(header, sizeof header) != sizeof header)
        return fail();
    if (le32(header) != kMagic || le32(header + 4) >= kVersionLimit)
        return fail();
    // Every entry takes at least 14 bytes.
    const u32 n = le32(header + 8);
    if (source->size < sizeof header || n > (source->size - sizeof header) / 14)
        return fail();

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
        if (source->read(&length, 1) != 1 || length > kMaxNameLength)
            return fail();
        if (source->read(e.name, length) != length)
            return fail();
        e.name[length] = 0;
        e.nameLength = length;
        u8 fields[13];
        if (source->read(fields, sizeof fields) != sizeof fields)
            return fail();
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
        if (_stricmp(entries[i].name, converted.c_str()) == 0)
            return true;
    return source->exists(converted.c_str());
}

bool SarArchive::open(const char* name)
{
    if (!name)
        return false;
    const String converted = directoryName(name);
    for (i32 i = 0; i < count; ++i) {
        const SarEntry& e = entries[i];
        if ((e.type & ~(kRangeCoded | kBlockSorted)) == 0 && _stricmp(e.name, converted.c_str()) == 0)
            return openEntry(e);
    }
    if (openFile(converted.c_str()))
        return true;
    if (diagnosticsLevel >= 1)
        MessageBoxA(nullptr, String::format("error: \"%s\" not found !!!\n", converted.c_str()).c_str(),
                    "Error", MB_ICONEXCLAMATION);
    return false;
}

bool SarArchive::openEntry(const SarEntry& e)
{
    const u64 start = (u64)dataStart + e.offset;
    if (start > source->size || !source->seek((u32)start))
        return false;

    ByteBuffer packed;
    readUpTo(*source, e.packedSize, packed.bytes);

    // With both stages, the move-to-front step runs inside the range
    // decoder, sparing a pass over the bytes.
    MtfDecoder mtf;
    String bytes;
    if (e.type & kRangeCoded) {
        // A valid entry decodes to exactly its size; the bound also stops a
        // stream that never ends, and the decoder cannot honestly produce
        // more than its bytes pay for, so a huge size field costs nothing.
        const u32 limit = std::min(e.size, RangeDecoder::maxSymbols((u64)packed.bytes.size + kCodedTailAllowance));
        ByteBuffer decoded;
        decoded.bytes.resize(limit);
        RangeDecoder decoder;
        if (!decoder.decode(packed, decoded, limit, (e.type & kBlockSorted) ? &mtf : nullptr))
            return false;
        bytes = std::move(decoded.bytes);
    } else {
        bytes = std::move(packed.bytes);
        if (e.type & kBlockSorted)
            mtf.decode(bytes, bytes);
    }
    packed.bytes.resize(0);

    if (e.type & kBlockSorted) {
        u8 index[4];
        if (source->read(index, sizeof index) != sizeof index)
            return false;
        String restored;
        if (!inverseBwt(bytes, (i32)le32(index), restored))
            return false;
        bytes = std::move(restored);
    }
    take(bytes);
    return true;
}

bool SarArchive::openFile(const char* name)
{
    Stream* file = source->clone();
    const bool found = file->open(name);
    if (found) {
        String bytes;
        readUpTo(*file, file->size, bytes);
        file->close();
        take(bytes);
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

