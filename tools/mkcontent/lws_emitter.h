// Scene files written as text, item by item, in the layout and with the
// keywords our scene reader takes: items with their motions, lights,
// cameras, bones and fog. Names must not contain whitespace (the reader
// splits on it) and free text is avoided (every unknown token is compared
// with the keywords).
#pragma once

#include "foundation/types.h"

#include <string>
#include <vector>

namespace mkcontent {

struct LwsKey {
    double value;
    double time;
    int shape = 0;          // 0 TCB, 1 Hermite, 2 Bezier, 3 linear, 4 stepped, 5 2D Bezier
    double p[6] = {};       // the six shape parameters as the file holds them
};

struct LwsEnvelope {
    std::vector<LwsKey> keys;
    int pre = 1;
    int post = 1;
    // A one-key block: the plain value.
    static LwsEnvelope constant(double v) { return {{{v, 0.0}}, 1, 1}; }
};

// Item ids as the reader resolves them.
inline u32 lwsObjectId(u32 n) { return 0x10000000u + n; }
inline u32 lwsLightId(u32 n) { return 0x20000000u + n; }
inline u32 lwsCameraId(u32 n) { return 0x30000000u + n; }
inline u32 lwsBoneId(u32 n) { return 0x40000000u + (n << 16); }

class LwsEmitter {
public:
    // "LWSC", 3 and the frame range.
    LwsEmitter(int firstFrame, int lastFrame, double framesPerSecond = 30.0);

    void objectLayer(int layerNumber, const std::string& file);
    void nullObject(const std::string& name);
    // ObjectMotion, BoneMotion, LightMotion or CameraMotion with channels 0
    // to n-1 (see motion9 for the usual nine).
    void motion(const char* keyword, const std::vector<LwsEnvelope>& channels);
    // A still pose: position, heading/pitch/bank in radians, unit scale.
    void pose(const char* keyword, double x, double y, double z, double h = 0, double p = 0, double b = 0);
    void parent(u32 id);
    void target(u32 id);
    void controllers(int heading, int pitch);
    void pivot(double x, double y, double z, double hDeg = 0, double pDeg = 0, double bDeg = 0);
    void excludeLight(u32 id);
    // Any keyword with its values on one line.
    void line(const std::string& text);

    void boneFalloff(int type);
    void bone(const std::string& name, const double restPosition[3], const double restDirectionDeg[3],
              double restLength);

    struct Light {
        std::string name = "Light";
        int type = 1;                    // 0 distant, 1 point, 2 spot
        double color[3] = {1, 1, 1};
        LwsEnvelope intensity = LwsEnvelope::constant(1.0);
        int falloff = 0;
        double range = 1.0;
        double coneDeg = 30.0;
        double edgeDeg = 5.0;
        int shadowType = 0;
        int shadowMapSize = 0;            // 0: no line
        double shadowFuzziness = -1.0;    // below 0: no line
        bool affectOpenGL = true;
        int flareOptions = -1;            // from 0: a lens flare with these options
    };
    void light(const Light& l);
    void camera(const std::string& name, const LwsEnvelope& zoom = LwsEnvelope::constant(3.2));

    void ambient(double r, double g, double b, const LwsEnvelope& intensity);
    void fog(int type, double minDistance, double maxDistance, const double color[3]);
    void backdrop(const double color[3], bool fogFromBackdrop);

    const std::string& text() const { return out; }

private:
    std::string out;
    void animated(const char* keyword, const LwsEnvelope& e);
};

// The block text of one envelope ("{ Envelope" ... "}").
std::string lwsEnvelopeText(const LwsEnvelope& e);

// The benchmark's scene: null objects with nine-channel motions of TCB
// keys, point lights and cameras.
std::string lwsBenchScene(int objects, int keys, int lights, int cameras);

} // namespace mkcontent
