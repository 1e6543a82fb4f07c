#include "ui/menu_commands.h"

#include <gmock/gmock.h>

#include "app/display_mode.h"
#include "app/frame_pipeline.h"
#include "app/power_mode.h"
#include "resources/resource.h"
#include "tests/support/engine_fixture.h"

using ::testing::Contains;
using ::testing::ElementsAre;

namespace {

class MenuCommandsTest : public EngineTest {};

TEST_F(MenuCommandsTest, EachDisplayCommandTracesAndSetsItsModes) {
    OpenProjector("");
    struct Row {
        uint32_t id;
        int32_t dispMode;
        int32_t zoomMode;
        const char* trace;
    };
    const Row rows[] = {
        {IDM_800X600_ZOOM2, DISP_MODE_800X600, ZOOM_2, "KVUSB menu: 1:1 Mode Zoom 2!\n"},
        {IDM_800X600_ZOOM1, DISP_MODE_800X600, ZOOM_1, "KVUSB menu: 1:1 Mode Zoom 1!\n"},
        {IDM_800X600_ORIGINAL, DISP_MODE_800X600, ZOOM_ORIGINAL, "KVUSB menu: 1:1 Mode Zoom 0!\n"},
        {IDM_MIRROR_ZOOM1, DISP_MODE_MIRROR, ZOOM_1, "KVUSB menu: MIRRORMODE ZOOM1!\n"},
        {IDM_MIRROR_ORIGINAL, DISP_MODE_MIRROR, ZOOM_ORIGINAL,
         "KVUSB menu: MIRRORMODE ORIGINAL!\n"},
    };
    for (const Row& row : rows) {
        ClearTraces();
        RunMenuCommand(row.id);
        EXPECT_EQ(Traces().front(), row.trace);
        EXPECT_EQ(DispMode.load(), row.dispMode) << row.trace;
        EXPECT_EQ(ZoomMode.load(), row.zoomMode) << row.trace;
    }
    // The desktop changed once into 800 x 600 and once back, on the mode changes only.
    EXPECT_EQ(m_desktop.Changes(),
              (std::vector<std::pair<int, int>>{{800, 600}, {kStartWidth, kStartHeight}}));
    // Nothing is saved before the shutdown.
    EXPECT_FALSE(m_store.HasKey("Software\\K7Q0KVUSB"));
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

TEST_F(MenuCommandsTest, TheTitleAboutAndUnknownIdsDoNothingHere) {
    OpenProjector("");
    const uint64_t commands = m_projector->Report().commands;
    for (uint32_t id : {uint32_t{IDM_TITLE}, uint32_t{IDM_ABOUT}, 0u, 40015u, 65535u}) {
        RunMenuCommand(id);
    }
    EXPECT_TRUE(Traces().empty());
    EXPECT_EQ(m_projector->Report().commands, commands);
    EXPECT_EQ(DispMode.load(), DISP_MODE_MIRROR);
}

}  // namespace
