#include "foundation/byte_view_stream.h"

#include <algorithm>
#include <cstring>

u32 ByteViewStream::read(void* buf, u32 n)
{
    const u32 count = std::min(n, size - pos);
    if (count)
        std::memcpy(buf, view() + pos, count);
    pos += count;
    return count;
}

u32 ByteViewStream::write(const void*, u32)
{
    return 0;
}

bool ByteViewStream::seek(u32 p)
{
    pos = std::min(p, size);
    return true;
}

bool ByteViewStream::skip(i32 delta)
{
    pos = std::min(pos + (u32)delta, size);
    return true;
}

u32 ByteViewStream::tell()
{
    return pos;
}
