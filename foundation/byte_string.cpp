#include "foundation/byte_string.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

String::String()
{
    resize(1);
    data[0] = 0;
}

String::String(const char* text)
{
    const u32 n = (u32)std::strlen(text) + 1;
    resize(n);
    std::memcpy(data, text, n);
}

String::String(const char* text, char open, char close, const char* fallback)
    : String()
{
    const char* first = std::strchr(text, open);
    const char* last = std::strrchr(text, close);
    if (first && last && last - first >= 2) {
        const u32 span = (u32)(last - first);
        resize(span);
        std::memcpy(data, first + 1, span - 1);
        data[span - 1] = 0;
    } else if (fallback) {
        *this = String(fallback);
    }
}

String::String(const String& other)
{
    if (other.size) {
        resize(other.size);
        std::memcpy(data, other.data, other.size);
    }
}

String::String(String&& other) noexcept
    : size(other.size), capacity(other.capacity), data(other.data)
{
    other.size = other.capacity = 0;
    other.data = nullptr;
}

String& String::operator=(const String& other)
{
    if (this != &other) {
        String copy(other);
        *this = std::move(copy);
    }
    return *this;
}

String& String::operator=(String&& other) noexcept
{
    if (this != &other) {
        std::free(data);
        size = other.size;
        capacity = other.capacity;
        data = other.data;
        other.size = other.capacity = 0;
        other.data = nullptr;
    }
    return *this;
}

String::~String()
{
    std::free(data);
}

String String::formatV(const char* format, va_list args)
{
    String s;
    va_list counting;
    va_copy(counting, args);
    const int length = _vscprintf(format, counting);
    va_end(counting);
    if (length < 0)
        return s; // a format the runtime cannot print: the empty text
    s.resize((u32)length + 1);
    if (_vsnprintf(s.data, s.size, format, args) < 0)
        s.data[s.size - 1] = 0;
    return s;
}

String String::format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    String s = formatV(format, args);
    va_end(args);
    return s;
}

u32 String::grownCapacity(u32 size, u32 capacity, u32 n)
{
    const u32 growth = std::clamp<u32>(size / 8, 4, 65536);
    const u64 grown = (u64)capacity + growth;
    return n >= grown ? n : (u32)std::min<u64>(grown, 0xFFFFFFFFu);
}

void String::resize(u32 n)
{
    if (n == 0) {
        std::free(data);
        data = nullptr;
        capacity = 0;
        size = 0;
        return;
    }
    if (!data) {
        data = static_cast<char*>(std::malloc(n));
        if (!data)
            std::abort();
        capacity = n;
    } else if (n > capacity) {
        const u32 newCapacity = grownCapacity(size, capacity, n);
        char* block = static_cast<char*>(std::realloc(data, newCapacity));
        if (!block)
            std::abort();
        data = block;
        capacity = newCapacity;
    }
    size = n;
}

u32 String::append(const char* s)
{
    // A size-0 string (after resize(0)) counts as the empty text.
    const u32 oldLength = size ? size - 1 : 0;
    const u32 add = (u32)std::strlen(s);
    const u32 newSize = oldLength + add + 1;
    if (newSize > size)
        resize(newSize);
    std::memcpy(data + oldLength, s, add + 1);
    size = newSize;
    return oldLength;
}

const char* formatTemp(const char* format, ...)
{
    static char buffer[256];
    va_list args;
    va_start(args, format);
    if (_vsnprintf(buffer, sizeof buffer, format, args) < 0)
        buffer[255] = 0;
    va_end(args);
    return buffer;
}

String formatHex(u32 value)
{
    return String(formatTemp("%x", value));
}
