#include "device/channel_deadlines.h"

#include <gtest/gtest.h>

namespace {

// A wait past its deadline must not wrap around into one of 49 days, nor a long one become
// the system's "infinite".
TEST(ChannelDeadlinesTest, WhatIsLeftOfAWaitNeverWrapsAroundNorBecomesInfinite) {
    EXPECT_EQ(MillisecondsLeft(1000, 999), 1u);
    EXPECT_EQ(MillisecondsLeft(1000, 1000), 0u);
    EXPECT_EQ(MillisecondsLeft(1000, 5000), 0u);
    EXPECT_LT(MillisecondsLeft(uint64_t{1} << 40, 0), 0xFFFFFFFFu);
}

}  // namespace
