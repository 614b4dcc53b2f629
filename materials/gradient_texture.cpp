#include "materials/generated_textures.h"

#include "foundation/envelope.h"
#include "foundation/matrix.h"
#include "materials/generated_textures_local.h"

#include <algorithm>

namespace {

constexpr i32 kGradientWidth = 1024;

// The "IKEY" interpolation of the span ending at a key: 0 linear, 1 spline
// (the default), 2 step. Unknown values count as spline.
void addGradientKey(Envelope& envelope, i32 interpolation, float input, float value)
{
    switch (interpolation) {
    case 0: envelope.addLinearKey(input, value); break;
    case 2: envelope.addSteppedKey(input, value); break;
    default: envelope.addTcbKey(input, value, 0.0f, 0.0f, 0.0f); break;
    }
}

float component(const TextureLayer::GradientKey& key, int c)
{
    switch (c) {
    case 0: return key.red;
    case 1: return key.green;
    case 2: return key.blue;
    default: return key.alpha;
    }
}

// The key records in ascending input (a damaged file may list them out of
// order; the envelope expects ascending times).
std::vector<TextureLayer::GradientKey> sortedKeys(const TextureLayer& layer)
{
    std::vector<TextureLayer::GradientKey> keys = layer.gradientKeys;
    std::stable_sort(keys.begin(), keys.end(),
                     [](const TextureLayer::GradientKey& a, const TextureLayer::GradientKey& b) {
                         return a.input < b.input;
                     });
    return keys;
}

void fillEnvelope(Envelope& envelope, const std::vector<TextureLayer::GradientKey>& keys, int c)
{
    for (const TextureLayer::GradientKey& key : keys)
        addGradientKey(envelope, key.interpolation, key.input, component(key, c));
}

} // namespace

GradientTexture::GradientTexture(Engine* engine, TextureLayer* layer)
    : Texture(engine, kScratchConvert | kMipChain)
    , layer(layer)
{
}

Texture* GradientTexture::clone() const
{
    return new GradientTexture(*this);
}

void GradientTexture::convertGradientKeys(TextureLayer& layer)
{
    if (layer.gradientKeys.empty())
        return;
    const std::vector<TextureLayer::GradientKey> keys = sortedKeys(layer);
    for (int c = 0; c < 4; ++c) {
        Envelope* envelope = layer.gradient[c].source ? layer.gradient[c].source->asEnvelope() : nullptr;
        if (envelope && envelope->keys.empty())
            fillEnvelope(*envelope, keys, c);
    }
}

void GradientTexture::build()
{
    if (!layer)
        return;
    convertGradientKeys(*layer);

    // A layer built without envelopes but with key records is evaluated
    // through envelopes of this build's own; the values are written back
    // into the layer all the same.
    const std::vector<TextureLayer::GradientKey> keys = sortedKeys(*layer);
    Envelope local[4];
    AnimatedValue* values = layer->gradient;
    DynamicValue* sources[4];
    for (int c = 0; c < 4; ++c) {
        sources[c] = values[c].source;
        if (!sources[c] && !keys.empty()) {
            fillEnvelope(local[c], keys, c);
            sources[c] = &local[c];
        }
    }
    auto valueAt = [&](int c, double input) {
        if (sources[c])
            values[c].value = sources[c]->evaluate(input);
        return values[c].value;
    };

    const float start = layer->gradientRangeStart;
    const float end = layer->gradientRangeEnd;
    const bool transparency = layer->channel == channelTRAN;
    generated::fillAndUpload(*this, kGradientWidth, 1, flags, "(gradient texture)", [&](const generated::Level0& level) {
        // From the last texel to the first: the range start lies at the
        // right end of the row.
        for (i32 i = 0; i < kGradientWidth; ++i) {
            const float input = start + float(i) * (end - start) * 0.0009765625f;
            float color[4];
            for (int c = 0; c < 4; ++c)
                color[c] = valueAt(c, input);
            // A transparency gradient carries its value in red; alpha follows it.
            if (transparency)
                color[3] = color[0];
            level.at(kGradientWidth - 1 - i, 0) = colorToARGB(color);
        }
    });
}
