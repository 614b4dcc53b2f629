// The reader shared by the text scripts (the demo script, metascripts, key
// bindings). A script is read whole and cut in place into NUL-separated
// tokens: blanks, control bytes and bytes 0x80-0xFF separate tokens, '"'
// quotes a token that may hold blanks, ';' comments to the end of the line.
// The text stays alive until the next load or the destructor, so callers
// may keep pointers to tokens. Past the end every token is empty.
#pragma once

#include "foundation/stream.h"
#include "foundation/types.h"

#include <vector>

class ScriptTokenizer {
public:
    // stream is not owned; it is opened and closed again by each load.
    explicit ScriptTokenizer(Stream* stream);
    ScriptTokenizer(const ScriptTokenizer&) = delete;
    ScriptTokenizer& operator=(const ScriptTokenizer&) = delete;
    ~ScriptTokenizer();

    Stream* stream;
    char* text = nullptr; // length + 1 bytes, the last one NUL
    u32 length = 0;
    u32 cursor = 0;                // offset of the next token
    std::vector<u32> lineStarts;   // offsets of newlines outside quotes
    i32 lineCount = 0;

    // False when the stream cannot open name (the tokenizer is then left as
    // it was). A later load frees the earlier text.
    bool load(const char* name);
    // The token at the cursor; "" at the end, on every further call.
    const char* nextToken();
    // Decimal, or hexadecimal when the token starts like 0x1F. A token that
    // is not a number reads as 0.
    int readInt();
    // A token that is not a number reads as 0.0.
    float readFloat();
    // Milliseconds from minutes:seconds.milliseconds, where each part may be
    // missing; the part after '.' counts milliseconds, it is no fraction. A
    // leading '-' makes the whole time negative.
    float readTime();
    // The line of the next token (1-based): the cursor already stands
    // behind the token just taken.
    int lineNumber() const;
    // No token is left.
    bool atEnd() const { return cursor >= length; }

private:
    void transform();
    void skipSeparators();
};
