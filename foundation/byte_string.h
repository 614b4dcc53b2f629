// The engine's own growable byte string. It is both a NUL-terminated text
// (size counts the terminator, so the empty text has size 1) and a plain
// byte buffer (the archive reader keeps decoded entries in it).
#pragma once

#include "foundation/types.h"

#include <cstdarg>

class String {
public:
    u32 size = 0;     // bytes in use, including a text's NUL
    u32 capacity = 0; // bytes allocated
    char* data = nullptr;

    String(); // the empty text
    String(const char* text);
    // The text strictly between the first `open` and the last `close`
    // character of text, or a copy of fallback (empty when null).
    String(const char* text, char open, char close, const char* fallback);
    String(const String& other);
    String(String&& other) noexcept;
    String& operator=(const String& other);
    String& operator=(String&& other) noexcept;
    ~String();

    static String format(const char* format, ...) __attribute__((format(printf, 1, 2)));
    static String formatV(const char* format, va_list args);

    // Resizing to 0 frees the storage; growth beyond the capacity adds
    // size/8 clamped to 4..65536, or exactly what is asked when more.
    void resize(u32 n);
    // Appends a NUL-terminated text; returns the offset at which it landed.
    u32 append(const char* s);

    const char* c_str() const { return data ? data : ""; }
    u32 length() const { return size ? size - 1 : 0; }

    // The capacity that growing from (size, capacity) to n bytes allocates.
    static u32 grownCapacity(u32 size, u32 capacity, u32 n);
};

// printf into one shared 256-byte buffer that the next call overwrites;
// truncated silently at 255 characters. Main thread only.
const char* formatTemp(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The value in lower-case hexadecimal without a prefix.
String formatHex(u32 value);
