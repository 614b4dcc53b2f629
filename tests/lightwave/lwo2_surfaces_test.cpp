#include "lightwave/wrap_rule.h"
#include "lwo2_test_support.h"

#include "foundation/engine_limits.h"
#include "foundation/envelope.h"
#include "materials/envelope_owner.h"
#include "materials/generated_textures.h"
#include "materials/video_texture.h"

#include <d3d9.h>

using namespace lwo2test;

namespace {

Bytes envelope(u32 index, float value)
{
    return Bytes().u2(index).sub("KEY ", Bytes().f4(0).f4(value)).sub("SPAN", Bytes().id("LINE"));
}

Bytes clipStill(u32 index, const char* path) { return Bytes().u4(index).sub("STIL", Bytes().s0(path)); }

} // namespace

TEST(Lwo2Surfaces, EnvelopeIndicesOutsideTheTableAreNone)
{
    Loader f;
    REQUIRE_ENGINE(f.engine);
    Diagnostics quiet(0);
    Bytes b = quadObject("A");
    b.chunk("TAGS", tags({"B", "C"}));
    for (u32 i = 1; i <= 4; ++i)
        b.chunk("ENVL", envelope(i, float(i)));
    b.chunk("SURF", surf("A", Bytes().sub("COLR", Bytes().f4(1).f4(1).f4(1).u2(2)).sub("DIFF", Bytes().f4(0.5f).u2(4))));
    b.chunk("SURF", surf("B", Bytes().sub("COLR", Bytes().f4(1).f4(1).f4(1).u2(2046)).sub("DIFF", Bytes().f4(0.5f).u2(60000))));
    // A second chunk for a filled surface is passed over.
    b.chunk("SURF", surf("A", Bytes().sub("DIFF", Bytes().f4(0.1f).u2(0))));
    b.chunk("SURF", surf("C", Bytes().sub("TRAN", Bytes().f4(0).u2(1))));
    ASSERT_NE(f.load(b), nullptr);

    Surface* a = f.surface("obj.lwo@A");
    EXPECT_EQ(a->color[0].valueAt(0), 2.0f);
    EXPECT_EQ(a->color[2].valueAt(0), 4.0f);
    EXPECT_EQ(a->diffuse.valueAt(0), 4.0f);
    Surface* s = f.surface("obj.lwo@B");
    EXPECT_EQ(s->color[0].source, nullptr);
    EXPECT_EQ(s->diffuse.source, nullptr);
    // An envelope alone makes the surface transparent, and so its layer.
    EXPECT_EQ(f.surface("obj.lwo@C")->transparent, 1);
    EXPECT_EQ(f.meta->envelopeOwners.size(), 1u);
    EXPECT_EQ(f.meta->envelopeOwners[0]->size(), 4u);
}

TEST(Lwo2Surfaces, AFailedLoadKeepsTheEnvelopesItsSurfacesUse)
{
    Loader f;
    REQUIRE_ENGINE(f.engine);
    Diagnostics boxes(1);
    Bytes b = quadObject();
    b.chunk("ENVL", envelope(1, 7.0f));
    b.chunk("SURF", surf("Default", Bytes().sub("LUMI", Bytes().f4(0).u2(1))));
    b.chunk("SURF", surf("Nowhere", Bytes()));
    EXPECT_EQ(f.load(b), nullptr);
    EXPECT_EQ(boxTexts(), std::vector<std::string>{"Error: surface Nowhere not found in obj.lwo!\n"});
    EXPECT_EQ(f.surface("obj.lwo@Default")->luminosity.valueAt(1.0), 7.0f);
}

TEST(Lwo2Surfaces, BlocksBecomeLayers)
{
    Loader f;
    REQUIRE_ENGINE(f.engine);
    Diagnostics quiet(0);
    Bytes b = quadObject();
    b.chunk("VMAP", Bytes().id("TXUV").u2(2).s0("uv").vx(0).f4(0).f4(0));
    b.chunk("CLIP", clipStill(1, "alpha.png"));
    b.chunk("CLIP", clipStill(2, "bump.png"));
    Bytes subs;
    // Transparency map.
    subs.sub("BLOK", blok("IMAP", Bytes().sub("CHAN", Bytes().id("TRAN")),
                          Bytes().sub("IMAG", Bytes().u2(1)).sub("WRAP", Bytes().u2(0).u2(2))));
    // Bump map: flag 1 cleared, normal map set, scale = amplitude x strength.
    subs.sub("BUMP", Bytes().f4(2).u2(0));
    subs.sub("BLOK", blok("IMAP", Bytes().sub("CHAN", Bytes().id("BUMP")),
                          Bytes().sub("IMAG", Bytes().u2(2)).sub("TAMP", Bytes().f4(1.5f).u2(0))));
    // UV diffuse without an image: the bake target.
    subs.sub("BLOK", blok("IMAP", Bytes().sub("CHAN", Bytes().id("DIFF")),
                          Bytes().sub("PROJ", Bytes().u2(5)).sub("VMAP", Bytes().s0("uv"))));
    // A disabled gradient with more interpolations than keys.
    subs.sub("BLOK", blok("GRAD", Bytes().sub("CHAN", Bytes().id("COLR")).sub("ENAB", Bytes().u2(0)),
                          Bytes().sub("FKEY", Bytes().f4(0).f4(1).f4(0).f4(0).f4(1)).sub("IKEY", Bytes().u2(0).u2(2).u2(3))));
    // Unknown block types are passed over.
    subs.sub("BLOK", blok("SHDR", Bytes(), Bytes()));
    b.chunk("SURF", surf("Default", subs));
    ASSERT_NE(f.load(b), nullptr);

    Surface* s = f.surface("obj.lwo@Default");
    ASSERT_EQ(s->layerCount, 3);
    EXPECT_EQ(f.meta->textures[0]->flags & (Texture::kTransparencyMap | Texture::kColorMap), Texture::kTransparencyMap);
    const WrapModes wrap = wrapModesFor(f.engine->caps.TextureAddressCaps, 0, 2);
    EXPECT_EQ(s->layerSlots[0]->wrapModeWidth, wrap.width);
    EXPECT_EQ(s->layerSlots[0]->wrapModeHeight, wrap.height);
    Texture* bump = f.meta->textures[1];
    EXPECT_EQ(bump->flags & 0x11u, 0x10u);
    EXPECT_FLOAT_EQ(bump->bumpScale, 3.0f);
    TextureLayer* bake = s->layerSlots[2];
    ASSERT_NE(dynamic_cast<TargetTexture*>(bake->texture), nullptr);
    EXPECT_EQ(bake->texture->width, 1024);
    EXPECT_EQ(s->bakeLayer, bake);
    EXPECT_EQ(f.meta->renderTargetLayers, std::vector<TextureLayer*>{bake});
    EXPECT_NE(bake->uvMap(0), nullptr);
    // The gradient's texture stays registered but no longer knows the
    // destroyed layer.
    auto* gradient = dynamic_cast<GradientTexture*>(f.meta->textures.back());
    ASSERT_NE(gradient, nullptr);
    EXPECT_EQ(gradient->layer, nullptr);
}

TEST(Lwo2Surfaces, WrapRule)
{
    const u32 all = D3DPTADDRESSCAPS_MIRROR | D3DPTADDRESSCAPS_CLAMP | D3DPTADDRESSCAPS_BORDER |
                    D3DPTADDRESSCAPS_INDEPENDENTUV;
    struct Case {
        u32 caps;
        u32 width, height;
        i32 projection;
        bool noScale;
        i32 wantWidth, wantHeight;
    } cases[] = {
        {all, 0, 2, -1, false, 4, 2},
        {all, 3, 1, -1, false, 3, 1},
        {D3DPTADDRESSCAPS_INDEPENDENTUV, 0, 2, -1, false, 1, 1},        // no mirror, clamp or border
        {D3DPTADDRESSCAPS_CLAMP | D3DPTADDRESSCAPS_INDEPENDENTUV, 0, 3, -1, false, 3, 3}, // reset falls to edge
        {D3DPTADDRESSCAPS_MIRROR, 3, 2, -1, false, 2, 2},              // width follows height
        {all, 9, 5, -1, false, 1, 5},                                  // unknown mode wraps, 5 stays
        {all, 3, 3, 1, false, 1, 3},                                   // cylindrical
        {all, 3, 3, 2, false, 1, 1},                                   // spherical
        {all, 1, 2, 1, true, 3, 3},                                    // "_noscale"
    };
    for (const Case& c : cases) {
        const WrapModes m = wrapModesFor(c.caps, c.width, c.height, c.projection, c.noScale);
        EXPECT_EQ(m.width, c.wantWidth) << c.caps << " " << c.width << " " << c.height;
        EXPECT_EQ(m.height, c.wantHeight) << c.caps << " " << c.width << " " << c.height;
    }
}

TEST(Lwo2Surfaces, Clips)
{
    Loader f;
    REQUIRE_ENGINE(f.engine);
    Diagnostics quiet(0);
    f.scene->framesPerSecond = 25.0;
    Bytes b = quadObject();
    b.chunk("CLIP", Bytes().u4(1).sub("ISEQ", Bytes().u1(3).u1(0).u2(0).u2(0).u2(4).u2(6).s0("f").s0(".png")));
    b.chunk("CLIP", Bytes().u4(2).sub("ISEQ", Bytes().u1(2).u1(0).u2(0).u2(0).u2(9).u2(3).s0("g").s0(".png")));
    b.chunk("CLIP", Bytes().u4(3).sub("XREF", Bytes().i4(1).s0("copy")).sub("TIME", Bytes().f4(0).f4(1).f4(12).i4(0).i4(0)));
    b.chunk("CLIP", Bytes().u4(4).sub("XREF", Bytes().i4(-5).s0("none")));
    b.chunk("CLIP", Bytes().u4(5).sub("ANIM", Bytes().s0("movie.avi").s0("").i4(0)));
    b.chunk("CLIP", clipStill(3000, "far.png"));
    // 65,536 numbers, of which two frames are there: cut to the longest
    // sequence, missing frames kept as empty entries.
    b.chunk("CLIP", Bytes().u4(6).sub("ISEQ", Bytes().u1(1).u1(0).u2(0).u2(0).u2(0).u2(65535).s0("h").s0(".png")));
    // The far still again, as the archive would also find it.
    b.chunk("CLIP", clipStill(7, "FAR.png"));
    for (const char* frame : {"f004.png", "f006.png", "h0.png", "h1.png.dds"})
        f.files.files[frame] = "x";
    Bytes subs;
    for (u32 clip : {1, 3, 4, 5, 3000})
        subs.sub("BLOK", blok("IMAP", Bytes().sub("CHAN", Bytes().id("COLR")), Bytes().sub("IMAG", Bytes().u2(clip))));
    b.chunk("SURF", surf("Default", subs));
    f.files.files["movie.avi"] = "held by the stream";
    ASSERT_NE(f.load(b), nullptr);

    EXPECT_EQ(f.scene->framesPerSecond, 30.0);
    ASSERT_EQ(f.meta->textures.size(), 6u); // two sequences, the clone, the video, the far still, a third sequence
    auto* seq = dynamic_cast<SequenceTexture*>(f.meta->textures[0]);
    ASSERT_NE(seq, nullptr);
    EXPECT_STREQ(seq->name.c_str(), "f004.png");
    // Frame 5 is missing: an empty entry, and frame 6 after it.
    ASSERT_EQ(seq->frames.size(), 3u);
    EXPECT_EQ(seq->frames[1], nullptr);
    ASSERT_NE(seq->frames[2], nullptr);
    EXPECT_STREQ(seq->frames[2]->name.c_str(), "f006.png");
    auto* backwards = dynamic_cast<SequenceTexture*>(f.meta->textures[1]);
    ASSERT_NE(backwards, nullptr);
    EXPECT_TRUE(backwards->frames.empty());
    auto* longRange = dynamic_cast<SequenceTexture*>(f.meta->textures[5]);
    ASSERT_NE(longRange, nullptr);
    EXPECT_EQ(longRange->frames.size(), limits::sequenceFrames);
    EXPECT_EQ(longRange->lastFrame, i32(limits::sequenceFrames) - 1);
    EXPECT_NE(longRange->frames[1], nullptr);
    EXPECT_STREQ(f.meta->textures[2]->name.c_str(), "copy");
    EXPECT_EQ(f.meta->textures[2]->frameRate, 12.0f);
    // The video is named after its file and plays from the stream it came with.
    auto* video = dynamic_cast<VideoTexture*>(f.meta->textures[3]);
    ASSERT_NE(video, nullptr);
    EXPECT_STREQ(video->name.c_str(), "movie.avi");
    EXPECT_STREQ(video->fileName.c_str(), "movie.avi");
    EXPECT_NE(video->source, nullptr);
    // Clips 4 (negative XREF) and 3000 give no texture.
    EXPECT_EQ(f.surface("obj.lwo@Default")->layerCount, 3);
}

// Bake targets are made only for layers a surface keeps (eight at most, and
// enabled ones), and a metascene has at most 64 of them.
TEST(Lwo2Surfaces, BakeTargetsOnlyForKeptLayersAndBounded)
{
    Loader f;
    REQUIRE_ENGINE(f.engine);
    Diagnostics quiet(0);
    const Bytes uvDiffuse = blok("IMAP", Bytes().sub("CHAN", Bytes().id("DIFF")), Bytes().sub("PROJ", Bytes().u2(5)));
    const Bytes disabled = blok("IMAP", Bytes().sub("CHAN", Bytes().id("DIFF")).sub("ENAB", Bytes().u2(0)),
                                Bytes().sub("PROJ", Bytes().u2(5)));
    std::vector<std::string> names;
    Bytes surfaces;
    for (int i = 0; i < 12; ++i) {
        names.push_back("S" + std::to_string(i));
        Bytes subs;
        subs.sub("BLOK", disabled);
        for (int k = 0; k < 20; ++k)
            subs.sub("BLOK", uvDiffuse);
        surfaces.chunk("SURF", surf(names.back(), subs));
    }
    Bytes b;
    b.chunk("TAGS", tags(names));
    b.chunk("LAYR", layr(0));
    b.chunk("PNTS", pnts({0, 0, 0, 1, 0, 0, 1, 1, 0}));
    b.chunk("POLS", pols("FACE", {{0, 1, 2}}));
    b.raw(surfaces.data);
    ASSERT_NE(f.load(b), nullptr);
    size_t targets = 0;
    for (Texture* t : f.meta->textures)
        targets += dynamic_cast<TargetTexture*>(t) != nullptr;
    EXPECT_EQ(targets, 64u); // eight surfaces of eight; unbounded: 252
    EXPECT_EQ(f.meta->renderTargetLayers.size(), 64u);
}

TEST(Lwo2Surfaces, EnvelopeSpans)
{
    Loader f;
    REQUIRE_ENGINE(f.engine);
    Diagnostics quiet(0);
    struct Span {
        const char* id;
        int params;
        u32 shape;
    } spans[] = {{"TCB ", 3, EnvelopeKey::shapeTcb},     {"HERM", 2, EnvelopeKey::shapeHermite},
                 {"BEZI", 2, EnvelopeKey::shapeBezier},  {"BEZ2", 4, EnvelopeKey::shapeBezier2D},
                 {"LINE", 0, EnvelopeKey::shapeLinear},  {"STEP", 0, EnvelopeKey::shapeStepped}};
    Bytes e;
    e.u2(1).sub("TYPE", Bytes().u2(3)).sub("PRE ", Bytes().u2(2)).sub("POST", Bytes().u2(4));
    for (int i = 0; i < 6; ++i) {
        Bytes span;
        span.id(spans[i].id);
        for (int p = 0; p < spans[i].params; ++p)
            span.f4(0.5f);
        e.sub("KEY ", Bytes().f4(float(i)).f4(float(10 * i))).sub("SPAN", span);
    }
    // A second SPAN has no key of its own; a KEY without SPAN adds none.
    e.sub("KEY ", Bytes().f4(7).f4(70)).sub("SPAN", Bytes().id("LINE")).sub("SPAN", Bytes().id("STEP"));
    e.sub("KEY ", Bytes().f4(9).f4(9));
    Bytes b = quadObject();
    b.chunk("ENVL", e);
    b.chunk("SURF", surf("Default", Bytes().sub("LUMI", Bytes().f4(0).u2(1))));
    ASSERT_NE(f.load(b), nullptr);
    Envelope* env = f.surface("obj.lwo@Default")->luminosity.source->asEnvelope();
    ASSERT_NE(env, nullptr);
    ASSERT_EQ(env->keys.size(), 7u);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(env->keys[i].shape, spans[i].shape);
        EXPECT_EQ(env->keys[i].time, float(i));
        EXPECT_EQ(env->keys[i].value, float(10 * i));
    }
    EXPECT_EQ(env->reserved, 3u);
    EXPECT_EQ(env->preBehavior, 2u);
    EXPECT_EQ(env->postBehavior, 4u);
}
