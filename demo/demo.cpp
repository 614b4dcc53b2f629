#include "demo/demo.h"

#include "demo/overlays.h"
#include "demo/text.h"
#include "display/display_manager.h"
#include "display/display_settings.h"
#include "foundation/log.h"
#include "foundation/profiler.h"
#include "foundation/resource_stream.h"
#include "foundation/sar_archive.h"
#include "lightwave/meta_scene.h"
#include "materials/engine.h"
#include "materials/generated_textures.h"
#include "materials/image_cache.h"
#include "materials/shader_pair.h"
#include "materials/texture.h"
#include "media/direct_sound.h"
#include "media/frame_grabber.h"
#include "media/sound.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

float lastMusicTime = 0.0f;
i32 frameNumber = 0;
u8 showStatistics = 0;
double smoothedFps = 0.0;

namespace {

// The names the archives are mounted under: the one name each resource
// stream answers.
constexpr const char* kMainMount = "SARFILE130";
constexpr const char* kEffectMount = "SARFILE132";

SarArchive* mountResource(u16 id, const char* mountName)
{
    ResourceStream resource("SARFILE", id, mountName);
    if (!resource.found())
        return nullptr;
    auto* mounted = new SarArchive(resource);
    if (!mounted->mount(mountName)) {
        delete mounted;
        return nullptr;
    }
    return mounted;
}

bool recording(const FrameGrabber* grabber)
{
    return grabber && (grabber->graph || grabber->bmpBaseName.length() != 0);
}

void grab(FrameGrabber* grabber)
{
    if (grabber->graph && grabber->filter)
        grabber->grabAviFrame(frameNumber);
    if (grabber->bmpBaseName.length() != 0)
        grabber->writeBmpFrame(grabber->bmpBaseName.c_str(), frameNumber);
}

// The counters of the frame loop (the entry point registers them).
constexpr int kRenderCounter = 0;
constexpr int kPresentCounter = 6;

} // namespace

Demo::Demo(Engine* engine) : engine(engine) {}

Demo::~Demo()
{
    shutdown();
    // The digits and the fps label outlive the shutdown; they go with the
    // demo.
    for (ImageTexture*& digit : digits) {
        delete digit;
        digit = nullptr;
    }
    delete fpsLabel;
    fpsLabel = nullptr;
    // The scripts' strings are used until here.
    script.reset();
    keyScript.reset();
    delete archive;
    delete effectArchive;
    archive = nullptr;
    effectArchive = nullptr;
}

bool Demo::init(DisplayManager* displayManager)
{
    const DisplaySettings* settings = displayManager ? displayManager->settings : nullptr;
    IDirect3DDevice9* device = engine->currentDevice;
    if (!device)
        return false;

    D3DVIEWPORT9 viewport = {0, 0, DWORD(engine->width), DWORD(engine->height), 0.0f, 1.0f};
    device->SetViewport(&viewport);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 0.0f, 0);
    device->Present(nullptr, nullptr, nullptr, nullptr);

    archive = mountResource(130, kMainMount);
    effectArchive = mountResource(132, kEffectMount);
    if (!archive || !effectArchive)
        return false;

    device->SetSoftwareVertexProcessing(engine->hardwareTnL && engine->hardwareVertexShaders ? FALSE : TRUE);
    if (!engine->loadEffects(effectArchive))
        return false;
    device->SetSoftwareVertexProcessing(engine->hardwareTnL ? FALSE : TRUE);

    script = std::make_unique<ScriptTokenizer>(archive);
    const char* scriptName = settings && settings->scriptName ? settings->scriptName : "scene.scr";
    if (!script->load(scriptName) || !parseSceneScript())
        return false;

    text = new Text(engine, archive);

    grabber = new FrameGrabber(&engine->currentDevice, settings);
    if (settings && settings->videoOutput && *settings->videoOutput) {
        if (settings->compressorIndex < 0) {
            grabber->startBmpSequence(settings->videoOutput);
        } else if (FAILED(grabber->startAvi(settings->videoOutput, settings->compressorIndex))) {
            // The demo plays on without recording; the log says why no file came.
            logStream << "could not start AVI grabbing" << std::endl;
        }
    }

    nextEvent = 0;

    Sound* sound = nullptr;
    if (settings && settings->noSound)
        sound = new Sound();
    else
        sound = DirectSound::create(displayManager && displayManager->devices ? displayManager->devices[0].window
                                                                              : nullptr);
    delete engine->sound;
    engine->sound = sound;

    loadOverlayPictures(effectArchive);
    loadLoadingPicture("loading.jpg", archive, 0.0f, 0.91f, 1.0f, 0.935f, 0xFF606060u, 0xFF000000u);
    drawLoadingProgress(0.0f);

    time = 0.0;
    return true;
}

void Demo::forgetMetaScene(const MetaScene* meta)
{
    if (!meta)
        return;
    if (activeMeta == meta)
        activeMeta = nullptr;
    if (fadeTexture && std::find(meta->textures.begin(), meta->textures.end(), fadeTexture) != meta->textures.end()) {
        fadeTexture = nullptr;
        fadeState = kFadeNone;
    }
}

void Demo::printStatistics()
{
    if (!text)
        return;
    char line[256];
    if (engine->deviceCount > 1) {
        std::snprintf(line, sizeof line, " Depth (F7/F8):  %d   Scene Extrusion (F11/F12):  %d%%   ",
                      i32(std::clamp(engine->stereoDepth * 100.0f, -2e9f, 2e9f)),
                      i32(std::clamp(engine->sceneExtrusion * 100.0f, -2e9f, 2e9f)));
        text->print(1, 1, line);
    } else {
        text->print(1, 4, " ________________________________________ ");
        text->print(1, 1, " Corvane - Quillon 3D Engine ");
    }
    if (engine->fixedFunction || !engine->standardPair)
        std::snprintf(line, sizeof line, " time: %f     fixed function ", time);
    else
        std::snprintf(line, sizeof line, " time: %f     compiled shaders: %ux2 ", time,
                      unsigned(engine->standardPair->variants.size()));
    text->print(1, 15, line);
    std::snprintf(line, sizeof line, " fps: %f     dipCalls: %lu          ", smoothedFps,
                  static_cast<unsigned long>(engine->drawCalls));
    text->print(1, 26, line);
    std::snprintf(line, sizeof line, " ppf: %lu     ", static_cast<unsigned long>(engine->primitivesDrawn));
    text->print(1, 37, line);
    if (engine->deviceCount > 1) {
        std::snprintf(line, sizeof line, " z near: %f     (%f)     ", double(engine->zNear), double(engine->zNearCopy));
        text->print(1, 48, line);
    }
}

bool Demo::frame()
{
    previousTime = time;
    const double m = engine->sound ? engine->sound->getTime(musicHandle) : 0.0;
    time += (m - double(lastMusicTime)) * speed;
    lastMusicTime = float(m);
    if (recording(grabber))
        time = double(frameNumber) * double(0.04f);
    if (time < 0.0) {
        time = 0.0;
        if (speed < 0.0)
            speed = 0.0;
    }
    engine->musicTime = std::max(m, 0.0);

    // Whole milliseconds, kept inside the integer range on runaway clocks.
    const i32 now = i32(std::min(time * 1000.0, 2147483647.0));
    if (!runScriptEvents(now)) {
        quit = 1;
        return false;
    }

    engine->stereoSeparationPrevious = engine->stereoSeparation;
    engine->zeroParallaxPrevious = engine->zeroParallax;

    printStatistics();

    const i32 n = engine->deviceCount;
    for (i32 v = 0; v < n; ++v) {
        Profiler::start(kRenderCounter);
        engine->currentIndex = n > 1 ? v : 0;
        engine->currentDevice = engine->devices[engine->currentIndex];
        engine->stereoEye = n > 1 ? v : -1;
        if (activeMeta)
            activeMeta->update(true, 0, time);
        Profiler::stop(kRenderCounter);

        IDirect3DDevice9* device = engine->currentDevice;
        device->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
        if (!userCameraActive(engine))
            updateFade(this);
        if (!engine->disableLogos)
            drawLogosAndFps(this);
        if (engine->stereoEye >= 0 && text) {
            char line[160];
            std::snprintf(line, sizeof line, "zero parallax depth:  %f    %s", double(engine->zeroParallaxPrevious),
                          engine->stereoEye == 0 ? "left LEFT left LEFT left LEFT" : "right RIGHT right RIGHT right");
            text->print(10, 50, line);
        }
        if (showStatistics && text)
            text->draw();
        if (v == 0 && grabber && grabber->backBufferMode)
            grab(grabber);
        Profiler::start(kPresentCounter);
        device->Present(nullptr, nullptr, nullptr, nullptr);
        Sleep(0);
        Profiler::stop(kPresentCounter);
    }
    if (grabber && !grabber->backBufferMode)
        grab(grabber);

    frameNumber += 1;
    if (engine->sound)
        engine->sound->update();
    return true;
}

void Demo::shutdown()
{
    if (shutDown || !engine)
        return;
    shutDown = true;
    if (engine->sound)
        engine->sound->stop(musicHandle);
    activeMeta = nullptr;
    for (MetaScene*& meta : metaScenes) {
        if (!meta)
            continue;
        forgetMetaScene(meta);
        meta->clear();
        delete meta;
        meta = nullptr;
    }
    metaScenes.clear();
    metaScenes.shrink_to_fit();
    delete modeTexture;
    modeTexture = nullptr;
    if (fontImage)
        fontImage->release();
    fontImage = nullptr;
    delete url;
    url = nullptr;
    if (logo) {
        delete logo->alphaTexture;
        delete logo;
        logo = nullptr;
    }
    delete loadingPicture;
    loadingPicture = nullptr;
    if (grabber)
        grabber->stopGraph();
    delete grabber;
    grabber = nullptr;
    delete text;
    text = nullptr;
}
