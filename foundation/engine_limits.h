// The engine's bounds on what content may cost, in one place. Each bound is
// far above what a real demo uses (the comment says what real content needs)
// so that only hostile or broken files meet it; meeting one is logged and
// the item is refused or clamped, never a crash, a hang or gigabytes spent.
#pragma once

#include "foundation/types.h"

namespace limits {

// --- Mesh build ---

// Pairs of differing face normals that smoothing compares over one mesh. A
// point where g different faces meet costs g(g-1)/2 pairs: a sphere of 300
// segments spends about 45,000 at each pole, a closed mesh of a million
// points about 15 million. A point that would overrun what is left keeps its
// faces' own normals; spending all of it takes about a second.
constexpr u64 meshSmoothingPairs = u64(1) << 28;

// --- Render targets made from scene files and the script ---

// A shadow map's edge in texels. Real scenes draw theirs at 512 to 2048;
// 4096 (64 MB of colour and as much of depth) is beyond any of them.
constexpr i32 shadowMapEdge = 4096;
// The render-target memory one metascene's content and script may make:
// shadow maps, cube reflection targets and the scene targets of setrt, blur
// and xfade, counted at 4 bytes a texel of colour and 4 of depth. A real
// metascene holds a few shadow maps, a few mirrors and a handful of
// screen-sized targets, well under 256 MB.
constexpr u64 metaSceneTargetBytes = u64(1) << 30;
// The bake targets (1024 x 1024, 4 MB on each device) of one metascene: a
// real one bakes a few lightmapped surfaces.
constexpr u64 metaSceneBakeTargets = 64;

} // namespace limits
