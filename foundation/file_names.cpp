#include "foundation/file_names.h"

namespace {

char folded(char c)
{
    if (c == '/')
        return '\\';
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

} // namespace

bool sameFileName(const char* a, const char* b)
{
    if (!a || !b)
        return a == b;
    for (; *a && *b; ++a, ++b)
        if (folded(*a) != folded(*b))
            return false;
    return *a == *b;
}

std::string fileNameKey(const char* name)
{
    std::string key = name ? name : "";
    for (char& c : key)
        c = folded(c);
    return key;
}
