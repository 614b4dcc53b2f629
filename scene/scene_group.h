// What the scenes loaded together share, as the scene graph sees it: the
// engine, the scenes themselves, the textures they own together and the
// texture layers that render into targets. The metascene
// (lightwave/meta_scene.h) is the one kind of group; the scene library sits
// below it and reaches it only through this part.
#pragma once

#include "materials/texel_budget.h"

#include "foundation/types.h"

#include <string>
#include <vector>

class Engine;
class Scene;
class Texture;
class TextureLayer;

class SceneGroup {
public:
    Engine* engine;             // not owned
    std::vector<Scene*> scenes; // owned, in load order
    std::vector<Texture*> textures; // owned
    // Not owned: layers of the surfaces whose texture is a render target.
    std::vector<TextureLayer*> renderTargetLayers;
    // What the group's textures and their pictures may take; it outlives
    // them.
    TexelBudget texelBudget;
    // The memory of the render targets that the group's files and script
    // have made (shadow maps, cube reflections, scene targets).
    u64 targetBytes = 0;

    // Counts a new render target of that many bytes; false, with a line in
    // the log saying what is left out, when the group's targets would pass
    // limits::metaSceneTargetBytes.
    bool takeTargetBytes(u64 bytes, const std::string& what);

    SceneGroup(const SceneGroup&) = delete;
    SceneGroup& operator=(const SceneGroup&) = delete;

protected:
    // Only a metascene is a group, so code above may treat any group as one.
    explicit SceneGroup(Engine* engine) : engine(engine) {}
    ~SceneGroup() = default;
};
