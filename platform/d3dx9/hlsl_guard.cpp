#include "platform/d3dx9/hlsl_guard.h"

#include "platform/d3dx9/effect_tokenizer.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <vector>

namespace platform::d3dx9 {

namespace {

class TokenText {
public:
    TokenText(const std::string& text, std::vector<Token> toks) : t_(text), toks_(std::move(toks)) {}

    size_t size() const { return toks_.size(); }
    const Token& operator[](size_t i) const { return toks_[i]; }
    std::string_view text(size_t i) const
    {
        return std::string_view(t_).substr(toks_[i].begin, toks_[i].end - toks_[i].begin);
    }
    bool punct(size_t i, char c) const
    {
        return i < toks_.size() && toks_[i].kind == Token::Punct && t_[toks_[i].begin] == c;
    }
    bool ident(size_t i, std::string_view s) const
    {
        return i < toks_.size() && toks_[i].kind == Token::Ident && text(i) == s;
    }
    char ch(size_t i) const { return t_[toks_[i].begin]; }
    // Whether token i directly follows token i - 1 (no gap): "&&", "<=".
    bool joined(size_t i) const { return i > 0 && toks_[i - 1].end == toks_[i].begin; }

private:
    const std::string& t_;
    std::vector<Token> toks_;
};

TokenText tokenize(const std::string& text)
{
    std::map<std::string, std::string> macros;
    return TokenText(text, Tokenizer(text, macros).run());
}

bool isControl(std::string_view s)
{
    return s == "if" || s == "else" || s == "for" || s == "while" || s == "do" || s == "switch";
}

// Identifiers after which an operator is a prefix, not a binary operator.
bool isStatementWord(std::string_view s)
{
    return s == "return" || s == "else" || s == "do" || s == "case";
}

bool isOperatorChar(char c)
{
    return std::string_view("+-*/%<>=!&|^~?").find(c) != std::string_view::npos;
}

// The measure: an upper estimate of glslang's recursion at each token, and
// the length of the binary-operator chain it is in. Index of the first
// token past a limit (with the message), or SIZE_MAX.
size_t measure(const TokenText& tk, std::string& message)
{
    struct Scope {
        char close;
        bool list;     // arguments or an initialiser: commas separate
        bool control;  // the head of if/for/while/switch
        uint32_t depth, chain, prefix, terms;
    };
    std::vector<Scope> scopes;
    uint32_t depth = 0, chain = 0, prefix = 0, terms = 0;
    bool operand = false;       // the previous token ends an operand
    bool afterOperand = false;  // the operator being read follows an operand
    size_t n = tk.size();
    auto nextIsElse = [&](size_t i) { return tk.ident(i + 1, "else"); };
    for (size_t i = 0; i < n; ++i) {
        const Token& t = tk[i];
        if (t.kind == Token::Ident) {
            std::string_view s = tk.text(i);
            if (isControl(s))
                ++chain;
            operand = !isControl(s) && !isStatementWord(s);
        } else if (t.kind != Token::Punct) {
            operand = true;
        } else {
            char c = tk.ch(i);
            if (c == '(' || c == '[' || c == '{') {
                bool list = c == '(' || (c == '{' && i > 0 && (tk.punct(i - 1, '=') || tk.punct(i - 1, ',') ||
                                                               tk.punct(i - 1, '{')));
                bool control = c == '(' && i > 0 && tk[i - 1].kind == Token::Ident && isControl(tk.text(i - 1));
                scopes.push_back({c == '(' ? ')' : c == '[' ? ']' : '}', list, control, depth, chain, prefix, terms});
                depth += chain + prefix + 1;
                chain = prefix = 0;
                operand = false;
            } else if (c == ')' || c == ']' || c == '}') {
                bool control = false;
                if (!scopes.empty() && scopes.back().close == c) {
                    control = scopes.back().control;
                    depth = scopes.back().depth;
                    chain = scopes.back().chain;
                    prefix = scopes.back().prefix;
                    terms = scopes.back().terms;
                    scopes.pop_back();
                }
                if (c == '}') {
                    prefix = terms = 0;
                    if (!nextIsElse(i))
                        chain = 0;
                    operand = false;
                } else {
                    operand = true;
                    // "(float)x": a cast recurses like a prefix operator.
                    bool next = i + 1 < n && (tk[i + 1].kind == Token::Number ||
                                              (tk[i + 1].kind == Token::Ident && !isControl(tk.text(i + 1))) ||
                                              tk.punct(i + 1, '('));
                    if (c == ')' && !control && next)
                        ++prefix;
                }
            } else if (c == ';') {
                prefix = terms = 0;
                if (!nextIsElse(i))
                    chain = 0;
                operand = false;
            } else if (c == ',' && !scopes.empty() && scopes.back().list) {
                prefix = 0;
                terms = scopes.back().terms;
                operand = false;
            } else if (c == '=' && !(tk.joined(i) && std::string_view("=!<>").find(tk.ch(i - 1)) != std::string_view::npos) &&
                       !(i + 1 < n && tk.joined(i + 1) && tk.punct(i + 1, '='))) {
                ++prefix;  // assignments nest to the right
                operand = false;
            } else if (c == '?') {
                ++prefix;  // so do conditionals
                operand = false;
            } else if (isOperatorChar(c) || c == ',') {
                if (!(tk.joined(i) && tk[i - 1].kind == Token::Punct && isOperatorChar(tk.ch(i - 1)))) {
                    afterOperand = operand;
                    if (operand)
                        ++terms;
                    else
                        ++prefix;
                    operand = false;
                } else if ((c == '+' || c == '-') && tk.ch(i - 1) == c && afterOperand) {
                    --terms;  // "a++": a postfix operator, not a term
                    afterOperand = false;
                    operand = true;
                } else {
                    operand = false;
                }
            } else {
                operand = false;
            }
        }
        if (uint64_t(depth) + chain + prefix > kMaxNesting) {
            message = "error: expression or statement nested too deeply";
            return i;
        }
        if (terms > kMaxExpressionTerms) {
            message = "error: expression too long";
            return i;
        }
    }
    return SIZE_MAX;
}

bool isModifier(std::string_view s)
{
    static const char* const words[] = {"uniform", "extern", "shared", "volatile", "precise", "const",
                                        "row_major", "column_major", "nointerpolation", "groupshared",
                                        "linear", "centroid", "noperspective", "sample", "snorm", "unorm",
                                        "in", "out", "inout", "inline"};
    return std::any_of(std::begin(words), std::end(words), [&](const char* w) { return s == w; });
}

bool isBuiltinTypeName(std::string_view s)
{
    static const char* const bases[] = {"bool", "int", "uint", "dword", "half", "float", "double",
                                        "min16", "min10", "min12", "vector", "matrix", "sampler", "texture"};
    return std::any_of(std::begin(bases), std::end(bases), [&](const char* b) { return s.rfind(b, 0) == 0; });
}

// A global uniform declared twice: glslang dereferences null when the two
// types differ ("int b; int b[2];", also "int b[2] b" as its declarator
// loop goes on without a comma). Declarator names are taken generously:
// every identifier at the statement's own level where glslang's loop could
// take one. Index of the second declaration, or SIZE_MAX.
struct GlobalNames {
    std::set<std::string_view> uniforms;  // declarator names of non-static globals
    std::set<std::string_view> statics;   // identifiers of static non-const statements
    std::set<std::string_view> consts;    // identifiers of static const statements
    std::set<std::string_view> types;     // struct and typedef names
};

size_t redeclared(const TokenText& tk, GlobalNames& globals)
{
    size_t n = tk.size();
    std::set<std::string_view>& names = globals.uniforms;
    std::set<std::string_view>& types = globals.types;
    size_t i = 0;
    auto skipBalanced = [&](size_t j) {
        char open = tk.ch(j);
        char close = open == '{' ? '}' : open == '(' ? ')' : ']';
        size_t d = 0;
        for (; j < n; ++j) {
            if (tk.punct(j, open))
                ++d;
            else if (tk.punct(j, close) && --d == 0)
                return j + 1;
        }
        return n;
    };
    while (i < n) {
        if (tk.punct(i, '{')) {
            i = skipBalanced(i);
            continue;
        }
        if (tk.punct(i, ';') || tk[i].kind != Token::Ident) {
            ++i;
            continue;
        }
        size_t end = i;  // the statement's ';' (or the end), skipping bodies
        bool function = false;
        for (size_t paren = 0; end < n && !(paren == 0 && tk.punct(end, ';')); ++end) {
            if (tk.punct(end, '(')) {
                if (paren == 0 && end > i && tk[end - 1].kind == Token::Ident && tk.text(end - 1) != "register" &&
                    tk.text(end - 1) != "packoffset")
                    function = true;
                ++paren;
            } else if (tk.punct(end, ')') && paren > 0) {
                --paren;
            } else if (tk.punct(end, '{') && paren == 0 && (function || tk.ident(i, "struct") ||
                                                            tk.ident(i, "cbuffer") || tk.ident(i, "tbuffer"))) {
                end = skipBalanced(end);
                break;
            } else if (tk.punct(end, '{') && paren == 0) {
                end = skipBalanced(end) - 1;  // an initialiser list
            }
        }
        std::string_view first = tk.text(i);
        if (first == "struct" || first == "typedef") {
            for (size_t k = i + 1; k < end && k < n; ++k)
                if (tk[k].kind == Token::Ident && !tk.punct(k - 1, ':'))
                    types.insert(tk.text(k));
        }
        bool isStatic = false, isConst = false;
        for (size_t k = i; k < end && k < n && tk[k].kind == Token::Ident; ++k) {
            isStatic |= tk.text(k) == "static";
            isConst |= tk.text(k) == "const";
            if (tk.text(k) != "static" && !isModifier(tk.text(k)))
                break;
        }
        if (isStatic && !function) {
            for (size_t k = i; k < end && k < n; ++k)
                if (tk[k].kind == Token::Ident)
                    (isConst ? globals.consts : globals.statics).insert(tk.text(k));
        }
        if (function || isStatic || first == "struct" || first == "typedef" || first == "cbuffer" ||
            first == "tbuffer") {
            i = std::max(end, i + 1);
            continue;
        }
        size_t k = i;
        while (k < end && tk[k].kind == Token::Ident && isModifier(tk.text(k)))
            ++k;
        ++k;  // the type
        if (k < end && tk.punct(k, '<'))
            while (k < end && !tk.punct(k++, '>')) {
            }
        size_t paren = 0, parenOpen = 0, brace = 0;
        for (size_t j = k; j < end; ++j) {
            if (tk.punct(j, '{') || tk.punct(j, '}')) {
                brace = tk.punct(j, '{') ? brace + 1 : brace - (brace > 0);
                continue;
            }
            if (brace > 0)
                continue;
            if (tk.punct(j, '(')) {
                if (paren++ == 0)
                    parenOpen = j;
                continue;
            }
            if (tk.punct(j, ')')) {
                paren -= paren > 0;
                continue;
            }
            if (paren > 0 || tk[j].kind != Token::Ident)
                continue;
            bool candidate = j == k;
            if (j > k) {
                const Token& p = tk[j - 1];
                if (p.kind == Token::Number || p.kind == Token::String || p.kind == Token::Ident)
                    candidate = true;
                else if (tk.punct(j - 1, ',') || tk.punct(j - 1, ']') || tk.punct(j - 1, '}'))
                    candidate = true;
                else if (tk.punct(j - 1, ')')) {
                    // "(float)x" is a cast; "(x) y" leaves y to the declarator loop.
                    bool cast = parenOpen + 2 == j - 1 && tk[parenOpen + 1].kind == Token::Ident &&
                                (isBuiltinTypeName(tk.text(parenOpen + 1)) || types.count(tk.text(parenOpen + 1)));
                    candidate = !cast;
                }
            }
            if (candidate && !names.insert(tk.text(j)).second)
                return j;
        }
        i = std::max(end, i + 1);
    }
    return SIZE_MAX;
}

// Brackets that do not hold one expression: glslang's array specifier goes
// on after a missing "]" with an array type of no size, and dereferences
// null later ("float4 f(float4 [ : COLOR0)", "int d[n d"). Index of the
// offending token, or SIZE_MAX.
size_t malformedBrackets(const TokenText& tk)
{
    struct Open {
        char close;
        size_t last = SIZE_MAX;  // last token at this level
    };
    std::vector<Open> stack;
    size_t brackets = 0;  // '[' open anywhere on the stack
    auto endsOperand = [&](size_t i) {
        bool postfix = i > 0 && (tk.punct(i, '+') || tk.punct(i, '-')) && tk.joined(i) && tk.ch(i - 1) == tk.ch(i);
        return tk[i].kind != Token::Punct || tk.punct(i, ')') || tk.punct(i, ']') || postfix;
    };
    auto cast = [&](size_t close) {  // ")" of "(float)"
        return close >= 2 && tk.punct(close - 2, '(') && tk[close - 1].kind == Token::Ident &&
               isBuiltinTypeName(tk.text(close - 1));
    };
    for (size_t i = 0; i < tk.size(); ++i) {
        bool inBracket = !stack.empty() && stack.back().close == ']';
        if (inBracket) {
            Open& top = stack.back();
            if (top.last == SIZE_MAX) {
                bool starts = tk[i].kind != Token::Punct ||
                              std::string_view("(]-+!~").find(tk.ch(i)) != std::string_view::npos;
                if (!starts)
                    return i;
            } else if (tk[i].kind != Token::Punct && endsOperand(top.last) &&
                       !(tk.punct(top.last, ')') && cast(top.last))) {
                return i;
            }
            if (tk.punct(i, ']') && top.last != SIZE_MAX && !endsOperand(top.last))
                return i;
            if (!tk.punct(i, ']'))
                top.last = i;
        }
        if (tk[i].kind != Token::Punct)
            continue;
        char c = tk.ch(i);
        if ((c == ';' || c == '{' || c == '}') && brackets > 0)
            return i;
        if (c == '(' || c == '[' || c == '{') {
            stack.push_back({c == '(' ? ')' : c == '[' ? ']' : '}'});
            brackets += c == '[';
        } else if (c == ')' || c == ']' || c == '}') {
            if (!stack.empty() && stack.back().close == c) {
                brackets -= c == ']';
                stack.pop_back();
                if (!stack.empty() && stack.back().close == ']')
                    stack.back().last = i;
            } else if (c == ']' || (!stack.empty() && stack.back().close == ']')) {
                return i;
            }
        }
    }
    for (size_t k = 0; k < stack.size(); ++k)
        if (stack[k].close == ']')
            return tk.size() - 1;
    return SIZE_MAX;
}

// Parameter qualifiers at global scope: glslang refuses them with a name
// after them but dereferences null without one ("in float", "point float4").
// Index of the first, or SIZE_MAX.
size_t globalParameterQualifier(const TokenText& tk)
{
    static const char* const words[] = {"in", "out", "inout", "point", "line", "triangle", "lineadj", "triangleadj"};
    size_t depth = 0;
    for (size_t i = 0; i < tk.size(); ++i) {
        if (tk.punct(i, '(') || tk.punct(i, '{') || tk.punct(i, '['))
            ++depth;
        else if ((tk.punct(i, ')') || tk.punct(i, '}') || tk.punct(i, ']')) && depth > 0)
            --depth;
        else if (depth == 0 && tk[i].kind == Token::Ident &&
                 std::any_of(std::begin(words), std::end(words), [&](const char* w) { return tk.text(i) == w; }))
            return i;
    }
    return SIZE_MAX;
}

// Text that stops inside a statement: glslang's parser meets the end of
// its input half way through a rule and dereferences null on several such
// paths ("return a ? b :", "in float"). A whole effect ends with ';' or '}'
// and closes every bracket. The last token, or SIZE_MAX.
size_t unexpectedEnd(const TokenText& tk)
{
    if (tk.size() == 0)
        return SIZE_MAX;
    size_t last = tk.size() - 1;
    if (!tk.punct(last, ';') && !tk.punct(last, '}'))
        return last;
    std::vector<char> open;
    for (size_t i = 0; i < tk.size(); ++i) {
        if (tk[i].kind != Token::Punct)
            continue;
        char c = tk.ch(i);
        if (c == '(' || c == '[' || c == '{')
            open.push_back(c == '(' ? ')' : c == '[' ? ']' : '}');
        else if ((c == ')' || c == ']' || c == '}') && !open.empty() && open.back() == c)
            open.pop_back();
    }
    return open.empty() ? SIZE_MAX : last;
}

// "++" and "--" after something glslang cannot write (a uniform, a constant,
// a literal, a call): it reports the error and then dereferences the null
// node it made in most places the operand can stand ("1 + n++", "return
// n++", "max(n++, 1)"). Allowed on a variable, member or element rooted at a
// name declared writable in a function (a local or parameter, not const or
// uniform) or a static global. Index of the operator, or SIZE_MAX.
size_t unwritableIncrement(const TokenText& tk, const GlobalNames& globals)
{
    size_t n = tk.size();
    std::set<std::string_view> writable, readOnly;
    size_t depth = 0;
    int declaring = 0;  // in a declaration statement: 1 writable, 2 read-only
    for (size_t i = 0; i + 1 < n; ++i) {
        if (tk.punct(i, '(') || tk.punct(i, '{') || tk.punct(i, '['))
            ++depth;
        else if ((tk.punct(i, ')') || tk.punct(i, '}') || tk.punct(i, ']')) && depth > 0)
            --depth;
        if (tk.punct(i, ';') || tk.punct(i, '{') || tk.punct(i, '}'))
            declaring = 0;
        // "int i = 0, j = 0": the names after the first.
        if (declaring && depth > 0 && tk.punct(i, ',') && tk[i + 1].kind == Token::Ident &&
            (i + 2 >= n || tk.punct(i + 2, '=') || tk.punct(i + 2, ';') || tk.punct(i + 2, ',') ||
             tk.punct(i + 2, '[')))
            (declaring == 2 ? readOnly : writable).insert(tk.text(i + 1));
        if (depth == 0 || tk[i].kind != Token::Ident || tk[i + 1].kind != Token::Ident || isStatementWord(tk.text(i)))
            continue;
        bool constant = false;  // the qualifiers in front of the type
        for (size_t k = i; k > 0 && tk[k - 1].kind == Token::Ident; --k) {
            std::string_view q = tk.text(k - 1);
            constant |= q == "const" || q == "uniform";
            if (q != "static" && !isModifier(q))
                break;
        }
        (constant ? readOnly : writable).insert(tk.text(i + 1));
        declaring = constant ? 2 : 1;
    }
    auto canWrite = [&](std::string_view name) {
        return (writable.count(name) || globals.statics.count(name)) && !readOnly.count(name) &&
               !globals.uniforms.count(name) && !globals.consts.count(name);
    };
    for (size_t i = 1; i + 1 < n; ++i) {
        bool incDec = (tk.punct(i, '+') && tk.punct(i + 1, '+')) || (tk.punct(i, '-') && tk.punct(i + 1, '-'));
        if (!incDec || !tk.joined(i + 1))
            continue;
        size_t s = i - 1;  // walk back over the operand: name, .member, [index]
        if (!(tk[s].kind != Token::Punct || tk.punct(s, ')') || tk.punct(s, ']')))
            continue;  // a prefix operator
        bool plain = true;
        while (true) {
            if (tk.punct(s, ']') || tk.punct(s, ')')) {
                plain &= tk.punct(s, ']');
                char open = tk.punct(s, ']') ? '[' : '(';
                char close = tk.ch(s);
                size_t d = 0;
                while (true) {
                    if (tk.punct(s, close))
                        ++d;
                    else if (tk.punct(s, open) && --d == 0)
                        break;
                    if (s == 0)
                        return i;
                    --s;
                }
                if (s == 0 || tk[s - 1].kind == Token::Number || tk.punct(s - 1, '+') || tk.punct(s - 1, '-') ||
                    !(tk[s - 1].kind == Token::Ident || tk.punct(s - 1, ']') || tk.punct(s - 1, ')'))) {
                    plain = false;  // a bracketed expression, not an element
                    break;
                }
                --s;
            } else if (tk[s].kind == Token::Ident && s >= 2 && tk.punct(s - 1, '.')) {
                s -= 2;
            } else {
                break;
            }
        }
        if (!plain || tk[s].kind != Token::Ident || !canWrite(tk.text(s)))
            return i;
    }
    return SIZE_MAX;
}

// Macro expansion estimate. A use's weight is linear in the weight of its
// arguments: constant tokens plus a multiple of everything passed in.
struct Weight {
    uint64_t c = 0;  // tokens of its own
    uint64_t p = 0;  // copies of the arguments
};

constexpr uint64_t kSaturate = uint64_t(1) << 40;

uint64_t sat(uint64_t v)
{
    return std::min(v, kSaturate);
}

struct Macro {
    bool function = false;
    std::vector<std::string> params;
    std::string body;
};

class MacroEstimate {
public:
    bool define(std::string_view line)
    {
        size_t p = 0;
        auto space = [&] {
            while (p < line.size() && (line[p] == ' ' || line[p] == '\t'))
                ++p;
        };
        space();
        size_t nb = p;
        while (p < line.size() && isIdentChar(line[p]))
            ++p;
        if (p == nb)
            return false;
        std::string name(line.substr(nb, p - nb));
        Macro m;
        if (p < line.size() && line[p] == '(') {
            m.function = true;
            ++p;
            while (p < line.size() && line[p] != ')') {
                space();
                size_t b = p;
                while (p < line.size() && (isIdentChar(line[p]) || line[p] == '.'))
                    ++p;
                if (p > b)
                    m.params.emplace_back(line.substr(b, p - b));
                space();
                if (p < line.size() && line[p] != ')')
                    ++p;
            }
            ++p;
        }
        m.body = std::string(line.substr(std::min(p, line.size())));
        defs_[name].push_back(std::move(m));
        return true;
    }

    bool isMacro(std::string_view name) const { return defs_.count(std::string(name)) != 0; }

    // The largest argument multiple of any function-like macro: what a
    // macro name followed by "(" may make of its arguments.
    uint64_t callMultiple()
    {
        if (!callMultiple_) {
            callMultiple_ = 1;
            for (auto& [name, list] : defs_)
                callMultiple_ = std::max(*callMultiple_, weight(name).p);
        }
        return *callMultiple_;
    }

    Weight weight(const std::string& name)
    {
        auto memo = memo_.find(name);
        if (memo != memo_.end())
            return memo->second;
        auto it = defs_.find(name);
        if (it == defs_.end() || busy_.count(name) || busy_.size() > 256) {
            if (busy_.size() > 256)
                tooDeep_ = true;
            return {1, 0};  // not expanded again inside itself
        }
        busy_.insert(name);
        Weight w;
        for (const Macro& m : it->second) {
            Weight one = walk(m.body, m.params, nullptr);
            w.c = std::max(w.c, one.c);
            w.p = std::max(w.p, one.p);
        }
        busy_.erase(name);
        memo_[name] = w;
        return w;
    }

    // The weight of tokens of text; with maxDepth, also the deepest bracket
    // or call nesting seen (the preprocessor recurses on macro arguments).
    Weight walk(const std::string& text, const std::vector<std::string>& params, uint32_t* maxDepth)
    {
        struct Frame {
            Weight acc;
            bool call = false;
            Weight macro;
            uint64_t multiple = 1;
        };
        TokenText tk = tokenize(text);
        std::vector<Frame> frames(1);
        for (size_t i = 0; i < tk.size(); ++i) {
            Weight add{1, 0};
            if (tk[i].kind == Token::Ident) {
                std::string name(tk.text(i));
                if (std::find(params.begin(), params.end(), name) != params.end()) {
                    add = {0, 1};
                } else if (isMacro(name) && tk.punct(i + 1, '(')) {
                    Frame f;
                    f.call = true;
                    f.macro = weight(name);
                    f.multiple = std::max<uint64_t>(f.macro.p, defs_[name].front().function ? 0 : callMultiple());
                    f.multiple = std::max<uint64_t>(f.multiple, 1);
                    frames.push_back(f);
                    ++i;  // the '('
                    if (maxDepth)
                        *maxDepth = std::max(*maxDepth, uint32_t(frames.size() - 1));
                    continue;
                } else if (isMacro(name)) {
                    add = weight(name);
                }
            } else if (tk.punct(i, '(') || tk.punct(i, '[') || tk.punct(i, '{')) {
                Frame f;
                f.acc = {1, 0};
                frames.push_back(f);
                if (maxDepth)
                    *maxDepth = std::max(*maxDepth, uint32_t(frames.size() - 1));
                continue;
            } else if ((tk.punct(i, ')') || tk.punct(i, ']') || tk.punct(i, '}')) && frames.size() > 1) {
                Frame f = frames.back();
                frames.pop_back();
                add = f.call ? Weight{sat(f.macro.c + sat(f.multiple * f.acc.c)), sat(f.multiple * f.acc.p)}
                             : Weight{f.acc.c + 1, f.acc.p};
            }
            Weight& acc = frames.back().acc;
            acc.c = sat(acc.c + add.c);
            acc.p = sat(acc.p + add.p);
        }
        while (frames.size() > 1) {  // unclosed: count what is there
            Weight a = frames.back().acc;
            frames.pop_back();
            frames.back().acc.c = sat(frames.back().acc.c + a.c);
            frames.back().acc.p = sat(frames.back().acc.p + a.p);
        }
        return frames.back().acc;
    }

    bool tooDeep() const { return tooDeep_; }

private:
    std::map<std::string, std::vector<Macro>> defs_;
    std::map<std::string, Weight> memo_;
    std::set<std::string> busy_;
    std::optional<uint64_t> callMultiple_;
    bool tooDeep_ = false;
};

void find(const std::string& text, size_t at, const char* what, HlslFinding& finding)
{
    finding.offset = std::min(at, text.size());
    finding.message = what;
}

} // namespace

bool checkNesting(const std::string& text, HlslFinding& finding)
{
    TokenText tk = tokenize(text);
    std::string message;
    size_t at = measure(tk, message);
    if (at == SIZE_MAX)
        return true;
    finding.offset = tk[at].begin;
    finding.message = message;
    return false;
}

bool checkParserInput(const std::string& text, HlslFinding& finding)
{
    TokenText tk = tokenize(text);
    std::string message;
    size_t at = measure(tk, message);
    if (at == SIZE_MAX) {
        at = malformedBrackets(tk);
        if (at != SIZE_MAX)
            message = "error X3000: syntax error: unexpected token in brackets";
    }
    if (at == SIZE_MAX) {
        at = globalParameterQualifier(tk);
        if (at != SIZE_MAX)
            message = "error X3000: '" + std::string(tk.text(at)) + "' is only valid on function parameters";
    }
    GlobalNames globals;
    if (at == SIZE_MAX) {
        at = redeclared(tk, globals);
        if (at != SIZE_MAX)
            message = "error X3003: redefinition of '" + std::string(tk.text(at)) + "'";
    }
    if (at == SIZE_MAX) {
        at = unwritableIncrement(tk, globals);
        if (at != SIZE_MAX)
            message = "error X3025: l-value specifies const object";
    }
    if (at == SIZE_MAX) {
        at = unexpectedEnd(tk);
        if (at != SIZE_MAX)
            message = "error X3000: syntax error: unexpected end of file";
    }
    if (at == SIZE_MAX)
        return true;
    finding.offset = tk[at].begin;
    finding.message = message;
    return false;
}

bool checkPreprocessorInput(const std::string& text, HlslFinding& finding)
{
    // Definitions are collected from the directive lines (continuations
    // joined); the text lines and #if expressions are then weighed.
    MacroEstimate macros;
    std::string plain;  // text lines and #if expressions, newlines kept
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = pos;
        std::string line;
        while (end < text.size() && text[end] != '\n') {
            if (text[end] == '\\' && end + 1 < text.size() && text[end + 1] == '\n') {
                end += 2;
                continue;
            }
            line.push_back(text[end++]);
        }
        size_t p = line.find_first_not_of(" \t");
        if (p != std::string::npos && line[p] == '#') {
            ++p;
            while (p < line.size() && (line[p] == ' ' || line[p] == '\t'))
                ++p;
            std::string_view word = std::string_view(line).substr(p);
            std::string expression;
            if (word.rfind("define", 0) == 0 && word.size() > 6 && (word[6] == ' ' || word[6] == '\t'))
                macros.define(word.substr(6));
            else if (word.rfind("if", 0) == 0 || word.rfind("elif", 0) == 0)
                expression = std::string(word.substr(std::min(word.find_first_of(" \t("), word.size())));
            line = std::move(expression);
        }
        plain += line;
        plain.push_back('\n');
        pos = end + 1;
    }
    uint32_t depth = 0;
    Weight total = macros.walk(plain, {}, &depth);
    if (macros.tooDeep()) {
        find(text, 0, "error: macros nested too deeply", finding);
        return false;
    }
    if (depth > kMaxNesting) {
        find(text, 0, "error: expression or statement nested too deeply", finding);
        return false;
    }
    TokenText raw = tokenize(plain);
    if (total.c > raw.size() + kMaxMacroExpansion) {
        find(text, 0, "error: macro expansion too large", finding);
        return false;
    }
    return true;
}

} // namespace platform::d3dx9
