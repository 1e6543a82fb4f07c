#include "app/fault_warnings.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "device/device_status.h"

namespace {

TEST(FaultWarnings, StatusOneIsOverheatTwoIsFanFailureNothingElse) {
    EXPECT_EQ(WarningForFaultStatus(1), WarningKind::Overheat);
    EXPECT_EQ(WarningForFaultStatus(2), WarningKind::FanFailure);
    for (int status : {0, 3, 255, -1}) {
        EXPECT_FALSE(WarningForFaultStatus(status)) << status;
    }
}

TEST(FaultWarnings, OneBoxOfEachKindAtATime) {
    ASSERT_TRUE(BeginFaultWarning(WarningKind::Overheat));
    // The poll made while the box is open opens no second one of the kind...
    EXPECT_FALSE(BeginFaultWarning(WarningKind::Overheat));
    // ...but another fault still gets its own box.
    ASSERT_TRUE(BeginFaultWarning(WarningKind::FanFailure));
    EXPECT_FALSE(BeginFaultWarning(WarningKind::FanFailure));
    EndFaultWarning(WarningKind::Overheat);
    EXPECT_TRUE(BeginFaultWarning(WarningKind::Overheat));
    EndFaultWarning(WarningKind::Overheat);
    EndFaultWarning(WarningKind::FanFailure);
}

// The Linux programs' notices: one per fault while it lasts.
TEST(FaultNotices, OneNoticePerFaultWhileItLasts) {
    FaultNotices notices;
    std::vector<std::optional<WarningKind>> given;
    for (int status : {0, 1, 1, DEV_FAULT_READ_FAILED, 1, 0, 1, 2, 2, 1, 3, 2}) {
        given.push_back(notices.Poll(status));
    }
    using W = WarningKind;
    const std::vector<std::optional<WarningKind>> expected = {
        std::nullopt, W::Overheat,   std::nullopt, std::nullopt, std::nullopt, std::nullopt,
        W::Overheat,  W::FanFailure, std::nullopt, W::Overheat,  std::nullopt, W::FanFailure};
    EXPECT_EQ(given, expected);
    EXPECT_STREQ(FaultNoticeText(WarningKind::Overheat), "Projector Overheated.");
    EXPECT_STREQ(FaultNoticeText(WarningKind::FanFailure), "Fan failure.");
}

}  // namespace
