#include "platform/debug_print.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/trace_recorder.h"

namespace {
class DebugPrintTest : public ::testing::Test {
  protected:
    TraceRecorder m_traces;
};
}  // namespace

TEST_F(DebugPrintTest, FormatsLikePrintf) {
    DebugPrint("SCSI Error: %d  ", 31);
    EXPECT_EQ(m_traces.Text(), "SCSI Error: 31  ");
}

TEST_F(DebugPrintTest, CutsLongOutputTo1023Characters) {
    std::string longText(3000, 'x');
    DebugPrint("%s", longText.c_str());
    EXPECT_EQ(m_traces.Text(), std::string(1023, 'x'));
}
