// The documented default values of Direct3D 9's render, texture-stage and
// sampler states, and which state numbers exist.
#pragma once

#include "platform/d3d9/d3d9_interfaces.h"

namespace platform::d3d9 {

constexpr DWORD kRenderStateSlots = 256;
constexpr DWORD kTextureStages = 8;
constexpr DWORD kStageStateSlots = 33;
constexpr DWORD kSamplers = 16;
constexpr DWORD kSamplerStateSlots = 14;
constexpr DWORD kClipPlanes = 6;
constexpr DWORD kRenderTargets = 4;
constexpr DWORD kStreams = 16;
constexpr DWORD kActiveLights = 8;

inline DWORD floatBits(float f)
{
    DWORD d;
    static_assert(sizeof d == sizeof f);
    __builtin_memcpy(&d, &f, sizeof d);
    return d;
}

inline float bitsFloat(DWORD d)
{
    float f;
    __builtin_memcpy(&f, &d, sizeof f);
    return f;
}

bool isRenderState(DWORD state);
bool isStageState(DWORD state);
bool isSamplerState(DWORD state);

// autoDepth: the device has an automatic depth-stencil surface (ZENABLE
// then starts TRUE).
void defaultRenderStates(DWORD (&states)[kRenderStateSlots], bool autoDepth);
void defaultStageStates(DWORD (&states)[kTextureStages][kStageStateSlots]);
void defaultSamplerStates(DWORD (&states)[kSamplerStateSlots]);

} // namespace platform::d3d9
