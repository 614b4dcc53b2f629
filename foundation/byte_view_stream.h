// A read-only stream over bytes that its subclass holds: the current content
// is `size` bytes at view(). Reads past the end yield what is left, writes
// yield nothing, and seeks and skips stop at the content's ends.
#pragma once

#include "foundation/stream.h"

class ByteViewStream : public Stream {
public:
    u32 read(void* buf, u32 n) override;
    u32 write(const void* buf, u32 n) override;
    bool seek(u32 p) override;
    bool skip(i32 delta) override;
    u32 tell() override;

    u32 pos = 0;

protected:
    virtual const u8* view() const = 0;
};
