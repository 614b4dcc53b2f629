#include "platform/win32/crt.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <strings.h>

int _stricmp(const char* a, const char* b)
{
    return strcasecmp(a, b);
}

int _strnicmp(const char* a, const char* b, size_t n)
{
    return strncasecmp(a, b, n);
}

int _vsnprintf(char* buffer, size_t n, const char* format, va_list args)
{
    if (n == 0)
        return -1;
    // vsnprintf always terminates; the Windows call fills all n bytes and
    // leaves the last one to the caller when the text is too long.
    const int needed = std::vsnprintf(buffer, n, format, args);
    if (needed < 0)
        return -1;
    if ((size_t)needed >= n)
        return -1;
    return needed;
}

int _snprintf(char* buffer, size_t n, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int r = _vsnprintf(buffer, n, format, args);
    va_end(args);
    return r;
}

int _vscprintf(const char* format, va_list args)
{
    return std::vsnprintf(nullptr, 0, format, args);
}
