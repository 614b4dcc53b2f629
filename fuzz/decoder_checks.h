// What the archive decoder's fuzz targets share: the abort that reports a
// mismatch, and conversions between the decoder's strings and byte vectors.
#pragma once

#include "foundation/archive_reference.h"
#include "foundation/byte_buffer.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

using archive_reference::Bytes;

inline void check(bool ok)
{
    if (!ok)
        std::abort();
}

inline bool same(const String& s, const Bytes& b)
{
    const u32 n = s.data ? s.size : 0;
    return n == b.size() && (n == 0 || std::memcmp(s.data, b.data(), n) == 0);
}

inline String stringOf(const u8* p, size_t n)
{
    String s;
    s.resize((u32)n);
    if (n)
        std::memcpy(s.data, p, n);
    return s;
}
