// A Stream over named byte strings held in memory, for tests of readers.
// It can be told to deliver fewer bytes than its size claims, and it counts
// opens and closes so tests can see a reader close what it opened. The fuzz
// targets use it too, to feed one input to whatever a reader asks for.
#pragma once

#include "foundation/stream.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <string>

class MemoryStream : public Stream {
public:
    std::map<std::string, std::string> files;
    u32 readLimit = 0xFFFFFFFFu; // bytes one read delivers at most
    int opens = 0;
    int closes = 0;
    std::optional<std::string> anyFile; // opened for a name not in files


    MemoryStream() = default;
    MemoryStream(const char* name, std::string bytes) { files[name] = std::move(bytes); }

    Stream* clone() override
    {
        auto* copy = new MemoryStream;
        copy->files = files;
        copy->readLimit = readLimit;
        copy->anyFile = anyFile;
        return copy;
    }
    bool exists(const char* name) override { return files.count(name) != 0 || anyFile; }
    bool open(const char* name) override
    {
        if (current)
            return false;
        const auto it = files.find(name);
        if (it != files.end())
            current = &it->second;
        else if (anyFile)
            current = &*anyFile;
        else
            return false;
        size = (u32)current->size();
        pos = 0;
        ++opens;
        return true;
    }
    bool create(const char*) override { return false; }
    bool close() override
    {
        if (!current)
            return false;
        current = nullptr;
        size = 0;
        ++closes;
        return true;
    }
    u32 read(void* buf, u32 n) override
    {
        if (!current)
            return 0;
        const u32 left = (u32)current->size() - pos;
        const u32 count = std::min({n, left, readLimit});
        std::memcpy(buf, current->data() + pos, count);
        pos += count;
        return count;
    }
    u32 write(const void*, u32) override { return 0; }
    bool seek(u32 p) override
    {
        if (!current || p > current->size())
            return false;
        pos = p;
        return true;
    }
    bool skip(i32 delta) override { return seek((u32)((i64)pos + delta)); }
    u32 tell() override { return pos; }

private:
    const std::string* current = nullptr;
    u32 pos = 0;
};
