#include "foundation/frequency_model.h"

#include <gtest/gtest.h>

#include <random>

namespace {

u32 bruteCumLow(const FrequencyModel& m, u32 s)
{
    u32 c = 0;
    for (u32 i = 0; i < s; ++i)
        c += m.freq[i];
    return c;
}

void expectConsistent(const FrequencyModel& m)
{
    u32 sum = 0;
    for (u32 s = 0; s < m.n; ++s) {
        ASSERT_EQ(m.cumLow(s), bruteCumLow(m, s)) << "symbol " << s;
        ASSERT_GT(m.freq[s], 0u);
        // the first and last value of each symbol's range find it
        ASSERT_EQ(m.find(sum), s);
        ASSERT_EQ(m.find(sum + m.freq[s] - 1), s);
        sum += m.freq[s];
    }
    ASSERT_EQ(sum, m.total);
}

} // namespace

TEST(FrequencyModel, StartsFlat)
{
    FrequencyModel m;
    EXPECT_EQ(m.total, 257u);
    EXPECT_EQ(m.topMask, 256u);
    expectConsistent(m);
}

TEST(FrequencyModel, HalvesWhenTotalReaches16384)
{
    FrequencyModel m;
    for (int i = 0; i < 16126; ++i)
        m.update(65);
    EXPECT_EQ(m.total, 16383u);
    EXPECT_EQ(m.freq[65], 16127u);
    m.update(65); // the 16127th update reaches 16384 and halves
    EXPECT_EQ(m.freq[65], (16128u + 1) >> 1);
    EXPECT_EQ(m.freq[0], 1u); // frequency 1 rounds up and stays 1
    EXPECT_EQ(m.total, 8064u + 256u);
    expectConsistent(m);
}

TEST(FrequencyModel, StaysConsistentUnderRandomUpdates)
{
    FrequencyModel m;
    std::mt19937 rng(7);
    for (int i = 0; i < 50000; ++i) {
        m.update(rng() % 257);
        if (i % 9973 == 0)
            expectConsistent(m);
    }
    expectConsistent(m);
}
