#include "tools/mkcontent/lws_plugin_blocks.h"

#include <cstdarg>
#include <cstdio>

namespace mkcontent {

namespace {

void put(std::string& out, const char* format, ...)
{
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    out += buffer;
}

void end(std::string& out, bool disabled)
{
    out += disabled ? "EndPlugin\nPluginEnabled 0\n" : "EndPlugin\n";
}

// The shared head of gravity and wind: group, range, strength, modes.
void forceHead(std::string& out, const char* name, const LwsParticleForce& f)
{
    put(out, "Plugin CustomObjHandler 1 %s\n  0 0 0\n  %d %.9g %.9g %d %d\n", name, f.group, f.range, f.strength,
        f.mode, f.falloff);
}

} // namespace

std::string lwsEmitterPlugin(const LwsParticleEmitter& e)
{
    std::string out = "Plugin CustomObjHandler 1 FX_Emitter\n  0 0 0\n";
    put(out, "  %.9g %.9g %.9g p0\n", e.generatorSize[0], e.generatorSize[1], e.generatorSize[2]);
    put(out, "  0 0 0 %d 0 0\n", e.count);
    put(out, "  %.9g %.9g %.9g %.9g 0 0 0\n", e.velocity[0], e.velocity[1], e.velocity[2], e.motionFactor);
    put(out, "  %.9g %.9g %.9g 0 0 0\n", e.acceleration[0], e.acceleration[1], e.acceleration[2]);
    put(out, "  %.9g %d 0 %d\n", e.birthRate, e.placement, e.birthUnit);
    put(out, "  %.9g %.9g %.9g 0 %d\n", e.lifeFrames, e.spreadFrames, e.radialSpeed, e.birthMode);
    out += "  0 0 0 0 0 0 0 0 0 0\n";
    put(out, "  %.9g %.9g %.9g %.9g 0 0 0 %.9g %.9g 0 0 %.9g 0 0 0\n", e.extra0Base, e.extra1Base, e.extra0Spread,
        e.extra1Spread, e.extra2Base, e.extra2Spread, e.speedLimit);
    // Named entries each take one value; only "VariantParameter" is read.
    out += "  Seed 1\n";
    if (e.rateEnvelope)
        put(out, "  VariantParameter 0 0 BirthRate %.9g 1 %s  0 0 0\n", e.birthRate, lwsEnvelopeText(e.rate).c_str());
    end(out, e.disabled);
    return out;
}

std::string lwsGravityPlugin(const LwsParticleForce& f)
{
    std::string out;
    forceHead(out, "FX_Gravity", f);
    put(out, "  g0 %.9g %.9g %.9g\n", f.direction[0], f.direction[1], f.direction[2]);
    end(out, f.disabled);
    return out;
}

std::string lwsWindPlugin(const LwsParticleForce& f)
{
    std::string out;
    forceHead(out, "FX_Wind", f);
    put(out, "  0 0 %.9g %.9g %.9g\n", f.direction[0], f.direction[1], f.direction[2]);
    out += "  0 0 0.5 1 1 1 1 0 0 0 0\n";
    end(out, f.disabled);
    return out;
}

std::string lwsCollisionPlugin(const LwsParticleCollision& c)
{
    std::string out;
    put(out, "Plugin CustomObjHandler 1 FX_Collision\n  0 0 0\n  %d %.9g %.9g %d %d %.9g 0\n", c.group, c.radius,
        c.bounce, c.type, c.flag, c.jitter);
    out += "  collision 0 0 0 0 0 0 0 0\n";
    end(out, false);
    return out;
}

std::string lwsHyperVoxelPlugin(const std::vector<LwsHyperVoxel>& objects)
{
    std::string out = "Plugin VolumetricHandler 1 HyperVoxelsFilter\n{ HyperVoxelData\n  HVFlags 0 0 0 0\n";
    out += "  HVBlendingGroups 0 0 { Group 0 }\n";
    for (const LwsHyperVoxel& h : objects) {
        put(out, "  { HVObject\n    HVFlags %s 0 0 0 %d 0 0 0 0\n", h.object.c_str(), h.type);
        put(out, "    { HVChannels\n      ParticleSize %.9g 0\n      VLuminosity %.9g 0\n      VOpacity %.9g 0\n",
            h.particleSize, h.luminosity, h.opacity);
        put(out, "      VDensity %.9g 0\n      VColor %.9g %.9g %.9g 0\n      Slices %d\n", h.density, h.color[0],
            h.color[1], h.color[2], h.slices);
        put(out, "      UseAllLights %d\n      VAmbientColor 1 1 1 0\n      VShadowQuality 1\n    }\n",
            h.useAllLights ? 1 : 0);
        if (!h.textures.empty()) {
            out += "    { HVTextures\n";
            for (const LwsHyperVoxelTexture& t : h.textures) {
                out += "      { TextureBlock 0\n        { Texture\n";
                put(out, "          { %s 0\n            Channel 0\n            Opacity %d 1 0\n            Enable 1\n"
                         "          }\n",
                    t.image.empty() ? "Procedural" : "ImageMap", t.opacityType);
                out += "          { TextureMap\n            Center 0 0 0 0\n            Size 1 1 1 0\n"
                       "            Rotation 0 0 0 0\n            RefObject none\n          }\n";
                put(out, "          Projection %d\n          Axis 1\n", t.projection);
                if (!t.image.empty())
                    put(out, "          { Image\n            { Clip\n              Still %s\n            }\n"
                             "          }\n",
                        t.image.c_str());
                put(out, "          WrapOptions %d %d\n          WidthWrap 2 0\n          HeightWrap 3 0\n",
                    t.wrapWidth, t.wrapHeight);
                out += "          AntiAliasing 1 0.5\n          PixelBlending 0\n          TextureValue 0 { V 1 }\n"
                       "        }\n      }\n";
            }
            out += "    }\n";
        }
        out += "  }\n";
    }
    out += "}\nEndPlugin\n";
    return out;
}

std::string lwsMotionMixerPlugin()
{
    return "Plugin MasterHandler 1 MotionMixer\n"
           "{ Actor\n  AddActor Walker\n  ActorState 1\n  ActorPoseFrame 0\n"
           "  { ActorItems\n    ItemName Emitter\n    ItemAdd 1\n    ItemLock 0\n  }\n"
           "  { ActorMotions\n    { AddMotion\n      MotionActor Walker\n      MotionName Step\n"
           "      MotionRange 0 30\n      MotionFrames 30\n      NumberOfItems 1\n"
           "      { Item\n        ItemName Emitter\n        ItemState 1\n        ItemChannels 1\n"
           "        { Channel\n          ChannelName X\n          ChannelType 0\n          ChannelState 1\n"
           "        }\n      }\n    }\n  }\n"
           "  { ActorTracks\n    { AddTrack\n      TrackState 1\n      { TrackMotions\n"
           "        { AddTrackMotion\n          TrackMotionName Step\n          TrackMotionInOut 0 0\n"
           "          TrackMotionScale 1\n          { TrackMotionStates\n            TrackMotionItemName Emitter\n"
           "            TrackMotionItemState 1\n          }\n        }\n      }\n    }\n"
           "    { TrackTransitions\n      Count 0\n    }\n  }\n}\nPrefs 0\n}\nEndPlugin\n";
}

std::string lwsDisplacementPlugins()
{
    return "Plugin DisplacementHandler 1 MD_Plug\n  1 2 3\nEndPlugin\n"
           "Plugin DisplacementHandler 2 messiah:displace\n  MESSIAH_NODE 7 Version 2\nEndPlugin\n";
}

std::string lwsUnknownPlugin()
{
    return "Plugin ItemMotionHandler 1 Oscillator\n  Wave 3 0.5 { Phase 0 }\nEndPlugin\n";
}

std::string lwsPluginScene()
{
    LwsEmitter lws(0, 60);
    lws.line(lwsMotionMixerPlugin());
    lws.nullObject("Emitter");
    lws.pose("ObjectMotion", 0, 1, 5);
    LwsParticleEmitter e;
    lws.line(lwsEmitterPlugin(e));
    LwsParticleForce gravity;
    lws.line(lwsGravityPlugin(gravity));
    LwsParticleForce wind;
    wind.mode = 1;
    wind.direction[0] = 1;
    lws.line(lwsWindPlugin(wind));
    wind.disabled = true;
    lws.line(lwsWindPlugin(wind));
    lws.line(lwsCollisionPlugin({}));
    lws.line(lwsDisplacementPlugins());
    lws.line(lwsUnknownPlugin());
    lws.nullObject("Smoke");
    lws.pose("ObjectMotion", 2, 0, 5);
    LwsParticleEmitter smoke;
    smoke.rateEnvelope = true;
    smoke.rate = {{{10, 0, 3}, {100, 1, 3}}, 1, 1};
    lws.line(lwsEmitterPlugin(smoke));
    LwsHyperVoxel sprite, volume, orphan;
    sprite.object = "Emitter";
    sprite.textures.push_back({"images/spark_nodxt.tga", 0, 5, 2, 3});
    volume.object = "Smoke";
    volume.type = 1;
    orphan.object = "Nobody";
    lws.line(lwsHyperVoxelPlugin({sprite, volume, orphan}));
    lws.camera("Camera");
    return lws.text();
}

} // namespace mkcontent
