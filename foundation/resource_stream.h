// A resource of the program's own executable. It answers only the mount
// name under which an archive is mounted on it, so an archive's fallback to
// plain files finds nothing inside a resource.
#pragma once

#include "foundation/stream.h"

class ResourceStream : public Stream {
public:
    // mountName must outlive the stream (a literal, as the demo uses).
    ResourceStream(const char* type, u16 resourceId, const char* mountName);
    ResourceStream(const ResourceStream& other); // unopened, same bytes
    ResourceStream& operator=(const ResourceStream&) = delete;

    Stream* clone() override;
    bool exists(const char* name) override;
    bool open(const char* name) override;
    bool create(const char* name) override;
    bool close() override;
    u32 read(void* buf, u32 n) override;
    u32 write(const void* buf, u32 n) override;
    bool seek(u32 pos) override;
    bool skip(i32 delta) override;
    u32 tell() override;

    // Whether the executable holds the resource at all.
    bool found() const { return resourceBytes != nullptr; }

private:
    const u8* resourceBytes = nullptr;
    u32 resourceSize = 0;
    u32 pos = 0;
    const char* mountName;
};
