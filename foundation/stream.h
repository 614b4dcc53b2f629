// The byte stream through which every loader reads. A stream is a reusable
// reader: made once over a source, then opened on one named content after
// another. Failures are false or zero results, never exceptions.
#pragma once

#include "foundation/types.h"

class Stream {
public:
    u32 size = 0; // byte size of the current content; 0 while nothing is open

    virtual ~Stream() = default;
    // A new, unopened stream of the same kind over the same source.
    virtual Stream* clone() = 0;
    virtual bool exists(const char* name) = 0;
    virtual bool open(const char* name) = 0;
    virtual bool create(const char* name) = 0;
    virtual bool close() = 0;
    virtual u32 read(void* buf, u32 n) = 0;
    virtual u32 write(const void* buf, u32 n) = 0;
    virtual bool seek(u32 pos) = 0;
    virtual bool skip(i32 delta) = 0;
    virtual u32 tell() = 0;
};
