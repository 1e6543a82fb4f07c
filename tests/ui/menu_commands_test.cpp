#include "ui/menu_commands.h"

#include <gmock/gmock.h>

#include <set>
#include <string>
#include <utility>

#include "app/display_mode.h"
#include "app/frame_pipeline.h"
#include "app/power_mode.h"
#include "image/image_flip.h"
#include "resources/resource.h"
#include "tests/support/engine_fixture.h"

using ::testing::Contains;
using ::testing::ElementsAre;

namespace {

class MenuCommandsTest : public EngineTest {};

// Which item each id is, the menu's pictures decide (the resources test under Wine); here,
// what any display command must do: trace its choice first, then take modes no other command
// takes, zoom 2 only at 800 x 600, and touch the desktop only when the display mode changes.
TEST_F(MenuCommandsTest, EachDisplayCommandTracesAndTakesModesOfItsOwn) {
    OpenProjector("");
    const uint32_t displayCommands[] = {IDM_800X600_ZOOM2, IDM_800X600_ZOOM1, IDM_800X600_ORIGINAL,
                                        IDM_MIRROR_ZOOM1, IDM_MIRROR_ORIGINAL};
    std::set<std::pair<int32_t, int32_t>> modes;
    std::set<std::string> traces;
    for (uint32_t id : displayCommands) {
        ClearTraces();
        const size_t desktopChanges = m_desktop.Changes().size();
        const int32_t dispModeBefore = DispMode.load();
        RunMenuCommand(id);
        ASSERT_FALSE(Traces().empty()) << id;
        EXPECT_EQ(Traces().front().rfind("KVUSB menu: ", 0), 0u) << Traces().front();
        traces.insert(Traces().front());
        modes.insert({DispMode.load(), ZoomMode.load()});
        EXPECT_TRUE(ZoomMode.load() != ZOOM_2 || DispMode.load() == DISP_MODE_800X600) << id;
        EXPECT_EQ(m_desktop.Changes().size(), desktopChanges + (DispMode.load() != dispModeBefore))
            << id;
    }
    EXPECT_EQ(modes.size(), std::size(displayCommands));
    EXPECT_EQ(traces.size(), std::size(displayCommands));
    // Back at the start-up size, and no mode saved before the shutdown.
    EXPECT_EQ(m_desktop.Changes().back(), (std::pair<int, int>{kStartWidth, kStartHeight}));
    EXPECT_FALSE(m_store.Value(kSettingsKey, "DispMode").has_value());
    EXPECT_FALSE(m_store.Value(kSettingsKey, "ZoomMode").has_value());
}

TEST_F(MenuCommandsTest, ChoosingTheActiveItemRestartsTheSessionWithoutTouchingTheDesktop) {
    StartSession("", ZOOM_ORIGINAL);
    DispMode.store(DISP_MODE_800X600);
    RunMenuCommand(IDM_MIRROR_ORIGINAL);
    EXPECT_EQ(m_desktop.Changes(), (std::vector<std::pair<int, int>>{{kStartWidth, kStartHeight}}));
    ClearTraces();
    RunMenuCommand(IDM_MIRROR_ORIGINAL);
    EXPECT_EQ(m_desktop.Changes().size(), 1u);
    EXPECT_THAT(Traces(), Contains(" KVCapAPI_Close success\n"));
    EXPECT_THAT(Traces(), Contains(" KVCapAPI_Start success\n"));
    EXPECT_EQ(g_nCaptureState.load(), CAPTURE_RUNNING);
}

TEST_F(MenuCommandsTest, PowerCommandsSetTheRegisterAndReadItBack) {
    OpenProjector("power=0");
    RunMenuCommand(IDM_POWER_ECO);
    EXPECT_EQ(m_projector->Report().projectors[0].powerMode, 1);
    EXPECT_EQ(PowerMode, 1u);
    EXPECT_THAT(Traces(), ElementsAre("SetDevPowerMode: scsi_cmd_read_driverless success!\n",
                                      "GetDevPowerMode: scsi_cmd_read_driverless success!\n"));
    RunMenuCommand(IDM_POWER_AUTO);
    EXPECT_EQ(m_projector->Report().projectors[0].powerMode, 0);
    EXPECT_EQ(PowerMode, 0u);
}

TEST_F(MenuCommandsTest, AProjectorThatDoesNotAnswerLeavesTheShownPowerModeAlone) {
    OpenProjector("power=1");
    RefreshPowerMode();
    ASSERT_EQ(PowerMode, 1u);
    m_projector->FailNext(2, 31);
    RunMenuCommand(IDM_POWER_AUTO);
    EXPECT_EQ(PowerMode, 1u);
    EXPECT_THAT(Traces(), Contains("GetDevPowerMode: scsi_cmd_read_driverless error!\n"));
}

// Freeze and blank, from the menu or a hotkey, turn the wall's hold over: chosen again, the
// wall is live; the other one chosen takes its place. A flip changes nothing of the hold.
TEST_F(MenuCommandsTest, FreezeAndBlankTurnOverAndTakeEachOthersPlace) {
    StartSession("", ZOOM_ORIGINAL);
    const struct {
        uint32_t id;
        int32_t hold;
        const char* trace;
    } steps[] = {
        {IDM_FREEZE, WALL_FROZEN, "KVUSB menu: FREEZE, wall frozen!\n"},
        {IDM_FREEZE, WALL_LIVE, "KVUSB menu: FREEZE, wall live!\n"},
        {IDM_BLANK, WALL_BLANK, "KVUSB menu: BLANK, wall blank!\n"},
        {IDM_FREEZE, WALL_FROZEN, "KVUSB menu: FREEZE, wall frozen!\n"},
        {IDM_FLIP_VERTICAL, WALL_FROZEN, "KVUSB menu: FLIP VERTICAL!\n"},
        {IDM_BLANK, WALL_BLANK, "KVUSB menu: BLANK, wall blank!\n"},
        {IDM_BLANK, WALL_LIVE, "KVUSB menu: BLANK, wall live!\n"},
    };
    for (const auto& step : steps) {
        ClearTraces();
        RunMenuCommand(step.id);
        EXPECT_EQ(g_nWallHold.load(), step.hold) << step.trace;
        EXPECT_THAT(Traces(), Contains(step.trace));
    }
    EXPECT_EQ(FlipMode.load(), FLIP_VERTICAL);
    EXPECT_EQ(g_nCaptureState.load(), CAPTURE_RUNNING);
}

// One window turns over too; with no window noted it changes nothing. A window that closes
// ends it once: the poll after that has nothing to tell.
TEST_F(MenuCommandsTest, OneWindowTurnsOverAndAClosedWindowEndsItOnce) {
    StartSession("", ZOOM_ORIGINAL);
    RunOneWindowCommand(0);
    EXPECT_EQ(g_nCaptureWindow.load(), 0u);
    EXPECT_THAT(Traces(), Contains("KVUSB menu: ONE WINDOW, but no window to show!\n"));
    RunOneWindowCommand(0x2A0042);
    EXPECT_EQ(g_nCaptureWindow.load(), 0x2A0042u);
    EXPECT_EQ(g_nCaptureState.load(), CAPTURE_RUNNING);
    RunOneWindowCommand(0x2A0042);
    EXPECT_EQ(g_nCaptureWindow.load(), 0u);

    RunOneWindowCommand(0x2A0042);
    EXPECT_FALSE(ClosedWindowEnded());
    g_bWindowGone.store(true);
    EXPECT_TRUE(ClosedWindowEnded());
    EXPECT_EQ(g_nCaptureWindow.load(), 0u);
    EXPECT_EQ(g_nCaptureState.load(), CAPTURE_RUNNING);
    EXPECT_FALSE(ClosedWindowEnded());
}

// About and One window are the tray window's own (a dialog, the window it noted).
TEST_F(MenuCommandsTest, TheTitleAboutAndUnknownIdsDoNothingHere) {
    OpenProjector("");
    const uint64_t commands = m_projector->Report().commands;
    for (uint32_t id : {uint32_t{IDM_TITLE}, uint32_t{IDM_ABOUT}, 0u, 40015u, 40029u,
                        uint32_t{IDM_ONE_WINDOW}, 40037u, 65535u}) {
        RunMenuCommand(id);
    }
    EXPECT_TRUE(Traces().empty());
    EXPECT_EQ(m_projector->Report().commands, commands);
    EXPECT_EQ(DispMode.load(), DISP_MODE_MIRROR);
    EXPECT_EQ(g_nWallHold.load(), WALL_LIVE);
}

}  // namespace
