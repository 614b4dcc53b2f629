#include "foundation/byte_string.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(String, EmptyTextHasSizeOne)
{
    String s;
    EXPECT_EQ(s.size, 1u);
    EXPECT_STREQ(s.data, "");
}

TEST(String, AppendReturnsOldLengthAndKeepsSize)
{
    String s("ab");
    EXPECT_EQ(s.append(""), 2u);
    EXPECT_EQ(s.size, 3u);
    EXPECT_EQ(s.append("cd"), 2u);
    EXPECT_STREQ(s.data, "abcd");
    EXPECT_EQ(s.size, 5u);
}

TEST(String, AppendToFreedStringStartsAtZero)
{
    String s("xyz");
    s.resize(0);
    EXPECT_EQ(s.data, nullptr);
    EXPECT_EQ(s.append("q"), 0u);
    EXPECT_STREQ(s.data, "q");
    EXPECT_EQ(s.size, 2u);
}

TEST(String, GrowthRule)
{
    String s;
    s.resize(100);
    EXPECT_EQ(s.capacity, 100u); // the first allocation is exact
    s.resize(101);
    EXPECT_EQ(s.capacity, 112u);

    String t;
    t.resize(10);
    t.resize(11);
    EXPECT_EQ(t.capacity, 14u);

    String big;
    big.resize(1000000);
    big.resize(1000001);
    EXPECT_EQ(big.capacity, 1000000u + 65536u);

    // Asking for more than the growth gives exactly what was asked.
    String u;
    u.resize(10);
    u.resize(500);
    EXPECT_EQ(u.capacity, 500u);

    // Shrinking keeps capacity and bytes.
    u.data[3] = 'k';
    u.resize(5);
    EXPECT_EQ(u.capacity, 500u);
    EXPECT_EQ(u.data[3], 'k');
}

TEST(String, BetweenDelimiters)
{
    EXPECT_STREQ(String("say \"hi\" now", '"', '"', "- internal error -").data, "hi");
    EXPECT_STREQ(String("a \"\" b", '"', '"', "- internal error -").data, "- internal error -");
    EXPECT_STREQ(String("no quote", '"', '"', "- internal error -").data, "- internal error -");
    EXPECT_STREQ(String("one \" only", '"', '"', "- internal error -").data, "- internal error -");
    EXPECT_STREQ(String("no quote", '"', '"', nullptr).data, "");
    // first open, last close: inner quotes are kept
    EXPECT_STREQ(String("x \"a\" && \"b\" y", '"', '"', nullptr).data, "a\" && \"b");
    // close before open selects the fallback
    EXPECT_STREQ(String("]x[", '[', ']', "fb").data, "fb");
    String single("(z)", '(', ')', nullptr);
    EXPECT_EQ(single.size, 2u);
    EXPECT_STREQ(single.data, "z");
}

TEST(String, FormatSizesExactly)
{
    String s = String::format("%d-%s", 42, "x");
    EXPECT_STREQ(s.data, "42-x");
    EXPECT_EQ(s.size, 5u);
    String empty = String::format("%s", "");
    EXPECT_EQ(empty.size, 1u);
    std::string longText(5000, 'q');
    String l = String::format("%s!", longText.c_str());
    EXPECT_EQ(l.size, 5002u);
    EXPECT_EQ(l.data[5000], '!');
}

TEST(String, CopiesAreDeep)
{
    String a("hello");
    String b(a);
    b.data[0] = 'j';
    EXPECT_STREQ(a.data, "hello");
    String c;
    c = b;
    EXPECT_STREQ(c.data, "jello");
    String moved(std::move(c));
    EXPECT_STREQ(moved.data, "jello");
    EXPECT_EQ(c.data, nullptr);
}

TEST(FormatTemp, TruncatesAt255)
{
    std::string text(300, 'a');
    const char* r = formatTemp("%s", text.c_str());
    EXPECT_EQ(std::strlen(r), 255u);
    // exactly 256 characters must still come back terminated
    std::string exact(256, 'b');
    r = formatTemp("%s", exact.c_str());
    EXPECT_EQ(std::strlen(r), 255u);
    std::string fits(255, 'c');
    r = formatTemp("%s", fits.c_str());
    EXPECT_EQ(std::string(r), fits);
    EXPECT_STREQ(formatTemp("%d", 7), "7");
}

TEST(FormatHex, LowerCaseNoPrefix)
{
    EXPECT_STREQ(formatHex(255).data, "ff");
    EXPECT_STREQ(formatHex(0x40000001u).data, "40000001");
    EXPECT_STREQ(formatHex(0xFFFFFFFFu).data, "ffffffff");
}
