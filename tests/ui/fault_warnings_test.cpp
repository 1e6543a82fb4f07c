#include "ui/fault_warnings.h"

#include <gtest/gtest.h>

#include "resources/resource.h"

namespace {

TEST(FaultWarnings, StatusOneIsOverheatTwoIsFanFailureNothingElse) {
    const std::optional<FaultWarning> overheat = WarningForFaultStatus(1);
    ASSERT_TRUE(overheat);
    EXPECT_EQ(overheat->kind, WarningKind::Overheat);
    EXPECT_EQ(overheat->dialogId, IDD_OVERHEAT);
    const std::optional<FaultWarning> fan = WarningForFaultStatus(2);
    ASSERT_TRUE(fan);
    EXPECT_EQ(fan->kind, WarningKind::FanFailure);
    EXPECT_EQ(fan->dialogId, IDD_FANFAIL);
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

}  // namespace
