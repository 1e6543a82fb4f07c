#include "kvcap/frame_pacer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

using std::chrono::milliseconds;
using Clock = FramePacer::Clock;

const Clock::time_point kStart = Clock::time_point() + std::chrono::hours(1);

TEST(FramePacerTest, SchedulesFramesOnePeriodApart) {
    FramePacer pacer(40);  // 25 ms
    pacer.FrameStarted(kStart);
    EXPECT_EQ(pacer.Due(), kStart + milliseconds(25));
    // A frame woken a little late keeps the schedule, so the average rate holds.
    pacer.FrameStarted(kStart + milliseconds(29));
    EXPECT_EQ(pacer.Due(), kStart + milliseconds(50));
    pacer.FrameStarted(kStart + milliseconds(50));
    EXPECT_EQ(pacer.Due(), kStart + milliseconds(75));
}

TEST(FramePacerTest, MovesTheScheduleAfterALongStallInsteadOfBursting) {
    FramePacer pacer(40);
    pacer.FrameStarted(kStart);
    pacer.FrameStarted(kStart + milliseconds(225));  // a callback blocked for 200 ms
    EXPECT_EQ(pacer.Due(), kStart + milliseconds(250));
}

// However late the frames start, no window holds more than T x fps + 2 of them.
TEST(FramePacerTest, NoWindowHoldsMoreFramesThanTheRateAllows) {
    constexpr int kFps = 30;
    std::mt19937 random(7);
    std::uniform_int_distribution<int> lateness(0, 80);  // ms after the frame was due
    FramePacer pacer(kFps);
    std::vector<Clock::time_point> starts;
    Clock::time_point now = kStart;
    for (int i = 0; i < 2000; ++i) {
        now = std::max(now, pacer.Due()) + milliseconds(random() % 4 == 0 ? lateness(random) : 0);
        pacer.FrameStarted(now);
        starts.push_back(now);
    }
    for (auto window : {milliseconds(100), milliseconds(1000)}) {
        size_t limit = static_cast<size_t>(window.count() * kFps / 1000) + 2;
        for (size_t first = 0; first < starts.size(); ++first) {
            auto end =
                std::upper_bound(starts.begin() + first, starts.end(), starts[first] + window);
            ASSERT_LE(static_cast<size_t>(end - (starts.begin() + first)), limit);
        }
    }
}

}  // namespace
