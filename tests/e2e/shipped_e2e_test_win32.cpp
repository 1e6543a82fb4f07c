// The program users run, given the environment that steers the simulator in every other run:
// the virtual projector with a report and a frame file, the synthetic capture source, a trace
// file. It must take none of them: it looks for the real projector, finds none under Wine, and
// ends the way a machine without one ends it, leaving no file behind.
#include <gtest/gtest.h>
#include <windows.h>

#include "program_run_win32.h"

namespace {

TEST(ShippedProgram, TheTestVariablesDoNotSteerIt) {
    ProgramRun run("shipped");
    EXPECT_EQ(run.RunToEnd({}), 1u);  // the device search found no projector
    for (const char* file : {"trace.txt", "report.txt", "frame.ppm"}) {
        EXPECT_FALSE(run.WorkFileExists(file)) << file;
    }
    // Nothing was started, so nothing was saved.
    EXPECT_FALSE(ReadSetting(L"DispMode"));
}

}  // namespace
