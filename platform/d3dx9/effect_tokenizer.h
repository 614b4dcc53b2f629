// Tokens of the effect pre-pass: the expanded text split into identifiers,
// numbers, strings and punctuation, with comments and preprocessor lines
// skipped. Simple `#define NAME value` lines are remembered, as array sizes
// are often given by a macro.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace platform::d3dx9 {

inline bool isIdentStart(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

inline bool isIdentChar(char c)
{
    return isIdentStart(c) || (c >= '0' && c <= '9');
}

inline bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

inline char lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

inline bool iequals(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

inline std::string lowerCopy(std::string_view s)
{
    std::string r(s);
    for (char& c : r)
        c = lower(c);
    return r;
}

inline std::string locationText(const std::string& file, uint32_t line, uint32_t column)
{
    return file + "(" + std::to_string(line) + "," + std::to_string(column) + ")";
}

struct Token {
    enum Kind { Ident, Number, String, Punct } kind;
    size_t begin;
    size_t end;
};

class Tokenizer {
public:
    Tokenizer(const std::string& text, std::map<std::string, std::string>& macros) : t_(text), macros_(macros) {}

    std::vector<Token> run();

private:
    size_t directive(size_t i);

    const std::string& t_;
    std::map<std::string, std::string>& macros_;
};

} // namespace platform::d3dx9
