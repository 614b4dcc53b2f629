// The effect of every script keyword: Demo::runScriptEvents runs the events
// whose time has come.
#include "demo/script_events.h"

#include "demo/demo.h"
#include "demo/text2.h"
#include "foundation/diagnostics.h"
#include "foundation/log.h"
#include "foundation/matrix.h"
#include "foundation/sar_archive.h"
#include "lightwave/meta_scene.h"
#include "materials/engine.h"
#include "materials/generated_textures.h"
#include "materials/surface.h"
#include "materials/texture.h"
#include "materials/texture_layer.h"
#include "media/sound.h"
#include "scene/camera.h"
#include "scene/scene.h"
#include "scene/scene_interaction.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

float userCamSpeed = 0.006f;
float userCamShiftSpeed = 0.008f;

namespace {

// Metascenes already prepared. A second activemeta of one must not prepare
// it again: the bake lights are gone after the first bake, and the light
// resources would be made twice. Entries go when a metascene is made or
// freed by the script, so a reused address never reads as prepared.
std::vector<const MetaScene*> preparedMetaScenes;

bool isPrepared(const MetaScene* meta)
{
    return std::find(preparedMetaScenes.begin(), preparedMetaScenes.end(), meta) != preparedMetaScenes.end();
}

void forgetPrepared(const MetaScene* meta)
{
    std::erase(preparedMetaScenes, meta);
}

// What a command group made of an event.
enum class Outcome {
    done,    // the next event follows
    failed,  // the run stops at this event
    jumped,  // the run went back to the restart event
    notOurs, // another group's command
};

// Always failed; the box only from diagnostics level 1.
Outcome fail(const char* message)
{
    if (diagnosticsLevel >= 1)
        MessageBoxA(nullptr, message, "Error", MB_ICONEXCLAMATION);
    return Outcome::failed;
}

Outcome failMissingName(const char* keyword)
{
    char message[64];
    std::snprintf(message, sizeof message, "%s: Name nicht vorhanden", keyword);
    return fail(message);
}

bool userCameraActive(const Engine* engine)
{
    return engine->interaction && engine->interaction->currentCamera;
}

Scene* findScene(const MetaScene* meta, const char* name)
{
    return meta ? meta->findScene(name) : nullptr;
}

// The last surface whose name begins with name.
Surface* findSurface(const MetaScene* meta, const char* name)
{
    if (!meta)
        return nullptr;
    const size_t n = std::strlen(name);
    for (auto it = meta->surfaces.rbegin(); it != meta->surfaces.rend(); ++it)
        if (*it && std::strncmp((*it)->name.c_str(), name, n) == 0)
            return *it;
    return nullptr;
}

// The first metascene entry whose name begins with name; -1 when none.
i32 findMetaScene(const std::vector<MetaScene*>& metaScenes, const char* name)
{
    const size_t n = std::strlen(name);
    for (size_t i = 0; i < metaScenes.size(); ++i)
        if (metaScenes[i] && std::strncmp(metaScenes[i]->name.c_str(), name, n) == 0)
            return i32(i);
    return -1;
}

// The entry of exactly that name; -1 when none. Every lookup by name finds
// this entry before any later one of the same name, so a second metascene of
// the name could never be reached.
i32 findMetaSceneNamed(const std::vector<MetaScene*>& metaScenes, const char* name)
{
    for (size_t i = 0; i < metaScenes.size(); ++i)
        if (metaScenes[i] && std::strcmp(metaScenes[i]->name.c_str(), name) == 0)
            return i32(i);
    return -1;
}

// A new metascene goes behind the others. Entries emptied by freemeta at
// the end are taken again, which keeps the order of the others, so a script
// that frees and loads a name on every pass does not grow the list.
void appendMetaScene(Demo& demo, MetaScene* meta)
{
    while (!demo.metaScenes.empty() && !demo.metaScenes.back())
        demo.metaScenes.pop_back();
    forgetPrepared(meta);
    demo.metaScenes.push_back(meta);
}

bool ownsTexture(const MetaScene* meta, const Texture* texture)
{
    if (std::find(meta->textures.begin(), meta->textures.end(), texture) != meta->textures.end())
        return true;
    for (const Surface* surface : meta->surfaces)
        if (surface)
            for (const auto& layer : surface->layers)
                if (layer && layer->texture == texture)
                    return true;
    return false;
}

// The scene's render target, made once per scene name; null (the command
// then changes nothing) when it would pass the metascene's target memory.
// A scene whose target surface was released (at the end of a cross-fade)
// gets it back, or it would draw to the back buffer while the fade shows a
// stale frame.
Texture* setUpRenderTarget(Engine* engine, MetaScene* meta, Scene* scene)
{
    const char* name = scene->name ? scene->name : "";
    Texture* texture = meta->findTexture(name, 0);
    if (!texture) {
        auto made = std::make_unique<TargetTexture>(engine, name);
        // Colour on every device and one depth surface, 4 bytes a texel each.
        const u64 texels = u64(std::max(made->width, 0)) * u64(std::max(made->height, 0));
        if (!meta->takeTargetBytes(texels * 4 * u64(std::max(made->slotCount, 0) + 1),
                                   std::string("render target of scene \"") + name + "\""))
            return nullptr;
        texture = made.release();
        meta->textures.push_back(texture);
    }
    if (!scene->targetSurface) {
        scene->targetSurface = texture->surfaceLevel0();
        if (scene->targetSurface && !scene->targetDepth && engine->currentDevice)
            engine->currentDevice->CreateDepthStencilSurface(UINT(texture->width), UINT(texture->height),
                                                             D3DFMT_D24S8, D3DMULTISAMPLE_NONE, 0, TRUE,
                                                             &scene->targetDepth, nullptr);
    }
    scene->renderTexture = texture;
    return texture;
}

// target = a heap copy of text; the old copy goes.
void replaceCString(char*& target, const char* text)
{
    const size_t n = std::strlen(text);
    char* copy = new char[n + 1];
    std::memcpy(copy, text, n + 1);
    delete[] target;
    target = copy;
}

// A new scene of meta with a camera and a light, owned by meta.
Scene* appendScene(MetaScene* meta, const char* name)
{
    auto* scene = new Scene(meta);
    replaceCString(scene->name, name);
    scene->addCamera();
    scene->addLight();
    meta->scenes.push_back(scene);
    return scene;
}

// The scene of the event's first argument; null when it is missing (also
// with no active metascene).
Scene* sceneOf(const Demo& demo, const ScriptEvent& event)
{
    return findScene(demo.activeMeta, event.args[0].text);
}

// Nothing may keep pointing into the metascene's scenes and textures once
// it is gone; its entry stays, empty.
void freeMetaScene(Demo& demo, size_t index)
{
    MetaScene* meta = demo.metaScenes[index];
    Engine* engine = demo.engine;
    demo.forgetMetaScene(meta);
    if (std::find(meta->scenes.begin(), meta->scenes.end(), engine->interactionTarget) != meta->scenes.end())
        engine->interactionTarget = nullptr;
    resetInteraction(engine, meta);
    if (demo.fadeTexture && ownsTexture(meta, demo.fadeTexture)) {
        demo.fadeTexture = nullptr;
        demo.fadeState = kFadeNone;
    }
    meta->clear();
    delete meta;
    forgetPrepared(meta);
    demo.metaScenes[index] = nullptr;
}

Outcome runMetaSceneCommand(Demo& demo, const ScriptEvent& event)
{
    const ScriptArgument* a = event.args;
    switch (event.id) {
    case kCmdLoadMeta: // no effect
        return Outcome::done;
    case kCmdLoadMetascript: {
        // A name that is loaded stays as it is: a copy loaded again would be
        // unreachable and kept to the end, one more on every pass of a
        // looping script.
        if (findMetaSceneNamed(demo.metaScenes, a[0].text) >= 0)
            return Outcome::done;
        demo.drawLoadingProgress(0.0f);
        MetaScene* meta =
            demo.archive ? MetaScene::loadMetascript(a[0].text, demo.engine, demo.archive, &demo) : nullptr;
        demo.endLoadingProgress();
        if (!meta)
            return fail("Failed loading metascript!");
        appendMetaScene(demo, meta);
        return Outcome::done;
    }
    case kCmdActiveMeta: {
        const i32 i = findMetaScene(demo.metaScenes, a[0].text);
        if (i < 0)
            return failMissingName("activemeta");
        demo.activeMeta = demo.metaScenes[size_t(i)];
        if (!isPrepared(demo.activeMeta)) {
            demo.activeMeta->prepare(&demo);
            preparedMetaScenes.push_back(demo.activeMeta);
        }
        resetRenderStates(demo.engine);
        return Outcome::done;
    }
    case kCmdFreeMeta: {
        const i32 i = findMetaScene(demo.metaScenes, a[0].text);
        if (i < 0)
            return failMissingName("freemeta");
        freeMetaScene(demo, size_t(i));
        return Outcome::done;
    }
    case kCmdCreateMeta:
        // As with loadmetascript, a name that exists is the one lookups find.
        if (findMetaSceneNamed(demo.metaScenes, a[0].text) < 0)
            appendMetaScene(demo, new MetaScene(demo.engine, a[0].text));
        return Outcome::done;
    case kCmdCreateScene:
        if (!demo.activeMeta)
            return failMissingName("createscene");
        appendScene(demo.activeMeta, a[0].text);
        return Outcome::done;
    default:
        return Outcome::notOurs;
    }
}

// A scene's activity and time.
Outcome runSceneCommand(Demo& demo, const ScriptEvent& event)
{
    const ScriptArgument* a = event.args;
    Scene* s = nullptr;
    switch (event.id) {
    case kCmdHold:
        if (!(s = sceneOf(demo, event)))
            return failMissingName("hold");
        s->held = 1;
        s->timeBase = demo.time;
        s->active = 1;
        return Outcome::done;
    case kCmdStart:
        if (!(s = sceneOf(demo, event)))
            return failMissingName("start");
        s->held = 0;
        s->timeBase = event.time * 0.001;
        s->active = 1;
        return Outcome::done;
    case kCmdStop:
        if (!(s = sceneOf(demo, event)))
            return failMissingName("stop");
        s->deactivate();
        return Outcome::done;
    case kCmdClear:
        if (!(s = sceneOf(demo, event)))
            return failMissingName("clear");
        s->clearFlags = u32(a[1].integer) & 3u;
        argbToColor(s->clearColor, D3DCOLOR(a[2].integer));
        return Outcome::done;
    case kCmdView: // only the name is checked
        if (!sceneOf(demo, event))
            return failMissingName("view");
        return Outcome::done;
    case kCmdSetPos:
        if (!(s = sceneOf(demo, event)))
            return failMissingName("setpos");
        s->timeBase = demo.time - a[1].real * 0.001;
        return Outcome::done;
    case kCmdScreenshot:
        if (!(s = sceneOf(demo, event)))
            return fail("screenshot: scenename nicht vorhanden");
        s->held = 1;
        s->timeBase = a[1].real * 0.001;
        s->active = 1;
        return Outcome::done;
    case kCmdContinue:
        if (!(s = sceneOf(demo, event)))
            return failMissingName("continue");
        s->held = 0;
        s->timeBase = demo.time - s->timeBase;
        s->active = 1;
        return Outcome::done;
    default:
        return Outcome::notOurs;
    }
}

// Scene cameras, render targets and the user camera.
Outcome runCameraCommand(Demo& demo, const ScriptEvent& event)
{
    const ScriptArgument* a = event.args;
    Engine* engine = demo.engine;
    Scene* s = nullptr;
    switch (event.id) {
    case kCmdCam:
        if (!(s = sceneOf(demo, event)))
            return failMissingName("cam");
        setCurrentCamera(s, a[1].integer);
        demo.cameraGroup = i32(u32(a[1].integer) / 10u);
        return Outcome::done;
    case kCmdSetRt: {
        if (!(s = sceneOf(demo, event)))
            return failMissingName("setrt");
        Surface* surface = findSurface(demo.activeMeta, a[1].text);
        if (!surface)
            return fail("setrt: Surface nicht vorhanden");
        if (Texture* target = setUpRenderTarget(engine, demo.activeMeta, s))
            surface->useRenderTarget(target);
        return Outcome::done;
    }
    case kCmdViewMove: // no effect
    case kCmdAddCam:
        return Outcome::done;
    case kCmdFov:
        engine->lensReference = a[0].integer == 1 ? 160.0f : a[0].integer == 2 ? 320.0f : 100.0f;
        return Outcome::done;
    case kCmdSetUserCamScene:
        if (!(s = sceneOf(demo, event)))
            return failMissingName("setusercamscene");
        engine->interactionTarget = s;
        return Outcome::done;
    case kCmdSetBounds:
        if (engine->interaction && !engine->interaction->cameras.empty()) {
            const float first[3] = {a[0].real, a[1].real, a[2].real};
            const float second[3] = {a[3].real, a[4].real, a[5].real};
            engine->interaction->camera()->setPositionLimits(first, second);
        }
        return Outcome::done;
    case kCmdSetUserCamSpeed:
        userCamSpeed = a[0].real;
        return Outcome::done;
    case kCmdSetUserCamShiftSpeed:
        userCamShiftSpeed = a[0].real;
        return Outcome::done;
    default:
        return Outcome::notOurs;
    }
}

void startFade(Demo& demo, FadeState state, double duration, Texture* texture)
{
    demo.fadeStart = demo.time;
    demo.fadeState = state;
    demo.fadeDuration = duration;
    demo.fadeTexture = texture;
}

// A fade command's state; the colour and the picture fades share them.
FadeState fadeStateOf(i32 id)
{
    switch (id) {
    case kCmdFadeIn:
    case kCmdPicFadeIn:
        return kFadeIn;
    case kCmdFadeOut:
    case kCmdPicFadeOut:
        return kFadeOut;
    default:
        return kFadeFlashRising;
    }
}

// Fades, the cross-fade and blur of a scene, and pictures. xfade takes
// milliseconds; the others take seconds.
Outcome runFadeCommand(Demo& demo, const ScriptEvent& event)
{
    const ScriptArgument* a = event.args;
    Scene* s = nullptr;
    Texture* target = nullptr;
    switch (event.id) {
    case kCmdBlur:
        if (!(s = sceneOf(demo, event)))
            return failMissingName("blur");
        if (!(target = setUpRenderTarget(demo.engine, demo.activeMeta, s)))
            return Outcome::done;
        startFade(demo, kFadeBlur, a[1].real, target);
        demo.fadeFloor = a[2].real;
        demo.fadeSceneName = a[0].text;
        return Outcome::done;
    case kCmdXFade:
        if (!(s = sceneOf(demo, event)))
            return failMissingName("xfade");
        if (!(target = setUpRenderTarget(demo.engine, demo.activeMeta, s)))
            return Outcome::done;
        startFade(demo, kFadeCross, a[1].real * 0.001, target);
        argbToColorOpaque(demo.fadeColour, 0xFFFFFFFFu);
        demo.fadeSceneName = a[0].text;
        return Outcome::done;
    case kCmdFadeIn:
    case kCmdFadeOut:
    case kCmdFlash:
        startFade(demo, fadeStateOf(event.id), a[0].real, nullptr);
        argbToColorOpaque(demo.fadeColour, D3DCOLOR(a[1].integer));
        return Outcome::done;
    case kCmdPicFadeIn:
    case kCmdPicFadeOut:
    case kCmdPicFlash: {
        // A surface without layers has no picture to fade.
        Surface* surface = findSurface(demo.activeMeta, a[1].text);
        if (!surface || surface->layers.empty() || !surface->layers.front())
            return fail("picture fader: Surface nicht vorhanden");
        startFade(demo, fadeStateOf(event.id), a[0].real, surface->layers.front()->texture);
        argbToColorOpaque(demo.fadeColour, 0xFFFFFFFFu);
        return Outcome::done;
    }
    case kCmdLoadPic: // no effect
    case kCmdFreePic:
        return Outcome::done;
    default:
        return Outcome::notOurs;
    }
}

// The music, and the run's loop: stopsound goes back to the restart event.
Outcome runSoundCommand(Demo& demo, const ScriptEvent& event)
{
    Sound* sound = demo.engine->sound;
    switch (event.id) {
    case kCmdStopDemo:
        if (!userCameraActive(demo.engine))
            demo.quit = 1;
        return Outcome::done;
    case kCmdRestart:
        demo.restartIndex = demo.nextEvent;
        return Outcome::done;
    case kCmdPlayMp3Once:
    case kCmdPlayOggOnce:
    case kCmdPlayXm:
    case kCmdPlayMp3:
    case kCmdPlayIt:
    case kCmdPlayMod:
    case kCmdPlayOgg: {
        // The previous track stops, or two would sound while the clock
        // follows only the new one; its channel goes with it, or every
        // restart of a looping script would keep one more.
        if (sound) {
            sound->stop(demo.musicHandle);
            sound->releaseChannel(demo.musicHandle);
        }
        demo.musicHandle = sound && demo.archive ? sound->createChannel(*demo.archive, event.args[0].text) : -1;
        if (demo.musicHandle == -1)
            logStream << "maintune sound was not loaded" << std::endl;
        if (sound) {
            sound->play(demo.musicHandle, event.id != kCmdPlayMp3Once && event.id != kCmdPlayOggOnce);
            sound->setVolume(demo.musicHandle, 1.0f);
        }
        return Outcome::done;
    }
    case kCmdStopSound: {
        if (sound)
            sound->stop(demo.musicHandle);
        if (!demo.loopAtStop || demo.restartIndex < 0 || size_t(demo.restartIndex) >= demo.events.size())
            return Outcome::done;
        const i32 restartTime = demo.events[size_t(demo.restartIndex)].time;
        demo.nextEvent = demo.restartIndex + 1;
        lastMusicTime = float(restartTime * 0.001);
        demo.time = demo.previousTime = restartTime * 0.001;
        return Outcome::jumped;
    }
    case kCmdPlaySyn: // no effect
    case kCmdPlayNone:
    case kCmdImsSetPos:
    case kCmdImsFadeOut:
        return Outcome::done;
    default:
        return Outcome::notOurs;
    }
}

// Text scenes and the objects of a scene file.
Outcome runTextAndObjectCommand(Demo& demo, const ScriptEvent& event)
{
    const ScriptArgument* a = event.args;
    switch (event.id) {
    case kCmdCreateText: {
        if (!demo.activeMeta)
            return failMissingName("createtext");
        Text2 text2(a[1].text, demo.archive, demo.activeMeta);
        Scene* s = text2.releaseScene();
        if (s) {
            replaceCString(s->name, a[0].text);
            demo.activeMeta->scenes.push_back(s);
        }
        return Outcome::done;
    }
    case kCmdLoadObjectLayer: {
        Scene* s = sceneOf(demo, event);
        if (!s)
            return failMissingName("loadobjectlayer");
        s->addObjectLayer(demo.archive, a[1].text, a[2].integer);
        return Outcome::done;
    }
    default:
        return Outcome::notOurs;
    }
}

// The engine's and the demo's render switches.
Outcome runSwitchCommand(Demo& demo, const ScriptEvent& event)
{
    Engine* engine = demo.engine;
    const auto on = [&event] { return event.args[0].integer != 0; };
    switch (event.id) {
    case kCmdTexAnims:
        engine->texAnims = on();
        return Outcome::done;
    case kCmdLightFalloff:
        engine->lightFalloff = on();
        return Outcome::done;
    case kCmdLightFlash:
        engine->lightFlash = on();
        return Outcome::done;
    case kCmdImposters:
        if (!userCameraActive(engine))
            engine->imposters = on();
        return Outcome::done;
    case kCmdSetWireframe:
        engine->wireframe = on();
        return Outcome::done;
    case kCmdDrawFps:
        demo.drawFps = on();
        return Outcome::done;
    case kCmdDisableLogos:
        engine->disableLogos = on();
        return Outcome::done;
    case kCmdVersion: // no effect
        return Outcome::done;
    default:
        return Outcome::notOurs;
    }
}

using CommandGroup = Outcome (*)(Demo&, const ScriptEvent&);
constexpr CommandGroup kCommandGroups[] = {
    runMetaSceneCommand, runSceneCommand,         runCameraCommand, runFadeCommand,
    runSoundCommand,     runTextAndObjectCommand, runSwitchCommand,
};

// Each command belongs to one group; an id of none does nothing.
Outcome runCommand(Demo& demo, const ScriptEvent& event)
{
    for (CommandGroup group : kCommandGroups)
        if (const Outcome outcome = group(demo, event); outcome != Outcome::notOurs)
            return outcome;
    return Outcome::done;
}

} // namespace

bool Demo::runScriptEvents(i32 now)
{
    bool restarted = false;
    while (!events.empty() && nextEvent >= 0 && size_t(nextEvent) < events.size() &&
           events[size_t(nextEvent)].time <= now) {
        const Outcome outcome = runCommand(*this, events[size_t(nextEvent)]);
        if (outcome == Outcome::failed)
            return false;
        if (outcome == Outcome::jumped) {
            // A stopsound due again at the restart time would loop forever
            // here: one restart per call, the next frame goes on.
            if (restarted)
                return true;
            restarted = true;
            now = events[size_t(restartIndex)].time;
            continue;
        }
        ++nextEvent;
    }
    return true;
}
