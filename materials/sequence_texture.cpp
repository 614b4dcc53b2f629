#include "materials/generated_textures.h"

#include <cmath>

SequenceTexture::SequenceTexture(Engine* engine)
    : Texture(engine, kScratchConvert | kMipChain)
{
}

SequenceTexture::SequenceTexture(const SequenceTexture& other)
    : Texture(other)
    , firstFrame(other.firstFrame)
    , lastFrame(other.lastFrame)
    , frameOffset(other.frameOffset)
{
}

SequenceTexture::~SequenceTexture() = default;

Texture* SequenceTexture::clone() const
{
    return new SequenceTexture(*this);
}

void SequenceTexture::load()
{
    for (auto& frame : frames)
        if (frame) {
            if (!frame->budget)
                frame->budget = budget;
            frame->load();
        }
}

i32 SequenceTexture::frameIndex(double time) const
{
    // The numbers come from the clip: a range whose last frame lies before
    // its first has no frames to show.
    const i64 count = i64(lastFrame) - i64(firstFrame) + 1;
    if (count <= 0 || frames.empty())
        return -1;
    // Reduced modulo the count while still a double, so that a frame rate
    // times a time beyond any integer does not overflow the conversion.
    double frame = std::trunc(double(frameRate) * time);
    if (!std::isfinite(frame))
        frame = 0.0;
    const i64 fromTime = i64(std::fmod(frame, double(count)));
    i64 index = (fromTime + i64(frameOffset) % count) % count;
    if (index < 0)
        index += count; // C++ keeps the sign of the dividend
    if (index >= i64(frames.size()))
        return -1;
    return i32(index);
}

IDirect3DTexture9* SequenceTexture::current(double time)
{
    const i32 index = frameIndex(time);
    if (index < 0 || !frames[size_t(index)])
        return nullptr;
    return frames[size_t(index)]->current(0.0);
}
