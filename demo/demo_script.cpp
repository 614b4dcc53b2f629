// The demo script "scene.scr": a time token, a keyword and exactly the
// keyword's number of argument tokens, event after event. Lines mean
// nothing here; tokens are counted.
#include "demo/demo.h"
#include "demo/script_event.h"

#include "foundation/byte_string.h"
#include "foundation/diagnostics.h"
#include "foundation/log.h"

#include <windows.h>

#include <cmath>
#include <cstdint>

namespace {

constexpr ScriptArgumentKind S = kScriptString;
constexpr ScriptArgumentKind I = kScriptInteger;
constexpr ScriptArgumentKind F = kScriptFloat;

} // namespace

const ScriptKeyword scriptKeywords[kScriptKeywordCount + 1] = {
    {0, "stopdemo", scriptArgspec()},
    {1, "loadmeta", scriptArgspec(S)},
    {2, "loadmetascript", scriptArgspec(S)},
    {3, "activemeta", scriptArgspec(S)},
    {4, "freemeta", scriptArgspec(S)},
    {5, "restart", scriptArgspec()},
    {7, "cam", scriptArgspec(S, I)},
    {8, "setrt", scriptArgspec(S, S)},
    {9, "hold", scriptArgspec(S)},
    {10, "start", scriptArgspec(S)},
    {11, "stop", scriptArgspec(S)},
    {12, "clear", scriptArgspec(S, I, I)},
    {13, "view", scriptArgspec(S, F, F, F, F)},
    {14, "viewmove", scriptArgspec(S, F, F, F, F)},
    {15, "setpos", scriptArgspec(S, F)},
    {16, "screenshot", scriptArgspec(S, F)},
    {17, "continue", scriptArgspec(S)},
    {18, "texanims", scriptArgspec(I)},
    {19, "blur", scriptArgspec(S, F, F)},
    {20, "xfade", scriptArgspec(S, F)},
    {21, "fadein", scriptArgspec(F, I)},
    {22, "fadeout", scriptArgspec(F, I)},
    {23, "flash", scriptArgspec(F, I)},
    {24, "picfadein", scriptArgspec(F, S)},
    {25, "picfadeout", scriptArgspec(F, S)},
    {26, "picflash", scriptArgspec(F, S)},
    {34, "lightfalloff", scriptArgspec(I)},
    {35, "lightflash", scriptArgspec(I)},
    {36, "fov", scriptArgspec(I)},
    {37, "imposters", scriptArgspec(I)},
    {40, "loadpic", scriptArgspec(S)},
    {41, "freepic", scriptArgspec(S)},
    {43, "playmp3once", scriptArgspec(S)},
    {45, "playoggonce", scriptArgspec(S)},
    {50, "playxm", scriptArgspec(S)},
    {51, "playmp3", scriptArgspec(S)},
    {52, "playit", scriptArgspec(S)},
    {53, "playmod", scriptArgspec(S)},
    {54, "playsyn", scriptArgspec(S, S)},
    {55, "playogg", scriptArgspec(S)},
    {56, "stopsound", scriptArgspec()},
    {57, "playnone", scriptArgspec()},
    {58, "imssetpos", scriptArgspec(I, I)},
    {59, "imsfadeout", scriptArgspec(F)},
    {60, "createmeta", scriptArgspec(S)},
    {61, "createscene", scriptArgspec(S)},
    {62, "addcam", scriptArgspec(S, S)},
    {63, "loadobjectlayer", scriptArgspec(S, S, I)},
    {64, "setusercamscene", scriptArgspec(S)},
    {65, "setbounds", scriptArgspec(F, F, F, F, F, F)},
    {66, "setusercamspeed", scriptArgspec(F)},
    {67, "setusercamshiftspeed", scriptArgspec(F)},
    {68, "setwireframe", scriptArgspec(I)},
    {69, "drawfps", scriptArgspec(I)},
    {71, "createtext", scriptArgspec(S, S)},
    {75, "disablelogos", scriptArgspec(I)},
    {99, "version", scriptArgspec(S)},
    {0, nullptr, 0},
};

const ScriptKeyword* findScriptKeyword(const char* name)
{
    for (const ScriptKeyword* row = scriptKeywords; row->name; ++row) {
        if (_stricmp(row->name, name) == 0)
            return row;
    }
    return nullptr;
}

namespace {

// Truncated toward zero. Times beyond the int32 range saturate and a NaN
// counts as 0, so a wild token cannot make the conversion undefined.
i32 wholeMilliseconds(float ms)
{
    if (std::isnan(ms))
        return 0;
    if (ms >= 2147483648.0f)
        return INT32_MAX;
    if (ms <= -2147483648.0f)
        return INT32_MIN;
    return (i32)ms;
}

// Shown at diagnostics level 2 or more; logged always, because a full-screen
// run shows nothing and would otherwise end with no trace of the cause.
void parseError(const char* message)
{
    logStream << message << std::endl;
    if (diagnosticsLevel >= 2)
        MessageBoxA(NULL, message, "Parse Error", MB_ICONEXCLAMATION);
}

} // namespace

bool Demo::parseSceneScript()
{
    if (!script)
        return false;
    ScriptTokenizer& tokens = *script;
    if (tokens.atEnd())
        return true; // the empty script is valid

    i32 previous = 0;
    for (;;) {
        ScriptEvent event{};
        event.time = wholeMilliseconds(tokens.readTime());
        if (event.time < previous) {
            parseError(formatTemp("scene.scr(%d): error: Script not in chronoligical order!", tokens.lineNumber()));
            return false;
        }
        previous = event.time;

        const char* name = tokens.nextToken();
        const ScriptKeyword* keyword = findScriptKeyword(name);
        if (!keyword) {
            parseError(formatTemp("scene.scr(%d): error: Unknown keyword \"%s\"!", tokens.lineNumber(), name));
            return false;
        }
        event.id = keyword->id;

        // Missing tokens at the end read as empty: "" or the number 0.
        for (u32 i = 0; i < keyword->argumentCount(); ++i) {
            switch (keyword->argumentKind(i)) {
            case kScriptString:
                event.args[i].text = tokens.nextToken();
                break;
            case kScriptInteger:
                event.args[i].integer = tokens.readInt();
                break;
            case kScriptFloat:
                event.args[i].real = tokens.readFloat();
                break;
            case kScriptTime:
                event.args[i].real = tokens.readTime();
                break;
            }
        }
        events.push_back(event);

        if (tokens.atEnd())
            return true;
    }
}
