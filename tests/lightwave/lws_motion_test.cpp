#include "lws_test_support.h"

#include "foundation/envelope.h"
#include "materials/texture_test_support.h"
#include "scene/object.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

using namespace lwstest;

namespace {

// A scene whose cursor walks the tokens of text.
struct Cursor {
    std::string text;
    std::vector<const char*> tokens;
    Scene scene{nullptr};

    explicit Cursor(std::string t) : text(std::move(t))
    {
        text.append(2, '\0');
        size_t n = splitLwsTokens(text.data(), text.size() - 2, nullptr, 0);
        tokens.resize(n + 1);
        splitLwsTokens(text.data(), text.size() - 2, tokens.data(), n);
        scene.tokens = tokens.data();
        scene.tokenCount = (i32)n;
    }
    ~Cursor()
    {
        scene.tokens = nullptr;
        scene.tokenCount = 0;
    }
    Envelope* envelope(AnimatedValue& v) { return v.source ? v.source->asEnvelope() : nullptr; }
};

TEST(LwsCursor, OperationsStayInsideAndSaturate)
{
    struct Case {
        const char* text;
        int op; // 0 nextName, 1 atBlockEnd, 2 skipBlock, 3 nextInt, 4 nextHex, 5 nextFloat
        i64 result;
        i32 cursor;
    } cases[] = {
        {"{ name rest", 0, 0, 2},
        {"name rest", 0, 0, 1},
        {"} x", 1, 1, 1},
        {"x }", 1, 0, 0},
        {"{ a { b } { c } d } after", 2, 0, 10},
        {"} after", 2, 0, 1},
        {"{ a { b", 2, 0, 4},
        {"123456789012345678901234567890", 3, 2147483647, 1},
        {"-123456789012345678901234567890", 3, -2147483648LL, 1},
        {"-17x", 3, -17, 1},
        {"abc", 3, 0, 1},
        {"40010000", 4, 0x40010000, 1},
        {"123456789abcdef", 4, 0xFFFFFFFF, 1},
        {"", 3, 0, 0},
        {"nan", 5, 0, 1},
        {"-inf", 5, 0, 1},
        {"0x10", 5, 0, 1},
        {"-.5e1x", 5, -5, 1},
    };
    for (const Case& c : cases) {
        Cursor k(c.text);
        i64 got = 0;
        switch (c.op) {
        case 0: got = std::strcmp(k.scene.nextName(), "name"); break;
        case 1: got = k.scene.atBlockEnd(); break;
        case 2: k.scene.skipBlock(); break;
        case 3: got = k.scene.nextInt(); break;
        case 4: got = k.scene.nextHex(); break;
        case 5: got = (i64)k.scene.nextFloat(); break;
        }
        EXPECT_EQ(got, c.result) << c.text;
        EXPECT_EQ(k.scene.tokenCursor, c.cursor) << c.text;
    }
    Cursor end("");
    EXPECT_STREQ(end.scene.nextString(), "");
    EXPECT_EQ(end.scene.tokenCursor, 0);
}

TEST(LwsCursor, EnvelopeBlocks)
{
    struct Case {
        const char* text;
        bool old;
        size_t keys;          // 0: no envelope
        float value;          // the plain value when no envelope
        const char* after;    // the token the cursor stands on afterwards
    } cases[] = {
        {"{ Envelope 1 Key 0.75 0 0 0 0 0 0 0 0 Behaviors 1 1 } next", false, 0, 0.75f, "next"},
        {"{ Envelope 0 Behaviors 1 1 } next", false, 0, 0.0f, "next"},
        {"{ Envelope -4 Behaviors 1 1 } next", false, 0, 0.0f, "next"},
        {"{ Envelope 2 Key 1 0 0 .1 .2 .3 0 0 0 Key 2 1 0 0 0 0 0 0 0 Behaviors 2 4 } next", false, 2, 0, "next"},
        {"{ Envelope 2 Key 1 0 9 0 0 0 0 0 0 Key 2 1 3 0 0 0 0 0 0 Behaviors 1 1 } next", false, 1, 0, "next"},
        {"{ Envelope 1000000 Key 1 0 0 0 0 0 0 0 0", false, 1, 0, ""},
        {"(envelope) { Envelope 1 Key 0.5 0 0 0 0 0 0 0 0 Behaviors 1 1 } next", true, 0, 0.5f, "}"},
        {"(envelope) { Envelope 3 Key 1 0 0 0 0 0 0 0 0 Key 2 1 1 0 0 0 0 0 0 Key 3 2 4 0 0 0 0 0 0 "
         "Behaviors 1 1 } next",
         true, 2, 0, "}"},
    };
    for (const Case& c : cases) {
        Cursor k(c.text);
        AnimatedValue v;
        if (c.old)
            k.scene.readOldEnvelope(v);
        else
            k.scene.readEnvelope(v);
        Envelope* e = k.envelope(v);
        EXPECT_EQ(e ? e->keys.size() : 0u, c.keys) << c.text;
        if (!e) {
            EXPECT_FLOAT_EQ(v.value, c.value) << c.text;
        }
        EXPECT_STREQ(k.scene.nextString(), c.after) << c.text;
        delete v.source;
    }
}

TEST(LwsCursor, KeyShapesTakeTheirParameters)
{
    Cursor k("{ Envelope 4 Key 1 0 0 .1 .2 .3 .4 .5 .6 Key 2 1 1 .1 .2 .3 .4 .5 .6 "
             "Key 3 2 5 .1 .2 .3 .4 .5 .6 Key 4 3 2 .1 .2 .3 .4 .5 .6 Behaviors 3 5 }");
    AnimatedValue v;
    k.scene.readEnvelope(v);
    Envelope* e = k.envelope(v);
    ASSERT_TRUE(e && e->keys.size() == 4);
    EXPECT_EQ(e->preBehavior, 3u);
    EXPECT_EQ(e->postBehavior, 5u);
    const EnvelopeKey* key = e->keys.data();
    EXPECT_FLOAT_EQ(key[0].tension, 0.1f);
    EXPECT_FLOAT_EQ(key[0].bias, 0.3f);
    EXPECT_FLOAT_EQ(key[1].param[0], 0.4f); // Hermite: p4, p5
    EXPECT_FLOAT_EQ(key[1].param[1], 0.5f);
    EXPECT_FLOAT_EQ(key[2].param[0], 0.1f); // 2D Bezier: p1 to p4
    EXPECT_FLOAT_EQ(key[2].param[3], 0.4f);
    EXPECT_FLOAT_EQ(key[3].param[1], 0.5f); // Bezier: p4, p5
    EXPECT_FLOAT_EQ(key[3].value, 4.0f);
    EXPECT_FLOAT_EQ(key[3].time, 3.0f);
    delete v.source;
}

TEST(LwsCursor, UnsupportedShapeBoxedOnlyAtLevel3)
{
    for (int level : {2, 3}) {
        texturetest::Diagnostics d(level);
        Cursor k("{ Envelope 2 Key 1 0 7 0 0 0 0 0 0 Key 1 1 0 0 0 0 0 0 0 Behaviors 1 1 }");
        AnimatedValue v;
        k.scene.readEnvelope(v);
        delete v.source;
        EXPECT_EQ(texturetest::boxTexts().size(), level == 3 ? 1u : 0u);
    }
}

TEST(LwsCursor, MotionChannels)
{
    // Channel 9 is passed over as a block, a one-key channel stays plain.
    std::string text = "NumChannels 3 Channel 9 { Envelope 2 Key 5 0 0 0 0 0 0 0 0 Key 6 1 0 0 0 0 0 0 0 "
                       "Behaviors 1 1 } Channel 0 " +
                       constant(2.5) + " Channel 8 { Envelope 2 Key 1 0 3 0 0 0 0 0 0 Key 3 1 3 0 0 0 0 0 0 "
                       "Behaviors 1 1 } tail";
    Cursor k(text);
    Object node(&k.scene, 0);
    k.scene.readChannel(&node);
    EXPECT_FLOAT_EQ(node.channels[0].value, 2.5f);
    EXPECT_EQ(node.channels[0].source, nullptr);
    EXPECT_FLOAT_EQ(node.channels[8].valueAt(0.5), 2.0f);
    EXPECT_STREQ(k.scene.nextString(), "tail");
}

// The package's format-5 scenes: each object motion read by readChannel,
// against the values of the files' keys and their behaviours.
struct PackageMotion {
    std::unique_ptr<Cursor> k;
    std::unique_ptr<Object> node;
    explicit PackageMotion(const char* file) : k(std::make_unique<Cursor>(readFile(std::string(kPackageDir) + file)))
    {
        i32 at = 0;
        while (at < k->scene.tokenCount && std::strcmp(k->tokens[(size_t)at], "ObjectMotion") != 0)
            at++;
        k->scene.tokenCursor = at + 1;
        node = std::make_unique<Object>(&k->scene, 0);
        k->scene.readChannel(node.get());
    }
    float at(int c, double t) { return node->channels[c].valueAt(t); }
};

TEST(LwsCursor, PackageMotions)
{
    if (readFile(std::string(kPackageDir) + "move_x.lws").empty())
        GTEST_SKIP() << "the package models are not installed";
    struct Case {
        const char* file;
        double t;
        float x;
    } cases[] = {
        {"move_x.lws", 0.0, 0.0f},
        {"move_x.lws", 2.0 / 3, 2.0691125f},
        {"move_x.lws", 3.0, -2.3748658f},
        {"move_xz_stepped.lws", 1.0, 1.9249185f},
        {"move_xz_linear.lws", 1.0 / 3, 0.9624592f},
        {"move_x_post_reset.lws", 5.0, 0.0f},
        {"move_x_post_constant.lws", 5.0, -1.6381832f},
        {"move_xz_bezier.lws", 2.0 / 3, 1.9249185f},
        {"move_y_pre_ofrep_post_osc.lws", 1.7, 0.0f},
    };
    for (const Case& c : cases)
        EXPECT_NEAR(PackageMotion(c.file).at(0, c.t), c.x, 1e-4) << c.file << " at " << c.t;
    // Repeats: the value a period (1.3 s) earlier, offset by the last key.
    PackageMotion repeat("move_x_post_repeat.lws");
    EXPECT_NEAR(repeat.at(0, 2.0), repeat.at(0, 0.7), 1e-4);
    PackageMotion offset("move_x_post_offset_repeat.lws");
    EXPECT_NEAR(offset.at(0, 2.0), offset.at(0, 0.7) - 1.6381832, 1e-4);
    EXPECT_NEAR(PackageMotion("move_y_pre_ofrep_post_osc.lws").at(1, 1.7), 0.9890987f, 1e-4);
}

} // namespace
