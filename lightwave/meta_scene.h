// A named group of scenes loaded together that share the object files,
// surfaces and textures they load. Only the record and the lookups the
// object reader needs exist so far; loading, preparing and rendering come
// with the metascene operations.
#pragma once

#include "foundation/byte_string.h"
#include "foundation/types.h"

#include <memory>
#include <vector>

class Engine;
class EnvelopeOwner;
class LWObject;
class Scene;
class Stream;
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
    // One per object-file load, kept even when the load fails: surfaces and
    // textures point at its envelopes, so it goes after them.
    std::vector<std::unique_ptr<EnvelopeOwner>> envelopeOwners;

    MetaScene(Engine* engine, const char* name);
    ~MetaScene();
    MetaScene(const MetaScene&) = delete;
    MetaScene& operator=(const MetaScene&) = delete;

    // Exact-name lookups; null when nothing matches.
    Surface* findSurface(const char* name) const;
    LWObject* findLwo(const char* name) const;
    // A texture found gets flags OR-ed into its own; a miss changes nothing.
    Texture* findTexture(const char* name, u32 flags) const;
    // The object file as this metascene holds it, read through fileSource
    // on first use. A file that cannot be read is not recorded, so a later
    // request tries again.
    static LWObject* loadLwo(const char* fileName, Scene* scene, Stream* fileSource);
};
