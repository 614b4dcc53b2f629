#include "demo/demo.h"
#include "demo/script_event.h"

#include "foundation/diagnostics.h"
#include "foundation/memory_stream.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

class DemoScript : public ::testing::Test {
protected:
    MemoryStream stream;
    Demo demo{nullptr};
    int savedLevel = diagnosticsLevel;

    void SetUp() override
    {
        diagnosticsLevel = 2;
        platform::clearRecordedMessageBoxes();
    }
    void TearDown() override
    {
        diagnosticsLevel = savedLevel;
        platform::clearRecordedMessageBoxes();
    }

    bool parse(const std::string& script)
    {
        stream.files["scene.scr"] = script;
        demo.script = std::make_unique<ScriptTokenizer>(&stream);
        EXPECT_TRUE(demo.script->load("scene.scr"));
        return demo.parseSceneScript();
    }

    // The one box shown, checked for owner, caption and icon.
    std::string shownError()
    {
        const auto& boxes = platform::recordedMessageBoxes();
        if (boxes.size() != 1)
            return "(" + std::to_string(boxes.size()) + " boxes)";
        EXPECT_EQ(boxes[0].owner, (HWND)NULL);
        EXPECT_EQ(boxes[0].caption, "Parse Error");
        EXPECT_EQ(boxes[0].type, (UINT)MB_ICONEXCLAMATION);
        return boxes[0].text;
    }
};

const ScriptKeyword& row(const char* name)
{
    const ScriptKeyword* k = findScriptKeyword(name);
    EXPECT_NE(k, nullptr) << name;
    static const ScriptKeyword none{-1, nullptr, 0};
    return k ? *k : none;
}

std::vector<ScriptArgumentKind> kinds(const ScriptKeyword& k)
{
    std::vector<ScriptArgumentKind> out;
    for (u32 i = 0; i < k.argumentCount(); ++i)
        out.push_back(k.argumentKind(i));
    return out;
}

using Kinds = std::vector<ScriptArgumentKind>;
constexpr ScriptArgumentKind S = kScriptString;
constexpr ScriptArgumentKind I = kScriptInteger;
constexpr ScriptArgumentKind F = kScriptFloat;

// A script line with arguments of the right kinds for every keyword.
std::string everyKeywordScript()
{
    std::string script;
    for (const ScriptKeyword* k = scriptKeywords; k->name; ++k) {
        script += "0:01.000 ";
        script += k->name;
        for (u32 i = 0; i < k->argumentCount(); ++i)
            script += k->argumentKind(i) == kScriptString ? " name" : " 1";
        script += "\n";
    }
    return script;
}

} // namespace

TEST(ScriptKeywords, RowsIdsArgumentsAndLookup)
{
    const std::vector<int> ids = {0,  1,  2,  3,  4,  5,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18, 19,
                                  20, 21, 22, 23, 24, 25, 26, 34, 35, 36, 37, 40, 41, 43, 45, 50, 51, 52, 53,
                                  54, 55, 56, 57, 58, 59, 60, 61, 62, 63, 64, 65, 66, 67, 68, 69, 71, 75, 99};
    ASSERT_EQ(ids.size(), kScriptKeywordCount);
    std::set<std::string> names;
    for (u32 i = 0; i < kScriptKeywordCount; ++i) {
        const ScriptKeyword& k = scriptKeywords[i];
        ASSERT_NE(k.name, nullptr) << i;
        EXPECT_EQ(k.id, ids[i]) << k.name;
        EXPECT_TRUE(names.insert(k.name).second) << k.name;
        for (u32 a = 0; a < k.argumentCount(); ++a)
            EXPECT_NE(k.argumentKind(a), kScriptTime) << k.name;
        // Nothing beyond the counted arguments.
        EXPECT_EQ(k.argspec >> (3 + 2 * k.argumentCount()), 0u) << k.name;
    }
    EXPECT_EQ(scriptKeywords[kScriptKeywordCount].name, nullptr);

    EXPECT_EQ(kinds(row("stopdemo")), Kinds{});
    EXPECT_EQ(kinds(row("cam")), (Kinds{S, I}));
    EXPECT_EQ(kinds(row("clear")), (Kinds{S, I, I}));
    EXPECT_EQ(kinds(row("view")), (Kinds{S, F, F, F, F}));
    EXPECT_EQ(kinds(row("fadein")), (Kinds{F, I}));
    EXPECT_EQ(kinds(row("picflash")), (Kinds{F, S}));
    EXPECT_EQ(kinds(row("imssetpos")), (Kinds{I, I}));
    EXPECT_EQ(kinds(row("loadobjectlayer")), (Kinds{S, S, I}));
    EXPECT_EQ(kinds(row("setbounds")), (Kinds{F, F, F, F, F, F}));
    EXPECT_EQ(kinds(row("version")), (Kinds{S}));

    // Case is ignored, nothing else.
    EXPECT_EQ(findScriptKeyword("STOPDEMO"), &scriptKeywords[0]);
    EXPECT_EQ(findScriptKeyword("SetUserCamShiftSpeed")->id, 67);
    EXPECT_EQ(findScriptKeyword("setusercam"), nullptr);
    EXPECT_EQ(findScriptKeyword("stopdemo "), nullptr);
    EXPECT_EQ(findScriptKeyword(""), nullptr);
}

TEST_F(DemoScript, EmptyAndCommentOnlyScriptsAreValid)
{
    EXPECT_TRUE(parse(""));
    EXPECT_TRUE(parse("; nothing but a comment"));
    EXPECT_TRUE(parse("\r\n  ; one\r\n\t; two\r\n"));
    EXPECT_TRUE(demo.events.empty());
    EXPECT_TRUE(platform::recordedMessageBoxes().empty());
}

TEST_F(DemoScript, NoScriptFailsQuietly)
{
    EXPECT_FALSE(demo.parseSceneScript());
    EXPECT_TRUE(platform::recordedMessageBoxes().empty());
}

TEST_F(DemoScript, EventsCarryTimeIdAndArgumentsByKind)
{
    ASSERT_TRUE(parse("0:00.000 version \"content 1\"  ; a comment\r\n"
                      "0:00.000 STOPDEMO\r\n"
                      "0:02.5 clear Hall 0x3 0xFF00FF80\r\n"
                      "1:00 setbounds -1 2.5 3 4 5 6\n"
                      "1:00 loadobjectlayer scene objects/a.lwo 2\n"
                      "1:01 fadein 2.000 -16\n"));
    ASSERT_EQ(demo.events.size(), 6u);
    const auto& e = demo.events;

    EXPECT_EQ(e[0].time, 0);
    EXPECT_EQ(e[0].id, 99);
    EXPECT_STREQ(e[0].args[0].text, "content 1");
    EXPECT_EQ(e[1].id, 0); // capitals accepted

    EXPECT_EQ(e[2].time, 2005); // the part after '.' counts milliseconds
    EXPECT_EQ(e[2].id, 12);
    EXPECT_STREQ(e[2].args[0].text, "Hall");
    EXPECT_EQ(e[2].args[1].integer, 3);
    EXPECT_EQ((u32)e[2].args[2].integer, 0xFF00FF80u);

    EXPECT_EQ(e[3].time, 60000);
    EXPECT_EQ(e[3].id, 65);
    const float bounds[6] = {-1.0f, 2.5f, 3.0f, 4.0f, 5.0f, 6.0f};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(e[3].args[i].real, bounds[i]) << i;

    EXPECT_EQ(e[4].id, 63);
    EXPECT_STREQ(e[4].args[0].text, "scene");
    EXPECT_STREQ(e[4].args[1].text, "objects/a.lwo");
    EXPECT_EQ(e[4].args[2].integer, 2);

    EXPECT_EQ(e[5].time, 61000);
    EXPECT_EQ(e[5].args[0].real, 2.0f);
    EXPECT_EQ(e[5].args[1].integer, -16);
    // String arguments point into the script's text.
    EXPECT_GE(e[4].args[1].text, demo.script->text);
    EXPECT_LT(e[4].args[1].text, demo.script->text + demo.script->length);
}

TEST_F(DemoScript, EveryKeywordParsesInTableOrder)
{
    ASSERT_TRUE(parse(everyKeywordScript()));
    ASSERT_EQ(demo.events.size(), kScriptKeywordCount);
    for (u32 i = 0; i < kScriptKeywordCount; ++i) {
        const ScriptKeyword& k = scriptKeywords[i];
        EXPECT_EQ(demo.events[i].id, k.id);
        EXPECT_EQ(demo.events[i].time, 1000);
        for (u32 a = 0; a < k.argumentCount(); ++a) {
            const ScriptArgument& arg = demo.events[i].args[a];
            switch (k.argumentKind(a)) {
            case kScriptString: EXPECT_STREQ(arg.text, "name") << k.name; break;
            case kScriptInteger: EXPECT_EQ(arg.integer, 1) << k.name; break;
            default: EXPECT_EQ(arg.real, 1.0f) << k.name; break;
            }
        }
    }
}

TEST_F(DemoScript, TokensAreCountedNotLines)
{
    // hold has one argument too few on its line, so it takes the keyword of
    // the next line, whose own time then stands first.
    ASSERT_TRUE(parse("0 hold\n"
                      "restart 10 stopdemo\n"));
    ASSERT_EQ(demo.events.size(), 2u);
    EXPECT_EQ(demo.events[0].id, 9);
    EXPECT_STREQ(demo.events[0].args[0].text, "restart");
    EXPECT_EQ(demo.events[1].time, 10);
    EXPECT_EQ(demo.events[1].id, 0);

    // The other way round: a keyword on a line of its own, its arguments
    // spread over lines.
    demo.events.clear();
    ASSERT_TRUE(parse("0\ncam\nintro\n3\n"));
    ASSERT_EQ(demo.events.size(), 1u);
    EXPECT_EQ(demo.events[0].args[1].integer, 3);
}

TEST_F(DemoScript, MissingArgumentsAtTheEndReadAsEmpty)
{
    ASSERT_TRUE(parse("0 stopdemo\n5 clear hall"));
    ASSERT_EQ(demo.events.size(), 2u);
    EXPECT_STREQ(demo.events[1].args[0].text, "hall");
    EXPECT_EQ(demo.events[1].args[1].integer, 0);
    EXPECT_EQ(demo.events[1].args[2].integer, 0);

    demo.events.clear();
    ASSERT_TRUE(parse("7 createtext"));
    ASSERT_EQ(demo.events.size(), 1u);
    EXPECT_STREQ(demo.events[0].args[0].text, "");
    EXPECT_STREQ(demo.events[0].args[1].text, "");

    // A time with no keyword after it is an unknown empty keyword.
    demo.events.clear();
    EXPECT_FALSE(parse("0 stopdemo 1"));
    EXPECT_EQ(demo.events.size(), 1u);
    EXPECT_EQ(shownError(), "scene.scr(1): error: Unknown keyword \"\"!");
}

TEST_F(DemoScript, OddTokens)
{
    // An unterminated quote runs to the end; bytes 0x80-0xFF separate.
    ASSERT_TRUE(parse("0\xA0stopdemo\xFF" "1 version \"abc\n; not a comment"));
    ASSERT_EQ(demo.events.size(), 2u);
    EXPECT_EQ(demo.events[0].id, 0);
    EXPECT_EQ(demo.events[1].time, 1);
    EXPECT_STREQ(demo.events[1].args[0].text, "abc\n; not a comment");

    // Non-numbers read as 0 wherever a number is expected.
    demo.events.clear();
    ASSERT_TRUE(parse("zero fov wide\n"));
    EXPECT_EQ(demo.events[0].time, 0);
    EXPECT_EQ(demo.events[0].args[0].integer, 0);
}

TEST_F(DemoScript, EqualTimesKeepFileOrder)
{
    ASSERT_TRUE(parse("1:00 start a\n1:00 start b\n1:00.000 start c\n"));
    ASSERT_EQ(demo.events.size(), 3u);
    EXPECT_STREQ(demo.events[0].args[0].text, "a");
    EXPECT_STREQ(demo.events[1].args[0].text, "b");
    EXPECT_STREQ(demo.events[2].args[0].text, "c");
}

TEST_F(DemoScript, TimesTruncateTowardZero)
{
    // -0.5 ms truncates to 0, so it is not before the start.
    ASSERT_TRUE(parse("0.-0.5 stopdemo\n0.10.9 stopdemo\n"));
    EXPECT_EQ(demo.events[0].time, 0);
    EXPECT_EQ(demo.events[1].time, 10);

    // Times beyond the int32 range saturate.
    demo.events.clear();
    ASSERT_TRUE(parse("1e30 stopdemo"));
    EXPECT_EQ(demo.events[0].time, INT32_MAX);
    demo.events.clear();
    ASSERT_TRUE(parse("nan stopdemo"));
    EXPECT_EQ(demo.events[0].time, 0);
}

TEST_F(DemoScript, OrderErrors)
{
    // A negative first time: the comparison starts at 0.
    EXPECT_FALSE(parse("-1 stopdemo\n"));
    EXPECT_TRUE(demo.events.empty());
    EXPECT_EQ(shownError(), "scene.scr(1): error: Script not in chronoligical order!");

    // The line is the one after the time token; earlier events stay.
    platform::clearRecordedMessageBoxes();
    EXPECT_FALSE(parse("0:05 stopdemo\n0:06 stopdemo\n0:04 stopdemo\n"));
    EXPECT_EQ(demo.events.size(), 2u);
    EXPECT_EQ(shownError(), "scene.scr(3): error: Script not in chronoligical order!");
}

TEST_F(DemoScript, UnknownKeywordNamesTheLineOfTheNextToken)
{
    EXPECT_FALSE(parse("0 stopdemo\n1 bogus x\n2 stopdemo\n"));
    EXPECT_EQ(demo.events.size(), 1u);
    EXPECT_EQ(shownError(), "scene.scr(2): error: Unknown keyword \"bogus\"!");

    // At the end of its line the keyword is reported with the next line.
    platform::clearRecordedMessageBoxes();
    demo.events.clear();
    EXPECT_FALSE(parse("0 Bogus\n\n1 stopdemo\n"));
    EXPECT_EQ(shownError(), "scene.scr(3): error: Unknown keyword \"Bogus\"!");

    // A quoted keyword with a blank is one token, and does not match.
    platform::clearRecordedMessageBoxes();
    EXPECT_FALSE(parse("0 \"stop demo\""));
    EXPECT_EQ(shownError(), "scene.scr(1): error: Unknown keyword \"stop demo\"!");
}

TEST_F(DemoScript, ErrorsAreShownFromLevelTwoAndAlwaysLogged)
{
    diagnosticsLevel = 1;
    EXPECT_FALSE(parse("0 nosuchkeyword_level1\n"));
    EXPECT_TRUE(platform::recordedMessageBoxes().empty());
    diagnosticsLevel = 0;
    EXPECT_FALSE(parse("5 stopdemo 4 stopdemo\n"));
    EXPECT_TRUE(platform::recordedMessageBoxes().empty());
    diagnosticsLevel = 3;
    EXPECT_FALSE(parse("0 nosuchkeyword_level3\n"));
    EXPECT_EQ(shownError(), "scene.scr(2): error: Unknown keyword \"nosuchkeyword_level3\"!");

    // The tests run in their own folder, where the log "nga.out" is written.
    std::ifstream log("nga.out", std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("scene.scr(2): error: Unknown keyword \"nosuchkeyword_level1\"!\n"), std::string::npos);
    EXPECT_NE(text.find("scene.scr(1): error: Script not in chronoligical order!\n"), std::string::npos);
    EXPECT_NE(text.find("nosuchkeyword_level3"), std::string::npos);
}
