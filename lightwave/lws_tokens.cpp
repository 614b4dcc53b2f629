// The scene file's tokens: runs of bytes above the space, or the text
// between double quotes. On its own so that the fuzz build can leave its
// per-byte comparisons of positions and of the space untraced.
#include "lightwave/lws_reader.h"

namespace {

inline bool isSpace(char c)
{
    return (unsigned char)c <= 0x20;
}

template <bool store>
size_t split(char* text, size_t size, const char** out, size_t capacity)
{
    size_t count = 0;
    size_t i = 0;
    while (i < size) {
        if (isSpace(text[i])) {
            i++;
            continue;
        }
        size_t start = i;
        size_t end;
        if (text[i] == '"') {
            start = i + 1;
            end = start;
            while (end < size && text[end] != '"')
                end++;
            i = end + 1;
        } else {
            end = i;
            while (end < size && !isSpace(text[end]))
                end++;
            i = end + 1;
        }
        if constexpr (store) {
            if (count == capacity)
                return count;
            out[count] = text + start;
            if (end < size)
                text[end] = 0;
        }
        count++;
    }
    return count;
}

} // namespace

size_t splitLwsTokens(char* text, size_t size, const char** out, size_t capacity)
{
    if (out == nullptr)
        return split<false>(text, size, nullptr, 0);
    return split<true>(text, size, out, capacity);
}
