#include "platform/d3dx9/effect_prepass.h"

#include "platform/d3dx9/effect_include.h"
#include "platform/d3dx9/effect_tokenizer.h"
#include "platform/d3dx9/hlsl_guard.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <string_view>

namespace platform::d3dx9 {

namespace {

// Types

struct TypeInfo {
    EffectBaseType base = EffectBaseType::Other;
    uint32_t rows = 1;
    uint32_t columns = 1;
    bool matrix = false;
    bool removed = false;  // texture, string, shader objects: blanked
};

bool parseSmallNumber(std::string_view s, uint32_t& v)
{
    if (s.empty() || s.size() > 6)
        return false;
    v = 0;
    for (char c : s) {
        if (!isDigit(c))
            return false;
        v = v * 10 + uint32_t(c - '0');
    }
    return true;
}

TypeInfo classifyScalarName(std::string_view s)
{
    static const struct {
        const char* name;
        EffectBaseType base;
    } names[] = {
        {"bool", EffectBaseType::Bool},        {"int", EffectBaseType::Int},
        {"uint", EffectBaseType::Int},         {"dword", EffectBaseType::Int},
        {"min16int", EffectBaseType::Int},     {"min12int", EffectBaseType::Int},
        {"min16uint", EffectBaseType::Int},    {"half", EffectBaseType::Float},
        {"float", EffectBaseType::Float},      {"double", EffectBaseType::Float},
        {"min16float", EffectBaseType::Float}, {"min10float", EffectBaseType::Float},
    };
    TypeInfo info;
    for (const auto& n : names) {
        size_t len = std::strlen(n.name);
        if (s.substr(0, len) != n.name)
            continue;
        std::string_view rest = s.substr(len);
        if (rest.empty()) {
            info.base = n.base;
            return info;
        }
        if (rest.size() == 1 && rest[0] >= '1' && rest[0] <= '4') {
            info.base = n.base;
            info.columns = uint32_t(rest[0] - '0');
            return info;
        }
        if (rest.size() == 3 && rest[0] >= '1' && rest[0] <= '4' && rest[1] == 'x' && rest[2] >= '1' &&
            rest[2] <= '4') {
            info.base = n.base;
            info.rows = uint32_t(rest[0] - '0');
            info.columns = uint32_t(rest[2] - '0');
            info.matrix = true;
            return info;
        }
    }
    return info;
}

TypeInfo classifyType(std::string_view name, const std::vector<std::string_view>& templateArgs)
{
    TypeInfo info;
    if (name == "vector") {
        info.base = EffectBaseType::Float;
        info.columns = 4;
        uint32_t n;
        if (templateArgs.size() == 2 && parseSmallNumber(templateArgs[1], n) && n >= 1 && n <= 4) {
            info.base = classifyScalarName(templateArgs[0]).base;
            info.columns = n;
        }
        return info;
    }
    if (name == "matrix") {
        info.base = EffectBaseType::Float;
        info.rows = info.columns = 4;
        info.matrix = true;
        uint32_t r, c;
        if (templateArgs.size() == 3 && parseSmallNumber(templateArgs[1], r) && parseSmallNumber(templateArgs[2], c) &&
            r >= 1 && r <= 4 && c >= 1 && c <= 4) {
            info.base = classifyScalarName(templateArgs[0]).base;
            info.rows = r;
            info.columns = c;
        }
        return info;
    }
    std::string l = lowerCopy(name);
    if (l == "sampler" || l == "sampler1d" || l == "sampler2d" || l == "sampler3d" || l == "samplercube") {
        info.base = EffectBaseType::Sampler;
        return info;
    }
    if (l == "texture" || l == "texture1d" || l == "texture2d" || l == "texture3d" || l == "texturecube" ||
        l == "string" || l == "vertexshader" || l == "pixelshader") {
        info.removed = true;
        return info;
    }
    return classifyScalarName(name);
}

// ---------------------------------------------------------------------------
// Top-level declarations

class Parser {
public:
    Parser(EffectPrepass& out) : out_(out), t_(out.text) {}

    // False (with the error in out.errors) when the text nests deeper than
    // glslang's recursive parser can take.
    bool run()
    {
        toks_ = Tokenizer(t_, macros_).run();
        skip_.assign(toks_.size(), false);
        HlslFinding deep;
        if (!checkNesting(t_, deep)) {
            size_t lineStart = t_.rfind('\n', deep.offset == 0 ? 0 : deep.offset - 1);
            lineStart = lineStart == std::string::npos || deep.offset == 0 ? 0 : lineStart + 1;
            size_t line = 1;
            for (size_t k = 0; k < lineStart; ++k)
                line += t_[k] == '\n';
            out_.errors += out_.locate(uint32_t(line), uint32_t(deep.offset - lineStart + 1)) + ": " + deep.message + "\n";
            return false;
        }
        size_t n = toks_.size();
        size_t i = 0;
        while (i < n) {
            size_t before = i;
            const Token& tk = toks_[i];
            if (isPunct(i, ';')) {
                ++i;
            } else if (isPunct(i, '{')) {
                i = skipBalanced(i);
            } else if (tk.kind == Token::Ident && isTechnique(text(i))) {
                i = technique(i);
            } else if (tk.kind == Token::Ident && (text(i) == "struct" || text(i) == "typedef")) {
                i = skipToSemicolon(i);
            } else if (tk.kind == Token::Ident && (text(i) == "cbuffer" || text(i) == "tbuffer")) {
                while (i < n && !isPunct(i, '{') && !isPunct(i, ';'))
                    ++i;
                if (i < n && isPunct(i, '{'))
                    i = skipBalanced(i);
            } else {
                i = declaration(i);
            }
            if (i <= before)
                i = before + 1;
        }
        blank();
        return true;
    }

private:
    std::string_view text(size_t i) const
    {
        return std::string_view(t_).substr(toks_[i].begin, toks_[i].end - toks_[i].begin);
    }
    bool isPunct(size_t i, char c) const
    {
        return i < toks_.size() && toks_[i].kind == Token::Punct && t_[toks_[i].begin] == c;
    }
    bool isIdent(size_t i) const { return i < toks_.size() && toks_[i].kind == Token::Ident; }
    static bool isTechnique(std::string_view s)
    {
        return iequals(s, "technique") || iequals(s, "technique9") || iequals(s, "technique10") ||
               iequals(s, "technique11");
    }

    // Index just past the bracket matching the opener at i (or the end).
    size_t skipBalanced(size_t i) const
    {
        char open = t_[toks_[i].begin];
        char close = open == '{' ? '}' : open == '(' ? ')' : open == '[' ? ']' : '>';
        size_t depth = 0;
        for (; i < toks_.size(); ++i) {
            if (isPunct(i, open))
                ++depth;
            else if (isPunct(i, close) && --depth == 0)
                return i + 1;
        }
        return toks_.size();
    }

    size_t skipToSemicolon(size_t i) const
    {
        size_t depth = 0;
        for (; i < toks_.size(); ++i) {
            if (isPunct(i, '{') || isPunct(i, '(') || isPunct(i, '['))
                ++depth;
            else if ((isPunct(i, '}') || isPunct(i, ')') || isPunct(i, ']')) && depth > 0)
                --depth;
            else if (depth == 0 && isPunct(i, ';'))
                return i + 1;
        }
        return toks_.size();
    }

    void blankTokens(size_t first, size_t last)  // inclusive token range
    {
        if (first <= last && last < toks_.size())
            blanks_.push_back({toks_[first].begin, toks_[last].end});
    }

    // Tokens [first, last) joined, with a space where the source had a gap.
    std::string join(const std::vector<size_t>& idx, size_t first, size_t last) const
    {
        std::string s;
        size_t previous = SIZE_MAX;
        for (size_t k = first; k < last; ++k) {
            if (!skip_.empty() && skip_[idx[k]])
                continue;
            if (previous != SIZE_MAX && toks_[previous].end != toks_[idx[k]].begin)
                s.push_back(' ');
            s.append(text(idx[k]));
            previous = idx[k];
        }
        return s;
    }

    // Key = value; pairs between tokens [i, end).
    std::vector<std::pair<std::string, std::string>> states(size_t i, size_t end) const
    {
        std::vector<std::pair<std::string, std::string>> list;
        while (i < end) {
            size_t stop = i;
            size_t depth = 0;
            while (stop < end && !(depth == 0 && isPunct(stop, ';'))) {
                if (isPunct(stop, '(') || isPunct(stop, '{'))
                    ++depth;
                else if ((isPunct(stop, ')') || isPunct(stop, '}')) && depth > 0)
                    --depth;
                ++stop;
            }
            size_t eq = i;
            while (eq < stop && !isPunct(eq, '='))
                ++eq;
            if (eq < stop) {
                std::vector<size_t> idx;
                for (size_t k = i; k < stop; ++k)
                    idx.push_back(k);
                std::string key = join(idx, 0, eq - i);
                size_t vb = eq + 1 - i;
                size_t ve = idx.size();
                // Texture = <T> or (T): the name alone.
                if (ve >= vb + 3 && ((isPunct(idx[vb], '<') && isPunct(idx[ve - 1], '>')) ||
                                     (isPunct(idx[vb], '(') && isPunct(idx[ve - 1], ')')))) {
                    ++vb;
                    --ve;
                }
                list.push_back({key, join(idx, vb, ve)});
            }
            i = stop + 1;
        }
        return list;
    }

    size_t technique(size_t i)
    {
        size_t first = i;
        EffectTechnique tech;
        size_t j = i + 1;
        if (isIdent(j))
            tech.name = std::string(text(j++));
        if (isPunct(j, '<'))
            j = skipBalanced(j);
        if (!isPunct(j, '{'))
            return declaration(i);
        size_t end = skipBalanced(j);
        size_t close = end - 1;  // the '}' (or the last token at end of text)
        for (size_t k = j + 1; k < close;) {
            if (isIdent(k) && iequals(text(k), "pass")) {
                EffectPass pass;
                size_t p = k + 1;
                if (isIdent(p))
                    pass.name = std::string(text(p++));
                if (isPunct(p, '<'))
                    p = skipBalanced(p);
                if (isPunct(p, '{')) {
                    size_t pend = std::min(skipBalanced(p), close);
                    pass.states = states(p + 1, pend > p + 1 ? pend - 1 : p + 1);
                    p = pend;
                }
                tech.passes.push_back(std::move(pass));
                k = std::max(p, k + 1);
            } else {
                ++k;
            }
        }
        out_.techniques.push_back(std::move(tech));
        blankTokens(first, close);
        return end;
    }

    // Whether the '<' at i opens an annotation: it follows the declared
    // name (or its array size or register) rather than a template type.
    bool annotationStart(size_t i, size_t stmt) const
    {
        if (i < stmt + 2)
            return false;
        if (isPunct(i - 1, ']') || isPunct(i - 1, ')'))
            return true;
        if (!isIdent(i - 1))
            return false;
        std::string_view prev = text(i - 1);
        return prev != "vector" && prev != "matrix" && !iequals(prev.substr(0, 7), "texture") &&
               !iequals(prev.substr(0, 7), "sampler");
    }

    size_t declaration(size_t b)
    {
        size_t n = toks_.size();
        size_t depth = 0;
        bool inInit = false;
        bool function = false;
        std::vector<size_t> kept;
        size_t j = b;
        for (; j < n; ++j) {
            if (toks_[j].kind == Token::Punct && depth == 0) {
                char c = t_[toks_[j].begin];
                if (c == ';')
                    break;
                if (c == '{' && function && !inInit)
                    return skipBalanced(j);  // a function body
                if (c == '}')
                    break;  // stray: end the statement here
                if (c == '(' && !inInit && j > b && isIdent(j - 1) && text(j - 1) != "register" &&
                    text(j - 1) != "packoffset")
                    function = true;
                if (c == '=' && !function) {
                    inInit = true;
                    if (isIdent(j + 1) && iequals(text(j + 1), "sampler_state") && isPunct(j + 2, '{')) {
                        size_t end = skipBalanced(j + 2);
                        EffectSamplerState s;
                        for (size_t k = kept.size(); k > 0; --k) {
                            if (isIdent(kept[k - 1])) {
                                s.sampler = std::string(text(kept[k - 1]));
                                break;
                            }
                        }
                        s.states = states(j + 3, end - 1 > j + 3 ? end - 1 : j + 3);
                        out_.samplerStates.push_back(std::move(s));
                        blankTokens(j, end - 1);
                        j = end - 1;
                        continue;
                    }
                }
                if (c == ',')
                    inInit = false;
                if (c == '<' && !inInit && !function && annotationStart(j, b)) {
                    size_t end = skipBalanced(j);
                    blankTokens(j, end - 1);
                    j = end - 1;
                    continue;
                }
            }
            if (toks_[j].kind == Token::Punct) {
                char c = t_[toks_[j].begin];
                if (c == '(' || c == '[' || c == '{')
                    ++depth;
                else if ((c == ')' || c == ']' || c == '}') && depth > 0)
                    --depth;
            }
            kept.push_back(j);
        }
        size_t next = j < n && isPunct(j, ';') ? j + 1 : j;
        if (function || kept.empty())
            return next;
        record(b, j, kept);
        return next;
    }

    // A variable declaration: tokens kept (annotations and sampler states
    // left out), statement from token b to the ';' at e (or the end).
    void record(size_t b, size_t e, const std::vector<size_t>& kept)
    {
        size_t p = 0;
        bool isStatic = false, isConst = false, rowMajor = false, columnMajor = false;
        std::vector<size_t> typeIdx;
        while (p < kept.size() && isIdent(kept[p])) {
            std::string_view s = text(kept[p]);
            if (s == "static")
                isStatic = true;
            else if (s == "const")
                isConst = true;
            else if (s == "row_major")
                rowMajor = true;
            else if (s == "column_major")
                columnMajor = true;
            else if (s != "uniform" && s != "extern" && s != "shared" && s != "volatile" && s != "precise" &&
                     s != "nointerpolation" && s != "groupshared")
                break;
            if (s == "row_major" || s == "column_major")
                typeIdx.push_back(kept[p]);
            ++p;
        }
        if (p >= kept.size() || !isIdent(kept[p]))
            return;
        std::string_view typeName = text(kept[p]);
        typeIdx.push_back(kept[p]);
        size_t prefixEnd = ++p;
        std::vector<std::string_view> templateArgs;
        if (p < kept.size() && isPunct(kept[p], '<')) {
            while (p < kept.size() && !isPunct(kept[p], '>')) {
                typeIdx.push_back(kept[p]);
                if (!isPunct(kept[p], '<') && !isPunct(kept[p], ','))
                    templateArgs.push_back(text(kept[p]));
                ++p;
            }
            if (p < kept.size())
                typeIdx.push_back(kept[p++]);
            prefixEnd = p;
        }
        if (p >= kept.size() || !isIdent(kept[p]))
            return;
        TypeInfo type = classifyType(typeName, templateArgs);
        size_t last = e < toks_.size() ? e : toks_.size() - 1;
        if (type.removed) {
            blankTokens(b, last);
            return;
        }

        EffectStatement stmt;
        stmt.begin = toks_[b].begin;
        stmt.end = toks_[last].end;
        stmt.prefix = join(kept, 0, prefixEnd);
        std::string typeText = join(typeIdx, 0, typeIdx.size());
        uint32_t stmtIndex = uint32_t(out_.statements.size());

        while (p < kept.size() && isIdent(kept[p])) {
            size_t declBegin = p;
            EffectGlobal g;
            g.name = std::string(text(kept[p++]));
            g.typeText = typeText;
            g.baseType = type.base;
            g.rows = type.rows;
            g.columns = type.columns;
            g.isMatrix = type.matrix;
            g.rowMajor = rowMajor;
            g.columnMajor = columnMajor;
            g.isStatic = isStatic;
            g.isConst = isConst;
            g.statement = stmtIndex;
            size_t line = lineOf(toks_[kept[declBegin]].begin);
            g.location = line < out_.lines.size() ? out_.lines[line] : SourceLocation{};
            while (p < kept.size() && isPunct(kept[p], '[')) {
                size_t close = p + 1;
                while (close < kept.size() && !isPunct(kept[close], ']'))
                    ++close;
                uint32_t dim = 0;
                std::string_view size = close == p + 2 ? text(kept[p + 1]) : std::string_view();
                auto macro = macros_.find(std::string(size));
                if (macro != macros_.end())
                    size = macro->second;
                if (parseSmallNumber(size, dim) && dim > 0) {
                    g.dims.push_back(dim);
                    g.dimsText += "[" + std::to_string(dim) + "]";
                } else {
                    g.dimsKnown = false;
                    g.dimsText += "[" + join(kept, p + 1, close) + "]";
                }
                p = close < kept.size() ? close + 1 : close;
            }
            while (p < kept.size() && isPunct(kept[p], ':')) {
                ++p;
                if (p < kept.size() && isIdent(kept[p]) && text(kept[p]) == "register" && p + 3 < kept.size() &&
                    isPunct(kept[p + 1], '(') && isIdent(kept[p + 2]) && isPunct(kept[p + 3], ')')) {
                    std::string_view r = text(kept[p + 2]);
                    uint32_t index;
                    if (r.size() >= 2 && parseSmallNumber(r.substr(1), index)) {
                        g.registerKind = lower(r[0]);
                        g.registerIndex = int(index);
                        // The translator places registers itself; glslang's
                        // offsets from register() would get in its way.
                        blankTokens(kept[p - 1], kept[p + 3]);
                        for (size_t k = p - 1; k <= p + 3; ++k)
                            skip_[kept[k]] = true;
                    }
                    p += 4;
                } else if (p < kept.size() && isIdent(kept[p])) {
                    ++p;
                    if (p < kept.size() && isPunct(kept[p], '('))  // packoffset(...)
                        while (p < kept.size() && !isPunct(kept[p], ')'))
                            ++p;
                    if (p < kept.size() && isPunct(kept[p], ')'))
                        ++p;
                }
            }
            if (g.dimsKnown && uint64_t(g.elements()) * g.components() > kMaxGlobalValues)
                g.dimsKnown = false;
            if (p < kept.size() && isPunct(kept[p], '=')) {
                size_t initBegin = ++p;
                size_t depth = 0;
                while (p < kept.size() && !(depth == 0 && isPunct(kept[p], ','))) {
                    if (isPunct(kept[p], '(') || isPunct(kept[p], '{') || isPunct(kept[p], '['))
                        ++depth;
                    else if ((isPunct(kept[p], ')') || isPunct(kept[p], '}') || isPunct(kept[p], ']')) && depth > 0)
                        --depth;
                    ++p;
                }
                g.hasDefault = initialiser(kept, initBegin, p, g.defaultValues);
            }
            // Anything else up to the next declarator is left as written.
            while (p < kept.size() && !isPunct(kept[p], ','))
                ++p;
            stmt.declarators.push_back(join(kept, declBegin, p));
            stmt.globals.push_back(uint32_t(out_.globals.size()));
            out_.globals.push_back(std::move(g));
            if (p < kept.size())
                ++p;  // ','
        }
        if (!stmt.globals.empty())
            out_.statements.push_back(std::move(stmt));
    }

    // Numbers of a constant initialiser: literals, true/false, constructors
    // and brace lists. False for anything else (an expression).
    bool initialiser(const std::vector<size_t>& kept, size_t b, size_t e, std::vector<double>& values) const
    {
        values.clear();
        double sign = 1;
        for (size_t k = b; k < e; ++k) {
            size_t i = kept[k];
            std::string_view s = text(i);
            if (toks_[i].kind == Token::Number) {
                double v;
                if (!parseNumber(s, v))
                    return false;
                values.push_back(sign * v);
                sign = 1;
            } else if (toks_[i].kind == Token::Ident) {
                if (s == "true" || s == "false") {
                    values.push_back(s == "true" ? 1 : 0);
                    sign = 1;
                } else if (!(k + 1 < e && isPunct(kept[k + 1], '('))) {
                    return false;  // a name: not a constant we can evaluate
                }
            } else if (toks_[i].kind == Token::Punct) {
                char c = t_[toks_[i].begin];
                if (c == '-')
                    sign = -sign;
                else if (c != '+' && c != '(' && c != ')' && c != '{' && c != '}' && c != ',')
                    return false;
            } else {
                return false;
            }
            if (values.size() > 4096)
                return false;
        }
        return !values.empty();
    }

    static bool parseNumber(std::string_view s, double& v)
    {
        if (s.size() > 2 && s[0] == '0' && lower(s[1]) == 'x') {
            std::string_view digits = s.substr(2);
            while (!digits.empty() && (lower(digits.back()) == 'u' || lower(digits.back()) == 'l'))
                digits.remove_suffix(1);
            uint64_t u = 0;
            auto r = std::from_chars(digits.data(), digits.data() + digits.size(), u, 16);
            if (r.ec != std::errc() || r.ptr != digits.data() + digits.size())
                return false;
            v = double(u);
            return true;
        }
        while (!s.empty() && std::strchr("fFhHlLuU", s.back()))
            s.remove_suffix(1);
        auto r = std::from_chars(s.data(), s.data() + s.size(), v);
        return r.ec == std::errc() && r.ptr == s.data() + s.size();
    }

    size_t lineOf(size_t offset)
    {
        // Offsets only grow while recording, so walk forward.
        while (lineCursor_ < offset && lineCursor_ < t_.size()) {
            if (t_[lineCursor_] == '\n')
                ++lineIndex_;
            ++lineCursor_;
        }
        return lineIndex_;
    }

    void blank()
    {
        for (const auto& [b, e] : blanks_)
            for (size_t k = b; k < e && k < out_.text.size(); ++k)
                if (out_.text[k] != '\n')
                    out_.text[k] = ' ';
    }

    EffectPrepass& out_;
    const std::string& t_;
    std::vector<Token> toks_;
    std::map<std::string, std::string> macros_;
    std::vector<std::pair<size_t, size_t>> blanks_;
    std::vector<bool> skip_;  // tokens left out of rewritten declarations
    size_t lineCursor_ = 0;
    size_t lineIndex_ = 0;
};

std::string formatScalar(EffectBaseType base, uint32_t w)
{
    char buf[64];
    switch (base) {
    case EffectBaseType::Bool:
        return w ? "true" : "false";
    case EffectBaseType::Int:
        return std::to_string(int32_t(w));
    default: {
        float f;
        std::memcpy(&f, &w, 4);
        if (!std::isfinite(f)) {
            std::snprintf(buf, sizeof buf, "asfloat(0x%08Xu)", w);
            return buf;
        }
        // to_chars: shortest exact form, whatever the C locale says.
        auto r = std::to_chars(buf, buf + sizeof buf, f);
        std::string s(buf, r.ptr);
        if (s.find_first_of(".e") == std::string::npos)
            s += ".0";
        return s;
    }
    }
}

const char* baseName(EffectBaseType base)
{
    return base == EffectBaseType::Bool ? "bool" : base == EffectBaseType::Int ? "int" : "float";
}

std::string formatElement(const EffectGlobal& g, const std::vector<uint32_t>& words, size_t element)
{
    uint32_t comps = g.components();
    auto word = [&](size_t i) { return i < words.size() ? words[i] : 0u; };
    if (comps == 1 && !g.isMatrix)
        return formatScalar(g.baseType, word(element));
    std::string s = baseName(g.baseType);
    if (g.isMatrix)
        s += std::to_string(g.rows) + "x" + std::to_string(g.columns);
    else
        s += std::to_string(g.columns);
    s += "(";
    for (uint32_t c = 0; c < comps; ++c) {
        if (c)
            s += ", ";
        s += formatScalar(g.baseType, word(element * comps + c));
    }
    return s + ")";
}

std::string formatArray(const EffectGlobal& g, const std::vector<uint32_t>& words, size_t dim, size_t& element)
{
    if (dim == g.dims.size())
        return formatElement(g, words, element++);
    std::string s = "{";
    for (uint32_t i = 0; i < g.dims[dim]; ++i) {
        if (i)
            s += ", ";
        s += formatArray(g, words, dim + 1, element);
    }
    return s + "}";
}

} // namespace

uint32_t EffectGlobal::elements() const
{
    uint64_t n = 1;
    for (uint32_t d : dims) {
        n *= d;
        if (n > (1u << 20))
            return 1u << 20;
    }
    return uint32_t(n);
}

const EffectGlobal* EffectPrepass::findGlobal(const std::string& name) const
{
    for (const EffectGlobal& g : globals)
        if (g.name == name)
            return &g;
    return nullptr;
}

std::string EffectPrepass::locate(uint32_t textLine, uint32_t column) const
{
    if (textLine == 0 || textLine > lines.size())
        return locationText("", textLine, column);
    const SourceLocation& l = lines[textLine - 1];
    return locationText(l.file < files.size() ? files[l.file] : std::string(), l.line, column);
}

EffectPrepass runEffectPrepass(const char* source, size_t length, ID3DXInclude* include)
{
    EffectPrepass out;
    out.files.push_back("");
    if (!source)
        length = 0;
    if (!expandIncludes(source, length, include, out)) {
        out.text.clear();
        out.lines.clear();
        return out;
    }
    if (!Parser(out).run()) {
        out.text.clear();
        out.lines.clear();
        return out;
    }
    out.ok = true;
    return out;
}

std::string applyLiterals(const EffectPrepass& prepass, const std::vector<const std::vector<uint32_t>*>& literals)
{
    std::string out;
    out.reserve(prepass.text.size() + 256);
    size_t pos = 0;
    for (const EffectStatement& s : prepass.statements) {
        bool any = false;
        for (uint32_t g : s.globals) {
            const EffectGlobal& gl = prepass.globals[g];
            if (g < literals.size() && literals[g] && gl.dimsKnown &&
                (gl.baseType == EffectBaseType::Bool || gl.baseType == EffectBaseType::Int ||
                 gl.baseType == EffectBaseType::Float))
                any = true;
        }
        if (!any || s.begin < pos || s.end > prepass.text.size())
            continue;
        out.append(prepass.text, pos, s.begin - pos);
        for (size_t k = 0; k < s.globals.size(); ++k) {
            const EffectGlobal& g = prepass.globals[s.globals[k]];
            const std::vector<uint32_t>* value = s.globals[k] < literals.size() ? literals[s.globals[k]] : nullptr;
            if (value && g.dimsKnown &&
                (g.baseType == EffectBaseType::Bool || g.baseType == EffectBaseType::Int ||
                 g.baseType == EffectBaseType::Float)) {
                size_t element = 0;
                out += "static const " + g.typeText + " " + g.name + g.dimsText + " = " +
                       formatArray(g, *value, 0, element) + "; ";
            } else {
                out += s.prefix + " " + s.declarators[k] + "; ";
            }
        }
        for (size_t k = s.begin; k < s.end; ++k)
            if (prepass.text[k] == '\n')
                out.push_back('\n');
        pos = s.end;
    }
    out.append(prepass.text, pos, std::string::npos);
    return out;
}

std::vector<uint32_t> defaultWords(const EffectGlobal& g)
{
    if (!g.dimsKnown)
        return {};
    size_t count = size_t(g.elements()) * g.components();
    std::vector<uint32_t> words(count, 0);
    if (!g.hasDefault || g.defaultValues.empty())
        return words;
    for (size_t i = 0; i < count; ++i) {
        double v = g.defaultValues.size() == 1 ? g.defaultValues[0]
                                                : (i < g.defaultValues.size() ? g.defaultValues[i] : 0.0);
        switch (g.baseType) {
        case EffectBaseType::Bool:
            words[i] = v != 0 ? 1 : 0;
            break;
        case EffectBaseType::Int: {
            double c = std::isnan(v) ? 0 : std::fmin(std::fmax(std::trunc(v), -2147483648.0), 2147483647.0);
            words[i] = uint32_t(int32_t(c));
            break;
        }
        default: {
            float f = float(v);
            std::memcpy(&words[i], &f, 4);
            break;
        }
        }
    }
    return words;
}

} // namespace platform::d3dx9
