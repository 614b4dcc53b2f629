// A turning planar colour layer shows, in either drawing mode, the cell its
// placement at that time puts there.
#include "built_scene.h"

#include "foundation/envelope.h"
#include "foundation/matrix.h"
#include "materials/texture_test_support.h"
#include "platform/device_test_support.h"
#include "scene/subset.h"

#include <cstdlib>

using namespace scenetest;

namespace {

constexpr int kWidth = 64;

// Cell (column, row) of a 4 x 4 checker, one texel each.
u32 cell(int column, int row)
{
    return 0xFF000040u | u32(column * 70 + 20) << 16 | u32(row * 70 + 20) << 8;
}

bool near(u32 got, u32 want)
{
    for (int shift : {16, 8, 0})
        if (std::abs(int((got >> shift) & 0xFF) - int((want >> shift) & 0xFF)) > 3)
            return false;
    return true;
}

TEST(TextureTransformPixels, ATurningPlanarLayerShowsItsPlacementOnBothPaths)
{
    for (bool fixedFunction : {true, false}) {
        SCOPED_TRACE(fixedFunction ? "fixed-function" : "shaders");
        ModeEngine engine(fixedFunction);
        REQUIRE_ENGINE(engine);
        const char* data = std::getenv("QUILLON_TEST_DATA");
        FileStream fx((std::string(data ? data : "tests/data") + "/../../content/fx/").c_str());
        ASSERT_TRUE(fixedFunction || engine->loadEffects(&fx));
        IDirect3DDevice9* d = engine->currentDevice;

        texturetest::BuiltTexture texture(engine.get(), 0);
        ASSERT_TRUE(texture.create2D(4, 4, 0, "(cells)"));
        texturetest::fillLevel0(texture, cell);
        texture.finishCreation();

        // Lit by its luminosity alone, so the texels show unchanged.
        Surface surface(nullptr, "cells.lwo@s");
        surface.diffuse.value = 0.0f;
        surface.luminosity.value = 1.0f;
        surface.doubleSided = 1;
        auto layer = std::make_unique<TextureLayer>();
        layer->channel = channelCOLR;
        layer->texture = &texture;
        layer->projection = TextureLayer::projectionPlanar;
        layer->axis = TextureLayer::axisZ;
        layer->pixelBlending = 0;
        layer->antialiasingStrength = 0.0f;
        // A full turn of the heading in four seconds.
        Envelope heading;
        heading.addLinearKey(0.0f, 0.0f);
        heading.addLinearKey(4.0f, 2.0f * kPi);
        layer->rotation[0].source = &heading;
        ASSERT_TRUE(surface.addLayer(std::move(layer)));

        // Fills the orthographic view at z = 0.375: pixel (px, py) is x = (px + 0.5) / 32 - 1,
        // y = 1 - (py + 0.5) / 24.
        LWObject record(nullptr, "cells.lwo");
        record.tagCount = 1;
        record.tags = new Surface*[1]{&surface};
        auto* points = new D3DVECTOR[4]{{-1, -1, 0.375f}, {1, -1, 0.375f}, {1, 1, 0.375f}, {-1, 1, 0.375f}};
        auto* polygon = new PolyMesh::Polygon[1];
        polygon[0].vertexCount = 4;
        polygon[0].pointIndices = new u32[4]{0, 1, 2, 3};
        PolyMesh mesh(engine.get(), &record, 1, polygon, points, 4);
        mesh.layerIndex = 0;
        ASSERT_TRUE(mesh.prepare());
        ASSERT_EQ(mesh.subsets.size(), 1u);

        D3DMATRIX identity, view, projection;
        makeAffineMatrix(identity, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0);
        makeAffineMatrix(view, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 3);
        makeAffineMatrix(projection, 1, 0, 0, 0, 1, 0, 0, 0, 0.1f, 0, 0, 0);
        engine->uniforms->setWorld(identity);
        engine->uniforms->setView(view);
        engine->uniforms->setProjection(projection);

        // Heading h: u = x cos h + z sin h + 0.5, v = y + 0.5, wrapping. At 45 degrees
        // the four columns (the last by wrapping); at 90, u = 0.875 wherever x is.
        const struct {
            double time;
            int px, py, column, row;
        } cases[] = {{0.5, 14, 33, 1, 0}, {0.5, 25, 28, 2, 1}, {0.5, 36, 19, 3, 2},
                     {0.5, 48, 14, 0, 3}, {1.0, 14, 33, 3, 0}, {1.0, 48, 14, 3, 3}};
        for (const auto& c : cases) {
            d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
            d->BeginScene();
            mesh.subsets[0]->render(engine->standardPair, c.time);
            d->EndScene();
            const std::vector<u32> pixels = readBackBuffer(d);
            ASSERT_EQ(pixels.size(), size_t(kWidth * 48));
            const u32 got = pixels[size_t(c.py * kWidth + c.px)];
            EXPECT_TRUE(near(got, cell(c.column, c.row)))
                << "t " << c.time << " at " << c.px << "," << c.py << ": " << std::hex << got;
        }
    }
}

} // namespace
