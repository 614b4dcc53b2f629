#include "platform/d3dx9/effect_include.h"

#include "platform/d3dx9/effect_tokenizer.h"

#include <algorithm>

namespace platform::d3dx9 {

namespace {

class Expander {
public:
    Expander(ID3DXInclude* include, EffectPrepass& out) : include_(include), out_(out) {}

    bool expand(const char* text, size_t length, uint32_t file, int depth)
    {
        bool inComment = false;
        size_t pos = 0;
        uint32_t lineNo = 0;
        while (pos < length) {
            ++lineNo;
            size_t end = pos;
            while (end < length && text[end] != '\n' && text[end] != '\r')
                ++end;
            std::string_view line(text + pos, end - pos);
            size_t next = end;
            if (next < length) {
                next += (text[next] == '\r' && next + 1 < length && text[next + 1] == '\n') ? 2 : 1;
            }
            pos = next;

            size_t nul = line.find('\0');
            if (nul != std::string_view::npos) {
                error(file, lineNo, uint32_t(nul + 1), "error: illegal character in shader file");
                return false;
            }
            if (!inComment) {
                int handled = includeDirective(line, file, lineNo, depth, text);
                if (handled < 0)
                    return false;
                if (handled > 0)
                    continue;
            }
            std::string clamped;
            if (!inComment && clampLine(line, clamped))
                line = clamped;
            inComment = scanComments(line, inComment);
            out_.text.append(line.data(), line.size());
            out_.text.push_back('\n');
            out_.lines.push_back({file, lineNo});
            if (out_.text.size() > kMaxExpandedBytes) {
                error(file, lineNo, 1, "error: effect text too large");
                return false;
            }
        }
        return true;
    }

private:
    // "#line N" with N past kMaxLineNumber, as `clamped`: glslang counts
    // lines in an int, so a number near its end wraps and error locations
    // come out negative.
    static bool clampLine(std::string_view line, std::string& clamped)
    {
        size_t i = line.find_first_not_of(" \t");
        if (i == std::string_view::npos || line[i] != '#')
            return false;
        i = line.find_first_not_of(" \t", i + 1);
        if (i == std::string_view::npos || line.substr(i, 4) != "line" || i + 4 >= line.size() ||
            (line[i + 4] != ' ' && line[i + 4] != '\t'))
            return false;
        size_t b = line.find_first_not_of(" \t", i + 4);
        if (b == std::string_view::npos || !isDigit(line[b]))
            return false;
        size_t e = b;
        uint64_t value = 0;
        while (e < line.size() && isDigit(line[e])) {
            value = std::min<uint64_t>(value * 10 + uint64_t(line[e] - '0'), uint64_t(kMaxLineNumber) + 1);
            ++e;
        }
        if (value <= kMaxLineNumber)
            return false;
        clamped = std::string(line.substr(0, b)) + std::to_string(kMaxLineNumber) + std::string(line.substr(e));
        return true;
    }

    // Whether a block comment is still open at the end of the line.
    static bool scanComments(std::string_view line, bool inComment)
    {
        for (size_t i = 0; i < line.size(); ++i) {
            char c = line[i];
            if (inComment) {
                if (c == '*' && i + 1 < line.size() && line[i + 1] == '/') {
                    inComment = false;
                    ++i;
                }
            } else if (c == '"') {
                for (++i; i < line.size() && line[i] != '"'; ++i)
                    if (line[i] == '\\')
                        ++i;
            } else if (c == '/' && i + 1 < line.size()) {
                if (line[i + 1] == '/')
                    return false;
                if (line[i + 1] == '*') {
                    inComment = true;
                    ++i;
                }
            }
        }
        return inComment;
    }

    // 0: not an include line; 1: expanded; -1: failed (error recorded).
    int includeDirective(std::string_view line, uint32_t file, uint32_t lineNo, int depth, const char* parentData)
    {
        size_t i = 0;
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        if (i >= line.size() || line[i] != '#')
            return 0;
        size_t hash = i;
        ++i;
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        if (line.substr(i, 7) != "include" || (i + 7 < line.size() && isIdentChar(line[i + 7])))
            return 0;
        i += 7;
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        uint32_t column = uint32_t(hash + 1);
        char close = 0;
        D3DXINCLUDE_TYPE type = D3DXINC_LOCAL;
        if (i < line.size() && line[i] == '"')
            close = '"';
        else if (i < line.size() && line[i] == '<') {
            close = '>';
            type = D3DXINC_SYSTEM;
        }
        size_t nameEnd = close ? line.find(close, i + 1) : std::string_view::npos;
        if (!close || nameEnd == std::string_view::npos || nameEnd == i + 1) {
            error(file, lineNo, column, "error: #include expects \"FILENAME\" or <FILENAME>");
            return -1;
        }
        std::string name(line.substr(i + 1, nameEnd - i - 1));
        std::string key = lowerCopy(name);
        for (const std::string& open : stack_) {
            if (open == key) {
                error(file, lineNo, column, "error: '" + name + "' includes itself");
                return -1;
            }
        }
        if (depth + 1 > kMaxIncludeDepth) {
            error(file, lineNo, column, "error: #include nested too deeply");
            return -1;
        }
        if (++includes_ > kMaxIncludes) {
            error(file, lineNo, column, "error: too many #include files");
            return -1;
        }
        if (!include_) {
            error(file, lineNo, column, "error: failed to open source file: '" + name + "' (no include handler)");
            return -1;
        }
        LPCVOID data = nullptr;
        UINT bytes = 0;
        HRESULT hr = include_->Open(type, name.c_str(), depth == 0 ? nullptr : parentData, &data, &bytes);
        if (FAILED(hr)) {
            error(file, lineNo, column, "error: failed to open source file: '" + name + "'");
            return -1;
        }
        uint32_t index = uint32_t(out_.files.size());
        out_.files.push_back(name);
        stack_.push_back(key);
        bool ok = data || bytes == 0 ? expand(static_cast<const char*>(data), data ? bytes : 0, index, depth + 1)
                                     : true;
        stack_.pop_back();
        include_->Close(data);
        return ok ? 1 : -1;
    }

    void error(uint32_t file, uint32_t line, uint32_t column, const std::string& message)
    {
        out_.errors += locationText(file < out_.files.size() ? out_.files[file] : std::string(), line, column) +
                       ": " + message + "\n";
    }

    ID3DXInclude* include_;
    EffectPrepass& out_;
    std::vector<std::string> stack_;
    size_t includes_ = 0;
};

} // namespace

bool expandIncludes(const char* text, size_t length, ID3DXInclude* include, EffectPrepass& out)
{
    return Expander(include, out).expand(text, length, 0, 0);
}

} // namespace platform::d3dx9
