// State of one scene-file load shared by the reader's main pass and its
// item handlers.
#pragma once

#include "foundation/types.h"

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

class Bone;
class Light;
class LoadingProgress;
class Node;
class Object;
class PolyMesh;
class Scene;
class Stream;
class Camera;

enum class LwsItemKind { none, object, light, camera, bone };

struct LwsLoadState {
    Scene* scene;
    Stream* stream;
    LoadingProgress* progressTarget;
    float progressStart;
    float progressShare;
    size_t objectCount;

    LwsItemKind kind = LwsItemKind::none;
    i32 objectIndex = -1;
    i32 lightIndex = -1;
    i32 cameraIndex = -1;
    i32 boneIndex = -1;
    PolyMesh* boneMesh = nullptr; // the current bone-carrying mesh
    Bone* bone = nullptr;         // the bone opened last, while it is current
    size_t numEmitters = 0;
    size_t numEffectors = 0;
    u32 soundComments = 0; // "// sound" comments read so far, up to the bound
    // The items whose parent or target was set to each item (possibly set
    // again since).
    std::unordered_map<Node*, std::vector<Node*>> referrers{};
    // The first object of each name among objects [0, objectsIndexed):
    // an object takes its name as it is opened and keeps it, so the index
    // only grows, by the objects opened since the last look-up.
    std::unordered_map<std::string, Object*> objectsByName{};
    size_t objectsIndexed = 0;

    // The current item of each kind; null when its index is outside the
    // counted vector (the keyword is then consumed and sets nothing).
    Object* object() const;
    Light* light() const;
    Camera* camera() const;
    // The current item of the current kind.
    Node* current() const;
    // The item an id names, or null.
    Node* findById(u32 id) const;
    // The first object of that name, or null.
    Object* objectNamed(const char* name);
};

// Each consumes its keyword's values; false when the token is no keyword of
// its group.
bool readObjectKeyword(LwsLoadState& state, const char* keyword);
bool readBoneKeyword(LwsLoadState& state, const char* keyword);
bool readLightKeyword(LwsLoadState& state, const char* keyword);
bool readCameraKeyword(LwsLoadState& state, const char* keyword);
// "//" and its first word; a "sound" comment starts a looping channel.
void readComment(LwsLoadState& state);
// After "Plugin": the motion mixer, displacement, particle and HyperVoxel
// plug-ins; any other plug-in is passed over up to its "EndPlugin".
void readPluginBlock(LwsLoadState& state);
// Whether the token cursor has run out.
bool atEnd(const Scene& scene);
// Passes over n tokens, stopping at the end.
void pass(Scene& scene, i32 n);
// A plain number (times scale), or "(envelope)" and its block.
struct AnimatedValue;
void readAnimated(Scene& scene, AnimatedValue& value, float scale = 1.0f);
