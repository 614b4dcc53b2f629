#include "foundation/script_tokenizer.h"

#include "foundation/memory_stream.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

// A tokenizer with the script loaded under the name "t.scr".
struct Loaded {
    MemoryStream stream;
    ScriptTokenizer tokens{&stream};

    explicit Loaded(const std::string& script)
        : stream("t.scr", script)
    {
        EXPECT_TRUE(tokens.load("t.scr"));
    }
};

std::vector<std::string> allTokens(const std::string& script)
{
    Loaded t(script);
    std::vector<std::string> out;
    while (!t.tokens.atEnd())
        out.push_back(t.tokens.nextToken());
    EXPECT_STREQ(t.tokens.nextToken(), "");
    return out;
}

using Tokens = std::vector<std::string>;

} // namespace

TEST(ScriptTokenizer, QuotesKeepBlanksAndCommentsRunToLineEnd)
{
    Loaded t("a \"b c\" ; d");
    EXPECT_STREQ(t.tokens.nextToken(), "a");
    EXPECT_STREQ(t.tokens.nextToken(), "b c");
    EXPECT_TRUE(t.tokens.atEnd());
    // The end yields the empty token again and again.
    EXPECT_STREQ(t.tokens.nextToken(), "");
    EXPECT_STREQ(t.tokens.nextToken(), "");
    EXPECT_EQ(t.tokens.cursor, t.tokens.length);
}

TEST(ScriptTokenizer, QuotingRules)
{
    // An empty quoted text is no token; a quote in the middle of a word
    // splits it.
    EXPECT_EQ(allTokens("a \"\" b"), (Tokens{"a", "b"}));
    EXPECT_EQ(allTokens("ab\"cd\"ef"), (Tokens{"ab", "cd", "ef"}));
    // ';' and newlines are ordinary inside quotes.
    EXPECT_EQ(allTokens("\"x;y\nz\" w"), (Tokens{"x;y\nz", "w"}));
    // A '"' inside a comment does not start quoting.
    EXPECT_EQ(allTokens("a ; \"b\nc \"d e\""), (Tokens{"a", "c", "d e"}));
    // An unterminated quote runs to the end of the text.
    EXPECT_EQ(allTokens("a \"b c\nd ; e"), (Tokens{"a", "b c\nd ; e"}));
}

TEST(ScriptTokenizer, ScriptsWithNothingToRead)
{
    for (const char* script : {"", " \t\r\n", "; only a comment", "; one\n;two\r\n\n   ; three\n", "\"\""}) {
        Loaded t(script);
        EXPECT_TRUE(t.tokens.atEnd()) << script;
        EXPECT_STREQ(t.tokens.nextToken(), "");
        EXPECT_EQ(t.tokens.readInt(), 0);
        EXPECT_EQ(t.tokens.readFloat(), 0.0f);
        EXPECT_EQ(t.tokens.readTime(), 0.0f);
    }
}

TEST(ScriptTokenizer, SeparatorBytes)
{
    // A last line that is a comment without a line end.
    EXPECT_EQ(allTokens("x y\n; end"), (Tokens{"x", "y"}));
    EXPECT_EQ(allTokens("x;c"), (Tokens{"x"}));
    // CR LF line ends, tabs and NUL bytes.
    EXPECT_EQ(allTokens("a\r\nb\tc\r\n"), (Tokens{"a", "b", "c"}));
    EXPECT_EQ(allTokens(std::string("a\0b", 3)), (Tokens{"a", "b"}));
    // Bytes 0x80-0xFF separate outside quotes and stay inside them.
    EXPECT_EQ(allTokens("a\xE4" "b\x80" "c\xFF" "d"), (Tokens{"a", "b", "c", "d"}));
    EXPECT_EQ(allTokens("\"a\xE4" "b\" c"), (Tokens{"a\xE4" "b", "c"}));
    // Every byte from 0x21 to 0x7F except '"' and ';' is part of a token.
    std::string printable;
    for (int c = 0x21; c <= 0x7F; ++c)
        if (c != '"' && c != ';')
            printable += (char)c;
    EXPECT_EQ(allTokens(printable), (Tokens{printable}));
}

TEST(ScriptTokenizer, LineNumberNamesTheLineOfTheNextToken)
{
    Loaded t("a\nb\nc d\ne");
    EXPECT_EQ(t.tokens.lineCount, 3);
    EXPECT_EQ(t.tokens.lineNumber(), 1);
    t.tokens.nextToken(); // a, the last token of line 1
    EXPECT_EQ(t.tokens.lineNumber(), 2);
    t.tokens.nextToken(); // b
    EXPECT_STREQ(t.tokens.nextToken(), "c");
    EXPECT_EQ(t.tokens.lineNumber(), 3);
    EXPECT_STREQ(t.tokens.nextToken(), "d");
    EXPECT_EQ(t.tokens.lineNumber(), 4);
    t.tokens.nextToken(); // e
    EXPECT_EQ(t.tokens.lineNumber(), 4);
}

TEST(ScriptTokenizer, LineNumberCountsOnlyNewlinesOutsideQuotes)
{
    // Lines 1-2 are one quoted token; the comment's newline still counts,
    // and so does each LF of a CR LF.
    Loaded t("\"x\ny\" ; note\r\n\r\nz");
    EXPECT_EQ(t.tokens.lineCount, 2);
    EXPECT_STREQ(t.tokens.nextToken(), "x\ny");
    EXPECT_EQ(t.tokens.lineNumber(), 3);
    EXPECT_STREQ(t.tokens.nextToken(), "z");
    EXPECT_EQ(t.tokens.lineNumber(), 3);
}

TEST(ScriptTokenizer, LineNumberOverManyLines)
{
    std::string script;
    for (int i = 0; i < 5000; ++i)
        script += "t" + std::to_string(i) + (i % 3 ? " ; c\n" : "\n\n");
    Loaded t(script);
    int line = 1;
    for (int i = 0; i < 5000; ++i) {
        ASSERT_EQ(t.tokens.lineNumber(), line) << i; // blank lines are passed over first
        ASSERT_EQ(t.tokens.nextToken(), "t" + std::to_string(i));
        line += i % 3 ? 1 : 2;
    }
    EXPECT_EQ(t.tokens.lineNumber(), line);
}

TEST(ScriptTokenizer, ReadInt)
{
    Loaded t("0X10 -5 0x1F 0xffffffff 42 +7 12abc abc 0x 7");
    EXPECT_EQ(t.tokens.readInt(), 16);
    EXPECT_EQ(t.tokens.readInt(), -5);
    EXPECT_EQ(t.tokens.readInt(), 31);
    EXPECT_EQ(t.tokens.readInt(), -1); // all 32 bits
    EXPECT_EQ(t.tokens.readInt(), 42);
    EXPECT_EQ(t.tokens.readInt(), 7);
    EXPECT_EQ(t.tokens.readInt(), 12);
    EXPECT_EQ(t.tokens.readInt(), 0); // not a number
    EXPECT_EQ(t.tokens.readInt(), 0);
    // A one-byte last token, then the empty token: under the address
    // sanitizer this also checks that no byte past the text is read.
    EXPECT_EQ(t.tokens.readInt(), 7);
    EXPECT_EQ(t.tokens.readInt(), 0);
    EXPECT_EQ(t.tokens.readInt(), 0);
}

TEST(ScriptTokenizer, ReadFloat)
{
    Loaded t("2.5 -0.125 1e3 7 junk");
    EXPECT_EQ(t.tokens.readFloat(), 2.5f);
    EXPECT_EQ(t.tokens.readFloat(), -0.125f);
    EXPECT_EQ(t.tokens.readFloat(), 1000.0f);
    EXPECT_EQ(t.tokens.readFloat(), 7.0f);
    EXPECT_EQ(t.tokens.readFloat(), 0.0f);
    EXPECT_EQ(t.tokens.readFloat(), 0.0f); // past the end
}

TEST(ScriptTokenizer, ReadTime)
{
    struct Case {
        const char* token;
        float ms;
    };
    const Case cases[] = {
        {"2:00", 120000.0f},
        {"0:01.250", 1250.0f},
        {"750", 750.0f},
        // The part after '.' counts milliseconds.
        {"1:02.5", 62005.0f},
        {"1.5", 1005.0f},
        {"0:00.000", 0.0f},
        {"1:", 60000.0f},
        {":30", 30000.0f},
        {".7", 7.0f},
        {"3.", 3000.0f},
        {":", 0.0f},
        {".", 0.0f},
        {"-1", -1.0f},
        {"-0:01.000", -1000.0f}, // the sign is the whole time's
        {"-1:30", -90000.0f},
        {"2.7.5", 2007.5f}, // only the first '.' splits
        {"x:y.z", 0.0f},
        // A '.' before the ':' reads as minutes:seconds.
        {"1.5:20", 110000.0f},
        {"0.5:", 30000.0f},
    };
    std::string script;
    for (const Case& c : cases)
        script += std::string(c.token) + "\n";
    Loaded t(script);
    for (const Case& c : cases)
        EXPECT_EQ(t.tokens.readTime(), c.ms) << c.token;
    EXPECT_EQ(t.tokens.readTime(), 0.0f); // past the end
}

TEST(ScriptTokenizer, LoadFailsWithoutTouchingTheText)
{
    Loaded t("a b");
    EXPECT_STREQ(t.tokens.nextToken(), "a");
    EXPECT_FALSE(t.tokens.load("missing.scr"));
    EXPECT_STREQ(t.tokens.nextToken(), "b");

    ScriptTokenizer none(nullptr);
    EXPECT_FALSE(none.load("t.scr"));
    EXPECT_STREQ(none.nextToken(), "");
    EXPECT_EQ(none.readInt(), 0);
    EXPECT_EQ(none.lineNumber(), 1);
}

TEST(ScriptTokenizer, SecondLoadStartsAfresh)
{
    MemoryStream stream("one", "a\nb\nc");
    stream.files["two"] = "x y";
    ScriptTokenizer t(&stream);
    ASSERT_TRUE(t.load("one"));
    t.nextToken();
    t.nextToken();
    EXPECT_EQ(t.lineNumber(), 3);
    // The first text is freed (the leak checker of the sanitizer build
    // would see it otherwise) and its lines are forgotten.
    ASSERT_TRUE(t.load("two"));
    EXPECT_EQ(t.lineCount, 0);
    EXPECT_EQ(t.lineNumber(), 1);
    EXPECT_STREQ(t.nextToken(), "x");
    EXPECT_STREQ(t.nextToken(), "y");
    EXPECT_TRUE(t.atEnd());
    EXPECT_EQ(stream.opens, 2);
    EXPECT_EQ(stream.closes, 2);
}

TEST(ScriptTokenizer, ShortReadEndsTheScriptWhereTheBytesEnd)
{
    MemoryStream stream("t.scr", "alpha beta gamma\n");
    stream.readLimit = 8; // "alpha be"
    ScriptTokenizer t(&stream);
    ASSERT_TRUE(t.load("t.scr"));
    EXPECT_EQ(t.length, 8u);
    EXPECT_STREQ(t.nextToken(), "alpha");
    EXPECT_STREQ(t.nextToken(), "be");
    EXPECT_TRUE(t.atEnd());
    EXPECT_EQ(stream.closes, 1);

    stream.readLimit = 0;
    ASSERT_TRUE(t.load("t.scr"));
    EXPECT_TRUE(t.atEnd());
    EXPECT_STREQ(t.nextToken(), "");
}
