#include "platform/d3dx9/effect_tokenizer.h"

namespace platform::d3dx9 {

std::vector<Token> Tokenizer::run()
{
    std::vector<Token> out;
    size_t n = t_.size();
    size_t i = 0;
    bool lineStart = true;
    while (i < n) {
        char c = t_[i];
        if (c == '\n') {
            lineStart = true;
            ++i;
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
            ++i;
            continue;
        }
        if (c == '/' && i + 1 < n && t_[i + 1] == '/') {
            while (i < n && t_[i] != '\n')
                ++i;
            continue;
        }
        if (c == '/' && i + 1 < n && t_[i + 1] == '*') {
            size_t close = t_.find("*/", i + 2);
            i = close == std::string::npos ? n : close + 2;
            continue;
        }
        if (c == '#' && lineStart) {
            i = directive(i);
            continue;
        }
        lineStart = false;
        size_t b = i;
        if (isIdentStart(c)) {
            while (i < n && isIdentChar(t_[i]))
                ++i;
            out.push_back({Token::Ident, b, i});
        } else if (isDigit(c) || (c == '.' && i + 1 < n && isDigit(t_[i + 1]))) {
            while (i < n) {
                char d = t_[i];
                if ((d == '+' || d == '-') && (lower(t_[i - 1]) == 'e') && !(t_[b] == '0' && i > b + 1 && lower(t_[b + 1]) == 'x'))
                    ++i;
                else if (isIdentChar(d) || d == '.')
                    ++i;
                else
                    break;
            }
            out.push_back({Token::Number, b, i});
        } else if (c == '"' || c == '\'') {
            ++i;
            while (i < n && t_[i] != c && t_[i] != '\n') {
                if (t_[i] == '\\' && i + 1 < n && t_[i + 1] != '\n')
                    ++i;
                ++i;
            }
            if (i < n && t_[i] == c)
                ++i;
            out.push_back({Token::String, b, i});
        } else {
            ++i;
            out.push_back({Token::Punct, b, i});
        }
    }
    return out;
}

// Skips a preprocessor line (with continuations); remembers
// `#define NAME value` for array sizes given by a macro.
size_t Tokenizer::directive(size_t i)
{
    size_t n = t_.size();
    size_t b = i;
    while (i < n && t_[i] != '\n') {
        if (t_[i] == '\\' && i + 1 < n && t_[i + 1] == '\n')
            ++i;
        ++i;
    }
    std::string_view line(t_.data() + b + 1, i - b - 1);
    size_t p = 0;
    auto skipSpace = [&] {
        while (p < line.size() && (line[p] == ' ' || line[p] == '\t'))
            ++p;
    };
    skipSpace();
    if (line.substr(p, 6) == "define" && p + 6 < line.size() && (line[p + 6] == ' ' || line[p + 6] == '\t')) {
        p += 6;
        skipSpace();
        size_t nb = p;
        while (p < line.size() && isIdentChar(line[p]))
            ++p;
        std::string name(line.substr(nb, p - nb));
        if (!name.empty() && (p >= line.size() || line[p] != '(')) {
            skipSpace();
            size_t vb = p;
            while (p < line.size() && (isIdentChar(line[p]) || line[p] == '.'))
                ++p;
            macros_[name] = std::string(line.substr(vb, p - vb));
        }
    }
    return i;
}

} // namespace platform::d3dx9
