// The engine's own small scene for the free user camera and for picking:
// one camera whose parent is a cursor object carrying an axis cross, and a
// ghost object that draws the picked scene object a second time.
#pragma once

#include "materials/engine.h"
#include "scene/scene.h"

class GhostObject;

class Engine::SceneInteraction : public SceneBase {
public:
    // The picked object; holding the ghost itself requests a new pick.
    Object* selected = nullptr;

    explicit SceneInteraction(Engine* engine);
    ~SceneInteraction() override;

    Object* cursor() const { return objects[0]; }
    GhostObject* ghost() const;
    Camera* camera() const { return cameras[0]; }

    // Picks the smallest object of scene around the cursor when a pick is
    // requested, then points the ghost at the picked object.
    void findEnclosingObject(Scene* scene, double t);
    // Forgets every pick (and the user camera's target scene) that points
    // into meta's scenes, before they go.
    void reset(const SceneGroup* meta);
};

// Makes the engine's interaction unless it has one, and hands the engine the
// deleter its destructor calls. Whoever builds an engine for scenes or the
// demo calls it right after; an engine without one has no user camera.
Engine::SceneInteraction* attachSceneInteraction(Engine* engine);
