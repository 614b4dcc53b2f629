// Surfaces and texture layers: layer adoption and the channel counts the
// shader switches use, layer lookup, the flags that follow from the values
// the reader stores, the render-target rule, map references and the cube map.
#include "materials/surface.h"

#include "foundation/envelope.h"
#include "materials/texture_layer.h"
#include "materials/vertex_maps.h"

#include "platform/device_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

namespace {

// Surfaces only keep texture pointers and never look through them, so a
// stand-in address serves as "has a texture".
Texture* fakeTexture(int which = 0)
{
    static char storage[4];
    return reinterpret_cast<Texture*>(&storage[which]);
}

std::unique_ptr<TextureLayer> makeLayer(u32 channel, Texture* texture = fakeTexture())
{
    auto layer = std::make_unique<TextureLayer>();
    layer->channel = channel;
    layer->texture = texture;
    return layer;
}

TEST(SurfaceTest, ChannelIdsAreTheFileCharactersFirstInTheLowByte)
{
    EXPECT_EQ(iffId("COLR"), 0x524C4F43u); // 'C' 0x43, 'O' 0x4F, 'L' 0x4C, 'R' 0x52
    const char bytes[4] = {'T', 'R', 'A', 'N'};
    u32 word;
    std::memcpy(&word, bytes, 4);
    EXPECT_EQ(channelTRAN, word);
    // A sampler name's first four characters make the same word.
    EXPECT_EQ(iffId("BUMP0"), channelBUMP);
}

TEST(SurfaceTest, DefaultSmoothingThresholdIsTwoDegrees)
{
    Surface s(nullptr, "ship.lwo@Hull");
    EXPECT_STREQ(s.name.c_str(), "ship.lwo@Hull");
    // cos(2 degrees) = 0.99939083; less 1e-6.
    EXPECT_NEAR(s.smoothingCosine, 0.99938983f, 1e-7f);
    EXPECT_EQ(s.smoothing, 0);
    EXPECT_EQ(countEntries(&s), 0);
    EXPECT_EQ(countEntries(nullptr), 0);
    // The kept transform starts with (0, 0, 0, 1) as its last column.
    TextureLayer layer;
    EXPECT_EQ(layer.matrix._14, 0.0f);
    EXPECT_EQ(layer.matrix._44, 1.0f);
}

TEST(SurfaceTest, EachChannelCountsInItsOwnSlot)
{
    Surface s(nullptr, "a@b");
    // Added in an order different from the count order.
    const u32 added[8] = {channelTRAN, channelSPEC, channelTRNL, channelBUMP,
                          channelREFL, channelLUMI, channelDIFF, channelCOLR};
    for (u32 c : added)
        EXPECT_TRUE(s.addLayer(makeLayer(c)));
    for (int i = 0; i < Surface::channelCountSlots; ++i)
        EXPECT_EQ(s.channelCounts[i], 1) << i;
    EXPECT_EQ(Surface::channelIndex(channelCOLR), 0);
    EXPECT_EQ(Surface::channelIndex(channelDIFF), 1);
    EXPECT_EQ(Surface::channelIndex(channelLUMI), 2);
    EXPECT_EQ(Surface::channelIndex(channelREFL), 3);
    EXPECT_EQ(Surface::channelIndex(channelBUMP), 4);
    EXPECT_EQ(Surface::channelIndex(channelTRNL), 5);
    EXPECT_EQ(Surface::channelIndex(channelSPEC), 6);
    EXPECT_EQ(Surface::channelIndex(channelTRAN), 7);
    EXPECT_EQ(Surface::channelIndex(channelGLOS), -1);
    // Slots follow the order of adoption.
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(s.layerSlots[i]->channel, added[i]);
        EXPECT_EQ(s.layerSlots[i], s.layers[i].get());
    }
}

TEST(SurfaceTest, RejectedLayersLeaveCountsAndSlotsAlone)
{
    Surface s(nullptr, "a@b");
    auto disabled = makeLayer(channelCOLR);
    disabled->enabled = 0;
    EXPECT_FALSE(s.addLayer(std::move(disabled)));
    EXPECT_FALSE(s.addLayer(makeLayer(channelCOLR, nullptr)));
    EXPECT_FALSE(s.addLayer(nullptr));
    EXPECT_EQ(s.layerCount, 0);
    EXPECT_EQ(s.channelCount(channelCOLR), 0);
    EXPECT_TRUE(s.layers.empty());

    // Channels outside the eight counted ones take a slot but no count.
    EXPECT_TRUE(s.addLayer(makeLayer(channelGLOS)));
    EXPECT_TRUE(s.addLayer(makeLayer(channelRIND)));
    EXPECT_EQ(s.layerCount, 2);
    for (int i = 0; i < Surface::channelCountSlots; ++i)
        EXPECT_EQ(s.channelCounts[i], 0);
    EXPECT_EQ(s.channelCount(channelGLOS), 0);

    for (int i = 0; i < 6; ++i)
        EXPECT_TRUE(s.addLayer(makeLayer(channelCOLR)));
    EXPECT_EQ(s.layerCount, 8);
    EXPECT_EQ(s.channelCount(channelCOLR), 6);

    // The ninth accepted block has nowhere to go.
    auto ninth = makeLayer(channelCOLR);
    TextureLayer* ninthPointer = ninth.get();
    s.bakeLayer = ninthPointer;
    EXPECT_FALSE(s.addLayer(std::move(ninth)));
    EXPECT_EQ(s.layerCount, 8);
    EXPECT_EQ(s.layers.size(), 8u);
    EXPECT_EQ(s.channelCount(channelCOLR), 6);
    // The destroyed layer is not left behind as the bake layer.
    EXPECT_EQ(s.bakeLayer, nullptr);
}

TEST(SurfaceTest, FindLayerNumbersAChannelsUsableLayersInOrder)
{
    Surface s(nullptr, "a@b");
    s.addLayer(makeLayer(channelCOLR, fakeTexture(0)));
    s.addLayer(makeLayer(channelBUMP, fakeTexture(1)));
    s.addLayer(makeLayer(channelCOLR, fakeTexture(2)));
    s.addLayer(makeLayer(channelCOLR, fakeTexture(3)));

    EXPECT_EQ(s.findLayer(channelCOLR, 0), nullptr);
    EXPECT_EQ(s.findLayer(channelCOLR, -1), nullptr);
    EXPECT_EQ(s.findLayer(channelCOLR, 1)->texture, fakeTexture(0));
    EXPECT_EQ(s.findLayer(channelCOLR, 2)->texture, fakeTexture(2));
    EXPECT_EQ(s.findLayer(channelCOLR, 3)->texture, fakeTexture(3));
    EXPECT_EQ(s.findLayer(channelCOLR, 4), nullptr);
    EXPECT_EQ(s.countLayers(channelCOLR), 3);
    EXPECT_EQ(s.countLayers(channelBUMP), 1);
    EXPECT_EQ(s.findLayer(channelSPEC, 1), nullptr);
    EXPECT_EQ(s.countLayers(channelSPEC), 0);

    // A layer that loses its texture later is skipped by the lookup, while
    // the count taken at adoption stays.
    s.layers[2]->texture = nullptr;
    EXPECT_EQ(s.findLayer(channelCOLR, 2)->texture, fakeTexture(3));
    EXPECT_EQ(s.countLayers(channelCOLR), 2);
    EXPECT_EQ(s.channelCount(channelCOLR), 3);
}

TEST(SurfaceTest, TransparentFollowsTransparencyAdditiveTransparencyAndReflectionOptions)
{
    Envelope envelope;
    {
        Surface s(nullptr, "a@b");
        s.setTransparency(0.0f, nullptr);
        s.setAdditiveTransparency(0.0f, nullptr);
        s.setReflectionOptions(1);
        s.setReflectionOptions(3);
        EXPECT_EQ(s.transparent, 0);
        EXPECT_EQ(s.reflectionOptions, 3);
    }
    {
        Surface s(nullptr, "a@b");
        s.setTransparency(0.25f, nullptr);
        EXPECT_EQ(s.transparent, 1);
        EXPECT_FLOAT_EQ(s.transparency.value, 0.25f);
    }
    {
        // An envelope alone is enough, even with a zero value.
        Surface s(nullptr, "a@b");
        s.setTransparency(0.0f, &envelope);
        EXPECT_EQ(s.transparent, 1);
        EXPECT_EQ(s.transparency.source, &envelope);
    }
    {
        Surface s(nullptr, "a@b");
        s.setAdditiveTransparency(0.0f, &envelope);
        EXPECT_EQ(s.transparent, 1);
    }
    {
        Surface s(nullptr, "a@b");
        s.setAdditiveTransparency(-0.5f, nullptr);
        EXPECT_EQ(s.transparent, 1);
    }
    {
        // Reflection options 0 also count as transparent.
        Surface s(nullptr, "a@b");
        s.setReflectionOptions(0);
        EXPECT_EQ(s.transparent, 1);
        EXPECT_EQ(s.reflectionOptions, 0);
    }
}

TEST(SurfaceTest, SmoothingSidednessLinesAndHighlights)
{
    Surface s(nullptr, "a@b");
    const float defaultCosine = s.smoothingCosine;
    s.setSmoothingAngle(0.03490658503988659f); // exactly 2 degrees: not above
    EXPECT_EQ(s.smoothing, 0);
    EXPECT_EQ(s.smoothingCosine, defaultCosine);
    s.setSmoothingAngle(1.0f);
    EXPECT_EQ(s.smoothing, 1);
    EXPECT_NEAR(s.smoothingCosine, 0.54030231f - 1e-6f, 1e-7f); // cos 1 = 0.5403023

    s.setSidedness(1);
    EXPECT_EQ(s.doubleSided, 0);
    s.setSidedness(3);
    EXPECT_EQ(s.doubleSided, 1);
    s.setLineFlags(2);
    EXPECT_EQ(s.lineFlag, 0);
    s.setLineFlags(1);
    EXPECT_EQ(s.lineFlag, 1);
    s.setColorHighlights(0);
    EXPECT_EQ(s.colorHighlights, 0);
    s.setColorHighlights(0x80000000u); // -0.0 as a float pattern: not 0
    EXPECT_EQ(s.colorHighlights, 1);
}

TEST(SurfaceTest, RenderTargetAddsALayerOrReplacesTheFirstOnesTexture)
{
    {
        Surface s(nullptr, "a@b");
        s.useRenderTarget(fakeTexture(1));
        ASSERT_EQ(countEntries(&s), 1);
        EXPECT_EQ(s.layers[0]->texture, fakeTexture(1));
        EXPECT_EQ(s.layerCount, 1);
        for (int i = 0; i < Surface::channelCountSlots; ++i)
            EXPECT_EQ(s.channelCounts[i], 0);
        // A second render target replaces the texture of that layer.
        s.useRenderTarget(fakeTexture(2));
        EXPECT_EQ(countEntries(&s), 1);
        EXPECT_EQ(s.layers[0]->texture, fakeTexture(2));
    }
    {
        // The first layer's texture is replaced whatever its channel.
        Surface s(nullptr, "a@b");
        s.addLayer(makeLayer(channelBUMP, fakeTexture(0)));
        s.addLayer(makeLayer(channelCOLR, fakeTexture(0)));
        s.useRenderTarget(fakeTexture(3));
        EXPECT_EQ(countEntries(&s), 2);
        EXPECT_EQ(s.layers[0]->channel, channelBUMP);
        EXPECT_EQ(s.layers[0]->texture, fakeTexture(3));
        EXPECT_EQ(s.layers[1]->texture, fakeTexture(0));
    }
}

// Records its own deletion.
class WatchedColorMap : public VertexColorMap {
public:
    explicit WatchedColorMap(bool* deleted) : deleted_(deleted) {}
    ~WatchedColorMap() override { *deleted_ = true; }

private:
    bool* deleted_;
};

class WatchedUVMap : public UVMap {
public:
    explicit WatchedUVMap(bool* deleted) : deleted_(deleted) {}
    ~WatchedUVMap() override { *deleted_ = true; }

private:
    bool* deleted_;
};

TEST(SurfaceTest, MapReferencesAreCountedPerHolder)
{
    bool colorDeleted = false;
    bool uvDeleted = false;
    auto* colors = new WatchedColorMap(&colorDeleted);
    auto* uvs = new WatchedUVMap(&uvDeleted);
    colors->addRef(); // the reader's layer table
    uvs->addRef();
    {
        Surface s(nullptr, "a@b");
        s.setVertexColorMap(2, colors);
        EXPECT_EQ(colors->refCount, 2u);
        EXPECT_EQ(s.vertexColorMap(2), colors);
        EXPECT_EQ(s.vertexColorMap(0), nullptr);
        EXPECT_EQ(s.vertexColorMap(3), nullptr);
        EXPECT_EQ(s.vertexColorMap(-1), nullptr);
        s.setVertexColorMap(-1, colors); // ignored
        EXPECT_EQ(colors->refCount, 2u);

        auto layer = makeLayer(channelCOLR);
        layer->setUVMap(1, uvs);
        EXPECT_EQ(uvs->refCount, 2u);
        {
            // A copy (a procedural texture keeps one) holds its own.
            TextureLayer copy(*layer);
            EXPECT_EQ(uvs->refCount, 3u);
            EXPECT_EQ(copy.uvMap(1), uvs);
        }
        EXPECT_EQ(uvs->refCount, 2u);
        s.addLayer(std::move(layer));

        // The reader drops its references when the mesh is made; the
        // surface and its layer keep the maps alive.
        colors->release();
        uvs->release();
        EXPECT_FALSE(colorDeleted);
        EXPECT_FALSE(uvDeleted);
    }
    EXPECT_TRUE(colorDeleted);
    EXPECT_TRUE(uvDeleted);
}

TEST(SurfaceTest, RejectedLayerDropsItsMapReference)
{
    bool deleted = false;
    auto* uvs = new WatchedUVMap(&deleted);
    uvs->addRef();
    Surface s(nullptr, "a@b");
    auto layer = makeLayer(channelCOLR, nullptr);
    layer->setUVMap(0, uvs);
    EXPECT_FALSE(s.addLayer(std::move(layer)));
    EXPECT_EQ(uvs->refCount, 1u);
    uvs->release();
    EXPECT_TRUE(deleted);
}

TEST(SurfaceTest, SharedEnvelopeOutlivesItsSurfaces)
{
    // One envelope animating two surfaces' values is deleted by neither.
    auto envelope = std::make_unique<Envelope>();
    envelope->addLinearKey(0.0f, 0.5f);
    {
        Surface a(nullptr, "f@a");
        Surface b(nullptr, "f@b");
        a.diffuse.source = envelope.get();
        b.color[0].source = envelope.get();
        EXPECT_FLOAT_EQ(a.diffuse.valueAt(0.0), 0.5f);
    }
    EXPECT_FLOAT_EQ(envelope->evaluate(0.0), 0.5f);
}

TEST(SurfaceTest, CubeMapForReflectionOptionsThree)
{
    DeviceFixture f;
    ASSERT_EQ(f.created, D3D_OK);
    // Declared after the device, so the surface releases its cube map first.
    Surface s(nullptr, "a@b");
    EXPECT_FALSE(s.createCubeMap(nullptr));
    EXPECT_EQ(s.cubeEdgeLength, 0);

    ASSERT_TRUE(s.createCubeMap(f.device.get()));
    ASSERT_NE(s.cubeTexture, nullptr);
    ASSERT_NE(s.cubeDepthSurface, nullptr);
    EXPECT_EQ(s.cubeEdgeLength, 256);
    D3DSURFACE_DESC desc{};
    ASSERT_EQ(s.cubeTexture->GetLevelDesc(0, &desc), D3D_OK);
    EXPECT_EQ(desc.Width, 256u);
    EXPECT_EQ(desc.Format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(desc.Usage, (DWORD)D3DUSAGE_RENDERTARGET);
    EXPECT_EQ(desc.Pool, D3DPOOL_DEFAULT);
    ASSERT_EQ(s.cubeDepthSurface->GetDesc(&desc), D3D_OK);
    EXPECT_EQ(desc.Width, 256u);
    EXPECT_EQ(desc.Height, 256u);
    EXPECT_EQ(desc.Format, D3DFMT_D24S8);
    // Made again (a second RFOP 3), the first pair is released, not leaked.
    IDirect3DCubeTexture9* first = s.cubeTexture;
    first->AddRef();
    EXPECT_TRUE(s.createCubeMap(f.device.get()));
    EXPECT_EQ(s.cubeEdgeLength, 256);
    EXPECT_EQ(first->Release(), 0u);
}

} // namespace
