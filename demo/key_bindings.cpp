#include "demo/key_bindings.h"

#include "demo/demo.h"
#include "demo/text.h"
#include "foundation/diagnostics.h"
#include "foundation/engine_limits.h"
#include "foundation/file_names.h"
#include "foundation/log.h"
#include "foundation/script_tokenizer.h"
#include "lightwave/lw_object.h"
#include "lightwave/meta_scene.h"
#include "materials/surface.h"
#include "media/input.h"
#include "media/sound.h"
#include "scene/mesh.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// Key characters and their input codes, in one table for both ways.
constexpr struct {
    char c;
    u8 code;
} kKeys[] = {
    {'1', 0x02}, {'2', 0x03}, {'3', 0x04}, {'4', 0x05}, {'5', 0x06}, {'6', 0x07}, {'7', 0x08}, {'8', 0x09},
    {'9', 0x0A}, {'0', 0x0B}, {'q', 0x10}, {'w', 0x11}, {'e', 0x12}, {'r', 0x13}, {'t', 0x14}, {'y', 0x15},
    {'u', 0x16}, {'i', 0x17}, {'o', 0x18}, {'p', 0x19}, {'a', 0x1E}, {'s', 0x1F}, {'d', 0x20}, {'f', 0x21},
    {'g', 0x22}, {'h', 0x23}, {'j', 0x24}, {'k', 0x25}, {'l', 0x26}, {'z', 0x2C}, {'x', 0x2D}, {'c', 0x2E},
    {'v', 0x2F}, {'b', 0x30}, {'n', 0x31}, {'m', 0x32}, {',', 0x33},
};

bool isSingleKey(const char* token)
{
    return token[0] != '\0' && token[1] == '\0';
}

bool isKeyword(const char* token)
{
    return std::strcmp(token, "Key:") == 0 || std::strcmp(token, "Keyset:") == 0;
}

} // namespace

u8 KeyBindings::keyCode(char c)
{
    for (const auto& k : kKeys)
        if (k.c == c)
            return k.code;
    return 32;
}

char KeyBindings::keyChar(u8 code)
{
    for (const auto& k : kKeys)
        if (k.code == code)
            return k.c;
    return ' ';
}

bool KeyBindings::error(const ScriptTokenizer& script, const char* message)
{
    char text[256];
    std::snprintf(text, sizeof text, "inputHandler.scr(%d): error: %s", script.lineNumber(), message);
    // Logged always, as the demo script's parse errors are.
    logStream << text << std::endl;
    if (diagnosticsLevel >= 2)
        MessageBoxA(nullptr, text, "Parse Error", MB_ICONEXCLAMATION);
    return false;
}

bool KeyBindings::parse(ScriptTokenizer& script, MetaScene* metaScene)
{
    keysets.clear();
    activeKeyset = 0;
    const char* token = script.nextToken();
    while (*token) {
        if (std::strcmp(token, "Keyset:") == 0) {
            const char* key = script.nextToken();
            if (!isSingleKey(key))
                return error(script, "no valid key for keyset declaration");
            keysets.push_back({key[0], {}});
            token = script.nextToken();
            continue;
        }
        if (std::strcmp(token, "Key:") != 0) {
            token = script.nextToken(); // stray tokens are passed over
            continue;
        }
        const char* key = script.nextToken();
        if (!isSingleKey(key))
            return error(script, "no valid key");
        // Events before any keyset declaration get a keyset of their own.
        if (keysets.empty())
            keysets.push_back({' ', {}});
        Event event;
        event.key = key[0];
        const char* type = script.nextToken();
        if (std::strcmp(type, "increaseTime") == 0 || std::strcmp(type, "decreaseTime") == 0 ||
            std::strcmp(type, "toggleTime") == 0) {
            event.type = type[0] == 'i' ? kIncreaseTime : type[0] == 'd' ? kDecreaseTime : kToggleTime;
            script.readFloat(); // the first number is read and not used
            event.limit = double(script.readFloat()) * (1.0 / 30.0);
            const char* soundName = script.nextToken();
            bool overLimit = false;
            if (m_sound && m_soundSource) {
                // One channel per sound, however many events or parses name
                // it; each holds its file and a thread, so only so many.
                const std::string key = fileNameKey(soundName);
                auto known = m_soundChannels.find(key);
                if (known == m_soundChannels.end() && m_soundChannels.size() < limits::keyBindingSounds)
                    known = m_soundChannels.emplace(key, m_sound->createChannel(*m_soundSource, soundName)).first;
                overLimit = known == m_soundChannels.end();
                event.sound = overLimit ? -1 : known->second;
            }
            if (overLimit)
                logStream << "inputHandler.scr(" << script.lineNumber() << "): more than " << limits::keyBindingSounds
                          << " sounds, " << soundName << " sound was not loaded" << std::endl;
            else if (event.sound < 0)
                logStream << soundName << " sound was not loaded" << std::endl;
            token = script.nextToken();
            while (*token && !isKeyword(token)) {
                LWObject* lwo = metaScene ? metaScene->findLwo(token) : nullptr;
                if (!lwo)
                    return error(script, "no valid lwo for currentMetascene");
                const int layer = script.readInt();
                Mesh* mesh = layer >= 0 && size_t(layer) < lwo->layers.size() ? lwo->layers[size_t(layer)] : nullptr;
                if (!mesh)
                    return error(script, "no valid layer for current lwo");
                mesh->keyBound = 1;
                event.layers.push_back(mesh);
                token = script.nextToken();
            }
        } else if (std::strcmp(type, "changeSurfaceColors") == 0) {
            event.type = kChangeSurfaceColors;
            event.limit = double(script.readFloat());
            script.nextToken(); // its meaning is unknown; passed over
            token = script.nextToken();
            while (*token && !isKeyword(token)) {
                Surface* surface = metaScene ? metaScene->findSurface(token) : nullptr;
                if (!surface)
                    return error(script, "no valid surface for currentMetascene");
                SurfaceColor sc{surface, {}};
                for (float& c : sc.color)
                    c = script.readFloat();
                event.surfaces.push_back(sc);
                token = script.nextToken();
            }
        } else {
            return error(script, "no valid eventtype");
        }
        keysets.back().events.push_back(std::move(event));
    }
    return true;
}

bool KeyBindings::load(Demo& demo, Stream* source)
{
    demo.keyScript = std::make_unique<ScriptTokenizer>(source);
    if (!demo.keyScript->load("inputHandler.scr") || !parse(*demo.keyScript, demo.activeMeta))
        return false;
    demo.keysetIndex = activeKeyset;
    return true;
}

KeyBindings::Keyset* KeyBindings::findKeyset(char key)
{
    for (Keyset& k : keysets)
        if (k.key == key)
            return &k;
    return nullptr;
}

void KeyBindings::play(int sound, bool loop)
{
    if (m_sound && sound >= 0)
        m_sound->play(sound, loop);
}

void KeyBindings::stop(int sound)
{
    if (m_sound && sound >= 0)
        m_sound->stop(sound);
}

void KeyBindings::startFade(const Event& event)
{
    for (const SurfaceColor& sc : event.surfaces) {
        Fade fade{sc.surface, {}, {sc.color[0], sc.color[1], sc.color[2]}, event.limit};
        for (int c = 0; c < 3; ++c)
            fade.rate[c] = event.limit > 0.0 ? float((sc.color[c] - sc.surface->color[c].value) / event.limit) : 0.0f;
        // A fade of no duration sets the colour at once.
        if (event.limit <= 0.0)
            fade.remaining = 0.0;
        std::erase_if(fades, [&](const Fade& f) { return f.surface == sc.surface; });
        fades.push_back(fade);
    }
}

void KeyBindings::advanceFades(double dt)
{
    for (Fade& f : fades) {
        const bool done = f.remaining <= dt;
        for (int c = 0; c < 3; ++c)
            f.surface->color[c].value = done ? f.target[c] : f.surface->color[c].value + f.rate[c] * float(dt);
        f.remaining -= dt;
    }
    std::erase_if(fades, [](const Fade& f) { return f.remaining <= 1e-9; });
}

void KeyBindings::dispatch(const Input& input, double dt)
{
    if (activeKeyset >= 0 && size_t(activeKeyset) < keysets.size())
        dispatchKeyset(keysets[size_t(activeKeyset)], input, dt);
    // A fade started now has its first step in this frame.
    advanceFades(dt);
}

void KeyBindings::dispatchKeyset(Keyset& keyset, const Input& input, double dt)
{
    for (Event& e : keyset.events) {
        const bool held = input.keys[keyCode(e.key)] != 0;
        const bool pressed = held && !e.wasHeld;
        e.wasHeld = held;
        if (e.type == kToggleTime && pressed) {
            e.direction = -e.direction;
            e.toggleRunning = 1;
        }
        if (!held && !(e.type == kToggleTime && e.toggleRunning)) {
            stop(e.sound);
            continue;
        }
        if (e.type == kChangeSurfaceColors) {
            if (pressed)
                startFade(e);
            continue;
        }
        for (Mesh* layer : e.layers) {
            double& t = layer->animationTime;
            switch (e.type) {
            case kIncreaseTime:
                if (t + dt < e.limit || e.limit == 0.0) {
                    t += dt;
                    play(e.sound, true);
                } else {
                    stop(e.sound);
                    t = e.limit;
                }
                break;
            case kDecreaseTime:
                if (t - dt > decreaseFloor || e.limit == 0.0) {
                    t -= dt;
                    play(e.sound, true);
                } else {
                    t = decreaseFloor;
                    stop(e.sound);
                }
                break;
            default:
                t += dt * e.direction;
                play(e.sound, true);
                if (t < toggleFloor) {
                    t = toggleFloor;
                    stop(e.sound);
                    e.toggleRunning = 0;
                } else if (e.limit != 0.0 && t > e.limit) {
                    t = e.limit;
                    stop(e.sound);
                    e.toggleRunning = 0;
                }
                break;
            }
        }
    }
}

void KeyBindings::resetText(Text& text) const
{
    text.clear();
    char number[16];
    std::snprintf(number, sizeof number, "%d", activeKeyset);
    text.print(0, 0, number);
}
