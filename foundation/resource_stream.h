// A resource of the program's own executable. It answers only the mount
// name under which an archive is mounted on it, so an archive's fallback to
// plain files finds nothing inside a resource.
#pragma once

#include "foundation/byte_view_stream.h"

class ResourceStream : public ByteViewStream {
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

    // Whether the executable holds the resource at all.
    bool found() const { return resourceBytes != nullptr; }

protected:
    const u8* view() const override { return resourceBytes; }

private:
    const u8* resourceBytes = nullptr;
    u32 resourceSize = 0;
    const char* mountName;
};
