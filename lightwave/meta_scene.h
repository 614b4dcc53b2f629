// A named group of scenes loaded together from one metascript that share
// the object files, surfaces and textures they load: loading, look-ups by
// name, preparing for display, the per-view render and the release.
#pragma once

#include "foundation/byte_string.h"
#include "foundation/types.h"
#include "scene/scene_group.h"

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class Engine;
class EnvelopeOwner;
class LoadingProgress;
class LWObject;
class Scene;
class ScriptTokenizer;
class Stream;
class Surface;
class Texture;
class TextureLayer;

// The engine, the scenes, the textures and the render-target layers come
// with SceneGroup, the part the scenes see.
class MetaScene : public SceneGroup {
public:
    std::vector<LWObject*> lwObjects; // owned; null entries are skipped
    std::vector<Surface*> surfaces;  // owned
    String name;
    // One per object-file load, kept even when the load fails: surfaces and
    // textures point at its envelopes, so it goes after them.
    std::vector<std::unique_ptr<EnvelopeOwner>> envelopeOwners;

    MetaScene(Engine* engine, const char* name);
    ~MetaScene();
    MetaScene(const MetaScene&) = delete;
    MetaScene& operator=(const MetaScene&) = delete;

    // Creates the metascene name and loads every scene the metascript name
    // lists (read through stream), filling the loading bar from 0 to 0.4.
    // Null, with everything read so far freed, when the metascript cannot be
    // read or a scene fails to load.
    static MetaScene* loadMetascript(const char* name, Engine* engine, Stream* stream,
                                     LoadingProgress* progressTarget);
    // The metascript's entries: per line a file name, optionally followed by
    // one ignored word; a third word on a line starts the next entry.
    static std::vector<String> metascriptEntries(ScriptTokenizer& script);

    // The first scene whose name begins with name, case ignored over name's
    // length (so "" finds the first scene); null when none does.
    Scene* findScene(const char* name) const;
    // Exact-name lookups; null when nothing matches. The first surface of
    // that name; past a few surfaces through an index of the names that
    // grows with them (an object file may hold thousands of tags).
    Surface* findSurface(const char* name) const;
    LWObject* findLwo(const char* name) const;
    // A texture found gets flags OR-ed into its own; a miss changes nothing.
    // The first texture of that name, matched as the archives match file
    // names (letter case and the kind of slash ignored: two spellings of
    // one file are one texture), through an index of the names that grows
    // with the textures.
    Texture* findTexture(const char* name, u32 flags) const;
    // The object file as this metascene holds it, read through fileSource
    // on first use. A file that cannot be read is not recorded, so a later
    // request tries again.
    static LWObject* loadLwo(const char* fileName, Scene* scene, Stream* fileSource);

    // Builds every texture on every device and finishes loading the scenes;
    // the bar runs from 0.4 to 0.9 over the textures, to 1.0 over the scenes.
    void prepare(LoadingProgress* progressTarget);
    // One view: renders the active scenes (or the user camera's scene) and
    // counts the frame. Without any scene rendered the depth buffer (and the
    // target when clearTarget is set, the stencil when there is one) is
    // still cleared, so the view never shows stale depth.
    void update(bool clearTarget, i32 mode, double time);
    // The scenes update renders: with the user camera in use the
    // interaction's target scene, else the first active one; otherwise
    // every active scene in order.
    std::vector<Scene*> scenesToRender(bool userCameraInUse) const;
    // Unbinds the textures and frees everything the metascene owns.
    void clear();

private:
    void freeAll();

    // Name to the position of the first texture of that name, over
    // textures[0, texturesIndexed).
    mutable std::unordered_map<std::string, size_t> textureIndex;
    mutable size_t texturesIndexed = 0;
    // The same for the surfaces.
    mutable std::unordered_map<std::string, size_t> surfaceIndex;
    mutable size_t surfacesIndexed = 0;
};

// The metascene a scene belongs to: the only kind of scene group.
inline MetaScene* metaSceneOf(SceneGroup* group)
{
    return static_cast<MetaScene*>(group);
}

// The engine's default device states on its current device: after a
// metascene has been prepared and after a device reset.
void resetRenderStates(Engine* engine);
