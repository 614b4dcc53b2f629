// Keys bound by "inputHandler.scr" for interactive use of a metascene: while
// a key is held its events move the animation time of object layers (with
// a sound playing meanwhile) or fade surfaces to new colours.
#pragma once

#include "foundation/types.h"

#include <map>
#include <string>
#include <vector>

class Demo;
class Input;
class Mesh;
class MetaScene;
class ScriptTokenizer;
class Sound;
class Stream;
class Surface;
class Text;

class KeyBindings {
public:
    enum EventType { kIncreaseTime, kDecreaseTime, kToggleTime, kChangeSurfaceColors };

    struct SurfaceColor {
        Surface* surface;
        float color[3];
    };
    struct Event {
        char key = ' ';
        EventType type = kIncreaseTime;
        int sound = -1;
        double limit = 0.0; // the duration for a colour fade
        u8 toggleRunning = 0;
        double direction = -1.0; // the first press turns it forward
        u8 wasHeld = 0;
        std::vector<Mesh*> layers;
        std::vector<SurfaceColor> surfaces;
    };
    struct Keyset {
        char key = ' ';
        std::vector<Event> events;
    };
    // A surface on its way to a colour.
    struct Fade {
        Surface* surface;
        float rate[3];
        float target[3];
        double remaining;
    };

    static constexpr double decreaseFloor = 0.0625;
    static constexpr double toggleFloor = 1.0 / 15.0;

    std::vector<Keyset> keysets;
    i32 activeKeyset = 0;
    std::vector<Fade> fades;

    // sound and soundSource may be null: the events then have no sound.
    KeyBindings(Sound* sound, Stream* soundSource) : m_sound(sound), m_soundSource(soundSource) {}

    // Reads the loaded script. An error is logged and shown at diagnostics
    // level 2 or more with its line; parsing stops there with false.
    bool parse(ScriptTokenizer& script, MetaScene* metaScene);
    // "inputHandler.scr" read through source into the demo's keyScript (the
    // strings live as long as the demo) and parsed over its active
    // metascene; the demo's keysetIndex then follows the active keyset, so
    // the user camera step shows it. The demo never calls this itself.
    bool load(Demo& demo, Stream* source);
    Keyset* findKeyset(char key);
    void dispatch(const Input& input, double dt);
    void resetText(Text& text) const;

    // The input code of a key character (32 for any other character), and
    // back (a space for any other code).
    static u8 keyCode(char c);
    static char keyChar(u8 code);

private:
    bool error(const ScriptTokenizer& script, const char* message);
    void dispatchKeyset(Keyset& keyset, const Input& input, double dt);
    void startFade(const Event& event);
    void advanceFades(double dt);
    void play(int sound, bool loop);
    void stop(int sound);

    Sound* m_sound;
    Stream* m_soundSource;
    std::map<std::string, int> m_soundChannels; // by sound name as the archive matches it
};
