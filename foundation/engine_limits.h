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

} // namespace limits
