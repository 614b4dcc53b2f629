// A SAR archive: a plain directory of named entries, each stored raw or
// packed (range-coded, optionally over a move-to-front and Burrows-Wheeler
// stage). The archive is a Stream mounted on another Stream; names it does
// not hold are passed on to that stream, so an archive can stand in front
// of plain files.
//
// File layout (little-endian, no padding): "SARC", u32 version (below
// 0x10000), u32 count, count directory entries (u8 name length, the name
// with backslashes, u8 type, u32 offset from the end of the directory, u32
// packed size, u32 size), then the entry data; a type with bit 1 set has a
// u32 primary index behind its packed bytes.
#pragma once

#include "foundation/byte_buffer.h"
#include "foundation/byte_view_stream.h"

// One directory slot, fixed size so that a directory copies as a block.
struct SarEntry {
    u8 nameLength;
    char name[254]; // up to 253 characters and a NUL
    u8 type;
    u32 offset;
    u32 packedSize;
    u32 size;
};

class SarArchive : public ByteViewStream {
public:
    static constexpr u32 kMagic = 0x43524153; // "SARC"
    static constexpr u32 kVersionLimit = 0x10000;
    static constexpr u32 kMaxNameLength = 253;
    static constexpr u8 kRangeCoded = 1;
    static constexpr u8 kBlockSorted = 2; // move-to-front and Burrows-Wheeler

    // Works on a clone of source; nothing is mounted yet.
    explicit SarArchive(Stream& source);
    // A second reader: a fresh clone of the other's source, mounted under
    // the same name, with a copy of its directory and no entry open.
    SarArchive(const SarArchive& other);
    SarArchive& operator=(const SarArchive&) = delete;
    ~SarArchive() override;

    // Opens the archive `name` on the source and reads its directory. False,
    // without a message, when already mounted or when the source cannot open
    // the name; false with a log line when the header or the directory is
    // damaged: wrong magic, version of 0x10000 or more, more entries than the
    // file has room for, a name longer than 253 characters, or a directory
    // cut short. The name is kept, not copied: it must outlive the archive.
    bool mount(const char* name);

    Stream* clone() override;
    // Entry names are matched ignoring case, with '/' read as '\'.
    bool exists(const char* name) override;
    // Makes an entry (or else a file of the source) the current content.
    // False when neither exists (with an "Error" box at diagnostics level 1
    // or more) and, with a log line instead, when the entry is damaged: it
    // lies beyond the file or is cut short, its block-sort index is missing
    // or out of range, or its coded bytes do not end within its size; or
    // when it is bigger than the reader its name goes to can use (the
    // limits of engine_limits.h, checked before anything is decoded). A
    // failed open leaves the previous content as it was.
    bool open(const char* name) override;
    bool create(const char* name) override;
    bool close() override;

    Stream* source;                 // owned
    const char* mountName = nullptr;
    i32 count = 0;
    SarEntry* entries = nullptr;    // count slots
    u32 dataStart = 0;
    ByteBuffer content;             // the current entry's bytes

protected:
    const u8* view() const override { return reinterpret_cast<const u8*>(content.bytes.data); }

private:
    bool openEntry(const SarEntry& entry);
    bool openFile(const char* name);
    void take(String& bytes);
};
