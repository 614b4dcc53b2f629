// The reader of LightWave scene files (text, "LWSC" format 3) into a Scene
// of a metascene: its objects with their object-file layers, bones, lights,
// cameras and their motions, the scene-wide values and the sounds named in
// "// sound" comments.
#pragma once

#include "foundation/types.h"

#include <cstddef>

class LoadingProgress; // scene/scene.h: what draws the loading bar
class Scene;
class Stream;

// Reads fileName through stream (also the source of the object and sound
// files) into scene, which must be fresh. False when the file cannot be
// opened or read, or is not a format-3 scene file; the scene's vectors are
// then untouched.
bool loadLWS(const char* fileName, Scene* scene, Stream* stream, LoadingProgress* progressTarget,
             float progressStart, float progressShare);

// Loads from text already in memory (the file reader's second half): the
// buffer must hold size bytes plus two writable bytes behind them, and is
// split in place.
bool loadLWSText(Scene* scene, char* text, size_t size, Stream* stream, LoadingProgress* progressTarget,
                 float progressStart, float progressShare);

// Splits text[0, size) into tokens the way the scene reader does, writing
// zero bytes when out is given. Returns the token count; with out, at most
// capacity tokens are stored.
size_t splitLwsTokens(char* text, size_t size, const char** out, size_t capacity);
