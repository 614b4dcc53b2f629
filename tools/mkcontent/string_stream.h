// A write-only stream into memory: collects what the engine's own writers
// (the PCX writer) write, so their bytes go into the content unchanged.
#pragma once

#include "foundation/stream.h"

#include <string>

namespace mkcontent {

class StringStream : public Stream {
public:
    std::string bytes;
    Stream* clone() override { return nullptr; }
    bool exists(const char*) override { return false; }
    bool open(const char*) override { return false; }
    bool create(const char*) override
    {
        bytes.clear();
        return true;
    }
    bool close() override { return true; }
    u32 read(void*, u32) override { return 0; }
    u32 write(const void* buf, u32 n) override
    {
        bytes.append(static_cast<const char*>(buf), n);
        return n;
    }
    bool seek(u32) override { return false; }
    bool skip(i32) override { return false; }
    u32 tell() override { return u32(bytes.size()); }
};

} // namespace mkcontent
