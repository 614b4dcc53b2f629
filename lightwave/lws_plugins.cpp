// The plug-in blocks of a scene file. Their data is positional: most values
// are known by their place, not by a keyword. Every loop also stops at the
// end of the tokens, so a truncated block cannot run past them.
#include "foundation/diagnostics.h"
#include "lightwave/lws_load_state.h"
#include "lightwave/meta_scene.h"
#include "lightwave/wrap_rule.h"
#include "materials/engine.h"
#include "materials/texture.h"
#include "materials/texture_layer.h"
#include "scene/hv_object.h"
#include "scene/object.h"
#include "scene/particle_fx.h"
#include "scene/scene.h"

#include <windows.h>

#include <cmath>
#include <cstring>
#include <string>

namespace {

// The token at the cursor, without taking it.
const char* peek(const Scene& scene)
{
    return atEnd(scene) ? "" : scene.tokens[scene.tokenCursor];
}

// A block's closing "}" taken, or nothing left to read.
bool blockDone(Scene& scene)
{
    return scene.atBlockEnd() || atEnd(scene);
}

float nextReal(Scene& scene)
{
    return float(scene.nextFloat());
}

// A real followed by a flag token; "1" brings an envelope and one more token.
void readAnimatedParameter(Scene& scene, AnimatedValue& value)
{
    value.value = nextReal(scene);
    if (std::strcmp(scene.nextString(), "1") == 0) {
        scene.readEnvelope(value);
        pass(scene, 1);
    }
}

// Three reals and one flag; "1" brings an envelope for each.
void readAnimatedTriple(Scene& scene, AnimatedValue* values)
{
    for (int i = 0; i < 3; i++)
        values[i].value = nextReal(scene);
    if (std::strcmp(scene.nextString(), "1") == 0)
        for (int i = 0; i < 3; i++) {
            scene.readEnvelope(values[i]);
            pass(scene, 1);
        }
}

bool readFlag(Scene& scene)
{
    return std::strcmp(scene.nextString(), "0") != 0;
}

// Read for the file's layout, then thrown away.
void dropAnimated(Scene& scene)
{
    AnimatedValue scratch;
    readAnimatedParameter(scene, scratch);
    delete scratch.source;
}

void dropAnimatedTriple(Scene& scene)
{
    AnimatedValue scratch[3];
    readAnimatedTriple(scene, scratch);
    for (AnimatedValue& v : scratch)
        delete v.source;
}

// --- Motion mixer: every value read and dropped.

void readMixerLevel(Scene& scene, const char* level);

// Values of one name of a mixer level; false when the name has none here.
bool readMixerValue(Scene& scene, const char* level, const char* name)
{
    struct Entry {
        const char* level;
        const char* name;
        i32 tokens;     // values taken; -1: a nested level
    };
    static const Entry entries[] = {
        {"", "Actor", -1}, {"", "Prefs", 1},
        {"Actor", "AddActor", 1}, {"Actor", "ActorState", 1}, {"Actor", "ActorPoseFrame", 1},
        {"Actor", "ActorItems", -1}, {"Actor", "ActorMotions", -1}, {"Actor", "ActorTracks", -1},
        {"ActorItems", "ItemName", 1}, {"ActorItems", "ItemAdd", 1}, {"ActorItems", "ItemLock", 1},
        {"ActorMotions", "AddMotion", -1},
        {"AddMotion", "MotionActor", 1}, {"AddMotion", "MotionName", 1}, {"AddMotion", "MotionRange", 2},
        {"AddMotion", "MotionFrames", 1}, {"AddMotion", "NumberOfItems", 1}, {"AddMotion", "Item", -1},
        {"Item", "ItemName", 1}, {"Item", "ItemState", 1}, {"Item", "ItemChannels", 1}, {"Item", "Channel", -1},
        {"Channel", "ChannelName", 1}, {"Channel", "ChannelType", 1},
        {"ActorTracks", "AddTrack", -1},
        {"AddTrack", "TrackState", 1}, {"AddTrack", "TrackMotions", -1},
        {"TrackMotions", "AddTrackMotion", -1},
        {"AddTrackMotion", "TrackMotionName", 1}, {"AddTrackMotion", "TrackMotionState", 1},
        {"AddTrackMotion", "TrackMotionInOut", 2}, {"AddTrackMotion", "TrackMotionStartFrame", 1},
        {"AddTrackMotion", "TrackMotionEndFrame", 1}, {"AddTrackMotion", "TrackMotionScale", 1},
        {"AddTrackMotion", "TrackMotionOffset", 1}, {"AddTrackMotion", "TrackMotionOffsetType", 1},
        {"AddTrackMotion", "TrackMotionStates", -1}, {"AddTrackMotion", "TrackMotionTimeWarp", -1},
        {"AddTrackMotion", "TrackMotionWeight", -1},
        {"TrackMotionStates", "TrackMotionItemName", 1}, {"TrackMotionStates", "TrackMotionItemState", 1},
        {"TrackMotionTimeWarp", "TrackMotionTimeWarpState", 1},
        {"TrackMotionWeight", "TrackMotionWeightState", 1},
    };
    for (const Entry& e : entries) {
        if (std::strcmp(e.level, level) != 0 || std::strcmp(e.name, name) != 0)
            continue;
        if (e.tokens < 0)
            readMixerLevel(scene, e.name);
        else
            pass(scene, e.tokens);
        return true;
    }
    return false;
}

// Until the "}" that closes the level; any other name's block is passed over.
void readMixerLevel(Scene& scene, const char* level)
{
    while (!blockDone(scene)) {
        const char* name = scene.nextName();
        // A block that lost its braces ends with its plug-in.
        if (std::strcmp(name, "EndPlugin") == 0)
            return;
        // A channel level ends at its state or envelope.
        if (std::strcmp(level, "Channel") == 0 &&
            (std::strcmp(name, "ChannelState") == 0 || std::strcmp(name, "Envelope") == 0)) {
            scene.skipBlock();
            return;
        }
        if (!readMixerValue(scene, level, name))
            scene.skipBlock();
    }
}

// --- Particle plug-ins

// Stores fx at the next slot of its vector, or deletes it: disabled, without
// an object to carry it, or beyond what the counting pass made room for.
template <typename Fx>
void keep(std::vector<ParticleFX*>& slots, size_t& used, Fx* fx, bool disabled)
{
    if (!fx || disabled || used >= slots.size()) {
        delete fx;
        return;
    }
    slots[used++] = fx;
}

void readEmitter(LwsLoadState& s, Object* object)
{
    Scene& scene = *s.scene;
    FXEmitter* e = object ? new FXEmitter(object) : nullptr;
    FXEmitter scratch(nullptr); // takes the values when there is no object
    FXEmitter& d = e ? *e : scratch;
    pass(scene, 3);
    for (float& g : d.generatorSize)
        g = nextReal(scene);
    if (std::strcmp(scene.nextString(), "p0") != 0)
        pass(scene, 1);
    pass(scene, 3);
    d.setParticleCount(scene.nextInt());
    pass(scene, 2);
    for (AnimatedValue& v : d.velocity)
        v.value = nextReal(scene);
    d.motionFactor = nextReal(scene);
    pass(scene, 3);
    for (float& a : d.acceleration)
        a = nextReal(scene);
    pass(scene, 3);
    d.birthRate.value = nextReal(scene);
    auto truncated = [&scene] {
        const double v = std::trunc(scene.nextFloat());
        // Out of range (or not a number) is no value a mode knows.
        return v >= -2147483648.0 && v <= 2147483647.0 ? i32(v) : -1;
    };
    d.placement = truncated();
    pass(scene, 1);
    d.birthUnit = truncated();
    d.lifeTime.value = nextReal(scene) * (1.0f / 30.0f);
    d.lifeSpread.value = nextReal(scene) * (1.0f / 30.0f);
    d.radialSpeed.value = nextReal(scene);
    pass(scene, 1);
    d.birthMode = scene.nextInt();
    pass(scene, 10);
    d.extra0Base.value = nextReal(scene);
    d.extra1Base.value = nextReal(scene);
    d.extra0Spread.value = nextReal(scene);
    d.extra1Spread.value = nextReal(scene);
    pass(scene, 3);
    d.extra2Base.value = nextReal(scene);
    d.extra2Spread.value = nextReal(scene);
    pass(scene, 2);
    d.speedLimit = nextReal(scene);
    pass(scene, 3);
    for (const char* name = scene.nextName(); std::strcmp(name, "EndPlugin") != 0 && !atEnd(scene);
         name = scene.nextName()) {
        if (std::strcmp(name, "VariantParameter") == 0) {
            pass(scene, 3);
            d.birthRate.value = nextReal(scene);
            // The integer after the rate stands where "(envelope)" would.
            const i32 at = scene.tokenCursor;
            scene.nextInt();
            scene.tokenCursor = at;
            scene.readOldEnvelope(d.birthRate);
            pass(scene, 3);
        }
        pass(scene, 1);
    }
    const bool disabled = _stricmp(peek(scene), "PluginEnabled") == 0;
    keep(scene.fxEmitter, s.numEmitters, e, disabled);
}

// The values gravity and wind open with: the group, the two animated
// amounts and the two modes.
template <class Field>
void readFieldHead(Scene& scene, Field& d)
{
    pass(scene, 3);
    d.group = scene.nextInt();
    d.range.value = nextReal(scene);
    d.strength.value = nextReal(scene);
    d.mode = scene.nextInt();
    d.falloff = scene.nextInt();
}

// The order of the stored values: the group, the two animated amounts, the
// modes, then the direction.
void readGravity(LwsLoadState& s, Object* object)
{
    Scene& scene = *s.scene;
    FXGravity* g = object ? new FXGravity(object) : nullptr;
    FXGravity scratch(nullptr);
    FXGravity& d = g ? *g : scratch;
    readFieldHead(scene, d);
    if (std::strcmp(scene.nextString(), "g0") != 0)
        pass(scene, 1);
    for (float& v : d.direction)
        v = nextReal(scene);
    pass(scene, 1);
    keep(scene.fxEffector, s.numEffectors, g, _stricmp(peek(scene), "PluginEnabled") == 0);
}

void readWind(LwsLoadState& s, Object* object)
{
    Scene& scene = *s.scene;
    FXWind* w = object ? new FXWind(object) : nullptr;
    FXWind scratch(nullptr);
    FXWind& d = w ? *w : scratch;
    readFieldHead(scene, d);
    d.spareMode = scene.nextInt();
    pass(scene, 1);
    for (AnimatedValue& v : d.direction)
        v.value = nextReal(scene);
    pass(scene, 2);
    for (int i = 0; i < 5; i++)
        d.spare[i] = nextReal(scene);
    pass(scene, 1);
    for (int i = 5; i < 8; i++)
        d.spare[i] = nextReal(scene);
    pass(scene, 1);
    keep(scene.fxEffector, s.numEffectors, w, _stricmp(peek(scene), "PluginEnabled") == 0);
}

void readCollision(LwsLoadState& s, Object* object)
{
    Scene& scene = *s.scene;
    FXCollision* c = object ? new FXCollision(object) : nullptr;
    FXCollision scratch(nullptr);
    FXCollision& d = c ? *c : scratch;
    pass(scene, 3);
    d.group = scene.nextInt();
    d.radius.value = nextReal(scene);
    d.bounce.value = nextReal(scene);
    d.type = scene.nextInt();
    d.flag = scene.nextInt() == 1;
    d.jitter = nextReal(scene);
    d.spare[0] = nextReal(scene);
    if (std::strcmp(scene.nextString(), "collision") != 0)
        pass(scene, 1);
    d.spare[1] = nextReal(scene);
    d.spare[2] = nextReal(scene);
    pass(scene, 6);
    keep(scene.fxEffector, s.numEffectors, c, false);
}

// --- HyperVoxels

void readChannels(Scene& scene, HVObject& hv)
{
    while (!blockDone(scene)) {
        const char* name = scene.nextName();
        struct Animated {
            const char* name;
            AnimatedValue HVObject::*value;
        };
        static const Animated animated[] = {
            {"Dissolve", &HVObject::dissolve},          {"ParticleSize", &HVObject::particleSize},
            {"SizeVariation", &HVObject::sizeVariation}, {"VLuminosity", &HVObject::luminosity},
            {"VOpacity", &HVObject::opacity},           {"VDensity", &HVObject::density},
            {"NearClip", &HVObject::nearClip},          {"StretchAmount", &HVObject::stretchAmount},
            {"TextureAmplitude", &HVObject::textureAmplitude},
        };
        bool done = false;
        for (const Animated& a : animated)
            if (std::strcmp(name, a.name) == 0) {
                readAnimatedParameter(scene, hv.*a.value);
                done = true;
                break;
            }
        if (done)
            continue;
        auto is = [name](std::initializer_list<const char*> names) {
            for (const char* n : names)
                if (std::strcmp(name, n) == 0)
                    return true;
            return false;
        };
        if (is({"BlendingMode"}))
            hv.blendingMode = scene.nextInt();
        else if (is({"BlendingGroup"}))
            hv.blendingGroup = scene.nextInt();
        else if (is({"VColor"}))
            readAnimatedTriple(scene, hv.color);
        else if (is({"UseAllLights"}))
            hv.useAllLights = readFlag(scene);
        else if (is({"StretchDirection"}))
            hv.stretchDirection = scene.nextInt();
        else if (is({"AlignToPath"}))
            hv.alignToPath = readFlag(scene);
        else if (is({"MaintainVolume"}))
            hv.maintainVolume = readFlag(scene);
        else if (is({"Slices"}))
            hv.sliceCount = scene.nextInt();
        else if (is({"Color", "VAmbientColor"}))
            dropAnimatedTriple(scene);
        else if (is({"VAmbientIntensity", "DiffuseSharp", "VThickness", "VSmoothness", "VShadowStrength"}))
            dropAnimated(scene);
        else if (is({"Luminosity"}))
            pass(scene, 2);
        else if (is({"VRenderQuality", "VShadowQuality", "VolumetricShadows", "VIllumination", "TextureEffect",
                     "EffectSpeed", "TextureShadows", "VLight1", "VLight2"}))
            pass(scene, 1);
        else
            scene.skipBlock();
    }
}

u32 kindTag(const char* name)
{
    if (std::strcmp(name, "Procedural") == 0)
        return iffId("PROC");
    if (std::strcmp(name, "ImageMap") == 0)
        return iffId("IMAP");
    return iffId("GRAD");
}

void readImage(LwsLoadState& s, TextureLayer& layer)
{
    Scene& scene = *s.scene;
    while (!blockDone(scene)) {
        if (std::strcmp(scene.nextName(), "Clip") != 0) {
            scene.skipBlock();
            continue;
        }
        while (!blockDone(scene)) {
            if (std::strcmp(scene.nextName(), "Still") != 0) {
                scene.skipBlock();
                continue;
            }
            std::string file = scene.nextString();
            if (file.size() >= 2 && file[1] == ':')
                file.replace(0, 2, "/");
            const u32 flags = file.find("_nodxt") != std::string::npos ? 2u : 3u;
            MetaScene* meta = metaSceneOf(scene.metaScene);
            if (!meta)
                continue;
            Texture* texture = meta->findTexture(file.c_str(), flags);
            if (!texture) {
                auto* image = new ImageTexture(scene.engine);
                meta->textures.push_back(image);
                image->budget = &meta->texelBudget;
                // A missing image still gives its texture; the build reports it.
                if (s.stream)
                    image->open(file.c_str(), *s.stream);
                image->flags = flags;
                texture = image;
            }
            layer.texture = texture;
        }
    }
}

void readTexture(LwsLoadState& s, TextureLayer& layer)
{
    Scene& scene = *s.scene;
    while (!blockDone(scene)) {
        const char* name = scene.nextName();
        if (std::strcmp(name, "Procedural") == 0 || std::strcmp(name, "ImageMap") == 0 ||
            std::strcmp(name, "Gradient") == 0) {
            layer.blockType = kindTag(name);
            pass(scene, 1);
            while (!blockDone(scene)) {
                const char* key = scene.nextName();
                if (std::strcmp(key, "Channel") == 0) {
                    layer.channel = u32(scene.nextInt());
                } else if (std::strcmp(key, "Opacity") == 0) {
                    layer.opacityType = scene.nextInt();
                    readAnimatedParameter(scene, layer.opacity);
                } else if (std::strcmp(key, "Enable") == 0) {
                    layer.enabled = readFlag(scene);
                } else if (std::strcmp(key, "Negative") == 0) {
                    layer.invert = readFlag(scene);
                } else {
                    scene.skipBlock();
                }
            }
        } else if (std::strcmp(name, "TextureMap") == 0) {
            while (!blockDone(scene)) {
                const char* key = scene.nextName();
                if (std::strcmp(key, "Center") == 0)
                    readAnimatedTriple(scene, layer.center);
                else if (std::strcmp(key, "Size") == 0)
                    readAnimatedTriple(scene, layer.size);
                else if (std::strcmp(key, "Rotation") == 0)
                    readAnimatedTriple(scene, layer.rotation);
                else if (std::strcmp(key, "RefObject") == 0 || std::strcmp(key, "Coordinates") == 0)
                    pass(scene, 1);
                else
                    scene.skipBlock();
            }
        } else if (std::strcmp(name, "Projection") == 0) {
            layer.projection = scene.nextInt();
        } else if (std::strcmp(name, "Axis") == 0) {
            layer.axis = scene.nextInt();
        } else if (std::strcmp(name, "Image") == 0) {
            readImage(s, layer);
        } else if (std::strcmp(name, "WrapOptions") == 0) {
            const i32 width = scene.nextInt(), height = scene.nextInt();
            const u32 caps = scene.engine ? scene.engine->caps.TextureAddressCaps : 0;
            // Unknown modes become wrap rather than reach the sampler raw.
            const WrapModes modes = wrapModesFor(caps, u32(width), u32(height), layer.projection);
            layer.wrapModeWidth = modes.width;
            layer.wrapModeHeight = modes.height;
        } else if (std::strcmp(name, "WidthWrap") == 0) {
            layer.wrapAmountWidth = nextReal(scene);
            pass(scene, 1);
        } else if (std::strcmp(name, "HeightWrap") == 0) {
            layer.wrapAmountHeight = nextReal(scene);
            pass(scene, 1);
        } else if (std::strcmp(name, "AntiAliasing") == 0) {
            pass(scene, 1);
            layer.antialiasingStrength = nextReal(scene);
        } else if (std::strcmp(name, "PixelBlending") == 0) {
            layer.pixelBlending = readFlag(scene);
        } else if (std::strcmp(name, "TextureValue") == 0) {
            pass(scene, 1);
            scene.skipBlock();
        } else {
            scene.skipBlock();
        }
    }
}

void readTextures(LwsLoadState& s, HVObject& hv)
{
    Scene& scene = *s.scene;
    while (!blockDone(scene)) {
        if (std::strcmp(scene.nextName(), "TextureBlock") != 0) {
            scene.skipBlock();
            continue;
        }
        pass(scene, 1);
        auto* layer = new TextureLayer;
        while (!blockDone(scene)) {
            if (std::strcmp(scene.nextName(), "Texture") == 0)
                readTexture(s, *layer);
            else
                scene.skipBlock();
        }
        hv.textureLayers.push_back(layer);
    }
}

void readHyperVoxelObject(LwsLoadState& s)
{
    Scene& scene = *s.scene;
    HVObject* current = nullptr;
    while (!blockDone(scene)) {
        const char* name = scene.nextName();
        if (std::strcmp(name, "HVFlags") == 0) {
            const char* itemName = scene.nextString();
            pass(scene, 3);
            const i32 type = scene.nextInt();
            pass(scene, 4);
            current = nullptr;
            Object* object = s.objectNamed(itemName);
            if (!object)
                continue;
            delete object->hvObject;
            object->hvObject = nullptr;
            if (type == 1)
                object->hvObject = new HVVolume(scene.engine);
            else if (type == 2)
                object->hvObject = new HVSprite(scene.engine);
            else if (diagnosticsLevel >= 1)
                MessageBoxA(nullptr, "unknown hypervoxel type", "Error", MB_ICONEXCLAMATION);
            current = object->hvObject;
        } else if (std::strcmp(name, "HVChannels") == 0 && current) {
            readChannels(scene, *current);
        } else if (std::strcmp(name, "HVTextures") == 0 && current) {
            readTextures(s, *current);
        } else {
            scene.skipBlock();
        }
    }
}

void readHyperVoxels(LwsLoadState& s)
{
    Scene& scene = *s.scene;
    pass(scene, 2);
    if (std::strcmp(scene.nextName(), "HyperVoxelData") != 0)
        return;
    while (!blockDone(scene)) {
        const char* name = scene.nextName();
        if (std::strcmp(name, "HVFlags") == 0) {
            pass(scene, 4);
        } else if (std::strcmp(name, "HVBlendingGroups") == 0) {
            pass(scene, 2);
            scene.skipBlock();
        } else if (std::strcmp(name, "HVObject") == 0) {
            readHyperVoxelObject(s);
        } else {
            scene.skipBlock();
        }
    }
}

} // namespace

void readPluginBlock(LwsLoadState& s)
{
    Scene& scene = *s.scene;
    const std::string handler = scene.nextString();
    if (handler == "VolumetricHandler") {
        readHyperVoxels(s);
        return;
    }
    // Other plug-ins leave their data, "EndPlugin" included, to the main
    // pass, so a block that never closes cannot swallow the items after it.
    if (handler != "MasterHandler" && handler != "DisplacementHandler" && handler != "CustomObjHandler")
        return;
    pass(scene, 1);
    const std::string name = scene.nextString();
    if (handler == "MasterHandler" && name == "MotionMixer") {
        readMixerLevel(scene, "");
    } else if (handler == "DisplacementHandler" && name == "MD_Plug") {
        pass(scene, 3);
    } else if (handler == "DisplacementHandler" && name == "messiah:displace") {
        while (!atEnd(scene)) {
            const char* token = scene.nextString();
            if (std::strcmp(token, "EndPlugin") == 0)
                break;
            if (std::strcmp(token, "MESSIAH_NODE") == 0)
                pass(scene, 1);
        }
    } else if (handler == "CustomObjHandler" &&
               (name == "FX_Emitter" || name == "FX_Gravity" || name == "FX_Wind" || name == "FX_Collision")) {
        // Without a current object the block is read for its layout only.
        Object* object = s.kind == LwsItemKind::none ? nullptr : s.object();
        if (name == "FX_Emitter")
            readEmitter(s, object);
        else if (name == "FX_Gravity")
            readGravity(s, object);
        else if (name == "FX_Wind")
            readWind(s, object);
        else
            readCollision(s, object);
    }
}
