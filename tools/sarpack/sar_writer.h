// Builds a whole SAR archive in memory: version 2, the entries back to back
// in the order they were added, each stored with the stages its type asks
// for (bit 0 range coding, bit 1 move-to-front over Burrows-Wheeler). The
// output depends only on the names, bytes and types given.
#pragma once

#include "foundation/types.h"

#include <cstddef>
#include <string>
#include <vector>

class SarWriter {
public:
    static constexpr u32 kMagic = 0x43524153; // "SARC"
    static constexpr u32 kVersion = 2;
    static constexpr u32 kMaxNameLength = 253; // what the reader's slot holds
    static constexpr u8 kTypeRangeCoded = 1;
    static constexpr u8 kTypeBwtMtf = 2;
    static constexpr u8 kTypePacked = kTypeRangeCoded | kTypeBwtMtf;

    // Packs and adds one entry. The name's '/' become '\'. False, with
    // error() telling why, for a name that is empty, longer than 253
    // characters, not printable ASCII or already present (ignoring case, as
    // the reader looks names up), a type above 3, or data that would not fit
    // the format's 32-bit sizes and offsets.
    bool add(const std::string& name, const u8* data, size_t size, u8 type = kTypePacked);
    bool add(const std::string& name, const std::vector<u8>& data, u8 type = kTypePacked)
    {
        return add(name, data.data(), data.size(), type);
    }

    // The archive of every entry added so far.
    std::vector<u8> build() const;

    size_t count() const { return entries.size(); }
    const std::string& error() const { return lastError; }

    // The stored form of a name ('/' turned into '\'), or false with a reason.
    static bool storedName(const std::string& name, std::string& stored, std::string& why);

    // The stages of one entry: the bytes written at its offset (the primary
    // index not included), and the primary index when type bit 1 is set.
    static bool packEntry(const u8* data, size_t size, u8 type, std::vector<u8>& packed,
                          u32& primaryIndex);

private:
    struct Entry {
        std::string name;
        u8 type;
        u32 size;
        u32 primaryIndex;
        std::vector<u8> packed;
    };

    u64 fileSize() const;

    std::vector<Entry> entries;
    std::string lastError;
};
