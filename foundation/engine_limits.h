// The engine's bounds on what content may cost, in one place. Each bound is
// far above what a real demo uses (the comment says what real content needs)
// so that only hostile or broken files meet it; meeting one is logged and
// the item is refused or clamped, never a crash, a hang or gigabytes spent.
#pragma once

#include "foundation/types.h"

namespace limits {

} // namespace limits
