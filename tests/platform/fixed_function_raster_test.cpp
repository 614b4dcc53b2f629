// Where the generated programs put things: transformed (XYZRHW) vertices on
// D3D's pixel centres with their depth and 1/rhw perspective, the
// half-pixel rule for transformed geometry, user clip planes in world
// space, flat shading and point size.
#include "fixed_function_test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace fftest;

namespace {

constexpr int kWidth = 16;
constexpr int kHeight = 12;

TestVertex screen(double x, double y, double z, double rhw, D3DCOLOR color)
{
    TestVertex v;
    v.position[0] = float(x);
    v.position[1] = float(y);
    v.position[2] = float(z);
    v.position[3] = float(rhw);
    v.diffuse = color;
    return v;
}

FixedFunctionState pretransformed()
{
    FixedFunctionState s;
    s.layout = fixedVertexLayoutFromFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
    s.viewport = {0, 0, kWidth, kHeight, 0.0f, 1.0f};
    s.stageStates[0][D3DTSS_COLOROP] = D3DTOP_SELECTARG1;
    s.stageStates[0][D3DTSS_COLORARG1] = D3DTA_DIFFUSE;
    s.stageStates[0][D3DTSS_ALPHAARG1] = D3DTA_DIFFUSE;
    return s;
}

// A quad as a strip: (x0, y0) to (x1, y1).
std::vector<TestVertex> quad(double x0, double y0, double x1, double y1, double z, D3DCOLOR color)
{
    return {screen(x0, y0, z, 1, color), screen(x1, y0, z, 1, color), screen(x0, y1, z, 1, color),
            screen(x1, y1, z, 1, color)};
}

int countLit(const Target& t)
{
    int n = 0;
    for (int y = 0; y < t.height(); ++y) {
        for (int x = 0; x < t.width(); ++x)
            n += t.pixel(x, y).g != 0;
    }
    return n;
}

TEST(FixedFunctionRaster, TransformedQuadCoversExactlyItsPixels)
{
    FF_RUN_WITH_GL([] {
        Target target(kWidth, kHeight);
        FixedFunctionPipeline pipeline;
        // Pixel (5, 3) is the square from (4.5, 2.5) to (5.5, 3.5) in D3D's
        // screen coordinates, whose pixel centres are at integers.
        target.clear(0);
        ASSERT_TRUE(target.draw(pipeline, pretransformed(), quad(4.5, 2.5, 5.5, 3.5, 0.5, 0xFF00FF00),
                                GL_TRIANGLE_STRIP));
        EXPECT_EQ(target.pixel(5, 3).g, 255);
        EXPECT_EQ(countLit(target), 1);
        // The full-target quad from (-0.5, -0.5) covers every pixel once.
        target.clear(0);
        ASSERT_TRUE(target.draw(pipeline, pretransformed(),
                                quad(-0.5, -0.5, kWidth - 0.5, kHeight - 0.5, 0.5, 0xFF00FF00), GL_TRIANGLE_STRIP));
        EXPECT_EQ(countLit(target), kWidth * kHeight);
        // Row 0 is the top row: a quad over the top two rows only.
        target.clear(0);
        ASSERT_TRUE(target.draw(pipeline, pretransformed(), quad(-0.5, -0.5, kWidth - 0.5, 1.5, 0.5, 0xFF00FF00),
                                GL_TRIANGLE_STRIP));
        EXPECT_EQ(target.pixel(0, 0).g, 255);
        EXPECT_EQ(target.pixel(0, 1).g, 255);
        EXPECT_EQ(target.pixel(0, 2).g, 0);
    });
}

TEST(FixedFunctionRaster, TransformedQuadInASmallerViewport)
{
    FF_RUN_WITH_GL([] {
        Target target(kWidth, kHeight);
        FixedFunctionPipeline pipeline;
        FixedFunctionState s = pretransformed();
        s.viewport = {4, 2, 8, 6, 0.0f, 1.0f};
        target.clear(0);
        // Screen coordinates stay target coordinates whatever the viewport.
        ASSERT_TRUE(target.draw(pipeline, s, quad(6.5, 3.5, 7.5, 4.5, 0.5, 0xFF00FF00), GL_TRIANGLE_STRIP));
        EXPECT_EQ(target.pixel(7, 4).g, 255);
        EXPECT_EQ(countLit(target), 1);
    });
}

TEST(FixedFunctionRaster, TransformedDepthIsZ)
{
    FF_RUN_WITH_GL([] {
        Target target(kWidth, kHeight);
        FixedFunctionPipeline pipeline;
        FixedFunctionState s = pretransformed();
        target.clear(0);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_ALWAYS);
        ASSERT_TRUE(target.draw(pipeline, s, quad(-0.5, -0.5, 7.5, 5.5, 0.3, 0xFF00FF00), GL_TRIANGLE_STRIP));
        EXPECT_NEAR(target.depth(3, 3), 0.3f, 1e-5f);
        // A viewport depth range does not move transformed z.
        s.viewport = {0, 0, kWidth, kHeight, 0.25f, 0.75f};
        ASSERT_TRUE(target.draw(pipeline, s, quad(7.5, 5.5, 15.5, 11.5, 0.6, 0xFF00FF00), GL_TRIANGLE_STRIP));
        EXPECT_NEAR(target.depth(10, 8), 0.6f, 1e-5f);
        glDisable(GL_DEPTH_TEST);
    });
}

TEST(FixedFunctionRaster, TransformedVerticesInterpolateWithRhw)
{
    // Left edge rhw 1, right edge rhw 0.25 (w = 4); green from 0 to 1
    // across. At screen fraction t the perspective-correct value is
    // t*rhw1 / ((1-t)*rhw0 + t*rhw1).
    FF_RUN_WITH_GL([] {
        Target target(kWidth, kHeight);
        FixedFunctionPipeline pipeline;
        target.clear(0);
        const double x0 = -0.5, x1 = kWidth - 0.5;
        std::vector<TestVertex> v = {screen(x0, -0.5, 0.5, 1.0, 0xFF000000), screen(x1, -0.5, 0.5, 0.25, 0xFF00FF00),
                                     screen(x0, kHeight - 0.5, 0.5, 1.0, 0xFF000000),
                                     screen(x1, kHeight - 0.5, 0.5, 0.25, 0xFF00FF00)};
        ASSERT_TRUE(target.draw(pipeline, pretransformed(), v, GL_TRIANGLE_STRIP));
        for (int x : {2, 8, 13}) {
            const double t = (x - x0) / (x1 - x0);
            const double g = t * 0.25 / ((1 - t) * 1.0 + t * 0.25);
            EXPECT_NEAR(target.pixel(x, 5).g, g * 255, 1.5) << "x " << x;
        }
    });
}

TEST(FixedFunctionRaster, TransformedGeometryFollowsTheHalfPixelRule)
{
    // Camera-space (x, y) through screenOrtho is D3D screen (x, y): a
    // quad around pixel (9, 4) covers only that pixel.
    FF_RUN_WITH_GL([] {
        Target target(kWidth, kHeight);
        FixedFunctionPipeline pipeline;
        FixedFunctionState s;
        s.layout = fixedVertexLayoutFromFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE);
        s.projection = screenOrtho(kWidth, kHeight);
        s.viewport = {0, 0, kWidth, kHeight, 0.0f, 1.0f};
        s.renderStates[D3DRS_LIGHTING] = FALSE;
        target.clear(0);
        std::vector<TestVertex> v = quad(8.5, 3.5, 9.5, 4.5, 5, 0xFF00FF00);
        for (auto& vertex : v)
            vertex.position[3] = 1.0f;
        ASSERT_TRUE(target.draw(pipeline, s, v, GL_TRIANGLE_STRIP));
        EXPECT_EQ(target.pixel(9, 4).g, 255);
        EXPECT_EQ(countLit(target), 1);
    });
}

TEST(FixedFunctionRaster, UserClipPlanesAreInWorldSpace)
{
    FF_RUN_WITH_GL([] {
        Target target(kWidth, kHeight);
        FixedFunctionPipeline pipeline;
        FixedFunctionState s;
        s.layout = fixedVertexLayoutFromFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE);
        s.projection = screenOrtho(kWidth, kHeight);
        s.viewport = {0, 0, kWidth, kHeight, 0.0f, 1.0f};
        s.renderStates[D3DRS_LIGHTING] = FALSE;
        // World moves everything 3 right; the view moves it back. Plane 0
        // keeps world x >= 8 (x - 8 >= 0), plane 2 keeps world y <= 9.
        s.world._41 = 3.0f;
        s.view._41 = -3.0f;
        s.clipPlanes[0][0] = 1.0f;
        s.clipPlanes[0][3] = -8.0f;
        s.clipPlanes[2][1] = -1.0f;
        s.clipPlanes[2][3] = 9.0f;
        s.renderStates[D3DRS_CLIPPLANEENABLE] = D3DCLIPPLANE0 | D3DCLIPPLANE2;
        std::vector<TestVertex> points;
        for (int x = 0; x < kWidth; ++x) {
            for (int y = 0; y < kHeight; y += 2) {
                points.push_back(screen(x, y, 5, 1, 0xFF00FF00)); // object = camera space
            }
        }
        target.clear(0);
        ASSERT_TRUE(target.draw(pipeline, s, points, GL_POINTS));
        for (int x = 0; x < kWidth; ++x) {
            for (int y = 0; y < kHeight; y += 2) {
                // Pixel x is camera x, world x = camera x + 3.
                const bool kept = (x + 3) >= 8 && y <= 9;
                EXPECT_EQ(target.pixel(x, y).g, kept ? 255 : 0) << x << "," << y;
            }
        }
        // Planes off: everything drawn.
        s.renderStates[D3DRS_CLIPPLANEENABLE] = 0;
        target.clear(0);
        ASSERT_TRUE(target.draw(pipeline, s, points, GL_POINTS));
        EXPECT_EQ(countLit(target), kWidth * kHeight / 2);
    });
}

TEST(FixedFunctionRaster, FlatShadingTakesTheFirstVertex)
{
    FF_RUN_WITH_GL([] {
        Target target(kWidth, kHeight);
        FixedFunctionPipeline pipeline;
        FixedFunctionState s = pretransformed();
        s.renderStates[D3DRS_SHADEMODE] = D3DSHADE_FLAT;
        target.clear(0);
        std::vector<TestVertex> v = {screen(-0.5, -0.5, 0.5, 1, 0xFF00FF00), screen(kWidth, -0.5, 0.5, 1, 0xFFFF0000),
                                     screen(-0.5, kHeight, 0.5, 1, 0xFF0000FF)};
        ASSERT_TRUE(target.draw(pipeline, s, v, GL_TRIANGLES));
        const Rgba p = target.pixel(4, 4);
        EXPECT_EQ(p.r, 0);
        EXPECT_EQ(p.g, 255);
        EXPECT_EQ(p.b, 0);
    });
}

TEST(FixedFunctionRaster, PointSizeFromTheRenderState)
{
    FF_RUN_WITH_GL([] {
        Target target(kWidth, kHeight);
        FixedFunctionPipeline pipeline;
        FixedFunctionState s = pretransformed();
        s.renderStates[D3DRS_POINTSIZE] = floatBits(5.0f);
        target.clear(0);
        ASSERT_TRUE(target.draw(pipeline, s, {screen(7, 6, 0.5, 1, 0xFF00FF00)}, GL_POINTS));
        EXPECT_EQ(countLit(target), 25);
        EXPECT_EQ(target.pixel(5, 4).g, 255);
        EXPECT_EQ(target.pixel(9, 8).g, 255);
        EXPECT_EQ(target.pixel(4, 4).g, 0);
    });
}

} // namespace
