// The compiled-code blob: round trip, and refusal of damaged blobs.
#include "platform/d3d9/shader_blob.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using namespace platform::d3d9;

namespace {

ShaderBlob sample()
{
    ShaderBlob b;
    b.stage = ShaderStage::Pixel;
    b.versionToken = 0xFFFF0200;
    b.glsl = "#version 450\nvoid main() {}\n";
    b.uniformBlockName = "dx_GlobalsPS";
    b.uniformBlockSize = 96;
    ShaderConstant m;
    m.name = "matrix";
    m.registerSet = RegisterSet::Float4;
    m.registerIndex = 2;
    m.registerCount = 4;
    m.parameterClass = 3;
    m.parameterType = 3;
    m.rows = m.columns = 4;
    m.blockOffset = 0;
    m.defaultValue.assign(64, 0x3F);
    b.constants.push_back(m);
    ShaderConstant f;
    f.name = "flag";
    f.registerSet = RegisterSet::Bool;
    f.registerIndex = 1;
    f.registerCount = 2;
    f.elements = 2;
    f.blockOffset = 64;
    f.defaultValue = {1, 0, 0, 0, 0, 0, 0, 0};
    b.constants.push_back(f);
    ShaderConstant s;
    s.name = "COLR0";
    s.registerSet = RegisterSet::Sampler;
    s.registerIndex = 5;
    s.registerCount = 1;
    b.constants.push_back(s);
    b.uploads.push_back({RegisterSet::Float4, 2, 4, 0, 16});
    b.uploads.push_back({RegisterSet::Bool, 1, 2, 64, 16});
    b.samplers.push_back({"COLR0", "dx_ps_s5", 5, SamplerType::Sampler2D, 0});
    b.samplers.push_back({"CUBE", "dx_ps_s7", 7, SamplerType::SamplerCube, 0});
    b.inputs.push_back({5, 0, 0});
    return b;
}

bool parses(const std::vector<DWORD>& words, size_t bytes)
{
    ShaderBlob out;
    return parseShaderBlob(words.data(), bytes, out);
}

// Rewrites the checksum so that only the structure is judged.
void reseal(std::vector<DWORD>& words)
{
    const uint8_t* p = reinterpret_cast<const uint8_t*>(words.data());
    uint32_t h = 2166136261u;
    auto mix = [&](size_t from, size_t to) {
        for (size_t i = from; i < to; ++i) {
            h ^= p[i];
            h *= 16777619u;
        }
    };
    mix(0, 20);
    mix(24, words.size() * 4);
    words[5] = h;
}

} // namespace

TEST(ShaderBlob, RoundTripKeepsEveryField)
{
    ShaderBlob in = sample();
    std::vector<DWORD> words = serializeShaderBlob(in);
    EXPECT_EQ(shaderBlobSize(words.data()), words.size() * 4);
    EXPECT_EQ(shaderBlobVersion(words.data()), 0xFFFF0200u);
    ShaderBlob out;
    std::string why;
    ASSERT_TRUE(parseShaderBlob(words.data(), words.size() * 4, out, &why)) << why;
    EXPECT_EQ(out.stage, in.stage);
    EXPECT_EQ(out.glsl, in.glsl);
    EXPECT_EQ(out.uniformBlockName, in.uniformBlockName);
    EXPECT_EQ(out.uniformBlockSize, in.uniformBlockSize);
    ASSERT_EQ(out.constants.size(), 3u);
    EXPECT_EQ(out.constants[0].name, "matrix");
    EXPECT_EQ(out.constants[0].registerIndex, 2u);
    EXPECT_EQ(out.constants[0].rows, 4u);
    EXPECT_EQ(out.constants[0].defaultValue, in.constants[0].defaultValue);
    EXPECT_EQ(out.constants[1].registerSet, RegisterSet::Bool);
    EXPECT_EQ(out.constants[1].elements, 2u);
    EXPECT_EQ(out.constants[2].registerSet, RegisterSet::Sampler);
    ASSERT_EQ(out.uploads.size(), 2u);
    EXPECT_EQ(out.uploads[1].blockOffset, 64u);
    ASSERT_EQ(out.samplers.size(), 2u);
    EXPECT_EQ(out.samplers[1].glslName, "dx_ps_s7");
    EXPECT_EQ(out.samplers[1].type, SamplerType::SamplerCube);
    // Names are C strings inside the blob.
    const char* base = reinterpret_cast<const char*>(words.data());
    EXPECT_STREQ(base + out.samplers[0].nameOffset, "COLR0");
    EXPECT_STREQ(base + out.samplers[1].nameOffset, "CUBE");
    ASSERT_EQ(out.inputs.size(), 1u);
    EXPECT_EQ(out.inputs[0].usage, 5u);

    ShaderBlob empty;
    std::vector<DWORD> e = serializeShaderBlob(empty);
    EXPECT_TRUE(parseShaderBlob(e.data(), e.size() * 4, out));
    EXPECT_TRUE(out.constants.empty());
}

TEST(ShaderBlob, TruncatedOrAlteredBlobsAreRefused)
{
    std::vector<DWORD> words = serializeShaderBlob(sample());
    size_t bytes = words.size() * 4;
    for (size_t n = 0; n < bytes; ++n) {
        // Each prefix in a buffer of exactly that size (so a read past it is
        // caught by the sanitizer).
        std::vector<uint8_t> prefix(reinterpret_cast<uint8_t*>(words.data()),
                                    reinterpret_cast<uint8_t*>(words.data()) + n);
        ShaderBlob out;
        EXPECT_FALSE(parseShaderBlob(prefix.data(), prefix.size(), out)) << n;
    }
    for (size_t i = 0; i < bytes; ++i) {
        std::vector<DWORD> damaged = words;
        reinterpret_cast<uint8_t*>(damaged.data())[i] ^= 0x20;
        EXPECT_FALSE(parses(damaged, bytes)) << "byte " << i;
    }
    ShaderBlob out;
    EXPECT_FALSE(parseShaderBlob(nullptr, 100, out)) << "null data";
    EXPECT_EQ(shaderBlobSize(nullptr), 0u);
    const DWORD notBlob[6] = {0x43425844, 1, 0, 0, 24, 0};
    EXPECT_EQ(shaderBlobSize(notBlob), 0u);
    EXPECT_EQ(shaderBlobVersion(notBlob), 0u);
}

TEST(ShaderBlob, InconsistentContentIsRefusedEvenWithAValidChecksum)
{
    struct Case {
        const char* what;
        void (*damage)(ShaderBlob&);
    } cases[] = {
        {"upload past the block", [](ShaderBlob& b) { b.uploads[0].registerCount = 7; }},
        {"bool upload past the block", [](ShaderBlob& b) { b.uploads[1].blockOffset = 92; }},
        {"upload of samplers", [](ShaderBlob& b) { b.uploads[0].registerSet = RegisterSet::Sampler; }},
        {"empty upload", [](ShaderBlob& b) { b.uploads[0].registerCount = 0; }},
        {"narrow stride", [](ShaderBlob& b) { b.uploads[0].blockStride = 4; }},
        {"pixel float register 224", [](ShaderBlob& b) { b.constants[0].registerIndex = 221; }},
        {"int register 16", [](ShaderBlob& b) {
             b.constants[0].registerSet = RegisterSet::Int4;
             b.constants[0].registerIndex = 13;
         }},
        {"sampler register 16", [](ShaderBlob& b) { b.samplers[0].registerIndex = 16; }},
        {"sampler type", [](ShaderBlob& b) { b.samplers[0].type = SamplerType(3); }},
        {"default size", [](ShaderBlob& b) { b.constants[1].defaultValue.push_back(0); }},
        {"register set", [](ShaderBlob& b) { b.constants[0].registerSet = RegisterSet(9); }},
        {"huge block", [](ShaderBlob& b) { b.uniformBlockSize = 1u << 20; }},
    };
    for (const Case& c : cases) {
        ShaderBlob b = sample();
        c.damage(b);
        std::vector<DWORD> words = serializeShaderBlob(b);
        EXPECT_FALSE(parses(words, words.size() * 4)) << c.what;
    }

    // Structure damage behind a fresh checksum: lengths and counts.
    std::vector<DWORD> words = serializeShaderBlob(sample());
    std::mt19937 random(7);
    for (int round = 0; round < 2000; ++round) {
        std::vector<DWORD> damaged = words;
        size_t at = 6 + random() % (damaged.size() - 6);
        damaged[at] = round % 3 == 0 ? 0xFFFFFFFFu : round % 3 == 1 ? damaged[at] + 1 : random();
        reseal(damaged);
        ShaderBlob out;
        parseShaderBlob(damaged.data(), damaged.size() * 4, out);  // must not crash or overrun
    }
    // A string whose terminator is overwritten.
    std::vector<DWORD> noNul = words;
    uint8_t* bytes = reinterpret_cast<uint8_t*>(noNul.data());
    size_t glslAt = 24 + 4 + 4;  // header, block size, length word
    size_t len = sample().glsl.size();
    bytes[glslAt + len] = 'x';
    reseal(noNul);
    EXPECT_FALSE(parses(noNul, noNul.size() * 4));
    // Trailing bytes.
    std::vector<DWORD> longer = words;
    longer.push_back(0);
    longer[4] += 4;
    reseal(longer);
    EXPECT_FALSE(parses(longer, longer.size() * 4));
}
