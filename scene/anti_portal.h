// An invisible occluder quad placed in a scene as an object: whatever lies
// fully behind it from the camera is not drawn. Only the record exists so
// far; the occlusion tests come with the object drawing.
#pragma once

#include "scene/object.h"

class AntiPortal : public Object {
public:
    AntiPortal(SceneBase* scene, i32 index) : Object(scene, index) {}
};
