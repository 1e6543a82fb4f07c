// The demo's run (scripts/demo.sh): the desktop through the capture library's GDI path onto
// the virtual projector for ten seconds, then closed as a user would end it. Disabled among
// the tests; the demo asks for it by name.
#include <gtest/gtest.h>

#include "program_run_win32.h"

TEST(Demo, DISABLED_TenSecondsOfTheDesktop) {
    ProgramRun run("demo");
    // Mirror mode: the desktop keeps its size, so the projector shows it as it is.
    ASSERT_TRUE(run.Start({.capture = "gdi", .dispMode = 0, .zoomMode = 0}));
    Sleep(10000);
    run.Post(WM_CLOSE);
    EXPECT_EQ(run.WaitForExit(), 0u);
    const ProjectorReport report = run.Report();
    EXPECT_GT(report.frames, 0);
    EXPECT_EQ(report.protocolErrors, 0);
}
