// The demo player's single object: the embedded archives, the parsed
// script with the metascenes it builds, the overlay pictures and text, the
// frame grabber and the demo clock. The events' string arguments point into
// the tokenizer's text, so both live until the demo is destroyed.
#pragma once

#include "demo/script_event.h"
#include "foundation/script_tokenizer.h"
#include "foundation/types.h"
#include "scene/scene.h" // LoadingProgress

#include <functional>
#include <memory>
#include <vector>

class DisplayManager;
class Engine;
class FrameGrabber;
class Image;
class Input;
class ImageTexture;
class MetaScene;
class SarArchive;
class TargetTexture;
class Text;
class Texture;

// A record of the key-binding script's table; only its size is fixed here.
struct KeyBindingRecord {
    u32 words[5];
};
static_assert(sizeof(KeyBindingRecord) == 20, "key-binding records are 20 bytes");

// What the fade overlay draws; the fade commands start a state and the
// overlay moves it on as time passes.
enum FadeState : i32 {
    kFadeNone = 0,
    kFadeFlashRising = 1, // becomes kFadeFlashFalling half way
    kFadeFlashFalling = 2,
    kFadeIn = 3,    // from the colour or picture
    kFadeOut = 4,   // to it, held at the end
    kFadeCross = 5, // the scene's render target over the frame
    kFadeBlur = 6,  // held at its floor
};

class Demo : public LoadingProgress {
public:
    Engine* engine;
    MetaScene* activeMeta = nullptr;
    i32 keysetIndex = -2;
    SarArchive* archive = nullptr;       // "SARFILE" 130: script, scenes, music, pictures
    SarArchive* effectArchive = nullptr; // "SARFILE" 132: effect files, overlay pictures
    u8 quit = 0;
    u8 loopAtStop = 1;
    u8 drawFps = 0;
    i32 restartIndex = -1;
    i32 cameraGroup = 0;
    double speed = 1.0;
    double time = 0.0;
    double previousTime = 0.0;
    FadeState fadeState = kFadeNone;
    double fadeStart = 0.0;
    double fadeDuration = 0.0;
    float fadeColour[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    float fadeFloor = 0.0f;
    Texture* fadeTexture = nullptr; // null: plain colour
    const char* fadeSceneName = nullptr; // into the script text
    std::vector<ScriptEvent> events;
    std::vector<MetaScene*> metaScenes; // one per name; freemeta empties an entry
    std::unique_ptr<ScriptTokenizer> script; // "scene.scr", loaded
    std::unique_ptr<ScriptTokenizer> keyScript;
    i32 nextEvent = 0;
    Text* text = nullptr;
    Image* fontImage = nullptr; // counted reference to "small.bmp"
    TargetTexture* modeTexture = nullptr;
    ImageTexture* logo = nullptr;
    ImageTexture* url = nullptr;
    ImageTexture* digits[10] = {};
    ImageTexture* fpsLabel = nullptr;
    i32 musicHandle = -1;
    std::vector<KeyBindingRecord> keyBindings;
    FrameGrabber* grabber = nullptr;

    explicit Demo(Engine* engine);
    // Whatever shutdown has not released yet goes here too.
    ~Demo() override;
    Demo(const Demo&) = delete;
    Demo& operator=(const Demo&) = delete;

    // Mounts the archives of resources "SARFILE" 130 and 132, loads the
    // effects, the script, the text, the sound and the overlay pictures and
    // shows the loading screen. False at the first piece that fails.
    bool init(DisplayManager* displayManager);
    // One frame: the clock, the due events, every view drawn and presented.
    // False (and quit set) when an event failed.
    bool frame();
    void shutdown();
    // The player's keys and the user camera; once per active pass of the
    // main loop, after the message pump.
    void updateUserCamera(Input* input);

    // Appends the events of the loaded script; false on a parse error (the
    // events before it stay) or when no script is set.
    bool parseSceneScript();
    // Runs the events due at now (milliseconds); false when one failed.
    bool runScriptEvents(i32 now);
    // Before meta is freed: the active metascene and a fade drawing one of
    // its textures let go of it (a fade that never ends would draw a freed
    // texture every frame).
    void forgetMetaScene(const MetaScene* meta);

    // The statistics lines of one frame into the text.
    void printStatistics();
    bool loadOverlayPictures(SarArchive* source);
    bool loadLoadingPicture(const char* name, SarArchive* source, float x0, float y0, float x1, float y1,
                            u32 barColor, u32 backColor);

    // The loading screen at fraction (0 to 1), presented; the probe (a test
    // seam) sees every fraction first. A call within loadingFrameSeconds of
    // the last present draws nothing: a scene of many small items would
    // otherwise spend its load presenting. The full bar always shows.
    void drawLoadingProgress(float fraction) override;
    // A load has ended: the state the limit dropped last, if any, is
    // presented, so the screen does not stay behind where the load stopped.
    void endLoadingProgress();
    std::function<void(float)> loadingProgressProbe;
    double loadingFrameSeconds = 1.0 / 60.0;
    u32 loadingPresents = 0;

private:
    void presentLoadingScreen(float fraction);

    bool shutDown = false;
    double lastLoadingPresent = -1.0e9; // seconds of the steady clock
    float droppedLoadingFraction = -1.0f; // below 0: none dropped since the last present
};

// The music position of the previous frame (seconds).
extern float lastMusicTime;
// Frames completed so far; numbers the recorded frames.
extern i32 frameNumber;
// Set: the statistics text is drawn.
extern u8 showStatistics;
// The frame rate smoothed by the entry point's frame timer; it stays 0 until
// that timer runs.
extern double smoothedFps;
