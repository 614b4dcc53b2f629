// One timed command of the demo script, and the table of the script's
// keywords.
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

// The commands' ids: the script format's own numbers, not row numbers, and
// with gaps. The parser stores them and the event runner switches on them.
enum ScriptCommand : i32 {
    kCmdStopDemo = 0,
    kCmdLoadMeta = 1,
    kCmdLoadMetascript = 2,
    kCmdActiveMeta = 3,
    kCmdFreeMeta = 4,
    kCmdRestart = 5,
    kCmdCam = 7,
    kCmdSetRt = 8,
    kCmdHold = 9,
    kCmdStart = 10,
    kCmdStop = 11,
    kCmdClear = 12,
    kCmdView = 13,
    kCmdViewMove = 14,
    kCmdSetPos = 15,
    kCmdScreenshot = 16,
    kCmdContinue = 17,
    kCmdTexAnims = 18,
    kCmdBlur = 19,
    kCmdXFade = 20,
    kCmdFadeIn = 21,
    kCmdFadeOut = 22,
    kCmdFlash = 23,
    kCmdPicFadeIn = 24,
    kCmdPicFadeOut = 25,
    kCmdPicFlash = 26,
    kCmdLightFalloff = 34,
    kCmdLightFlash = 35,
    kCmdFov = 36,
    kCmdImposters = 37,
    kCmdLoadPic = 40,
    kCmdFreePic = 41,
    kCmdPlayMp3Once = 43,
    kCmdPlayOggOnce = 45,
    kCmdPlayXm = 50,
    kCmdPlayMp3 = 51,
    kCmdPlayIt = 52,
    kCmdPlayMod = 53,
    kCmdPlaySyn = 54,
    kCmdPlayOgg = 55,
    kCmdStopSound = 56,
    kCmdPlayNone = 57,
    kCmdImsSetPos = 58,
    kCmdImsFadeOut = 59,
    kCmdCreateMeta = 60,
    kCmdCreateScene = 61,
    kCmdAddCam = 62,
    kCmdLoadObjectLayer = 63,
    kCmdSetUserCamScene = 64,
    kCmdSetBounds = 65,
    kCmdSetUserCamSpeed = 66,
    kCmdSetUserCamShiftSpeed = 67,
    kCmdSetWireframe = 68,
    kCmdDrawFps = 69,
    kCmdCreateText = 71,
    kCmdDisableLogos = 75,
    kCmdVersion = 99,
};

struct ScriptEvent {
    i32 time; // milliseconds of demo time
    i32 id;   // a ScriptCommand; ScriptKeyword::id
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
