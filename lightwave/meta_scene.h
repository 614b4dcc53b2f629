// A named group of scenes loaded together that share the object files,
// surfaces and textures they load. Only the record exists so far; loading,
// lookups and rendering come with the metascene operations.
#pragma once

#include "foundation/byte_string.h"

#include <vector>

class Engine;
class LWObject;
class Scene;
class Surface;
class Texture;
class TextureLayer;

class MetaScene {
public:
    Engine* engine;                  // not owned
    std::vector<Scene*> scenes;      // owned, in load order
    std::vector<LWObject*> lwObjects; // owned; null entries are skipped
    std::vector<Surface*> surfaces;  // owned
    std::vector<Texture*> textures;  // owned
    // Not owned: layers of the surfaces whose texture is a render target.
    std::vector<TextureLayer*> renderTargetLayers;
    String name;

    MetaScene(Engine* engine, const char* name);
    ~MetaScene();
    MetaScene(const MetaScene&) = delete;
    MetaScene& operator=(const MetaScene&) = delete;
};
