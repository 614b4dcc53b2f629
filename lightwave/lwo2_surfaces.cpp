// The SURF, CLIP and ENVL chunks of the object reader.
#include "foundation/diagnostics.h"
#include "foundation/engine_limits.h"
#include "foundation/envelope.h"
#include "foundation/log.h"
#include "foundation/stream.h"
#include "lightwave/lwo2_load.h"
#include "lightwave/meta_scene.h"
#include "lightwave/wrap_rule.h"
#include "materials/engine.h"
#include "materials/envelope_owner.h"
#include "materials/generated_textures.h"
#include "materials/surface.h"
#include "materials/texture.h"
#include "materials/video_texture.h"
#include "scene/scene.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Inputs a gradient block can be driven by, in the order the parameter
// index counts them.
const char* const gradientInputNames[] = {
    "Previous Layer", "Bump", "Slope", "Incidence Angle", "Light Incidence", "Distance to Camera",
    "Distance to Object", "X Distance to Object", "Y Distance to Object", "Z Distance to Object", "Weight Map",
};

// Calls f(id, bytes) for each sub-chunk (ID4, U2 length) up to the end of c.
template <class F>
void forEachSubChunk(Lwo2Cursor& c, F f)
{
    while (!c.atEnd()) {
        const u32 id = c.readID4();
        const u32 length = c.readU2();
        if (c.exhausted())
            return;
        Lwo2Cursor sub = c.takeBody(length);
        f(id, sub);
    }
}

bool contains(const String& text, const char* part) { return std::strstr(text.c_str(), part) != nullptr; }

String joined(const String& a, const char* b, const String& c)
{
    String text = a;
    text.append(b);
    text.append(c.c_str());
    return text;
}

} // namespace

String withDriveSlash(const String& path)
{
    if (path.length() < 2 || path.c_str()[1] != ':')
        return path;
    std::string text = path.c_str();
    text.insert(2, "/");
    return String(text.c_str());
}

// ---- SURF

namespace {

struct SurfaceReader {
    Lwo2Load& load;
    Surface* surface;

    AnimatedValue animated(Lwo2Cursor& c)
    {
        AnimatedValue value;
        value.value = c.readF4();
        value.source = load.envelope(c.readU2());
        return value;
    }

    // Centre, size or rotation: three floats, then with a non-zero flag an
    // envelope index per component.
    void readVector(Lwo2Cursor& c, AnimatedValue* out)
    {
        for (int i = 0; i < 3; ++i)
            out[i].value = c.readF4();
        if (c.readU2() != 0)
            for (int i = 0; i < 3; ++i)
                out[i].source = load.envelope(c.readU2());
    }

    void readBlockHeader(TextureLayer& layer, Lwo2Cursor c)
    {
        c.readS0(); // ordinal
        forEachSubChunk(c, [&](u32 id, Lwo2Cursor& s) {
            if (id == iffId("CHAN"))
                layer.channel = s.readID4();
            else if (id == iffId("ENAB"))
                layer.enabled = s.readU2() == 1 ? 1 : 0;
            else if (id == iffId("NEGA"))
                layer.invert = s.readU2() == 1 ? 1 : 0;
            else if (id == iffId("OPAC")) {
                layer.opacityType = (i32)s.readU2();
                layer.opacity = animated(s);
            }
        });
    }

    void readBlockAttribute(TextureLayer& layer, u32 id, Lwo2Cursor& s)
    {
        if (id == iffId("TMAP")) {
            forEachSubChunk(s, [&](u32 tid, Lwo2Cursor& t) {
                if (tid == iffId("CNTR"))
                    readVector(t, layer.center);
                else if (tid == iffId("SIZE"))
                    readVector(t, layer.size);
                else if (tid == iffId("ROTA"))
                    readVector(t, layer.rotation);
            });
        } else if (id == iffId("PROJ")) {
            layer.projection = (i32)s.readU2();
        } else if (id == iffId("AXIS")) {
            layer.axis = (i32)s.readU2();
        } else if (id == iffId("IMAG")) {
            layer.texture = load.clip(s.readU2());
        } else if (id == iffId("WRAP")) {
            const u32 width = s.readU2();
            const u32 height = s.readU2();
            const u32 caps = load.engine ? load.engine->caps.TextureAddressCaps : 0;
            const bool noScale = layer.texture && (layer.texture->flags & Texture::kNoScale);
            const WrapModes modes = wrapModesFor(caps, width, height, layer.projection, noScale);
            layer.wrapModeWidth = modes.width;
            layer.wrapModeHeight = modes.height;
        } else if (id == iffId("WRPW")) {
            layer.wrapAmountWidth = s.readF4();
        } else if (id == iffId("WRPH")) {
            layer.wrapAmountHeight = s.readF4();
        } else if (id == iffId("VMAP")) {
            const String name = s.readS0();
            for (const auto& l : load.layers)
                if (UVMap* map = findUVMap(l.get(), name.c_str()))
                    layer.setUVMap((i32)l->number, map);
        } else if (id == iffId("AAST")) {
            if (s.readU2() != 0)
                layer.antialiasingStrength = s.readF4();
        } else if (id == iffId("PIXB")) {
            layer.pixelBlending = s.readU2() != 0 ? 1 : 0;
        } else if (id == iffId("TAMP")) {
            layer.bumpAmplitude = animated(s);
        } else if (id == iffId("PNAM")) {
            const String name = s.readS0();
            layer.gradientParameter = -1;
            for (i32 i = 0; i < (i32)std::size(gradientInputNames); ++i)
                if (std::strcmp(name.c_str(), gradientInputNames[i]) == 0)
                    layer.gradientParameter = i;
        } else if (id == iffId("GRST")) {
            layer.gradientRangeStart = s.readF4();
        } else if (id == iffId("GREN")) {
            layer.gradientRangeEnd = s.readF4();
        } else if (id == iffId("FKEY")) {
            while (!s.atEnd()) {
                TextureLayer::GradientKey key;
                key.input = s.readF4();
                key.red = s.readF4();
                key.green = s.readF4();
                key.blue = s.readF4();
                key.alpha = s.readF4();
                if (s.exhausted())
                    break;
                layer.gradientKeys.push_back(key);
            }
        } else if (id == iffId("IKEY")) {
            // Values beyond the keys read so far have no key to go to.
            for (size_t i = 0; !s.atEnd(); ++i) {
                const u32 interpolation = s.readU2();
                if (i < layer.gradientKeys.size() && !s.exhausted())
                    layer.gradientKeys[i].interpolation = (i32)interpolation;
            }
        }
    }

    void readBlock(Lwo2Cursor c)
    {
        const u32 type = c.readID4();
        Lwo2Cursor header = c.take(c.readU2());
        if (type != blockIMAP && type != blockPROC && type != blockGRAD)
            return;
        auto layer = std::make_unique<TextureLayer>();
        layer->blockType = type;
        readBlockHeader(*layer, header);
        forEachSubChunk(c, [&](u32 id, Lwo2Cursor& s) { readBlockAttribute(*layer, id, s); });

        GradientTexture* gradient = nullptr;
        if (type == blockGRAD && !layer->gradientKeys.empty()) {
            for (AnimatedValue& value : layer->gradient) {
                Envelope* envelope = load.envelopes->create();
                envelope->preBehavior = envelope->postBehavior = Envelope::behaviorConstant;
                value.source = envelope;
            }
            gradient = new GradientTexture(load.engine, layer.get());
            layer->texture = gradient;
            load.meta->textures.push_back(gradient);
        }
        if (Texture* texture = layer->texture) {
            if (layer->channel == channelTRAN) {
                texture->flags |= Texture::kTransparencyMap;
            } else if (layer->channel == channelBUMP) {
                texture->bumpScale = layer->bumpAmplitude.valueAt(0.0) * surface->bumpStrength.valueAt(0.0);
                texture->flags = (texture->flags | Texture::kNormalMap) & ~1u;
            } else {
                texture->flags |= Texture::kColorMap;
            }
            if (layer->opacityType == 6)
                texture->flags = (texture->flags | Texture::kNormalMap) & ~1u;
        }
        bool target = false;
        // A bake target (4 MB on each device) only for a layer the surface
        // keeps, and no more than limits::metaSceneBakeTargets in one metascene.
        if (layer->projection == TextureLayer::projectionUV && !layer->texture && layer->channel == channelDIFF &&
            layer->enabled && surface->layerCount < Surface::maxLayers) {
            if (load.meta->renderTargetLayers.size() >= limits::metaSceneBakeTargets) {
                logStream << surface->name.c_str() << ": no bake target, the scenes have " << limits::metaSceneBakeTargets
                          << " already" << std::endl;
                return;
            }
            auto* texture = new TargetTexture(load.engine, surface->name.c_str(), 1024, 1024);
            layer->texture = texture;
            load.meta->textures.push_back(texture);
            surface->bakeLayer = layer.get();
            target = true;
        }
        TextureLayer* kept = layer.get();
        if (!surface->addLayer(std::move(layer))) {
            // The layer is gone: nothing may keep pointing at it.
            if (gradient)
                gradient->layer = nullptr;
            return;
        }
        if (target)
            load.meta->renderTargetLayers.push_back(kept);
    }

    void readSubChunk(u32 id, Lwo2Cursor& s)
    {
        Surface& sf = *surface;
        if (id == iffId("COLR")) {
            for (AnimatedValue& c : sf.color) {
                c.value = s.readF4();
                c.source = nullptr;
            }
            // One index names three envelopes: red, green, blue.
            const u32 n = s.readU2();
            if (n != 0 && n + 2 < Lwo2Load::MAXENVS)
                for (u32 i = 0; i < 3; ++i)
                    sf.color[i].source = load.envelope(n + i);
        } else if (id == iffId("DIFF")) {
            sf.diffuse = animated(s);
        } else if (id == iffId("LUMI")) {
            sf.luminosity = animated(s);
        } else if (id == iffId("SPEC")) {
            sf.specularity = animated(s);
        } else if (id == iffId("GLOS")) {
            sf.glossiness = animated(s);
        } else if (id == iffId("REFL")) {
            sf.reflection = animated(s);
        } else if (id == iffId("TRAN")) {
            const AnimatedValue v = animated(s);
            sf.setTransparency(v.value, v.source);
        } else if (id == iffId("ADTR")) {
            const AnimatedValue v = animated(s);
            sf.setAdditiveTransparency(v.value, v.source);
        } else if (id == iffId("RIND")) {
            sf.refractiveIndex = animated(s);
        } else if (id == iffId("BUMP")) {
            sf.bumpStrength = animated(s);
        } else if (id == iffId("CLRF")) {
            sf.colorFilter = animated(s);
        } else if (id == iffId("CLRH")) {
            sf.setColorHighlights(s.readU4());
        } else if (id == iffId("SIDE")) {
            sf.setSidedness(s.readU2());
        } else if (id == iffId("LINE")) {
            sf.setLineFlags(s.readU2());
        } else if (id == iffId("SMAN")) {
            sf.setSmoothingAngle(s.readF4());
        } else if (id == iffId("RFOP")) {
            const i32 options = (i32)s.readU2();
            sf.setReflectionOptions(options);
            // Six colour faces and a depth surface, 4 bytes a texel each;
            // a surface making its cube again costs nothing more.
            constexpr u64 cubeBytes = u64(Surface::cubeMapEdge) * Surface::cubeMapEdge * (6 * 4 + 4);
            if (options == 3 && load.engine &&
                (sf.cubeTexture || !load.meta ||
                 load.meta->takeTargetBytes(cubeBytes,
                                            std::string("cube reflection of surface \"") + sf.name.c_str() + "\"")))
                sf.createCubeMap(load.engine->currentDevice);
        } else if (id == iffId("RIMG")) {
            sf.sphericalReflectionTexture = load.clip(s.readU2());
            if (sf.sphericalReflectionTexture)
                sf.sphericalReflectionTexture->flags |= Texture::kColorMap;
        } else if (id == iffId("VCOL")) {
            s.readF4();
            s.readU2();
            const u32 type = s.readID4();
            const String name = s.readS0();
            if (type == iffId("RGB ") || type == iffId("RGBA"))
                for (const auto& l : load.layers)
                    if (VertexColorMap* map = findVertexColorMap(l.get(), name.c_str()))
                        sf.setVertexColorMap((i32)l->number, map);
        } else if (id == iffId("BLOK")) {
            readBlock(s);
        }
    }
};

} // namespace

bool Lwo2Load::readSurface(Lwo2Cursor c)
{
    const String name = c.readS0();
    const String source = c.readS0();
    const String key = joined(fileName, "@", name);
    Surface* surface = meta->findSurface(key.c_str());
    if (!surface) {
        reportLwo2Error("surface %s not found in %s!\n", name.c_str(), fileName.c_str());
        return false;
    }
    // Another object of the same file has filled it already.
    if (surface->loaded)
        return true;
    surface->sourceName = source;
    SurfaceReader reader{*this, surface};
    forEachSubChunk(c, [&](u32 id, Lwo2Cursor& s) { reader.readSubChunk(id, s); });
    surface->loaded = 1;
    return true;
}

// ---- CLIP

namespace {

String frameName(const String& prefix, u32 digits, u32 number, const String& suffix)
{
    char text[160];
    std::snprintf(text, sizeof text, "%0*u", (int)std::min(digits, 128u), number);
    return joined(joined(prefix, "", String(text)), "", suffix);
}

} // namespace

void Lwo2Load::readClip(Lwo2Cursor c)
{
    const u32 texn = c.readU4();
    ENGINE_ASSERT(texn < MAXTEXS && "ERROR: more textures than defined in LW6Scene::MAXTEXS!");
    Texture* texture = nullptr;
    auto adjust = [&](AnimatedValue Texture::*field, Lwo2Cursor& s) {
        const float value = s.readF4();
        DynamicValue* source = envelope(s.readU2());
        if (texture)
            texture->*field = AnimatedValue{value, source};
    };
    forEachSubChunk(c, [&](u32 id, Lwo2Cursor& s) {
        if (id == iffId("STIL")) {
            const String path = withDriveSlash(s.readS0());
            u32 flags = 3;
            if (contains(path, "_nodxt"))
                flags = 2;
            if (contains(path, "_noscale"))
                flags = (flags & ~3u) | Texture::kNoScale;
            texture = meta->findTexture(path.c_str(), flags & ~3u);
            if (!texture) {
                auto* image = new ImageTexture(engine);
                meta->textures.push_back(image);
                image->budget = &meta->texelBudget;
                // A missing image still gives its texture; the build reports it.
                image->open(path.c_str(), *stream);
                image->flags = flags;
                texture = image;
            }
        } else if (id == iffId("ISEQ")) {
            const u32 digits = s.readU1();
            s.readU1(); // flags
            const u32 offset = s.readU2();
            s.readU2();
            const u32 first = s.readU2();
            const u32 last = s.readU2();
            const String prefix = s.readS0();
            const String suffix = s.readS0();
            const String name = withDriveSlash(frameName(prefix, digits, first, suffix));
            texture = meta->findTexture(name.c_str(), 3);
            if (!texture) {
                auto* sequence = new SequenceTexture(engine);
                meta->textures.push_back(sequence);
                sequence->name = name;
                sequence->firstFrame = (i32)first;
                sequence->lastFrame = (i32)last;
                sequence->frameOffset = (i32)offset;
                sequence->budget = &meta->texelBudget;
                // A range that ends before it starts is a sequence without
                // frames; one past the engine's longest sequence is cut.
                u32 count = last >= first ? last - first + 1 : 0;
                if (count > limits::sequenceFrames) {
                    count = limits::sequenceFrames;
                    sequence->lastFrame = i32(first + count - 1);
                    logStream << "image sequence " << name.c_str() << ": frames " << first << " to " << last
                              << " are more than a sequence may hold; it ends at frame " << sequence->lastFrame
                              << std::endl;
                }
                // Every number keeps its entry. A frame whose file is missing
                // stays empty (it shows nothing) and costs no texture.
                sequence->frames.resize(count);
                u32 missing = 0;
                String firstMissing;
                for (u32 k = 0; k < count; ++k) {
                    const String frameFile = frameName(prefix, digits, first + k, suffix);
                    String ddsFile = frameFile;
                    ddsFile.append(".dds");
                    if (!stream->exists(frameFile.c_str()) && !stream->exists(ddsFile.c_str())) {
                        if (missing++ == 0)
                            firstMissing = frameFile;
                        continue;
                    }
                    auto frame = std::make_unique<ImageTexture>(engine);
                    frame->flags = 1;
                    frame->budget = &meta->texelBudget;
                    frame->open(frameFile.c_str(), *stream);
                    sequence->frames[k] = std::move(frame);
                }
                if (missing)
                    logStream << "image sequence " << name.c_str() << ": " << missing << " of " << count
                              << " frames missing, the first " << firstMissing.c_str() << std::endl;
                scene->framesPerSecond = 30.0;
                texture = sequence;
            }
        } else if (id == iffId("ANIM")) {
            const String name = withDriveSlash(s.readS0());
            texture = meta->findTexture(name.c_str(), 0);
            if (!texture) {
                auto* video = new VideoTexture(engine);
                meta->textures.push_back(video);
                video->budget = &meta->texelBudget;
                video->name = name;
                // Plays from the stream being read when that holds the file.
                video->setFileName(name.c_str(), stream);
                texture = video;
            }
        } else if (id == iffId("XREF")) {
            const i32 other = s.readI4();
            const String name = s.readS0();
            texture = nullptr;
            if (Texture* original = clip(other)) {
                texture = original->clone();
                texture->name = name;
                meta->textures.push_back(texture);
            }
        } else if (id == iffId("TIME")) {
            s.readF4();
            s.readF4();
            const float rate = s.readF4();
            if (texture && !s.exhausted())
                texture->frameRate = rate;
        } else if (id == iffId("HUE ")) {
            adjust(&Texture::hue, s);
        } else if (id == iffId("BRIT")) {
            adjust(&Texture::brightness, s);
        } else if (id == iffId("CONT")) {
            adjust(&Texture::contrast, s);
        } else if (id == iffId("SATR")) {
            adjust(&Texture::saturation, s);
        } else if (id == iffId("GAMM")) {
            adjust(&Texture::gamma, s);
        } else if (id == iffId("AMOD")) {
            const u32 mode = s.readU2();
            if (texture)
                texture->alphaMode = (i32)mode;
        }
    });
    // Index 0 means no clip, so it is never stored.
    if (texn > 0 && texn < MAXTEXS)
        clipTable[texn] = texture;
}

// ---- ENVL

void Lwo2Load::readEnvelope(Lwo2Cursor c)
{
    const u32 envnum = c.readU2();
    ENGINE_ASSERT(envnum < MAXENVS && "more envelopes than defined in MAXENVS. specify higher number!");
    Envelope* envelope = envelopes->create();
    float time = 0.0f, value = 0.0f;
    bool haveKey = false;
    forEachSubChunk(c, [&](u32 id, Lwo2Cursor& s) {
        if (id == iffId("TYPE")) {
            envelope->reserved = s.readU2();
        } else if (id == iffId("PRE ")) {
            envelope->preBehavior = s.readU2();
        } else if (id == iffId("POST")) {
            envelope->postBehavior = s.readU2();
        } else if (id == iffId("KEY ")) {
            time = s.readF4();
            value = s.readF4();
            haveKey = !s.exhausted();
        } else if (id == iffId("SPAN") && haveKey) {
            const u32 shape = s.readID4();
            float p[4];
            for (float& f : p)
                f = s.readF4();
            if (shape == iffId("TCB "))
                envelope->addTcbKey(time, value, p[0], p[1], p[2]);
            else if (shape == iffId("HERM"))
                envelope->addHermiteKey(time, value, p[0], p[1]);
            else if (shape == iffId("BEZI"))
                envelope->addBezierKey(time, value, p[0], p[1]);
            else if (shape == iffId("BEZ2"))
                envelope->addBezier2DKey(time, value, p[0], p[1], p[2], p[3]);
            else if (shape == iffId("LINE"))
                envelope->addLinearKey(time, value);
            else if (shape == iffId("STEP"))
                envelope->addSteppedKey(time, value);
            // The key is spent: a second SPAN has no key of its own.
            haveKey = false;
        }
    });
    if (envnum > 0 && envnum < MAXENVS)
        envelopeTable[envnum] = envelope;
}
