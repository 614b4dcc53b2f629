#include "tools/mkcontent/lws_emitter.h"

#include "lightwave/lws_writer.h"
#include "tools/mkcontent/content.h"
#include "tools/mkcontent/lws_plugin_blocks.h"

#include <cmath>
#include <cstdio>
#include <iterator>

namespace mkcontent {

namespace {

std::string hex(u32 id)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08x", id);
    return text;
}

// A TCB path through the given values, one key per second.
LwsEnvelope path(const std::vector<double>& values, int post = 1)
{
    LwsEnvelope e{{}, 1, post};
    for (size_t i = 0; i < values.size(); i++)
        e.keys.push_back({values[i], (double)i});
    return e;
}

std::vector<LwsEnvelope> still(double x, double y, double z, double h = 0)
{
    std::vector<LwsEnvelope> c;
    for (double v : {x, y, z, h, 0.0, 0.0, 1.0, 1.0, 1.0})
        c.push_back(LwsEnvelope::constant(v));
    return c;
}

std::string intro()
{
    LwsEmitter s(0, 300);
    const double sky[3] = {0.05, 0.05, 0.12};
    s.ambient(1, 1, 1, path({0.1, 0.3, 0.2}));
    s.nullObject("Pivot");
    std::vector<LwsEnvelope> spin = still(0, 0, 0);
    spin[3] = {{{0, 0, 3}, {6.2831853, 10, 3}}, 1, 4};
    s.motion("ObjectMotion", spin);
    s.objectLayer(1, "objects/crate.lwo");
    s.pose("ObjectMotion", 2, 0, 0);
    s.parent(lwsObjectId(0));
    s.pivot(0, 0.5, 0, 45, 0, 0);
    // No "// sound" on it or any object: an object's sound is moved in 3-D
    // every frame, which the sound channels (made without 3-D control) answer
    // with a failed check, and a looping one plays until its scene is freed.
    s.objectLayer(1, "objects/seq.lwo");
    s.pose("ObjectMotion", -2, 1, 3);
    s.objectLayer(1, "objects/grad.lwo");
    s.pose("ObjectMotion", 0, -1, 4);
    s.objectLayer(1, "objects/lumi.lwo");
    s.pose("ObjectMotion", 0, 2, 6);
    s.line("UnaffectedByFog 1");
    LwsEmitter::Light sun;
    sun.name = "Sun";
    sun.type = 0;
    s.light(sun);
    s.pose("LightMotion", 0, 10, 0, 0.7853981);
    LwsEmitter::Light lamp;
    lamp.name = "Lamp";
    lamp.intensity = path({0.5, 1.0, 0.5}, 2);
    lamp.flareOptions = 25;
    s.light(lamp);
    s.pose("LightMotion", 1, 3, 2);
    s.camera("Main");
    std::vector<LwsEnvelope> fly = still(0, 1, -8);
    fly[0] = path({-4, 0, 4, 0});
    fly[2] = path({-8, -6, -8, -10});
    s.motion("CameraMotion", fly);
    s.camera("Follow");
    s.pose("CameraMotion", 0, 3, -6);
    s.target(lwsObjectId(1));
    s.controllers(1, 1);
    s.fog(1, 5, 40, sky);
    s.backdrop(sky, true);
    return s.text();
}

// An object at (x, y, z), turned by heading h, scaled by size.
void placed(LwsEmitter& s, double x, double y, double z, double h, double size)
{
    std::vector<LwsEnvelope> c = still(x, y, z, h);
    for (int i = 6; i < 9; i++)
        c[(size_t)i] = LwsEnvelope::constant(size);
    s.motion("ObjectMotion", c);
}

// The hall, 10 x 10 x 4 with the floor (layer 1), the walls (layer 2) and
// the ceiling (layer 3).
// "Wide" looks in from behind the open near wall, "Zoom" at the monitor on
// the glass cube, "Top" straight down. The anti-portal stands just in front
// of the pillar: it covers the pillar's box from "Wide" only; "Zoom" and
// "Top" see the pillar past its edges. The mirror on the far wall reflects
// the spheres and the cube.
std::string hall()
{
    LwsEmitter s(0, 600);
    s.ambient(1, 1, 1, LwsEnvelope::constant(0.25));
    s.objectLayer(1, "objects/room.lwo");
    s.pose("ObjectMotion", 0, 0, 0);
    s.objectLayer(2, "objects/room.lwo");
    s.pose("ObjectMotion", 0, 0, 0);
    // Stood up as a wall, local -Y (its face) towards the cameras.
    s.objectLayer(1, "objects/mirror.lwo");
    s.pose("ObjectMotion", 0, 1.4, 4.9, 0, 1.5707963);
    // Turned towards the cameras: its cube faces draw only what lies in its
    // own view, and the side the cameras see reflects the room behind them.
    // The video screen, which plays in wall-clock time, stays out of it.
    s.objectLayer(1, "objects/ball.lwo");
    placed(s, -1.6, 0.7, 1.5, 3.1415927, 0.7);
    s.objectLayer(1, "objects/chrome.lwo");
    placed(s, 0.6, 0.6, 2.6, 0, 0.6);
    s.objectLayer(1, "objects/glass.lwo");
    placed(s, 2.2, 0.5, 0.5, 0.3, 1);
    s.objectLayer(1, "objects/pillar.lwo");
    s.pose("ObjectMotion", -3.4, 0, 2.8);
    s.objectLayer(1, "objects/monitor.lwo");
    s.pose("ObjectMotion", 2.2, 1.45, 0.5, -0.3);
    s.objectLayer(1, "objects/panel.lwo");
    s.pose("ObjectMotion", 3, 2.4, 4.9);
    s.line("ShadowOptions 2");
    s.objectLayer(1, "objects/AntiPortal.lwo");
    s.pose("ObjectMotion", -3.4, 1.5, 2.3, 0, -1.5707963);
    s.objectLayer(1, "objects/tube.lwo");
    s.pose("ObjectMotion", 3.8, 0, 3.5);
    s.line("ShadowOptions 4");
    s.boneFalloff(2);
    const double base[3] = {0, 0, 0}, tip[3] = {0, 1, 0}, up[3] = {0, 90, 0};
    s.bone("Base", base, up, 1.0);
    s.bone("Tip", tip, up, 1.0);
    s.parent(lwsBoneId(0));
    std::vector<LwsEnvelope> bend = still(0, 1, 0);
    bend[4] = path({0, 1.5707963, 0}, 3);
    s.motion("BoneMotion", bend);
    s.nullObject("Hidden");
    s.line("UnseenByCamera");
    // The video screen hangs on the far wall between the pillar and the
    // mirror, where "Wide" and "Zoom" see it.
    s.objectLayer(1, "objects/video.lwo");
    s.pose("ObjectMotion", -2.2, 2.6, 4.85);
    // The ceiling last, so that the items above keep their numbers. "Wide"
    // sees it over the far wall; "Top" sees its back, which is not drawn.
    s.objectLayer(3, "objects/room.lwo");
    s.pose("ObjectMotion", 0, 0, 0);
    // The bake light hangs under the ceiling looking down, so the floor and
    // the walls lie in its view.
    LwsEmitter::Light bake;
    bake.name = "Bake";
    bake.affectOpenGL = false;
    s.light(bake);
    s.pose("LightMotion", 0, 3.5, 0, 0, 1.5707963);
    LwsEmitter::Light spot;
    spot.name = "Spot";
    spot.type = 2;
    spot.shadowType = 2;
    spot.shadowMapSize = 512;
    spot.shadowFuzziness = 13.2877;
    s.light(spot);
    // Under the ceiling behind the spheres, looking down towards the
    // cameras: the spheres' shadows fall on the floor in front of them.
    s.pose("LightMotion", -0.5, 3.8, 4, 3.1415927, 0.99);
    // Down and forwards onto the floor and the far and right walls, and
    // the faces the cameras see, which the spot lights from behind.
    LwsEmitter::Light fill;
    fill.name = "Fill";
    fill.type = 0;
    fill.intensity = LwsEnvelope::constant(1.0);
    s.light(fill);
    s.pose("LightMotion", 0, 0, 0, -0.6, 0.8);
    s.camera("Wide");
    s.pose("CameraMotion", 0, 2, -9);
    s.camera("Zoom", path({3.2, 6.0, 3.2}));
    s.pose("CameraMotion", 4, 1.9, -3.5, -0.45, 0.12);
    s.camera("Top");
    s.pose("CameraMotion", -1, 12, 1, 0, 1.5707963);
    return s.text();
}

std::string outro()
{
    LwsEmitter s(0, 150);
    s.ambient(1, 1, 1, LwsEnvelope::constant(0.2));
    s.objectLayer(1, "objects/crate.lwo");
    s.pose("ObjectMotion", 0, 0, 0);
    s.light(LwsEmitter::Light());
    s.pose("LightMotion", 2, 4, -3);
    // Above the crate: the crate shows below the centred title.
    s.camera("Camera");
    s.pose("CameraMotion", 0, 0.9, -5);
    return s.text();
}


// Particles in front of a lit stage (a floor and a wall): a fountain of
// sparks from "Emitter" under gravity, a gentle vortex and a floor they
// bounce on, drawn as small additive sprites, with a flickering orange
// light among them; a smoke plume rising from "Plume" as large faint
// sprites; a puff on "Smoke" as a volume, which draws its slices round the
// world's origin whatever its particles' positions, so "Plume" rises from
// there too; and a wind left off.
//
// Every force acts on every emitter and adds its pull to the velocity once
// a step: gravity 10 x its strength x the particle's first extra value, the
// vortex its strength x the second extra value x the distance from its
// axis. So the pull per second grows with the frame rate; the strengths
// keep the sparks' arc within the view from 25 to 60 frames a second. The
// smoke's first extra value is small, which scales both its birth velocity
// and every pull down, and its own acceleration, the same once a step,
// balances gravity's at any frame rate; its second extra value of 0 keeps
// it out of the vortex. Births are whole numbers a step, so every rate gives
// one a step or more up to 150 frames a second, and every pool outlasts the
// scene's eight seconds.
std::string fx()
{
    LwsEmitter s(0, 300);
    s.ambient(1, 1, 1, LwsEnvelope::constant(0.2));
    // The stage lies below the origin, so that the volume's puff there
    // stands whole on the floor.
    s.objectLayer(1, "objects/backdrop.lwo");
    s.pose("ObjectMotion", 0, -0.45, 0);
    s.nullObject("Emitter");
    s.pose("ObjectMotion", 1.3, -0.15, 1);
    LwsParticleEmitter sparks;
    sparks.count = 4000;
    sparks.birthRate = 200;
    sparks.lifeFrames = 45;
    sparks.spreadFrames = 15;
    sparks.placement = 1;
    sparks.generatorSize[0] = sparks.generatorSize[1] = sparks.generatorSize[2] = 1;
    sparks.velocity[1] = 3.3;
    sparks.radialSpeed = 0.8;
    sparks.acceleration[1] = 0;
    sparks.extra0Spread = 0.25;
    s.line(lwsEmitterPlugin(sparks));
    LwsParticleForce gravity;
    gravity.strength = 0.02;
    s.line(lwsGravityPlugin(gravity));
    LwsParticleForce vortex;
    vortex.mode = 2;
    vortex.strength = 0.01;
    vortex.direction[1] = 0;
    s.line(lwsWindPlugin(vortex));
    // The floor lies at the emitter's height plus the radius: y = -0.45.
    LwsParticleCollision floor;
    floor.radius = -0.3;
    floor.bounce = 0.45;
    floor.jitter = 0.25;
    s.line(lwsCollisionPlugin(floor));
    LwsParticleForce off;
    off.mode = 0;
    off.direction[0] = 5;
    off.disabled = true;
    s.line(lwsWindPlugin(off));
    s.nullObject("Plume");
    s.pose("ObjectMotion", 0, -0.3, 0);
    LwsParticleEmitter plume;
    plume.count = 2000;
    plume.birthRate = 150;
    plume.lifeFrames = 78;
    plume.spreadFrames = 24;
    plume.placement = 0;
    plume.generatorSize[0] = plume.generatorSize[2] = 0.3;
    plume.generatorSize[1] = 0.1;
    plume.extra0Base = 0.05;
    plume.extra1Base = 0;
    plume.velocity[0] = 2;
    plume.velocity[1] = 12;
    plume.radialSpeed = 4;
    plume.acceleration[1] = 0.01; // gravity's pull on it
    s.line(lwsEmitterPlugin(plume));
    s.nullObject("Smoke");
    s.pose("ObjectMotion", 0, 0, 0);
    LwsParticleEmitter smoke;
    smoke.count = 2000;
    smoke.birthRate = 150;
    smoke.velocity[1] = 0.5;
    smoke.acceleration[1] = 0;
    smoke.lifeFrames = 3;
    s.line(lwsEmitterPlugin(smoke));
    s.objectLayer(1, "objects/partigon.lwo");
    s.pose("ObjectMotion", -2, 1, 1);
    LwsHyperVoxel sparkSprites, plumeSprites, puffVolume;
    sparkSprites.object = "Emitter";
    sparkSprites.particleSize = 0.05;
    sparkSprites.color[0] = 1, sparkSprites.color[1] = 0.7, sparkSprites.color[2] = 0.25;
    plumeSprites.object = "Plume";
    plumeSprites.particleSize = 0.5;
    plumeSprites.color[0] = plumeSprites.color[1] = plumeSprites.color[2] = 0.012;
    puffVolume.object = "Smoke";
    puffVolume.type = 1;
    puffVolume.particleSize = 0.6;
    puffVolume.opacity = 0.4;
    puffVolume.slices = 3;
    puffVolume.color[0] = puffVolume.color[1] = puffVolume.color[2] = 0.6;
    s.line(lwsHyperVoxelPlugin({sparkSprites, plumeSprites, puffVolume}));
    LwsEmitter::Light key;
    key.intensity = LwsEnvelope::constant(0.8);
    key.falloff = 1;
    key.range = 14;
    s.light(key);
    s.pose("LightMotion", -1.5, 3.55, -2.5);
    // The sparks' glow, flickering.
    LwsEmitter::Light glow;
    glow.name = "Glow";
    glow.color[0] = 1, glow.color[1] = 0.55, glow.color[2] = 0.2;
    glow.intensity = {{}, 1, 2};
    const double flicker[] = {1.0, 0.7, 1.2, 0.8, 1.1, 0.6, 1.0, 0.9, 1.0};
    for (size_t i = 0; i < std::size(flicker); ++i)
        glow.intensity.keys.push_back({flicker[i], 0.15 * double(i), 3});
    glow.falloff = 1;
    glow.range = 5;
    s.light(glow);
    s.pose("LightMotion", 1.3, 0.35, 1);
    s.camera("Camera");
    s.pose("CameraMotion", 0.3, 1.05, -5.5, 0, 0.12);
    return s.text();
}

} // namespace

std::string lwsEnvelopeText(const LwsEnvelope& e)
{
    std::string out;
    appendFormat(out, "{ Envelope\n  %d\n", (int)e.keys.size());
    for (const LwsKey& k : e.keys)
        appendFormat(out, "  Key %.17g %.17g %d %.9g %.9g %.9g %.9g %.9g %.9g\n", k.value, k.time, k.shape, k.p[0], k.p[1],
            k.p[2], k.p[3], k.p[4], k.p[5]);
    appendFormat(out, "  Behaviors %d %d\n}\n", e.pre, e.post);
    return out;
}

LwsEmitter::LwsEmitter(int firstFrame, int lastFrame, double framesPerSecond)
{
    appendFormat(out, "LWSC\n3\n\nFirstFrame %d\nLastFrame %d\nFrameStep 1\nPreviewFirstFrame %d\nPreviewLastFrame %d\n"
             "FramesPerSecond %.9g\n\n",
        firstFrame, lastFrame, firstFrame, lastFrame, framesPerSecond);
}

void LwsEmitter::objectLayer(int layerNumber, const std::string& file)
{
    appendFormat(out, "\nLoadObjectLayer %d %s\n", layerNumber, file.c_str());
}

void LwsEmitter::nullObject(const std::string& name)
{
    out += "\nAddNullObject " + name + "\n";
}

void LwsEmitter::motion(const char* keyword, const std::vector<LwsEnvelope>& channels)
{
    appendFormat(out, "%s\nNumChannels %d\n", keyword, (int)channels.size());
    for (size_t c = 0; c < channels.size(); c++) {
        appendFormat(out, "Channel %d\n", (int)c);
        out += lwsEnvelopeText(channels[c]);
    }
}

void LwsEmitter::pose(const char* keyword, double x, double y, double z, double h, double p, double b)
{
    std::vector<LwsEnvelope> c = still(x, y, z, h);
    c[4] = LwsEnvelope::constant(p);
    c[5] = LwsEnvelope::constant(b);
    motion(keyword, c);
}

void LwsEmitter::parent(u32 id)
{
    out += "ParentItem " + hex(id) + "\n";
}

void LwsEmitter::target(u32 id)
{
    out += "TargetItem " + hex(id) + "\n";
}

void LwsEmitter::controllers(int heading, int pitch)
{
    appendFormat(out, "HController %d\nPController %d\n", heading, pitch);
}

void LwsEmitter::pivot(double x, double y, double z, double hDeg, double pDeg, double bDeg)
{
    appendFormat(out, "PivotPosition %.9g %.9g %.9g\nPivotRotation %.9g %.9g %.9g\n", x, y, z, hDeg, pDeg, bDeg);
}

void LwsEmitter::excludeLight(u32 id)
{
    out += "ExcludeLight " + hex(id) + "\n";
}

void LwsEmitter::line(const std::string& text)
{
    out += text + "\n";
}

void LwsEmitter::boneFalloff(int type)
{
    appendFormat(out, "BoneFalloffType %d\n", type);
}

void LwsEmitter::bone(const std::string& name, const double restPosition[3], const double restDirectionDeg[3],
                      double restLength)
{
    out += "\nAddBone\nBoneName " + name + "\n";
    appendFormat(out, "BoneRestPosition %.9g %.9g %.9g\nBoneRestDirection %.9g %.9g %.9g\nBoneRestLength %.9g\n",
        restPosition[0], restPosition[1], restPosition[2], restDirectionDeg[0], restDirectionDeg[1],
        restDirectionDeg[2], restLength);
}

void LwsEmitter::animated(const char* keyword, const LwsEnvelope& e)
{
    if (e.keys.size() <= 1)
        appendFormat(out, "%s %.9g\n", keyword, e.keys.empty() ? 0.0 : e.keys[0].value);
    else
        out += std::string(keyword) + " (envelope)\n" + lwsEnvelopeText(e);
}

void LwsEmitter::light(const Light& l)
{
    out += "\nAddLight\nLightName " + l.name + "\n";
    appendFormat(out, "LightType %d\nLightColor %.9g %.9g %.9g\n", l.type, l.color[0], l.color[1], l.color[2]);
    animated("LightIntensity", l.intensity);
    appendFormat(out, "LightFalloffType %d\nLightRange %.9g\n", l.falloff, l.range);
    if (l.type == 2)
        appendFormat(out, "LightConeAngle %.9g\nLightEdgeAngle %.9g\n", l.coneDeg, l.edgeDeg);
    appendFormat(out, "ShadowType %d\n", l.shadowType);
    if (l.shadowMapSize > 0)
        appendFormat(out, "ShadowMapSize %d\n", l.shadowMapSize);
    if (l.shadowFuzziness >= 0)
        appendFormat(out, "ShadowFuzziness %.9g\n", l.shadowFuzziness);
    if (!l.affectOpenGL)
        out += "AffectOpenGL 0\n";
    if (l.flareOptions >= 0)
        appendFormat(out, "LensFlare 1\nFlareIntensity 1\nLensFlareOptions %d\nFlareNominalDistance 1\n", l.flareOptions);
}

void LwsEmitter::camera(const std::string& name, const LwsEnvelope& zoom)
{
    out += "\nAddCamera\nCameraName " + name + "\n";
    animated("ZoomFactor", zoom);
}

void LwsEmitter::ambient(double r, double g, double b, const LwsEnvelope& intensity)
{
    appendFormat(out, "AmbientColor %.9g %.9g %.9g\n", r, g, b);
    animated("AmbientIntensity", intensity);
}

void LwsEmitter::fog(int type, double minDistance, double maxDistance, const double color[3])
{
    appendFormat(out, "\nFogType %d\nFogMinDistance %.9g\nFogMaxDistance %.9g\nFogColor %.9g %.9g %.9g\n", type, minDistance,
        maxDistance, color[0], color[1], color[2]);
}

void LwsEmitter::backdrop(const double color[3], bool fogFromBackdrop)
{
    appendFormat(out, "BackdropColor %.9g %.9g %.9g\nBackdropFog %d\n", color[0], color[1], color[2], fogFromBackdrop ? 1 : 0);
}

std::string lwsBenchScene(int objects, int keys, int lights, int cameras)
{
    LwsEmitter s(0, keys * 30);
    for (int i = 0; i < objects; i++) {
        s.nullObject("Null" + std::to_string(i));
        std::vector<LwsEnvelope> channels(9);
        for (int c = 0; c < 9; c++) {
            channels[(size_t)c].post = 1 + c % 5;
            for (int k = 0; k < keys; k++) {
                LwsKey key{std::sin(i * 0.37 + c * 1.3 + k * 0.71) * 10.0, k * 0.5};
                key.p[0] = 0.1 * (k % 3);
                key.p[1] = std::cos(i * 0.11 + k) * 0.5;
                key.p[2] = std::sin(c * 0.23 + k) * 0.5;
                channels[(size_t)c].keys.push_back(key);
            }
        }
        s.motion("ObjectMotion", channels);
        if (i > 0)
            s.parent(lwsObjectId((u32)(i - 1) / 2));
    }
    for (int i = 0; i < lights; i++) {
        LwsEmitter::Light l;
        l.name = "Light" + std::to_string(i);
        l.type = i % 3;
        s.light(l);
        s.pose("LightMotion", i, 5, -i);
    }
    for (int i = 0; i < cameras; i++) {
        s.camera("Camera" + std::to_string(i));
        s.pose("CameraMotion", 0, 2, -5 - i);
        s.target(lwsObjectId((u32)i));
    }
    return s.text();
}

std::vector<ContentFile> lwsFiles()
{
    return {{"scenes/intro.lws", intro}, {"scenes/hall.lws", hall}, {"scenes/outro.lws", outro},
            {"scenes/fx.lws", fx}};
}

} // namespace mkcontent
