// The record of the size to go back to, which outlives a run that never put the desktop back:
// written while the program holds the desktop at 800 x 600, cleared once it is back, and acted
// on by the next start. (Wine puts the mode back itself when the process that changed it
// ends, so the mode after a kill shows nothing here: a start finding a record is set up by
// hand.)
#include <gtest/gtest.h>
#include <windows.h>

#include "program_run_win32.h"

namespace {

// The desktop as a run that died at 800 x 600 leaves it, for as long as the test holds it.
class DesktopLeftAt800x600 {
  public:
    DesktopLeftAt800x600() { Change(800, 600); }
    ~DesktopLeftAt800x600() { ChangeDisplaySettingsW(nullptr, 0); }

    static void Change(DWORD width, DWORD height) {
        DEVMODEW mode{};
        mode.dmSize = sizeof mode;
        mode.dmPelsWidth = width;
        mode.dmPelsHeight = height;
        mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
        ChangeDisplaySettingsW(&mode, 0);
    }
};

class DesktopRecordTest : public ::testing::Test {
  protected:
    DesktopRecordTest() : start_{GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)} {}

    static std::optional<DWORD> RecordedWidth() {
        const std::optional<DWORD> width = ReadSetting(L"RestoreWidth");
        return width.value_or(0) != 0 ? width : std::nullopt;
    }

    void End(ProgramRun& run) {
        run.Post(WM_CLOSE);
        EXPECT_EQ(run.WaitForExit(), 0u);
    }

    const SIZE start_;
};

TEST_F(DesktopRecordTest, WrittenBeforeTheSwitchTo800x600AndClearedOnceBack) {
    ProgramRun run("RecordWhileAt800x600");
    ASSERT_TRUE(run.Start({.dispMode = 1, .zoomMode = 0}));
    ASSERT_EQ(GetSystemMetrics(SM_CXSCREEN), 800);
    EXPECT_EQ(RecordedWidth(), static_cast<DWORD>(start_.cx));
    EXPECT_EQ(ReadSetting(L"RestoreHeight"), static_cast<DWORD>(start_.cy));
    End(run);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), start_.cx);
    EXPECT_EQ(RecordedWidth(), std::nullopt);
}

TEST_F(DesktopRecordTest, AMirrorStartPutsTheRecordedSizeBack) {
    DesktopLeftAt800x600 leftBehind;
    ProgramRun run("RecordFoundInMirrorMode");
    ASSERT_TRUE(run.Start({.dispMode = 0, .zoomMode = 0, .leftBehind = start_}));
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), start_.cx);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), start_.cy);
    EXPECT_EQ(RecordedWidth(), std::nullopt);
    End(run);
}

// Without the record the program would take 800 x 600 for the user's size and go back to it.
TEST_F(DesktopRecordTest, An800x600StartGoesBackToTheRecordedSize) {
    DesktopLeftAt800x600 leftBehind;
    ProgramRun run("RecordFoundIn800x600Mode");
    ASSERT_TRUE(run.Start({.dispMode = 1, .zoomMode = 0, .leftBehind = start_}));
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 800);
    EXPECT_EQ(RecordedWidth(), static_cast<DWORD>(start_.cx));
    End(run);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), start_.cx);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), start_.cy);
    EXPECT_EQ(RecordedWidth(), std::nullopt);
}

}  // namespace
