// Plug-in blocks of scene files in the positional layout our scene reader
// takes: particle emitters and forces, HyperVoxel sprites and volumes with
// texture blocks, and the plug-ins the reader reads only to pass them over.
// Each function returns the block's text, "Plugin" to "EndPlugin", for
// LwsEmitter::line after the object it belongs to.
#pragma once

#include "tools/mkcontent/lws_emitter.h"

#include <string>
#include <vector>

namespace mkcontent {

struct LwsParticleEmitter {
    double generatorSize[3] = {1, 1, 1};
    int count = 1000;
    double velocity[3] = {0, 1, 0};
    double motionFactor = 0;
    double acceleration[3] = {0, -1, 0};
    double birthRate = 50;
    int placement = 1;
    int birthUnit = 1;
    double lifeFrames = 60;   // the reader keeps seconds: frames / 30
    double spreadFrames = 0;
    double radialSpeed = 0;
    int birthMode = 0;
    double extra0Base = 1, extra1Base = 4, extra0Spread = 0, extra1Spread = 0;
    double extra2Base = 50, extra2Spread = 0;
    double speedLimit = 0;
    bool rateEnvelope = false; // a "VariantParameter" entry drives the birth rate
    LwsEnvelope rate = LwsEnvelope::constant(50);
    bool disabled = false;     // followed by "PluginEnabled"
};

// Gravity and wind share their first values.
struct LwsParticleForce {
    int group = 0;
    double range = 1, strength = 1;
    int mode = 0, falloff = 2;
    double direction[3] = {0, -1, 0};
    bool disabled = false;
};

struct LwsParticleCollision {
    int group = 0;
    double radius = 1, bounce = 1;
    int type = 2;
    int flag = 1;
    double jitter = 0;
};

struct LwsHyperVoxelTexture {
    std::string image;   // "" : a procedural layer without an image
    int opacityType = 0;
    int projection = 5;
    int wrapWidth = 1, wrapHeight = 1;
};

struct LwsHyperVoxel {
    std::string object; // the scene object it draws for
    int type = 2;       // 1 volume, 2 sprite
    double particleSize = 0.05;
    double luminosity = 1, opacity = 0.8, density = 1;
    double color[3] = {1, 0.6, 0.2};
    int slices = 8;
    bool useAllLights = true;
    std::vector<LwsHyperVoxelTexture> textures;
};

std::string lwsEmitterPlugin(const LwsParticleEmitter& e);
std::string lwsGravityPlugin(const LwsParticleForce& f);
std::string lwsWindPlugin(const LwsParticleForce& f);
std::string lwsCollisionPlugin(const LwsParticleCollision& c);
std::string lwsHyperVoxelPlugin(const std::vector<LwsHyperVoxel>& objects);
// Read and dropped, or passed over.
std::string lwsMotionMixerPlugin();
std::string lwsDisplacementPlugins();
std::string lwsUnknownPlugin();

// A scene with every kind of plug-in block: two emitting null objects (one
// with an enveloped rate), the forces, a disabled wind, the passed-over
// plug-ins, a HyperVoxel sprite with an image layer and a volume.
std::string lwsPluginScene();

} // namespace mkcontent
