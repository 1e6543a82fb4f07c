#include "app/fault_warnings.h"

#include <gtest/gtest.h>

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

}  // namespace
