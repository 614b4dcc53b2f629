// The item keywords of the scene-file reader: objects, bones, lights and
// cameras. A keyword whose item is not there (an index the counting pass did
// not foresee, a keyword before its first item, a bone without a
// bone-carrying mesh) consumes its values and sets nothing.
#include "foundation/engine_limits.h"
#include "foundation/log.h"
#include "foundation/stream.h"
#include "lightwave/lw_object.h"
#include "lightwave/lws_load_state.h"
#include "lightwave/lws_reader.h"
#include "materials/engine.h"
#include "media/sound.h"
#include "scene/anti_portal.h"
#include "scene/bone.h"
#include "scene/camera.h"
#include "scene/light.h"
#include "scene/mesh.h"
#include "scene/object.h"
#include "scene/poly_mesh.h"
#include "scene/scene.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

constexpr double kDegrees = 0.017453292519943295;

template <class T>
T* at(const std::vector<T*>& v, i32 i)
{
    return i >= 0 && (size_t)i < v.size() ? v[(size_t)i] : nullptr;
}

// Whether following parents, targets and parent bones from `from` reaches
// `to`: storing a reference to `from` in `to` would then close a loop.
// Nothing reaches an item that no item refers to, which settles every
// reference along a chain read in either order at once; otherwise each item
// is visited once.
bool reaches(const LwsLoadState& s, Node* from, Node* to)
{
    if (from == to)
        return true;
    if (from == nullptr || !s.referrers.contains(to))
        return false;
    std::vector<Node*> pending{from};
    std::unordered_set<Node*> seen{from};
    auto follow = [&](Node* n) {
        if (n && seen.insert(n).second)
            pending.push_back(n);
    };
    while (!pending.empty()) {
        Node* n = pending.back();
        pending.pop_back();
        if (n == to)
            return true;
        follow(n->parent);
        follow(n->target);
        if (n->nodeType == 4)
            follow(static_cast<Bone*>(n)->parentBone);
    }
    return false;
}

void repoint(Node* n, Node* from, Node* to)
{
    if (n->parent == from)
        n->parent = to;
    if (n->target == from)
        n->target = to;
}

// Any reference to a replaced placeholder goes to its replacement; only the
// items that referred to it are visited.
void repointAll(LwsLoadState& s, Node* from, Node* to)
{
    auto known = s.referrers.find(from);
    if (known == s.referrers.end())
        return;
    std::vector<Node*> list = std::move(known->second);
    s.referrers.erase(known);
    for (Node* n : list)
        repoint(n, from, to);
    std::vector<Node*>& moved = s.referrers[to];
    moved.insert(moved.end(), list.begin(), list.end());
}

bool endsWithLwo(const char* s)
{
    size_t n = std::strlen(s);
    return n >= 4 && _stricmp(s + n - 4, ".lwo") == 0;
}

// The object file name at the cursor: parts split at whitespace are joined
// up to the one that ends in ".lwo", keeping the whitespace between them.
std::string readObjectFileName(Scene& scene)
{
    if (scene.tokenCursor >= scene.tokenCount)
        return std::string();
    const char* first = scene.nextString();
    const char* last = first;
    while (!endsWithLwo(last) && scene.tokenCursor < scene.tokenCount)
        last = scene.nextString();
    std::string name(first, (size_t)(last + std::strlen(last) - first));
    for (char& c : name)
        if (c == 0)
            c = ' ';
    return name;
}

void openObject(LwsLoadState& s)
{
    s.objectIndex++;
    s.boneIndex = -1;
    s.bone = nullptr;
    s.kind = LwsItemKind::object;
    if (s.progressTarget && s.objectCount > 0 && (size_t)s.objectIndex < s.objectCount)
        s.progressTarget->drawLoadingProgress(s.progressStart +
                                              s.progressShare * (float)s.objectIndex / (float)s.objectCount);
}

void loadObjectLayer(LwsLoadState& s)
{
    Scene& scene = *s.scene;
    openObject(s);
    i32 layer = scene.nextInt();
    std::string name = readObjectFileName(scene);
    Object* object = s.object();
    if (object == nullptr)
        return;
    if (name.size() >= 2 && name[1] == ':')
        name = "\\" + name.substr(2);
    if (name.find("AntiPortal.lwo") != std::string::npos) {
        AntiPortal* portal = new AntiPortal(&scene, object->index);
        repointAll(s, object, portal);
        scene.objects[(size_t)object->index] = portal;
        delete object;
        object = portal;
        portal->hidden = 1;
        scene.antiPortals.push_back(portal);
    }
    object->name = name.c_str();
    object->mesh = LWObject::layer(name.c_str(), layer - 1, &scene, s.stream);
}

// ParentItem and TargetItem on the current item of the current kind.
void readReference(LwsLoadState& s, bool parent)
{
    u32 id = s.scene->nextHex();
    Node* node = s.current();
    if (node == nullptr)
        return;
    Node* ref = s.findById(id);
    if (ref && reaches(s, ref, node))
        ref = nullptr;
    if (ref)
        s.referrers[ref].push_back(node);
    if (parent) {
        node->parent = ref;
        if (s.kind == LwsItemKind::bone && ref && ref->nodeType == 4)
            static_cast<Bone*>(node)->parentBone = static_cast<Bone*>(ref);
    } else {
        node->target = ref;
    }
}

void readPivotRotation(Scene& scene, float out[3])
{
    double heading = scene.nextFloat() * kDegrees;
    double pitch = scene.nextFloat() * kDegrees;
    double bank = scene.nextFloat() * kDegrees;
    if (out) {
        out[0] = (float)pitch;
        out[1] = (float)heading;
        out[2] = (float)bank;
    }
}

void readVector(Scene& scene, float* out)
{
    float v[3];
    for (float& x : v)
        x = (float)scene.nextFloat();
    if (out)
        std::memcpy(out, v, sizeof v);
}

// A motion block into node, or passed over when there is no node.
void readMotion(Scene& scene, Node* node)
{
    if (node) {
        scene.readChannel(node);
        return;
    }
    Object sink(&scene, -1);
    scene.readChannel(&sink);
}

i32 maxTextureSize(Scene& scene)
{
    Engine* engine = scene.engine;
    D3DCAPS9 caps{};
    if (engine && engine->currentDevice && SUCCEEDED(engine->currentDevice->GetDeviceCaps(&caps)) &&
        caps.MaxTextureWidth > 0)
        return (i32)caps.MaxTextureWidth;
    return 4096;
}

} // namespace

Object* LwsLoadState::object() const
{
    return at(scene->objects, objectIndex);
}

Light* LwsLoadState::light() const
{
    return at(scene->lights, lightIndex);
}

Camera* LwsLoadState::camera() const
{
    return at(scene->cameras, cameraIndex);
}

Node* LwsLoadState::current() const
{
    switch (kind) {
    case LwsItemKind::object: return object();
    case LwsItemKind::light: return light();
    case LwsItemKind::camera: return camera();
    case LwsItemKind::bone: return bone;
    case LwsItemKind::none: break;
    }
    return nullptr;
}

Node* LwsLoadState::findById(u32 id) const
{
    u32 number = id & 0x0FFFFFFFu;
    switch (id >> 28) {
    case 1: return at(scene->objects, number > 0x7FFFFFFF ? -1 : (i32)number);
    case 2: return at(scene->lights, (i32)number);
    case 3: return at(scene->cameras, (i32)number);
    case 4: return boneMesh ? at(boneMesh->bones, (i32)(number >> 16)) : nullptr;
    default: return nullptr;
    }
}

Object* LwsLoadState::objectNamed(const char* name)
{
    const std::vector<Object*>& objects = scene->objects;
    const size_t opened = std::min(objects.size(), size_t(objectIndex + 1));
    for (; objectsIndexed < opened; ++objectsIndexed)
        if (Object* o = objects[objectsIndexed])
            objectsByName.emplace(o->name.c_str(), o);
    const auto found = objectsByName.find(name);
    if (found != objectsByName.end())
        return found->second;
    // The objects not opened yet still have their first, empty name.
    for (size_t i = opened; i < objects.size(); ++i)
        if (objects[i])
            return std::strcmp(objects[i]->name.c_str(), name) == 0 ? objects[i] : nullptr;
    return nullptr;
}

bool readObjectKeyword(LwsLoadState& s, const char* k)
{
    Scene& scene = *s.scene;
    if (std::strcmp(k, "LoadObjectLayer") == 0) {
        loadObjectLayer(s);
        return true;
    }
    if (std::strcmp(k, "AddNullObject") == 0) {
        openObject(s);
        const char* name = scene.nextString();
        if (Object* object = s.object())
            object->name = name;
        return true;
    }
    Object* object = s.object();
    if (std::strcmp(k, "UnseenByCamera") == 0) {
        if (object)
            object->hidden = 1;
    } else if (std::strcmp(k, "ObjectMotion") == 0) {
        readMotion(scene, object);
    } else if (std::strcmp(k, "UnaffectedByFog") == 0) {
        i32 v = scene.nextInt();
        if (object)
            object->unaffectedByFog = (u8)v;
    } else if (std::strcmp(k, "ShadowOptions") == 0) {
        i32 v = scene.nextInt();
        if (object)
            object->shadowOptions = v;
    } else if (std::strcmp(k, "PivotPosition") == 0) {
        readVector(scene, object && s.kind == LwsItemKind::object ? object->pivotPosition : nullptr);
    } else if (std::strcmp(k, "PivotRotation") == 0) {
        readPivotRotation(scene, object && s.kind == LwsItemKind::object ? object->pivotRotation : nullptr);
    } else if (std::strcmp(k, "BumpDisplacement") == 0) {
        if (object)
            object->bumpDisplacement = 1;
    } else if (std::strcmp(k, "BoneFalloffType") == 0) {
        i32 v = scene.nextInt();
        if (object) {
            s.boneMesh = object->mesh ? object->mesh->asPolyMesh() : nullptr;
            if (s.boneMesh)
                s.boneMesh->boneFalloffType = v;
        }
    } else if (std::strcmp(k, "ExcludeLight") == 0) {
        u32 id = scene.nextHex();
        if (object && id != 0x21000000u && id != 0x22000000u)
            object->excludedLights.push_back((i32)(id - 0x20000000u));
    } else if (std::strcmp(k, "HController") == 0 || std::strcmp(k, "PController") == 0 ||
               std::strcmp(k, "BController") == 0) {
        i32 v = scene.nextInt();
        if (Node* node = s.current())
            (k[0] == 'H' ? node->headingController : k[0] == 'P' ? node->pitchController : node->bankController) = v;
    } else if (std::strcmp(k, "PathAlignLookAhead") == 0) {
        float v = (float)scene.nextFloat();
        if (Node* node = s.current())
            node->pathLookAhead = v;
    } else if (std::strcmp(k, "ParentItem") == 0) {
        readReference(s, true);
    } else if (std::strcmp(k, "TargetItem") == 0) {
        readReference(s, false);
    } else {
        return false;
    }
    return true;
}

bool readBoneKeyword(LwsLoadState& s, const char* k)
{
    Scene& scene = *s.scene;
    if (std::strcmp(k, "AddBone") == 0) {
        s.boneIndex++;
        s.kind = LwsItemKind::bone;
        s.bone = nullptr;
        Object* object = s.object();
        if (object && s.boneMesh && object->mesh && s.boneMesh == object->mesh->asPolyMesh()) {
            s.bone = new Bone(&scene, s.boneIndex, s.objectIndex);
            s.bone->parent = object;
            s.boneMesh->bones.push_back(s.bone);
        }
        return true;
    }
    if (std::strncmp(k, "Bone", 4) != 0 && std::strcmp(k, "ScaleBoneStrength") != 0)
        return false;
    Bone* b = s.bone; // the last bone opened, whatever the current kind
    if (std::strcmp(k, "BoneName") == 0) {
        const char* name = scene.nextString();
        if (b)
            b->name = name;
    } else if (std::strcmp(k, "BoneMotion") == 0) {
        readMotion(scene, b);
    } else if (std::strcmp(k, "BoneRestPosition") == 0) {
        readVector(scene, b ? b->restPosition : nullptr);
    } else if (std::strcmp(k, "BoneRestDirection") == 0) {
        readPivotRotation(scene, b ? b->restDirection : nullptr);
    } else if (std::strcmp(k, "BoneRestLength") == 0 || std::strcmp(k, "BoneStrength") == 0 ||
               std::strcmp(k, "BoneMinRange") == 0 || std::strcmp(k, "BoneMaxRange") == 0) {
        float v = (float)scene.nextFloat();
        if (b)
            (k[4] == 'R' ? b->restLength : k[4] == 'S' ? b->strength : k[5] == 'i' ? b->minRange : b->maxRange) = v;
    } else if (std::strcmp(k, "ScaleBoneStrength") == 0 || std::strcmp(k, "BoneLimitedRange") == 0) {
        i32 v = scene.nextInt();
        if (b)
            (k[0] == 'S' ? b->scaleStrength : b->limitedRange) = v == 1;
    } else {
        // BoneFalloffType is the object's; other Bone... words are unknown.
        return false;
    }
    return true;
}

bool readLightKeyword(LwsLoadState& s, const char* k)
{
    Scene& scene = *s.scene;
    if (std::strcmp(k, "AddLight") == 0) {
        s.lightIndex++;
        s.kind = LwsItemKind::light;
        return true;
    }
    Light* l = s.light();
    // Without a current light the values go to a throw-away one, made only
    // then (a light's constructor draws from the shared random numbers).
    std::optional<Light> sink;
    auto target = [&]() -> Light& { return l ? *l : sink ? *sink : sink.emplace(&scene, -1); };
    if (std::strcmp(k, "LightName") == 0)
        target().name = scene.nextString();
    else if (std::strcmp(k, "LightMotion") == 0)
        scene.readChannel(&target());
    else if (std::strcmp(k, "LightType") == 0)
        target().lightType = scene.nextInt();
    else if (std::strcmp(k, "LightQuality") == 0)
        scene.nextInt();
    else if (std::strcmp(k, "LightColor") == 0) {
        if (scene.tokenCursor < scene.tokenCount &&
            _stricmp(scene.tokens[scene.tokenCursor], "(envelope)") == 0) {
            AnimatedValue* rgb[3] = {&target().red, &target().green, &target().blue};
            for (AnimatedValue* v : rgb) {
                scene.readOldEnvelope(*v);
                scene.nextString();
            }
        } else {
            target().red.value = (float)scene.nextFloat();
            target().green.value = (float)scene.nextFloat();
            target().blue.value = (float)scene.nextFloat();
        }
    } else if (std::strcmp(k, "LightIntensity") == 0)
        readAnimated(scene, target().intensity);
    else if (std::strcmp(k, "LightFalloffType") == 0)
        target().falloffType = scene.nextInt();
    else if (std::strcmp(k, "LightRange") == 0)
        readAnimated(scene, target().range);
    else if (std::strcmp(k, "LightConeAngle") == 0)
        readAnimated(scene, target().coneAngle, (float)kDegrees);
    else if (std::strcmp(k, "LightEdgeAngle") == 0)
        readAnimated(scene, target().edgeAngle, (float)kDegrees);
    else if (std::strcmp(k, "AffectDiffuse") == 0)
        target().noDiffuse = scene.nextInt() == 0;
    else if (std::strcmp(k, "AffectSpecular") == 0)
        target().noSpecular = scene.nextInt() == 0;
    else if (std::strcmp(k, "AffectOpenGL") == 0)
        target().affectOpenGLOff = scene.nextInt() == 0;
    else if (std::strcmp(k, "ShadowType") == 0)
        target().shadowType = scene.nextInt();
    else if (std::strcmp(k, "ShadowMapSize") == 0) {
        // The size becomes a texture and a divisor: no zero, no negative,
        // nothing the device cannot make or a real scene would ask for.
        const i32 size = scene.nextInt();
        const i32 limit = std::min(l ? maxTextureSize(scene) : limits::shadowMapEdge, limits::shadowMapEdge);
        if (l && size > limit)
            logStream << "ShadowMapSize " << size << " of light \"" << l->name.c_str() << "\" lowered to " << limit
                      << std::endl;
        target().shadowMapSize = size <= 0 ? 1024 : std::min(size, limit);
    } else if (std::strcmp(k, "ShadowFuzziness") == 0)
        target().depthBias = -(float)std::pow(2.0, -scene.nextFloat());
    else if (std::strcmp(k, "LensFlare") == 0)
        target().lensFlare = scene.nextInt() != 0;
    else if (std::strcmp(k, "FlareIntensity") == 0)
        readAnimated(scene, target().flareIntensity);
    else if (std::strcmp(k, "LensFlareOptions") == 0)
        target().flareOptions = scene.nextInt();
    else if (std::strcmp(k, "FlareNominalDistance") == 0)
        target().flareNominalDistance = (float)scene.nextFloat();
    else if (std::strcmp(k, "LensFlareFade") == 0)
        target().flareFade = scene.nextInt();
    else if (std::strcmp(k, "FlareRotationAngle") == 0)
        readAnimated(scene, target().flareRotationAngle);
    else
        return false;
    return true;
}

bool readCameraKeyword(LwsLoadState& s, const char* k)
{
    Scene& scene = *s.scene;
    if (std::strcmp(k, "AddCamera") == 0) {
        s.cameraIndex++;
        s.kind = LwsItemKind::camera;
        return true;
    }
    Camera* c = s.camera();
    if (std::strcmp(k, "CameraName") == 0) {
        const char* name = scene.nextString();
        if (c)
            c->name = name;
    } else if (std::strcmp(k, "CameraMotion") == 0) {
        readMotion(scene, c);
    } else if (std::strcmp(k, "ZoomFactor") == 0) {
        AnimatedValue sink;
        readAnimated(scene, c ? c->zoom : sink);
        delete sink.source;
    } else if (std::strcmp(k, "EyeSeparation") == 0) {
        float v = (float)scene.nextFloat();
        if (c)
            c->eyeSeparation = v;
    } else {
        return false;
    }
    return true;
}

void readComment(LwsLoadState& s)
{
    Scene& scene = *s.scene;
    if (std::strcmp(scene.nextString(), "sound") != 0)
        return;
    const char* fileName = scene.nextString();
    // Every sound reads its whole file and may start a thread; a file of a
    // thousand comments would cost gigabytes and minutes of run time.
    if (s.soundComments >= limits::soundCommentsPerSceneFile) {
        if (s.soundComments == limits::soundCommentsPerSceneFile) {
            logStream << (scene.name ? scene.name : "") << ": more than " << limits::soundCommentsPerSceneFile
                      << " sound comments, " << fileName << " and the later ones were not loaded" << std::endl;
            s.soundComments++;
        }
        return;
    }
    s.soundComments++;
    Engine* engine = scene.engine;
    Sound* sound = engine ? engine->sound : nullptr;
    int handle = sound && s.stream ? sound->createChannel(*s.stream, fileName) : -1;
    if (handle < 0) {
        logStream << fileName << " sound was not loaded" << std::endl;
        return;
    }
    Object* object = s.object();
    if (object == nullptr) {
        // Nothing would move, stop or free it.
        sound->releaseChannel(handle);
        return;
    }
    sound->play(handle, true);
    sound->setVolume(handle, 0.0f);
    // A later comment of the object replaces its sound; the earlier channel
    // would otherwise play on, owned by nobody, to the end of the run.
    if (object->soundChannel >= 0) {
        sound->stop(object->soundChannel);
        sound->releaseChannel(object->soundChannel);
    }
    object->soundChannel = handle;
}
