// A String used as a plain byte buffer by the archive coder: the bytes and
// the read (source) or write (sink) position of the stage working on them.
#pragma once

#include "foundation/byte_string.h"

struct ByteBuffer {
    String bytes;
    u32 pos = 0;
};
