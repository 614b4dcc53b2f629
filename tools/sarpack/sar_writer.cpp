#include "tools/sarpack/sar_writer.h"

#include "tools/sarpack/bwt_encoder.h"
#include "tools/sarpack/mtf_encoder.h"
#include "tools/sarpack/range_encoder.h"

#include <strings.h>

namespace {

constexpr u64 kHeaderBytes = 12;
constexpr u64 kDirectoryEntryBytes = 14; // plus the name

void putU32(std::vector<u8>& out, u32 v)
{
    out.push_back((u8)v);
    out.push_back((u8)(v >> 8));
    out.push_back((u8)(v >> 16));
    out.push_back((u8)(v >> 24));
}

} // namespace

bool SarWriter::storedName(const std::string& name, std::string& stored, std::string& why)
{
    if (name.empty()) {
        why = "empty name";
        return false;
    }
    if (name.size() > kMaxNameLength) {
        why = "name longer than 253 characters: " + name.substr(0, 40) + "...";
        return false;
    }
    stored = name;
    for (char& c : stored) {
        const u8 b = (u8)c;
        if (b < 0x20 || b >= 0x7F) {
            why = "name is not printable ASCII: " + name;
            return false;
        }
        if (c == '/')
            c = '\\';
    }
    return true;
}

bool SarWriter::packEntry(const u8* data, size_t size, u8 type, std::vector<u8>& packed,
                          u32& primaryIndex)
{
    packed.clear();
    primaryIndex = 0;
    if (type > kTypePacked)
        return false;
    std::vector<u8> stage;
    const u8* bytes = data;
    if (type & kTypeBwtMtf) {
        std::vector<u8> lastColumn(size);
        if (!bwtEncode(data, size, lastColumn.data(), primaryIndex))
            return false;
        stage.resize(size);
        MtfEncoder::encode(lastColumn.data(), size, stage.data());
        bytes = stage.data();
    }
    if (type & kTypeRangeCoded)
        RangeEncoder::pack(bytes, size, packed);
    else
        packed.assign(bytes, bytes + size);
    return true;
}

u64 SarWriter::fileSize() const
{
    u64 total = kHeaderBytes;
    for (const Entry& e : entries)
        total += kDirectoryEntryBytes + e.name.size() + e.packed.size() + ((e.type & kTypeBwtMtf) ? 4 : 0);
    return total;
}

bool SarWriter::add(const std::string& name, const u8* data, size_t size, u8 type)
{
    Entry entry;
    std::string why;
    if (!storedName(name, entry.name, why)) {
        lastError = why;
        return false;
    }
    if (type > kTypePacked) {
        lastError = "entry type above 3 for " + entry.name;
        return false;
    }
    for (const Entry& e : entries) {
        if (strcasecmp(e.name.c_str(), entry.name.c_str()) == 0) {
            lastError = "duplicate name " + entry.name;
            return false;
        }
    }
    // The suffix sorter indexes with 32-bit signed values; sizes and offsets
    // are u32 in the file.
    if (size >= 0x7FFFFFFFu) {
        lastError = "entry too large: " + entry.name;
        return false;
    }
    entry.type = type;
    entry.size = (u32)size;
    if (!packEntry(data, size, type, entry.packed, entry.primaryIndex)) {
        lastError = "could not pack " + entry.name;
        return false;
    }
    entries.push_back(std::move(entry));
    if (fileSize() > 0xFFFFFFFFu) {
        entries.pop_back();
        lastError = "archive would exceed 4 GB at " + name;
        return false;
    }
    lastError.clear();
    return true;
}

std::vector<u8> SarWriter::build() const
{
    std::vector<u8> out;
    out.reserve((size_t)fileSize());
    putU32(out, kMagic);
    putU32(out, kVersion);
    putU32(out, (u32)entries.size());
    u32 offset = 0;
    for (const Entry& e : entries) {
        out.push_back((u8)e.name.size());
        out.insert(out.end(), e.name.begin(), e.name.end());
        out.push_back(e.type);
        putU32(out, offset);
        putU32(out, (u32)e.packed.size());
        putU32(out, e.size);
        offset += (u32)e.packed.size() + ((e.type & kTypeBwtMtf) ? 4 : 0);
    }
    for (const Entry& e : entries) {
        out.insert(out.end(), e.packed.begin(), e.packed.end());
        if (e.type & kTypeBwtMtf)
            putU32(out, e.primaryIndex);
    }
    return out;
}
