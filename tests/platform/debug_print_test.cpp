#include "platform/debug_print.h"

#include <gtest/gtest.h>

#include <string>

namespace {
std::string g_captured;
void Capture(const char* text) { g_captured += text; }

class DebugPrintTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_captured.clear();
        SetTraceSink(Capture);
    }
    void TearDown() override { SetTraceSink(nullptr); }
};
}  // namespace

TEST_F(DebugPrintTest, FormatsLikePrintf) {
    DebugPrint("SCSI Error: %d  ", 31);
    EXPECT_EQ(g_captured, "SCSI Error: 31  ");
}

TEST_F(DebugPrintTest, CutsLongOutputTo1023Characters) {
    std::string longText(3000, 'x');
    DebugPrint("%s", longText.c_str());
    EXPECT_EQ(g_captured, std::string(1023, 'x'));
}
