#include "kvcap/duplication_policy.h"

#include <gtest/gtest.h>

namespace {

TEST(ChooseOutput, ThePrimaryMonitorsOutputOnWhicheverAdapter) {
    // A laptop with two GPUs: the integrated one drives the built-in panel (the primary),
    // the discrete one an external monitor and nothing else.
    const std::vector<DuplicationOutput> outputs = {{0, 0, 0x2001}, {1, 0, 0x1001}, {1, 1, 0x3001}};
    std::optional<DuplicationOutput> chosen = ChooseOutput(outputs, 0x1001);
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->adapter, 1u);
    EXPECT_EQ(chosen->output, 0u);
    EXPECT_FALSE(ChooseOutput(outputs, 0x4001));
    EXPECT_FALSE(ChooseOutput({}, 0x1001));
}

// Where the upright desktop's corners land in the duplicated image.
struct Point {
    float s, t;
    bool operator==(const Point&) const = default;
};
Point Map(OutputRotation rotation, float u, float v) {
    ImageMapping m = UprightMapping(rotation);
    return {m.su * u + m.sv * v + m.s0, m.tu * u + m.tv * v + m.t0};
}

TEST(UprightMapping, EachRotationPutsTheDesktopsTopLeftWhereTheMonitorScansIt) {
    // Not rotated (and unspecified): as it is.
    EXPECT_EQ(Map(OutputRotation::Identity, 0, 0), (Point{0, 0}));
    EXPECT_EQ(Map(OutputRotation::Unspecified, 1, 0), (Point{1, 0}));
    // A monitor turned to portrait (90): the desktop's top row runs up the image's left
    // column, so its top left is the image's bottom left.
    EXPECT_EQ(Map(OutputRotation::Rotate90, 0, 0), (Point{0, 1}));
    EXPECT_EQ(Map(OutputRotation::Rotate90, 1, 0), (Point{0, 0}));
    EXPECT_EQ(Map(OutputRotation::Rotate90, 0, 1), (Point{1, 1}));
    // Upside down.
    EXPECT_EQ(Map(OutputRotation::Rotate180, 0, 0), (Point{1, 1}));
    EXPECT_EQ(Map(OutputRotation::Rotate180, 1, 0), (Point{0, 1}));
    // Portrait the other way (270): the top row runs down the image's right column.
    EXPECT_EQ(Map(OutputRotation::Rotate270, 0, 0), (Point{1, 0}));
    EXPECT_EQ(Map(OutputRotation::Rotate270, 1, 0), (Point{1, 1}));
    EXPECT_EQ(Map(OutputRotation::Rotate270, 0, 1), (Point{0, 0}));
}

TEST(ClassifyDuplicationFailure, SecureDesktopWaitsLostAccessDuplicatesAgainTheRestRebuilds) {
    EXPECT_EQ(ClassifyDuplicationFailure(static_cast<int32_t>(0x80070005)),  // E_ACCESSDENIED
              DuplicationFailure::Waiting);
    EXPECT_EQ(ClassifyDuplicationFailure(static_cast<int32_t>(0x887A0028)),  // session gone
              DuplicationFailure::Waiting);
    EXPECT_EQ(ClassifyDuplicationFailure(static_cast<int32_t>(0x887A0022)),  // none free now
              DuplicationFailure::Waiting);
    // A desktop mode duplication cannot serve until the next switch or mode change: neither a
    // lost device nor a reason to give up duplication.
    EXPECT_EQ(ClassifyDuplicationFailure(static_cast<int32_t>(0x887A0004)),  // unsupported
              DuplicationFailure::Waiting);
    EXPECT_EQ(ClassifyDuplicationFailure(static_cast<int32_t>(0x887A0026)),  // access lost
              DuplicationFailure::AccessLost);
    EXPECT_EQ(ClassifyDuplicationFailure(static_cast<int32_t>(0x887A0005)),  // device removed
              DuplicationFailure::DeviceLost);
    EXPECT_EQ(ClassifyDuplicationFailure(static_cast<int32_t>(0x887A0007)),  // device reset
              DuplicationFailure::DeviceLost);
}

TEST(DuplicationRecovery, RetriesAtABoundedRateAndTracesEachFailureOncePerOutage) {
    using namespace std::chrono_literals;
    const int32_t denied = static_cast<int32_t>(0x80070005);
    const int32_t lost = static_cast<int32_t>(0x887A0026);
    const auto t0 = DuplicationRecovery::Clock::time_point{} + 1h;
    DuplicationRecovery recovery;
    EXPECT_TRUE(recovery.MayRetry(t0));

    EXPECT_TRUE(recovery.Failed(denied, t0));
    EXPECT_FALSE(recovery.MayRetry(t0 + 10ms));
    EXPECT_FALSE(recovery.MayRetry(t0 + 249ms));
    EXPECT_TRUE(recovery.MayRetry(t0 + 250ms));
    // A lock screen of many retries traces once; another failure in it traces once too.
    EXPECT_FALSE(recovery.Failed(denied, t0 + 250ms));
    EXPECT_TRUE(recovery.Failed(lost, t0 + 500ms));
    EXPECT_FALSE(recovery.Failed(denied, t0 + 750ms));
    EXPECT_FALSE(recovery.MayRetry(t0 + 800ms));  // counted from the latest failure

    // Working again: the next outage is traced afresh, and the first retry is at once.
    recovery.Succeeded();
    EXPECT_TRUE(recovery.MayRetry(t0 + 800ms));
    EXPECT_TRUE(recovery.Failed(denied, t0 + 2s));
}

}  // namespace
