// The Windows C runtime calls the engine uses that glibc lacks or spells
// differently.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdlib>

int _stricmp(const char* a, const char* b);
int _strnicmp(const char* a, const char* b, size_t n);

// Like the Windows runtime: a negative result when the text (without its
// NUL) does not fit in n bytes; the buffer then holds the first n bytes and
// is not terminated.
int _vsnprintf(char* buffer, size_t n, const char* format, va_list args);
int _snprintf(char* buffer, size_t n, const char* format, ...) __attribute__((format(printf, 3, 4)));

// Length of the formatted text without its NUL; negative on a format error.
int _vscprintf(const char* format, va_list args);
