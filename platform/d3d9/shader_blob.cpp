#include "platform/d3d9/shader_blob.h"

#include <cstring>

namespace platform::d3d9 {

namespace {

uint32_t fnv1a(const uint8_t* p, size_t n, uint32_t h = 2166136261u)
{
    for (size_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 16777619u;
    }
    return h;
}

class Writer {
public:
    void word(uint32_t v)
    {
        uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
        bytes_.insert(bytes_.end(), b, b + 4);
    }
    void data(const void* p, size_t n)
    {
        word(uint32_t(n));
        const uint8_t* b = static_cast<const uint8_t*>(p);
        bytes_.insert(bytes_.end(), b, b + n);
        bytes_.push_back(0);
        while (bytes_.size() % 4 != 0)
            bytes_.push_back(0);
    }
    void string(const std::string& s) { data(s.data(), s.size()); }
    std::vector<uint8_t>& bytes() { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

class Reader {
public:
    Reader(const uint8_t* p, size_t n) : p_(p), n_(n) {}

    bool word(uint32_t& v)
    {
        if (n_ - pos_ < 4)
            return false;
        v = uint32_t(p_[pos_]) | uint32_t(p_[pos_ + 1]) << 8 | uint32_t(p_[pos_ + 2]) << 16 |
            uint32_t(p_[pos_ + 3]) << 24;
        pos_ += 4;
        return true;
    }
    // Length word, bytes, NUL, zero padding to a word boundary.
    bool span(size_t& start, size_t& len)
    {
        uint32_t n;
        if (!word(n) || n >= n_ - pos_)
            return false;
        size_t padded = (size_t(n) + 4) & ~size_t(3);
        if (padded > n_ - pos_ || p_[pos_ + n] != 0)
            return false;
        start = pos_;
        len = n;
        pos_ += padded;
        return true;
    }
    bool bytes(std::vector<uint8_t>& out)
    {
        size_t start, len;
        if (!span(start, len))
            return false;
        out.assign(p_ + start, p_ + start + len);
        return true;
    }
    bool string(std::string& out, size_t* offset = nullptr)
    {
        size_t start, len;
        if (!span(start, len))
            return false;
        out.assign(reinterpret_cast<const char*>(p_ + start), len);
        if (offset)
            *offset = start;
        return true;
    }
    // A count of records of at least minBytes each that can still fit.
    bool count(uint32_t& v, size_t minBytes)
    {
        return word(v) && size_t(v) <= (n_ - pos_) / minBytes;
    }
    bool atEnd() const { return pos_ == n_; }

private:
    const uint8_t* p_;
    size_t n_;
    size_t pos_ = 0;
};

uint32_t readWord(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool fail(std::string* error, const char* why)
{
    if (error)
        *error = why;
    return false;
}

uint32_t registerLimit(RegisterSet set, ShaderStage stage)
{
    switch (set) {
    case RegisterSet::Float4:
        return stage == ShaderStage::Vertex ? kVertexFloatRegisters : kPixelFloatRegisters;
    case RegisterSet::Int4:
        return kIntRegisters;
    case RegisterSet::Bool:
        return kBoolRegisters;
    case RegisterSet::Sampler:
        return kSamplerRegisters;
    }
    return 0;
}

bool validSet(uint32_t v)
{
    return v <= uint32_t(RegisterSet::Sampler);
}

bool registersFit(RegisterSet set, ShaderStage stage, uint32_t first, uint32_t count)
{
    uint32_t limit = registerLimit(set, stage);
    return count <= limit && first <= limit - count;
}

} // namespace

std::vector<DWORD> serializeShaderBlob(const ShaderBlob& blob)
{
    Writer body;
    body.word(blob.uniformBlockSize);
    body.string(blob.glsl);
    body.string(blob.uniformBlockName);
    body.word(uint32_t(blob.constants.size()));
    for (const ShaderConstant& c : blob.constants) {
        body.string(c.name);
        body.word(uint32_t(c.registerSet));
        body.word(c.registerIndex);
        body.word(c.registerCount);
        body.word(c.parameterClass);
        body.word(c.parameterType);
        body.word(c.rows);
        body.word(c.columns);
        body.word(c.elements);
        body.word(c.blockOffset);
        body.data(c.defaultValue.data(), c.defaultValue.size());
    }
    body.word(uint32_t(blob.uploads.size()));
    for (const ShaderUploadRange& r : blob.uploads) {
        body.word(uint32_t(r.registerSet));
        body.word(r.firstRegister);
        body.word(r.registerCount);
        body.word(r.blockOffset);
        body.word(r.blockStride);
    }
    body.word(uint32_t(blob.samplers.size()));
    for (const ShaderSampler& s : blob.samplers) {
        body.string(s.name);
        body.string(s.glslName);
        body.word(s.registerIndex);
        body.word(uint32_t(s.type));
    }
    body.word(uint32_t(blob.inputs.size()));
    for (const ShaderInput& in : blob.inputs) {
        body.word(in.usage);
        body.word(in.usageIndex);
        body.word(in.location);
    }

    const std::vector<uint8_t>& b = body.bytes();
    Writer all;
    all.word(kShaderBlobMagic);
    all.word(kShaderBlobVersion);
    all.word(uint32_t(blob.stage));
    all.word(blob.versionToken);
    all.word(uint32_t(kShaderBlobHeaderBytes + b.size()));
    all.word(fnv1a(b.data(), b.size(), fnv1a(all.bytes().data(), 20)));
    std::vector<uint8_t>& out = all.bytes();
    out.insert(out.end(), b.begin(), b.end());

    std::vector<DWORD> words(out.size() / 4);
    for (size_t i = 0; i < words.size(); ++i)
        words[i] = readWord(&out[i * 4]);
    return words;
}

size_t shaderBlobSize(const void* code)
{
    if (!code)
        return 0;
    const uint8_t* p = static_cast<const uint8_t*>(code);
    if (readWord(p) != kShaderBlobMagic || readWord(p + 4) != kShaderBlobVersion)
        return 0;
    uint32_t size = readWord(p + 16);
    if (size < kShaderBlobHeaderBytes || size > kShaderBlobMaxBytes || size % 4 != 0)
        return 0;
    return size;
}

uint32_t shaderBlobVersion(const void* code)
{
    if (shaderBlobSize(code) == 0)
        return 0;
    return readWord(static_cast<const uint8_t*>(code) + 12);
}

bool parseShaderBlob(const void* data, size_t size, ShaderBlob& out, std::string* error)
{
    if (!data || size < kShaderBlobHeaderBytes)
        return fail(error, "shader blob truncated");
    const uint8_t* p = static_cast<const uint8_t*>(data);
    if (readWord(p) != kShaderBlobMagic)
        return fail(error, "not a shader blob");
    if (readWord(p + 4) != kShaderBlobVersion)
        return fail(error, "shader blob version not supported");
    uint32_t stage = readWord(p + 8);
    if (stage > uint32_t(ShaderStage::Pixel))
        return fail(error, "shader blob stage invalid");
    uint32_t total = readWord(p + 16);
    if (total < kShaderBlobHeaderBytes || total % 4 != 0 || total > size)
        return fail(error, "shader blob truncated");
    const uint8_t* body = p + kShaderBlobHeaderBytes;
    size_t bodySize = total - kShaderBlobHeaderBytes;
    if (fnv1a(body, bodySize, fnv1a(p, 20)) != readWord(p + 20))
        return fail(error, "shader blob checksum mismatch");

    ShaderBlob blob;
    blob.stage = ShaderStage(stage);
    blob.versionToken = readWord(p + 12);
    Reader r(body, bodySize);
    uint32_t count;
    if (!r.word(blob.uniformBlockSize) || !r.string(blob.glsl) || !r.string(blob.uniformBlockName))
        return fail(error, "shader blob truncated");
    if (blob.uniformBlockSize > 65536)
        return fail(error, "shader blob uniform block too large");

    if (!r.count(count, 48))
        return fail(error, "shader blob truncated");
    blob.constants.resize(count);
    for (ShaderConstant& c : blob.constants) {
        uint32_t set;
        if (!r.string(c.name) || !r.word(set) || !r.word(c.registerIndex) || !r.word(c.registerCount) ||
            !r.word(c.parameterClass) || !r.word(c.parameterType) || !r.word(c.rows) || !r.word(c.columns) ||
            !r.word(c.elements) || !r.word(c.blockOffset) || !r.bytes(c.defaultValue))
            return fail(error, "shader blob truncated");
        if (!validSet(set))
            return fail(error, "shader blob register set invalid");
        c.registerSet = RegisterSet(set);
        if (!registersFit(c.registerSet, blob.stage, c.registerIndex, c.registerCount))
            return fail(error, "shader blob constant registers out of range");
        size_t perRegister = c.registerSet == RegisterSet::Bool ? 4 : 16;
        if (!c.defaultValue.empty() &&
            (c.registerSet == RegisterSet::Sampler || c.defaultValue.size() != perRegister * c.registerCount))
            return fail(error, "shader blob default value size invalid");
    }

    if (!r.count(count, 20))
        return fail(error, "shader blob truncated");
    blob.uploads.resize(count);
    for (ShaderUploadRange& u : blob.uploads) {
        uint32_t set;
        if (!r.word(set) || !r.word(u.firstRegister) || !r.word(u.registerCount) || !r.word(u.blockOffset) ||
            !r.word(u.blockStride))
            return fail(error, "shader blob truncated");
        if (!validSet(set) || RegisterSet(set) == RegisterSet::Sampler)
            return fail(error, "shader blob upload register set invalid");
        u.registerSet = RegisterSet(set);
        if (u.registerCount == 0 || !registersFit(u.registerSet, blob.stage, u.firstRegister, u.registerCount))
            return fail(error, "shader blob upload registers out of range");
        uint64_t slot = u.registerSet == RegisterSet::Bool ? 4 : 16;
        if (u.blockOffset % 4 != 0 || u.blockStride % 4 != 0 || (u.registerSet != RegisterSet::Bool && u.blockStride < 16) ||
            u.blockStride == 0)
            return fail(error, "shader blob upload layout invalid");
        uint64_t end = uint64_t(u.blockOffset) + uint64_t(u.registerCount - 1) * u.blockStride + slot;
        if (end > blob.uniformBlockSize)
            return fail(error, "shader blob upload outside the uniform block");
    }

    if (!r.count(count, 24))
        return fail(error, "shader blob truncated");
    blob.samplers.resize(count);
    for (ShaderSampler& s : blob.samplers) {
        uint32_t type;
        size_t nameAt = 0;
        if (!r.string(s.name, &nameAt) || !r.string(s.glslName) || !r.word(s.registerIndex) || !r.word(type))
            return fail(error, "shader blob truncated");
        if (s.registerIndex >= kSamplerRegisters)
            return fail(error, "shader blob sampler register out of range");
        if (type < uint32_t(SamplerType::Sampler) || type > uint32_t(SamplerType::SamplerCube))
            return fail(error, "shader blob sampler type invalid");
        s.type = SamplerType(type);
        s.nameOffset = uint32_t(kShaderBlobHeaderBytes + nameAt);
    }

    if (!r.count(count, 12))
        return fail(error, "shader blob truncated");
    blob.inputs.resize(count);
    for (ShaderInput& in : blob.inputs) {
        if (!r.word(in.usage) || !r.word(in.usageIndex) || !r.word(in.location))
            return fail(error, "shader blob truncated");
    }
    if (!r.atEnd())
        return fail(error, "shader blob has trailing bytes");
    out = std::move(blob);
    return true;
}

} // namespace platform::d3d9
