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
    {kCmdStopDemo, "stopdemo", scriptArgspec()},
    {kCmdLoadMeta, "loadmeta", scriptArgspec(S)},
    {kCmdLoadMetascript, "loadmetascript", scriptArgspec(S)},
    {kCmdActiveMeta, "activemeta", scriptArgspec(S)},
    {kCmdFreeMeta, "freemeta", scriptArgspec(S)},
    {kCmdRestart, "restart", scriptArgspec()},
    {kCmdCam, "cam", scriptArgspec(S, I)},
    {kCmdSetRt, "setrt", scriptArgspec(S, S)},
    {kCmdHold, "hold", scriptArgspec(S)},
    {kCmdStart, "start", scriptArgspec(S)},
    {kCmdStop, "stop", scriptArgspec(S)},
    {kCmdClear, "clear", scriptArgspec(S, I, I)},
    {kCmdView, "view", scriptArgspec(S, F, F, F, F)},
    {kCmdViewMove, "viewmove", scriptArgspec(S, F, F, F, F)},
    {kCmdSetPos, "setpos", scriptArgspec(S, F)},
    {kCmdScreenshot, "screenshot", scriptArgspec(S, F)},
    {kCmdContinue, "continue", scriptArgspec(S)},
    {kCmdTexAnims, "texanims", scriptArgspec(I)},
    {kCmdBlur, "blur", scriptArgspec(S, F, F)},
    {kCmdXFade, "xfade", scriptArgspec(S, F)},
    {kCmdFadeIn, "fadein", scriptArgspec(F, I)},
    {kCmdFadeOut, "fadeout", scriptArgspec(F, I)},
    {kCmdFlash, "flash", scriptArgspec(F, I)},
    {kCmdPicFadeIn, "picfadein", scriptArgspec(F, S)},
    {kCmdPicFadeOut, "picfadeout", scriptArgspec(F, S)},
    {kCmdPicFlash, "picflash", scriptArgspec(F, S)},
    {kCmdLightFalloff, "lightfalloff", scriptArgspec(I)},
    {kCmdLightFlash, "lightflash", scriptArgspec(I)},
    {kCmdFov, "fov", scriptArgspec(I)},
    {kCmdImposters, "imposters", scriptArgspec(I)},
    {kCmdLoadPic, "loadpic", scriptArgspec(S)},
    {kCmdFreePic, "freepic", scriptArgspec(S)},
    {kCmdPlayMp3Once, "playmp3once", scriptArgspec(S)},
    {kCmdPlayOggOnce, "playoggonce", scriptArgspec(S)},
    {kCmdPlayXm, "playxm", scriptArgspec(S)},
    {kCmdPlayMp3, "playmp3", scriptArgspec(S)},
    {kCmdPlayIt, "playit", scriptArgspec(S)},
    {kCmdPlayMod, "playmod", scriptArgspec(S)},
    {kCmdPlaySyn, "playsyn", scriptArgspec(S, S)},
    {kCmdPlayOgg, "playogg", scriptArgspec(S)},
    {kCmdStopSound, "stopsound", scriptArgspec()},
    {kCmdPlayNone, "playnone", scriptArgspec()},
    {kCmdImsSetPos, "imssetpos", scriptArgspec(I, I)},
    {kCmdImsFadeOut, "imsfadeout", scriptArgspec(F)},
    {kCmdCreateMeta, "createmeta", scriptArgspec(S)},
    {kCmdCreateScene, "createscene", scriptArgspec(S)},
    {kCmdAddCam, "addcam", scriptArgspec(S, S)},
    {kCmdLoadObjectLayer, "loadobjectlayer", scriptArgspec(S, S, I)},
    {kCmdSetUserCamScene, "setusercamscene", scriptArgspec(S)},
    {kCmdSetBounds, "setbounds", scriptArgspec(F, F, F, F, F, F)},
    {kCmdSetUserCamSpeed, "setusercamspeed", scriptArgspec(F)},
    {kCmdSetUserCamShiftSpeed, "setusercamshiftspeed", scriptArgspec(F)},
    {kCmdSetWireframe, "setwireframe", scriptArgspec(I)},
    {kCmdDrawFps, "drawfps", scriptArgspec(I)},
    {kCmdCreateText, "createtext", scriptArgspec(S, S)},
    {kCmdDisableLogos, "disablelogos", scriptArgspec(I)},
    {kCmdVersion, "version", scriptArgspec(S)},
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
