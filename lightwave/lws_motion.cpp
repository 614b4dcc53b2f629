// The token cursor of the scene-file reader and its readers of motions and
// envelopes. The readers trust a block's layout, but never its counts: every
// read at the end of the token array yields an empty token without moving,
// and every loop stops there, so a cut or lying file only ends early.
#include "foundation/diagnostics.h"
#include "foundation/envelope.h"
#include "foundation/types.h"
#include "lightwave/lws_load_state.h"
#include "scene/node.h"
#include "scene/object.h"
#include "scene/scene.h"

#include <climits>
#include <cstdlib>
#include <cstring>

bool atEnd(const Scene& scene)
{
    return scene.tokens == nullptr || scene.tokenCursor < 0 || scene.tokenCursor >= scene.tokenCount;
}

void pass(Scene& scene, i32 n)
{
    for (i32 i = 0; i < n && !atEnd(scene); i++)
        scene.tokenCursor++;
}

namespace {

// One key line of an envelope block: its value, time, shape and the six
// shape parameters.
struct KeyLine {
    float value;
    float time;
    i32 shape;
    float p[6];
};

KeyLine readKeyLine(Scene& scene)
{
    KeyLine k;
    pass(scene, 1);
    k.value = (float)scene.nextFloat();
    k.time = (float)scene.nextFloat();
    k.shape = scene.nextInt();
    for (float& x : k.p)
        x = (float)scene.nextFloat();
    return k;
}

void attach(AnimatedValue& value, Envelope* envelope)
{
    if (value.source != envelope)
        delete value.source;
    value.source = envelope;
}

} // namespace

const char* Scene::nextString()
{
    if (atEnd(*this))
        return "";
    return tokens[tokenCursor++];
}

i32 Scene::nextInt()
{
    const char* p = nextString();
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    i64 v = 0;
    for (; *p >= '0' && *p <= '9'; p++) {
        v = v * 10 + (*p - '0');
        if (v > (i64)INT_MAX + 1)
            v = (i64)INT_MAX + 1;
    }
    if (negative)
        return (i32)-v;
    return v > INT_MAX ? INT_MAX : (i32)v;
}

double Scene::nextFloat()
{
    // Decimal text only: strtod would also take "nan", "inf" and hex.
    const char* token = nextString();
    const char* p = token + (*token == '+' || *token == '-');
    if (!((*p >= '0' && *p <= '9') || *p == '.') || (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')))
        return 0.0;
    return std::strtod(token, nullptr);
}

u32 Scene::nextHex()
{
    unsigned long long v = std::strtoull(nextString(), nullptr, 16);
    return v > 0xFFFFFFFFull ? 0xFFFFFFFFu : (u32)v;
}

const char* Scene::nextName()
{
    if (!atEnd(*this) && std::strcmp(tokens[tokenCursor], "{") == 0)
        tokenCursor++;
    return nextString();
}

bool Scene::atBlockEnd()
{
    if (atEnd(*this) || std::strcmp(tokens[tokenCursor], "}") != 0)
        return false;
    tokenCursor++;
    return true;
}

void Scene::skipBlock()
{
    if (atBlockEnd())
        return;
    i32 depth = 0;
    while (!atEnd(*this)) {
        const char* token = tokens[tokenCursor++];
        if (std::strcmp(token, "{") == 0)
            depth++;
        else if (std::strcmp(token, "}") == 0 && --depth <= 0)
            return;
    }
}

void Scene::readChannel(Node* node)
{
    pass(*this, 1);
    i32 m = nextInt();
    for (i32 i = 0; i < m && !atEnd(*this); i++) {
        pass(*this, 1);
        i32 c = nextInt();
        if (c >= 0 && c <= 8)
            readEnvelope(node->channels[c]);
        else
            skipBlock();
    }
}

namespace {

// The key lines and behaviours that both envelope forms share, after the key
// count. The old form knows only TCB, linear and stepped keys and passes over
// the rest; the current one reports an unknown shape.
Envelope* readEnvelopeKeys(Scene& scene, i32 n, bool oldForm)
{
    Envelope* envelope = new Envelope();
    for (i32 k = 0; k < n && !atEnd(scene); k++) {
        const KeyLine key = readKeyLine(scene);
        const float v = key.value, time = key.time;
        const float* p = key.p;
        switch (key.shape) {
        case EnvelopeKey::shapeTcb: envelope->addTcbKey(time, v, p[0], p[1], p[2]); break;
        case EnvelopeKey::shapeLinear: envelope->addLinearKey(time, v); break;
        case EnvelopeKey::shapeStepped: envelope->addSteppedKey(time, v); break;
        case EnvelopeKey::shapeHermite:
            if (!oldForm)
                envelope->addHermiteKey(time, v, p[3], p[4]);
            break;
        case EnvelopeKey::shapeBezier:
            if (!oldForm)
                envelope->addBezierKey(time, v, p[3], p[4]);
            break;
        case EnvelopeKey::shapeBezier2D:
            if (!oldForm)
                envelope->addBezier2DKey(time, v, p[0], p[1], p[2], p[3]);
            break;
        default:
            if (!oldForm)
                ENGINE_ASSERT_FAILED("unsupported curvetype");
            break;
        }
    }
    pass(scene, 1);
    envelope->preBehavior = (u32)scene.nextInt();
    envelope->postBehavior = (u32)scene.nextInt();
    return envelope;
}

// Reads one envelope block of either form into `value`. The two forms differ
// only in how many tokens stand before the count and around a single key.
void readEnvelopeBlock(Scene& scene, AnimatedValue& value, bool oldForm)
{
    pass(scene, oldForm ? 3 : 2);
    i32 n = scene.nextInt();
    if (n <= 0) {
        // No keys: a constant 0.0 (counting it as one key would take ten
        // tokens that are not there).
        value.value = 0.0f;
        pass(scene, oldForm ? 3 : 4);
        return;
    }
    if (n == 1) {
        pass(scene, 1);
        value.value = (float)scene.nextFloat();
        pass(scene, oldForm ? 11 : 12);
        return;
    }
    attach(value, readEnvelopeKeys(scene, n, oldForm));
    if (!oldForm)
        pass(scene, 1);
}

} // namespace

void Scene::readEnvelope(AnimatedValue& value)
{
    readEnvelopeBlock(*this, value, false);
}

void Scene::readOldEnvelope(AnimatedValue& value)
{
    readEnvelopeBlock(*this, value, true);
}

Object* Scene::findItem(const char* name)
{
    for (Object* object : objects)
        if (object && std::strcmp(object->name.c_str(), name) == 0)
            return object;
    return nullptr;
}
