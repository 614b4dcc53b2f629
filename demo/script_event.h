// One timed command of the demo script, and the table of the script's
// keywords. Keyword ids are what the event runner switches on; they are not
// row numbers and leave gaps.
#pragma once

#include "foundation/types.h"

// One argument word: which member holds the value follows from the
// keyword's argspec. Strings point into the script text, which the demo
// keeps alive as long as its events.
union ScriptArgument {
    const char* text;
    i32 integer;
    float real;
};

struct ScriptEvent {
    i32 time; // milliseconds of demo time
    i32 id;   // ScriptKeyword::id
    ScriptArgument args[8];
};

enum ScriptArgumentKind : u32 {
    kScriptString = 0,
    kScriptInteger = 1, // readInt: decimal or 0x hexadecimal
    kScriptFloat = 2,
    kScriptTime = 3, // readTime, kept as float milliseconds
};

// argspec layout: bits 0-2 the argument count, then two bits per argument
// kind, argument i at bit 3 + 2i.
struct ScriptKeyword {
    i32 id;
    const char* name; // null in the row that ends the table
    u32 argspec;

    u32 argumentCount() const { return argspec & 7; }
    ScriptArgumentKind argumentKind(u32 i) const { return (ScriptArgumentKind)((argspec >> (3 + 2 * i)) & 3); }
};

constexpr u32 scriptArgspec()
{
    return 0;
}

template <typename... Kinds>
constexpr u32 scriptArgspec(Kinds... kinds)
{
    static_assert(sizeof...(kinds) <= 7, "the count has three bits");
    u32 spec = sizeof...(kinds);
    u32 shift = 3;
    ((spec |= (u32)kinds << shift, shift += 2), ...);
    return spec;
}

// The keywords in table order, ended by a row whose name is null.
extern const ScriptKeyword scriptKeywords[];
constexpr u32 kScriptKeywordCount = 57;

// The first row whose name equals name ignoring case, or null.
const ScriptKeyword* findScriptKeyword(const char* name);
