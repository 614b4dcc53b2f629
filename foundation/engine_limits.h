// The engine's bounds on what content may cost, in one place. Each bound is
// far above what a real demo uses (the comment says what real content needs)
// so that only hostile or broken files meet it; meeting one is logged and
// the item is refused or clamped, never a crash, a hang or gigabytes spent.
#pragma once

#include "foundation/types.h"

namespace limits {

// --- Render targets made from scene files and the script ---
// A shadow map's edge in texels. Real scenes draw theirs at 512 to 2048;
// 4096 (64 MB of colour and as much of depth) is beyond any of them.
constexpr i32 kMaxShadowMapSize = 4096;
// The render-target memory one metascene's content and script may make:
// shadow maps, cube reflection targets and the scene targets of setrt, blur
// and xfade, counted at 4 bytes a texel of colour and 4 of depth. A real
// metascene holds a few shadow maps, a few mirrors and a handful of
// screen-sized targets, well under 256 MB.
constexpr u64 kTargetBytesPerMetaScene = u64(1) << 30;
// The bake targets (1024 x 1024, 4 MB on each device) of one metascene: a
// real one bakes a few lightmapped surfaces.
constexpr u64 kMaxBakeTargets = 64;

} // namespace limits
