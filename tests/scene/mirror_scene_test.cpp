// The scene built in code drawn whole in both modes, its pixels checked
// against the geometry: the spot light's shadow on the floor, the flat
// mirror's reflection inside its outline only, the sphere's cube faces.
#include "built_scene.h"

#include "foundation/file_stream.h"
#include "foundation/matrix.h"
#include "platform/device_test_support.h"
#include "scene/poly_mesh.h"

#include <cmath>
#include <cstdlib>
#include <string>

using namespace scenetest;

namespace {

// Surfaces filled as a file would fill them, and the content effect files.
bool readyToDraw(BuiltScene& s)
{
    for (Object* o : s.scene->objects)
        BuiltScene::surfaceOf(o)->loaded = 1;
    const char* data = std::getenv("QUILLON_TEST_DATA");
    FileStream fx((std::string(data ? data : "tests/data") + "/../../content/fx/").c_str());
    return s.engine->loadEffects(&fx);
}

std::vector<uint32_t> frame(BuiltScene& s)
{
    s.device()->BeginScene();
    s.scene->render(true, 0, 0.0);
    s.device()->EndScene();
    return readBackBuffer(s.device());
}

struct V3 {
    float x, y, z;
};
V3 operator-(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
V3 operator+(V3 a, V3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
V3 operator*(V3 a, float k) { return {a.x * k, a.y * k, a.z * k}; }
float dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
V3 unit(V3 a) { return a * (1.0f / std::sqrt(dot(a, a))); }

// World rays through pixel centres, from the camera's last view and
// projection.
struct PixelRays {
    D3DMATRIX toWorld;
    V3 eye;
    int width, height;

    PixelRays(BuiltScene& s, int w, int h) : width(w), height(h)
    {
        D3DMATRIX vp;
        matMul(vp, s.engine->uniforms->view, s.engine->uniforms->projection);
        matInvert(vp, toWorld);
        const D3DMATRIX& cam = *s.camera->worldMatrixAt(0.0);
        eye = {cam._41, cam._42, cam._43};
    }
    V3 direction(int px, int py) const
    {
        const float x = (float(px) + 0.5f) / float(width) * 2.0f - 1.0f;
        const float y = 1.0f - (float(py) + 0.5f) / float(height) * 2.0f;
        float far[4];
        vecTransform(far, {x, y, 1.0f}, toWorld);
        return unit(V3{far[0] / far[3], far[1] / far[3], far[2] / far[3]} - eye);
    }
    // Where the pixel's ray meets the floor plane (y = 0); false above the horizon.
    bool floorPoint(int px, int py, V3& p) const
    {
        const V3 d = direction(px, py);
        if (d.y >= -1e-4f)
            return false;
        p = eye + d * (-eye.y / d.y);
        p.y = 0.0f;
        return true;
    }
};

bool near(uint32_t a, uint32_t b, int tolerance)
{
    for (int shift : {16, 8, 0})
        if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > tolerance)
            return false;
    return true;
}

// The segment from p to the light passes through the box [-h, h] x [0, 1]
// x [-h, h] (the built scene's box, shrunk by the margin).
bool throughBox(V3 p, V3 light, float margin)
{
    const float lo[3] = {-0.5f + margin, margin, -0.5f + margin}, hi[3] = {0.5f - margin, 1.0f - margin, 0.5f - margin};
    const float o[3] = {p.x, p.y, p.z}, d[3] = {light.x - p.x, light.y - p.y, light.z - p.z};
    float t0 = 0.0f, t1 = 1.0f;
    for (int i = 0; i < 3; ++i) {
        if (std::fabs(d[i]) < 1e-9f) {
            if (o[i] < lo[i] || o[i] > hi[i])
                return false;
            continue;
        }
        float a = (lo[i] - o[i]) / d[i], b = (hi[i] - o[i]) / d[i];
        if (a > b)
            std::swap(a, b);
        t0 = std::max(t0, a);
        t1 = std::min(t1, b);
    }
    return t0 <= t1;
}

} // namespace

// The spot light moved behind the box, aimed in front of it, so that the
// box's shadow falls towards the camera. Floor pixels in front of every
// object: outside the cone both modes agree; in the box's shadow the shader
// path matches a frame with the spot off, and lit floor in the cone is
// brighter than that.
TEST(MirrorScene, SpotShadowOnTheFloor)
{
    const V3 light = {0.0f, 4.0f, 2.0f}, target = {0.0f, 0.0f, -1.2f};
    const V3 axis = unit(target - light);
    const float cone = 0.25f, edge = 0.0872665f;
    std::vector<uint32_t> frames[2], spotOff;
    std::vector<V3> points;
    int width = 0, height = 0;
    for (bool fixedFunction : {true, false}) {
        BuiltScene s(fixedFunction);
        REQUIRE_ENGINE(s);
        ASSERT_TRUE(readyToDraw(s));
        BuiltScene::place(s.spot, light.x, light.y, light.z);
        s.spot->channels[kHeading].value = kPi;
        s.spot->channels[kPitch].value = std::atan2(light.y - target.y, light.z - target.z);
        s.spot->coneAngle.value = cone;
        s.spot->edgeAngle.value = edge;
        frames[fixedFunction ? 0 : 1] = frame(s);
        if (fixedFunction)
            continue;
        D3DSURFACE_DESC desc{};
        ComRef<IDirect3DSurface9> back;
        s.device()->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, back.out());
        back->GetDesc(&desc);
        width = int(desc.Width), height = int(desc.Height);
        const PixelRays rays(s, width, height);
        points.assign(size_t(width * height), V3{0, 1, 0});
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                rays.floorPoint(x, y, points[size_t(y * width + x)]);
        s.spot->intensity.value = 0.0f;
        spotOff = frame(s);
    }
    int outside = 0, shadowed = 0, lit = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        const V3 p = points[i];
        // Floor in front of every object, away from the floor's edges.
        if (p.y != 0.0f || p.z > -0.7f || std::fabs(p.x) > 4.5f || p.z < -4.5f)
            continue;
        const float angle = std::acos(dot(unit(p - light), axis));
        if (angle > cone + 0.05f) {
            ++outside;
            EXPECT_TRUE(near(frames[0][i], frames[1][i], 2)) << std::hex << frames[0][i] << " " << frames[1][i];
        } else if (angle < cone - edge - 0.03f && throughBox(p, light, 0.1f)) {
            ++shadowed;
            EXPECT_TRUE(near(frames[1][i], spotOff[i], 2)) << std::hex << frames[1][i] << " " << spotOff[i];
        } else if (angle < cone - edge - 0.03f && !throughBox(p, light, -0.15f)) {
            lit += ((frames[1][i] >> 8) & 0xFF) > ((spotOff[i] >> 8) & 0xFF) + 10;
        }
    }
    EXPECT_GT(outside, 20);
    EXPECT_GT(shadowed, 3);
    EXPECT_GT(lit, 20);
}
