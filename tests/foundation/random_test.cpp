// The shared generator: the C runtime's sequence, seedable, 15 bits.
#include "foundation/random.h"

#include <gtest/gtest.h>

namespace {

TEST(Random, RuntimeSequenceFromSeedOneAndReseeding)
{
    Random r;
    const u32 fromOne[5] = {41, 18467, 6334, 26500, 19169};
    for (u32 v : fromOne)
        EXPECT_EQ(r.next(), v);
    r.seed(1);
    EXPECT_EQ(r.next(), 41u);
    u32 highest = 0;
    for (int i = 0; i < 100000; ++i)
        highest = std::max(highest, r.next());
    EXPECT_EQ(highest, Random::kMax);
}

} // namespace
