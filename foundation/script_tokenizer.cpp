#include "foundation/script_tokenizer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

ScriptTokenizer::ScriptTokenizer(Stream* stream)
    : stream(stream)
{
}

ScriptTokenizer::~ScriptTokenizer()
{
    delete[] text;
}

bool ScriptTokenizer::load(const char* name)
{
    if (!stream || !stream->open(name))
        return false;
    const u32 size = stream->size;
    // size_t: a size of 0xFFFFFFFF must not wrap to a zero-byte block.
    char* block = new (std::nothrow) char[(size_t)size + 1];
    if (!block) {
        stream->close();
        return false;
    }
    // A short read ends the script where the bytes end; nothing of the
    // block beyond them is ever looked at.
    const u32 got = std::min(stream->read(block, size), size);
    stream->close();

    delete[] text;
    text = block;
    length = got;
    lineStarts.clear();
    transform();
    text[length] = 0;
    lineCount = (i32)lineStarts.size();
    cursor = 0;
    skipSeparators();
    return true;
}

void ScriptTokenizer::transform()
{
    bool quoting = false;
    for (u32 i = 0; i < length; ++i) {
        char c = text[i];
        if (c == '"') {
            text[i] = 0;
            quoting = !quoting;
            continue;
        }
        if (quoting)
            continue;
        if (c == ';') {
            while (i < length && text[i] != '\n')
                text[i++] = 0;
            if (i == length)
                break;
            c = '\n'; // the comment's newline still ends a line
        }
        if (c == '\n')
            lineStarts.push_back(i);
        // Signed on purpose: bytes 0x80-0xFF separate tokens like blanks do,
        // whatever the signedness of plain char.
        if ((signed char)c <= 32)
            text[i] = 0;
    }
}

void ScriptTokenizer::skipSeparators()
{
    while (cursor < length && text[cursor] == 0)
        ++cursor;
}

const char* ScriptTokenizer::nextToken()
{
    if (!text)
        return "";
    const char* token = text + cursor;
    cursor += (u32)std::strlen(token); // text[length] is NUL, so this stops there
    skipSeparators();
    return token;
}

int ScriptTokenizer::readInt()
{
    const char* token = nextToken();
    // The second byte is looked at only when there is a first: the empty
    // token at the end is the block's last byte.
    if (token[0] && (token[1] == 'x' || token[1] == 'X')) {
        unsigned value = 0;
        std::sscanf(token, "%x", &value);
        return (int)value;
    }
    int value = 0;
    std::sscanf(token, "%d", &value);
    return value;
}

float ScriptTokenizer::readFloat()
{
    float value = 0.0f;
    std::sscanf(nextToken(), "%f", &value);
    return value;
}

float ScriptTokenizer::readTime()
{
    // Split a copy, so that the script text keeps its tokens whole.
    std::string token = nextToken();
    char* start = token.data();
    // A leading sign belongs to the whole time: "-0:01.000" is a second
    // before zero, not minus zero minutes and one second after.
    const bool negative = *start == '-';
    if (negative || *start == '+')
        ++start;
    char* colon = std::strchr(start, ':');
    char* dot = std::strchr(start, '.');
    // A '.' before the ':' would leave the seconds a negative length; such
    // a token reads as minutes:seconds.
    if (colon && dot && dot < colon)
        dot = nullptr;

    double minutes = 0.0;
    double seconds = 0.0;
    double milliseconds = 0.0;
    if (colon) {
        *colon = 0;
        minutes = std::atof(start);
        if (dot) {
            *dot = 0;
            milliseconds = std::atof(dot + 1);
        }
        seconds = std::atof(colon + 1);
    } else if (dot) {
        *dot = 0;
        seconds = std::atof(start);
        milliseconds = std::atof(dot + 1);
    } else {
        milliseconds = std::atof(start);
    }
    const double total = minutes * 60000.0 + seconds * 1000.0 + milliseconds;
    return (float)(negative ? -total : total);
}

int ScriptTokenizer::lineNumber() const
{
    const auto begin = lineStarts.begin();
    const auto end = begin + std::min<size_t>((size_t)std::max(lineCount, 0), lineStarts.size());
    return 1 + (int)(std::lower_bound(begin, end, cursor) - begin);
}
