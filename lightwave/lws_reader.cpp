#include "lightwave/lws_reader.h"

#include "foundation/diagnostics.h"
#include "foundation/log.h"
#include "foundation/stream.h"
#include "lightwave/lws_load_state.h"
#include "scene/camera.h"
#include "scene/light.h"
#include "scene/object.h"
#include "scene/particle_fx.h"
#include "scene/scene.h"

#include <d3d9.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace {

// One token per keyword that the counting pass looks for, whatever its case.
enum class Counted { none, object, light, camera, emitter, effector };

Counted countedKind(const char* token)
{
    switch (token[0] | 0x20) {
    case 'l':
        return _stricmp(token, "LoadObjectLayer") == 0 ? Counted::object : Counted::none;
    case 'a':
        if (_stricmp(token, "AddNullObject") == 0)
            return Counted::object;
        return _stricmp(token, "AddLight") == 0 ? Counted::light : Counted::none;
    case 'c':
        return _stricmp(token, "CameraMotion") == 0 ? Counted::camera : Counted::none;
    case 'f':
        if (_stricmp(token, "FX_Emitter") == 0)
            return Counted::emitter;
        if (_stricmp(token, "FX_Collision") == 0 || _stricmp(token, "FX_Gravity") == 0 ||
            _stricmp(token, "FX_Wind") == 0)
            return Counted::effector;
        return Counted::none;
    default:
        return Counted::none;
    }
}

void readColor(Scene& scene, float* rgb)
{
    for (int i = 0; i < 3; i++)
        rgb[i] = (float)scene.nextFloat();
}

// The scene-wide keywords; false for any other token.
bool readSceneKeyword(Scene& scene, const char* k)
{
    if (std::strcmp(k, "FirstFrame") == 0)
        scene.firstFrame = scene.nextInt();
    else if (std::strcmp(k, "LastFrame") == 0)
        scene.lastFrame = scene.nextInt();
    else if (std::strcmp(k, "PreviewFirstFrame") == 0)
        scene.previewFirstFrame = scene.nextInt();
    else if (std::strcmp(k, "PreviewLastFrame") == 0)
        scene.previewLastFrame = scene.nextInt();
    else if (std::strcmp(k, "FramesPerSecond") == 0)
        scene.framesPerSecond = scene.nextFloat();
    else if (std::strcmp(k, "AmbientColor") == 0)
        readColor(scene, scene.ambientColor);
    else if (std::strcmp(k, "AmbientIntensity") == 0)
        readAnimated(scene, scene.ambientIntensity);
    else if (std::strcmp(k, "GlobalLightIntensity") == 0)
        readAnimated(scene, scene.globalLightIntensity);
    else if (std::strcmp(k, "GlobalFlareIntensity") == 0)
        readAnimated(scene, scene.globalFlareIntensity);
    else
        return false;
    return true;
}

bool readFogKeyword(Scene& scene, const char* k)
{
    if (std::strcmp(k, "FogType") == 0) {
        static const i32 modes[4] = {D3DFOG_NONE, D3DFOG_LINEAR, D3DFOG_EXP, D3DFOG_EXP2};
        i32 type = scene.nextInt();
        scene.fogType = type >= 0 && type < 4 ? modes[type] : D3DFOG_NONE;
    } else if (std::strcmp(k, "FogMinDistance") == 0)
        scene.fogStart = (float)scene.nextFloat();
    else if (std::strcmp(k, "FogMaxDistance") == 0)
        scene.fogEnd = (float)scene.nextFloat();
    else if (std::strcmp(k, "FogColor") == 0)
        readColor(scene, scene.fogColor);
    else if (std::strcmp(k, "BackdropColor") == 0) {
        readColor(scene, scene.clearColor);
        scene.clearColor[3] = 0.0f;
    } else if (std::strcmp(k, "BackdropFog") == 0) {
        if (scene.nextInt() != 0)
            std::memcpy(scene.fogColor, scene.clearColor, 3 * sizeof(float));
    } else if (std::strcmp(k, "GridNumber") == 0)
        scene.gridNumber = scene.nextInt();
    else if (std::strcmp(k, "GridSize") == 0)
        scene.gridSize = (float)scene.nextFloat();
    else
        return false;
    return true;
}

} // namespace

void readAnimated(Scene& scene, AnimatedValue& value, float scale)
{
    if (scene.tokenCursor < scene.tokenCount && _stricmp(scene.tokens[scene.tokenCursor], "(envelope)") == 0)
        scene.readOldEnvelope(value);
    else
        value.value = (float)(scene.nextFloat() * scale);
}

bool loadLWSText(Scene* scene, char* text, size_t size, Stream* stream, LoadingProgress* progressTarget,
                 float progressStart, float progressShare)
{
    text[size] = 0;
    text[size + 1] = 0;
    // The count follows the splitting rules exactly, so the array always
    // holds what the split stores.
    size_t count = splitLwsTokens(text, size, nullptr, 0);
    if (count > 0x7FFFFFFF)
        return false;
    std::unique_ptr<const char*[]> tokens(new (std::nothrow) const char*[count + 1]);
    if (!tokens)
        return false;
    count = splitLwsTokens(text, size, tokens.get(), count);

    struct Reset {
        Scene* scene;
        ~Reset()
        {
            scene->tokens = nullptr;
            scene->tokenCount = 0;
        }
    } reset{scene};
    scene->tokens = tokens.get();
    scene->tokenCount = (i32)count;
    scene->tokenCursor = 0;

    if (count < 1 || std::strncmp(tokens[0], "LWSC", 4) != 0) {
        ENGINE_ASSERT_FAILED("not an LWS file!");
        return false;
    }
    // A missing version reads as 0 (the cursor stops at the last token), so
    // "LWSC" alone is a wrong version, not a wrong magic.
    scene->tokenCursor = 1;
    if (scene->nextInt() != 3) {
        ENGINE_ASSERT_FAILED("unbekanntes LWS file!!!");
        return false;
    }

    size_t objects = 0, lights = 0, cameras = 0, emitters = 0, effectors = 0;
    for (size_t i = 0; i < count; i++) {
        switch (countedKind(tokens[i])) {
        case Counted::object: objects++; break;
        case Counted::light: lights++; break;
        case Counted::camera: cameras++; break;
        case Counted::emitter: emitters++; break;
        case Counted::effector: effectors++; break;
        case Counted::none: break;
        }
    }
    scene->objects.assign(objects, nullptr);
    scene->lights.assign(lights, nullptr);
    scene->cameras.assign(cameras, nullptr);
    scene->fxEmitter.assign(emitters, nullptr);
    scene->fxEffector.assign(effectors, nullptr);
    for (size_t i = 0; i < objects; i++)
        scene->objects[i] = new Object(scene, (i32)i);
    for (size_t i = 0; i < lights; i++)
        scene->lights[i] = new Light(scene, (i32)i);
    for (size_t i = 0; i < cameras; i++)
        scene->cameras[i] = new Camera(scene, (i32)i);

    LwsLoadState state{scene, stream, progressTarget, progressStart, progressShare, objects};
    scene->tokenCursor = 2;
    while (scene->tokenCursor < scene->tokenCount) {
        const char* k = scene->nextString();
        if (readSceneKeyword(*scene, k) || readObjectKeyword(state, k) || readBoneKeyword(state, k) ||
            readLightKeyword(state, k) || readCameraKeyword(state, k) || readFogKeyword(*scene, k))
            continue;
        if (std::strcmp(k, "Plugin") == 0)
            readPluginBlock(state);
        else if (std::strcmp(k, "//") == 0)
            readComment(state);
    }

    ENGINE_ASSERT(state.numEmitters <= scene->fxEmitter.size());
    ENGINE_ASSERT(state.numEffectors <= scene->fxEffector.size());
    // Unfilled slots (counted, never stored) go with the shrink.
    for (size_t i = state.numEmitters; i < scene->fxEmitter.size(); i++)
        delete scene->fxEmitter[i];
    for (size_t i = state.numEffectors; i < scene->fxEffector.size(); i++)
        delete scene->fxEffector[i];
    scene->fxEmitter.resize(std::min(state.numEmitters, scene->fxEmitter.size()));
    scene->fxEffector.resize(std::min(state.numEffectors, scene->fxEffector.size()));
    scene->currentCamera = scene->cameras.empty() ? nullptr : scene->cameras[0];
    return true;
}

bool loadLWS(const char* fileName, Scene* scene, Stream* stream, LoadingProgress* progressTarget,
             float progressStart, float progressShare)
{
    scene->tokenCursor = 0;
    delete[] scene->name;
    size_t nameLength = std::strlen(fileName);
    scene->name = new char[nameLength + 1];
    std::memcpy(scene->name, fileName, nameLength + 1);

    if (stream == nullptr || !stream->open(fileName)) {
        logStream << "File not found!" << std::endl;
        return false;
    }
    // 64-bit size arithmetic: the size comes from an archive directory.
    size_t size = stream->size;
    std::unique_ptr<char[]> text(new (std::nothrow) char[size + 128 + 2]);
    if (!text) {
        stream->close();
        return false;
    }
    size_t got = size > 0 ? stream->read(text.get(), (u32)size) : 0;
    stream->close();
    if (got == 0 || got > size)
        return false;
    return loadLWSText(scene, text.get(), got, stream, progressTarget, progressStart, progressShare);
}
