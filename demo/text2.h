// 3D letters: a scene of the capital letters of a text, each the matching
// layer of "font.lwo" (layers A to Z), spaced half a unit apart, fading in
// over the first second and out between 10 and 11 s.
#pragma once

#include "foundation/types.h"

class MetaScene;
class Scene;
class Stream;

class Text2 {
public:
    Scene* scene = nullptr; // owned until released to the metascene

    Text2(const char* text, Stream* archive, MetaScene* meta);
    virtual ~Text2();
    Text2(const Text2&) = delete;
    Text2& operator=(const Text2&) = delete;

    // Hands the scene over (to the metascene, which deletes it from then
    // on): the letters are never deleted twice.
    Scene* releaseScene();
};

// 'A' to 'Z' give 0 to 25, anything else -1.
i32 letterIndex(char c);
