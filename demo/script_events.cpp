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

// Always false; the box only from diagnostics level 1.
bool fail(const char* message)
{
    if (diagnosticsLevel >= 1)
        MessageBoxA(nullptr, message, "Error", MB_ICONEXCLAMATION);
    return false;
}

bool failMissingName(const char* keyword)
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

// The scene's render target, made once per scene name. A scene whose
// target surface was released (at the end of a cross-fade) gets it back,
// or it would draw to the back buffer while the fade shows a stale frame.
Texture* setUpRenderTarget(Engine* engine, MetaScene* meta, Scene* scene)
{
    const char* name = scene->name ? scene->name : "";
    Texture* texture = meta->findTexture(name, 0);
    if (!texture) {
        texture = new TargetTexture(engine, name);
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

} // namespace

bool Demo::runScriptEvents(i32 now)
{
    Sound* sound = engine->sound;
    bool restarted = false;

    while (!events.empty() && nextEvent >= 0 && size_t(nextEvent) < events.size() &&
           events[size_t(nextEvent)].time <= now) {
        const ScriptEvent& event = events[size_t(nextEvent)];
        const ScriptArgument* a = event.args;

        // The scene of the first argument; null when it is missing (also
        // with no active metascene).
        auto scene = [&] { return findScene(activeMeta, a[0].text); };

        switch (event.id) {
        case 0: // stopdemo
            if (!userCameraActive(engine))
                quit = 1;
            break;
        case 2: { // loadmetascript
            drawLoadingProgress(0.0f);
            MetaScene* meta = archive ? MetaScene::loadMetascript(a[0].text, engine, archive, this) : nullptr;
            if (!meta)
                return fail("Failed loading metascript!");
            forgetPrepared(meta);
            metaScenes.push_back(meta);
            break;
        }
        case 3: { // activemeta
            const i32 i = findMetaScene(metaScenes, a[0].text);
            if (i < 0)
                return failMissingName("activemeta");
            activeMeta = metaScenes[size_t(i)];
            if (!isPrepared(activeMeta)) {
                activeMeta->prepare(this);
                preparedMetaScenes.push_back(activeMeta);
            }
            resetRenderStates(engine);
            break;
        }
        case 4: { // freemeta
            const i32 i = findMetaScene(metaScenes, a[0].text);
            if (i < 0)
                return failMissingName("freemeta");
            MetaScene* meta = metaScenes[size_t(i)];
            forgetMetaScene(meta);
            // Nothing may keep pointing into the metascene's scenes and
            // textures once it is gone.
            if (std::find(meta->scenes.begin(), meta->scenes.end(), engine->interactionTarget) != meta->scenes.end())
                engine->interactionTarget = nullptr;
            resetInteraction(engine, meta);
            if (fadeTexture && ownsTexture(meta, fadeTexture)) {
                fadeTexture = nullptr;
                fadeState = 0;
            }
            meta->clear();
            delete meta;
            forgetPrepared(meta);
            metaScenes[size_t(i)] = nullptr;
            break;
        }
        case 5: // restart
            restartIndex = nextEvent;
            break;
        case 7: { // cam
            Scene* s = scene();
            if (!s)
                return failMissingName("cam");
            setCurrentCamera(s, a[1].integer);
            cameraGroup = i32(u32(a[1].integer) / 10u);
            break;
        }
        case 8: { // setrt
            Scene* s = scene();
            if (!s)
                return failMissingName("setrt");
            Surface* surface = findSurface(activeMeta, a[1].text);
            if (!surface)
                return fail("setrt: Surface nicht vorhanden");
            surface->useRenderTarget(setUpRenderTarget(engine, activeMeta, s));
            break;
        }
        case 9: { // hold
            Scene* s = scene();
            if (!s)
                return failMissingName("hold");
            s->held = 1;
            s->timeBase = time;
            s->active = 1;
            break;
        }
        case 10: { // start
            Scene* s = scene();
            if (!s)
                return failMissingName("start");
            s->held = 0;
            s->timeBase = event.time * 0.001;
            s->active = 1;
            break;
        }
        case 11: { // stop
            Scene* s = scene();
            if (!s)
                return failMissingName("stop");
            s->deactivate();
            break;
        }
        case 12: { // clear
            Scene* s = scene();
            if (!s)
                return failMissingName("clear");
            s->clearFlags = u32(a[1].integer) & 3u;
            argbToColor(s->clearColor, D3DCOLOR(a[2].integer));
            break;
        }
        case 13: // view: only the name is checked
            if (!scene())
                return failMissingName("view");
            break;
        case 15: { // setpos
            Scene* s = scene();
            if (!s)
                return failMissingName("setpos");
            s->timeBase = time - a[1].real * 0.001;
            break;
        }
        case 16: { // screenshot
            Scene* s = scene();
            if (!s)
                return fail("screenshot: scenename nicht vorhanden");
            s->held = 1;
            s->timeBase = a[1].real * 0.001;
            s->active = 1;
            break;
        }
        case 17: { // continue
            Scene* s = scene();
            if (!s)
                return failMissingName("continue");
            s->held = 0;
            s->timeBase = time - s->timeBase;
            s->active = 1;
            break;
        }
        case 18:
            engine->texAnims = a[0].integer != 0;
            break;
        case 19: { // blur
            Scene* s = scene();
            if (!s)
                return failMissingName("blur");
            fadeStart = time;
            fadeState = 6;
            fadeDuration = a[1].real;
            fadeFloor = a[2].real;
            fadeTexture = setUpRenderTarget(engine, activeMeta, s);
            fadeSceneName = a[0].text;
            break;
        }
        case 20: { // xfade
            Scene* s = scene();
            if (!s)
                return failMissingName("xfade");
            fadeStart = time;
            fadeState = 5;
            fadeDuration = a[1].real * 0.001;
            argbToColorOpaque(fadeColour, 0xFFFFFFFFu);
            fadeTexture = setUpRenderTarget(engine, activeMeta, s);
            fadeSceneName = a[0].text;
            break;
        }
        case 21: // fadein
        case 22: // fadeout
        case 23: // flash
            fadeStart = time;
            fadeState = event.id == 21 ? 3 : event.id == 22 ? 4 : 1;
            fadeDuration = a[0].real;
            argbToColorOpaque(fadeColour, D3DCOLOR(a[1].integer));
            fadeTexture = nullptr;
            break;
        case 24: // picfadein
        case 25: // picfadeout
        case 26: { // picflash
            // A surface without layers has no picture to fade.
            Surface* surface = findSurface(activeMeta, a[1].text);
            if (!surface || surface->layers.empty() || !surface->layers.front())
                return fail("picture fader: Surface nicht vorhanden");
            fadeStart = time;
            fadeState = event.id == 24 ? 3 : event.id == 25 ? 4 : 1;
            fadeDuration = a[0].real;
            argbToColorOpaque(fadeColour, 0xFFFFFFFFu);
            fadeTexture = surface->layers.front()->texture;
            break;
        }
        case 34:
            engine->lightFalloff = a[0].integer != 0;
            break;
        case 35:
            engine->lightFlash = a[0].integer != 0;
            break;
        case 36:
            engine->lensReference = a[0].integer == 1 ? 160.0f : a[0].integer == 2 ? 320.0f : 100.0f;
            break;
        case 37:
            if (!userCameraActive(engine))
                engine->imposters = a[0].integer != 0;
            break;
        case 43: // playmp3once
        case 45: // playoggonce
        case 50: // playxm
        case 51: // playmp3
        case 52: // playit
        case 53: // playmod
        case 55: { // playogg
            // The previous track stops, or two would sound while the clock
            // follows only the new one; its channel goes with it, or every
            // restart of a looping script would keep one more.
            if (sound) {
                sound->stop(musicHandle);
                sound->releaseChannel(musicHandle);
            }
            musicHandle = sound && archive ? sound->createChannel(*archive, a[0].text) : -1;
            if (musicHandle == -1)
                logStream << "maintune sound was not loaded" << std::endl;
            if (sound) {
                sound->play(musicHandle, event.id != 43 && event.id != 45);
                sound->setVolume(musicHandle, 1.0f);
            }
            break;
        }
        case 56: // stopsound
            if (sound)
                sound->stop(musicHandle);
            if (loopAtStop && restartIndex >= 0 && size_t(restartIndex) < events.size()) {
                const i32 restartTime = events[size_t(restartIndex)].time;
                nextEvent = restartIndex + 1;
                lastMusicTime = float(restartTime * 0.001);
                time = previousTime = restartTime * 0.001;
                // A stopsound due again at the restart time would loop
                // forever here: one restart per call, the next frame goes on.
                if (restarted)
                    return true;
                restarted = true;
                now = restartTime;
                continue;
            }
            break;
        case 60: { // createmeta
            auto* meta = new MetaScene(engine, a[0].text);
            forgetPrepared(meta);
            metaScenes.push_back(meta);
            break;
        }
        case 61: // createscene
            if (!activeMeta)
                return failMissingName("createscene");
            appendScene(activeMeta, a[0].text);
            break;
        case 63: { // loadobjectlayer
            Scene* s = scene();
            if (!s)
                return failMissingName("loadobjectlayer");
            s->addObjectLayer(archive, a[1].text, a[2].integer);
            break;
        }
        case 64: { // setusercamscene
            Scene* s = scene();
            if (!s)
                return failMissingName("setusercamscene");
            engine->interactionTarget = s;
            break;
        }
        case 65: // setbounds
            if (engine->interaction && !engine->interaction->cameras.empty()) {
                const float first[3] = {a[0].real, a[1].real, a[2].real};
                const float second[3] = {a[3].real, a[4].real, a[5].real};
                engine->interaction->camera()->setPositionLimits(first, second);
            }
            break;
        case 66:
            userCamSpeed = a[0].real;
            break;
        case 67:
            userCamShiftSpeed = a[0].real;
            break;
        case 68:
            engine->wireframe = a[0].integer != 0;
            break;
        case 69:
            drawFps = a[0].integer != 0;
            break;
        case 71: { // createtext
            if (!activeMeta)
                return failMissingName("createtext");
            Text2 text2(a[1].text, archive, activeMeta);
            Scene* s = text2.releaseScene();
            if (s) {
                replaceCString(s->name, a[0].text);
                activeMeta->scenes.push_back(s);
            }
            break;
        }
        case 75:
            engine->disableLogos = a[0].integer != 0;
            break;
        default: // loadmeta, viewmove, the picture and synth commands, version
            break;
        }
        ++nextEvent;
    }
    return true;
}
