// The scene built in code drawn whole in both modes, its pixels checked
// against the geometry: the spot light's shadow on the floor, the flat
// mirror's reflection inside its outline only, the sphere's cube faces.
#include "built_scene.h"

#include "foundation/file_stream.h"
#include "foundation/matrix.h"
#include "platform/device_test_support.h"
#include "scene/poly_mesh.h"

#include <cmath>
#include <cstring>
#include <cstdlib>
#include <string>

using namespace scenetest;

namespace {

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
        matInvert(toWorld, vp);
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
        ASSERT_TRUE(s.readyToDraw());
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

namespace {

// Pixel position of a world point through the camera's view and projection.
struct Projected {
    float x, y;
};
Projected project(BuiltScene& s, V3 p, int width, int height)
{
    D3DMATRIX vp;
    matMul(vp, s.engine->uniforms->view, s.engine->uniforms->projection);
    float c[4];
    vecTransform(c, {p.x, p.y, p.z}, vp);
    return {(c[0] / c[3] + 1.0f) * 0.5f * float(width) - 0.5f, (1.0f - c[1] / c[3]) * 0.5f * float(height) - 0.5f};
}

// Signed distance in pixels from the pixel to the convex outline (negative inside).
float outlineDistance(const Projected q[4], float x, float y)
{
    float area = 0.0f;
    for (int i = 0; i < 4; ++i)
        area += q[i].x * q[(i + 1) % 4].y - q[(i + 1) % 4].x * q[i].y;
    float worst = -1e9f;
    for (int i = 0; i < 4; ++i) {
        const Projected a = q[i], b = q[(i + 1) % 4];
        const float ex = b.x - a.x, ey = b.y - a.y;
        const float d = ((x - a.x) * ey - (y - a.y) * ex) / std::sqrt(ex * ex + ey * ey);
        worst = std::max(worst, area > 0.0f ? d : -d);
    }
    return worst;
}

// After a frame every stencil value is 0 again: a quad that passes only
// there covers the whole target.
bool stencilAllZero(IDirect3DDevice9* d, float w, float h)
{
    const std::pair<D3DRENDERSTATETYPE, DWORD> states[] = {
        {D3DRS_STENCILENABLE, TRUE}, {D3DRS_STENCILFUNC, D3DCMP_EQUAL}, {D3DRS_STENCILREF, 0},
        {D3DRS_STENCILMASK, 0xFFFFFFFF}, {D3DRS_ZENABLE, FALSE}, {D3DRS_ALPHABLENDENABLE, FALSE},
        {D3DRS_COLORWRITEENABLE, 0xF}};
    for (const auto& [state, value] : states)
        d->SetRenderState(state, value);
    d->SetVertexShader(nullptr);
    d->SetPixelShader(nullptr);
    d->SetTexture(0, nullptr);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    d->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
    const float quad[4][5] = {{0, 0, 0.5f, 1}, {w, 0, 0.5f, 1}, {w, h, 0.5f, 1}, {0, h, 0.5f, 1}};
    DWORD colours[4][5];
    std::memcpy(colours, quad, sizeof quad);
    for (auto& v : colours)
        v[4] = 0xFFFF00FF;
    d->BeginScene();
    d->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, colours, sizeof colours[0]);
    d->EndScene();
    d->SetRenderState(D3DRS_STENCILENABLE, FALSE);
    for (uint32_t p : readBackBuffer(d))
        if ((p & 0xFFFFFF) != 0xFF00FF)
            return false;
    return true;
}

} // namespace


// The flat mirror, both modes: outside its outline the frame is the one a
// plain surface gives; inside it gains at most half of what it reflects; a
// box behind the mirror plane changes nothing inside it; the stencil ends
// at 0.
TEST(MirrorScene, FlatMirrorReflectsInsideItsOutlineOnly)
{
    for (bool fixedFunction : {true, false}) {
        BuiltScene s(fixedFunction);
        REQUIRE_ENGINE(s);
        Object* behind = s.addObject("behind.lwo", BuiltScene::cubePoints(), BuiltScene::cubeFaces());
        BuiltScene::place(behind, 2.5f, 1.0f, 2.5f);
        behind->hidden = 1;
        ASSERT_TRUE(s.readyToDraw());
        const std::vector<uint32_t> withMirror = frame(s);
        const int width = 64, height = 48;
        ASSERT_EQ(withMirror.size(), size_t(width * height));
        ASSERT_TRUE(stencilAllZero(s.device(), float(width), float(height))) << fixedFunction;
        behind->hidden = 0;
        const std::vector<uint32_t> withBehind = frame(s);
        BuiltScene::surfaceOf(s.mirror)->reflection.value = 0.0f;
        const std::vector<uint32_t> plain = frame(s);

        const D3DMATRIX& w = *s.mirror->worldMatrixAt(0.0);
        Projected outline[4];
        const float corners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
        for (int i = 0; i < 4; ++i) {
            const float lx = corners[i][0], lz = corners[i][1];
            outline[i] = project(s, {lx * w._11 + lz * w._31 + w._41, lx * w._12 + lz * w._32 + w._42,
                                     lx * w._13 + lz * w._33 + w._43},
                                 width, height);
        }
        int inside = 0, reflected = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const size_t i = size_t(y * width + x);
                const float d = outlineDistance(outline, float(x), float(y));
                if (d > 1.0f) {
                    EXPECT_TRUE(near(withMirror[i], plain[i], 1)) << x << "," << y << std::hex << " " << withMirror[i];
                    continue;
                }
                if (d > -1.0f)
                    continue;
                ++inside;
                EXPECT_TRUE(near(withBehind[i], withMirror[i], 1)) << x << "," << y;
                const int gain = int((withMirror[i] >> 8) & 0xFF) - int((plain[i] >> 8) & 0xFF);
                EXPECT_GE(gain, -1);
                reflected += gain > 20;
                // Half of what the reflection shows, at most.
                EXPECT_LE(gain, 128) << x << "," << y;
            }
        EXPECT_GT(inside, 20);
        EXPECT_GT(reflected, 10);

        // Reflecting nothing, the mirror is its plain surface: the
        // reflection pass leaves it the same lights and shadow map.
        for (Object* o : {s.floor, s.box, s.sphere, behind})
            o->hidden = 1;
        const std::vector<uint32_t> bare = frame(s);
        BuiltScene::surfaceOf(s.mirror)->reflection.value = 0.5f;
        const std::vector<uint32_t> reflectingNothing = frame(s);
        for (size_t i = 0; i < bare.size(); ++i)
            EXPECT_TRUE(near(bare[i], reflectingNothing[i], 1)) << i << std::hex << " " << bare[i] << " " << reflectingNothing[i];
    }
}

// The sphere alone at reflection 1.0, both modes: its reflection scene
// holds nothing else and it is left out of its own faces, so each pixel
// shows the clear colour of the face its view-space reflection vector picks.
TEST(MirrorScene, LoneSphereShowsTheFaceItsReflectionPicks)
{
    const uint32_t faceColour[6] = {0xFF0000, 0x00FF00, 0x0000FF, 0x00FFFF, 0xFF00FF, 0xFFFF00};
    for (bool fixedFunction : {true, false}) {
        BuiltScene s(fixedFunction);
        REQUIRE_ENGINE(s);
        for (i32 i = 2; i >= 0; --i)
            s.scene->removeObject(i); // mirror, box and floor
        ASSERT_EQ(s.scene->objects.size(), 1u);
        // Close in front of it, level; smooth, so that its normals are
        // near the true sphere's.
        BuiltScene::place(s.camera, -2.5f, 1.2f, -2.5f);
        s.camera->channels[kPitch].value = 0.0f;
        BuiltScene::surfaceOf(s.sphere)->setSmoothingAngle(1.5f);
        s.sphere->mesh->prepared = 0;
        ASSERT_TRUE(s.sphere->mesh->prepare());
        ASSERT_TRUE(s.readyToDraw());
        const std::vector<uint32_t> pixels = frame(s);
        const int width = 64, height = 48;
        ASSERT_EQ(pixels.size(), size_t(width * height));
        const PixelRays rays(s, width, height);
        const D3DMATRIX& view = s.engine->uniforms->view;
        const V3 centre = {-2.5f, 1.0f, 0.0f};
        int checked = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const V3 d = rays.direction(x, y);
                const V3 toCentre = centre - rays.eye;
                const float along = dot(toCentre, d);
                const V3 closest = rays.eye + d * along;
                const float miss = std::sqrt(dot(closest - centre, closest - centre));
                // Well inside the silhouette of the faceted sphere.
                if (miss > 0.5f)
                    continue;
                const V3 hit = rays.eye + d * (along - std::sqrt(0.75f * 0.75f - miss * miss));
                const V3 n = unit(hit - centre);
                D3DVECTOR nv = {n.x, n.y, n.z}, pv;
                vecTransformNormal(nv, view);
                vecTransformCoord(pv, {hit.x, hit.y, hit.z}, view);
                const V3 i = unit({pv.x, pv.y, pv.z}), nn = unit({nv.x, nv.y, nv.z});
                const V3 r = i - nn * (2.0f * dot(i, nn));
                const float a[3] = {std::fabs(r.x), std::fabs(r.y), std::fabs(r.z)};
                const int major = a[0] >= a[1] && a[0] >= a[2] ? 0 : a[1] >= a[2] ? 1 : 2;
                const float second = std::max(a[(major + 1) % 3], a[(major + 2) % 3]);
                // The faceted sphere's normals stray from the true ones.
                if (a[major] < 2.0f * second)
                    continue;
                const float component[3] = {r.x, r.y, r.z};
                const int face = major * 2 + (component[major] < 0.0f ? 1 : 0);
                ++checked;
                EXPECT_TRUE(near(pixels[size_t(y * width + x)], faceColour[face], 3))
                    << fixedFunction << " " << x << "," << y << " face " << face << std::hex << " "
                    << pixels[size_t(y * width + x)];
            }
        EXPECT_GT(checked, 100) << fixedFunction;
    }
}

// A mirror facing the camera, nothing drawn behind it, and a box behind
// the camera: the box's reflection lies deeper than anything the camera's
// own pass draws, yet shows inside the mirror, in both modes.
TEST(MirrorScene, FacingMirrorShowsWhatLiesBeyondItsOwnDepth)
{
    for (bool fixedFunction : {true, false}) {
        BuiltScene s(fixedFunction);
        REQUIRE_ENGINE(s);
        Object* behind = s.addObject("behind.lwo", BuiltScene::cubePoints(), BuiltScene::cubeFaces());
        BuiltScene::place(behind, 2.5f, 0.5f, -2.0f);
        s.floor->hidden = 1;
        BuiltScene::place(s.camera, 2.5f, 1.0f, -1.0f);
        s.camera->channels[kPitch].value = 0.0f;
        ASSERT_TRUE(s.readyToDraw());
        const std::vector<uint32_t> shown = frame(s);
        ASSERT_TRUE(stencilAllZero(s.device(), 64.0f, 48.0f)) << fixedFunction;
        behind->hidden = 1;
        const std::vector<uint32_t> gone = frame(s);
        ASSERT_EQ(shown.size(), gone.size());
        int changed = 0;
        for (size_t i = 0; i < shown.size(); ++i)
            changed += !near(shown[i], gone[i], 10);
        EXPECT_GT(changed, 10) << fixedFunction;
    }
}

// The sphere's cube faces are drawn from its centre: a box standing beside
// it, within its own view (turned towards the camera), shows in the
// sphere's pixels.
TEST(MirrorScene, CubeFacesShowTheBoxBesideTheSphere)
{
    for (bool fixedFunction : {true, false}) {
        BuiltScene s(fixedFunction);
        REQUIRE_ENGINE(s);
        for (i32 i = 2; i >= 0; --i)
            s.scene->removeObject(i); // mirror, box and floor
        Object* beside = s.addObject("beside.lwo", BuiltScene::cubePoints(), BuiltScene::cubeFaces());
        BuiltScene::place(beside, -1.0f, 1.0f, -1.2f);
        s.sphere->channels[kHeading].value = kPi;
        BuiltScene::place(s.camera, -2.5f, 1.2f, -2.5f);
        s.camera->channels[kPitch].value = 0.0f;
        ASSERT_TRUE(s.readyToDraw());
        const std::vector<uint32_t> shown = frame(s);
        const int width = 64, height = 48;
        ASSERT_EQ(shown.size(), size_t(width * height));
        const PixelRays rays(s, width, height);
        beside->hidden = 1;
        const std::vector<uint32_t> gone = frame(s);
        const V3 centre = {-2.5f, 1.0f, 0.0f};
        int inside = 0, changed = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const V3 d = rays.direction(x, y);
                const V3 closest = rays.eye + d * dot(centre - rays.eye, d);
                if (std::sqrt(dot(closest - centre, closest - centre)) > 0.6f)
                    continue;
                ++inside;
                const size_t i = size_t(y * width + x);
                changed += !near(shown[i], gone[i], 10);
            }
        EXPECT_GT(inside, 100) << fixedFunction;
        EXPECT_GT(changed, 10) << fixedFunction;
    }
}
