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

// --- Sound channels ---
// Each channel holds a copy of its file and, for Ogg, a streaming thread
// with a ring buffer of its own: about half a megabyte and one thread.

// The "// sound" comments of one scene file: a scene gives a looping sound
// to a few of its objects (a machine, a fire), never dozens.
constexpr u32 soundCommentsPerSceneFile = 64;
// The distinct sound files the key-binding script makes channels of: one
// per bound action, a handful in practice.
constexpr u32 keyBindingSounds = 64;

} // namespace limits
