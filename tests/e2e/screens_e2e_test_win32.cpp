// The menu as users see it, in English, German, Japanese and Arabic, kept as screenshots.
#include <gtest/gtest.h>

#include "program_run_win32.h"
#include "resources/resource.h"

namespace {

const UINT kNotifyIconMessage = RegisterWindowMessageW(L"KVUSBNotifyIcon");

struct Screen {
    const char* name;
    const char* locale;
    const char* languageId;  // as DisplayContextMenu traces it
};

class MenuScreens : public ::testing::TestWithParam<Screen> {};

void Key(const ProgramRun& run, WPARAM key) {
    run.Post(WM_KEYDOWN, key);
    run.Post(WM_KEYUP, key);
    Sleep(300);
}

TEST_P(MenuScreens, TheOpenMenuInTheUsersLanguage) {
    const Screen& screen = GetParam();
    ProgramRun run(std::string("menu_") + screen.name);
    // Mirror, Zoom 1 and ECO, so that both kinds of picture show.
    ASSERT_TRUE(run.Start(
        {.device = "link=2.0,power=1", .locale = screen.locale, .dispMode = 0, .zoomMode = 1}));
    SetCursorPos(120, 120);
    ASSERT_TRUE(run.Post(kNotifyIconMessage, IDI_KVUSB, WM_RBUTTONUP));
    ASSERT_TRUE(run.WaitForWindowCount(L"#32768", nullptr, 1));
    // Display Mode, then its Mirror sub-menu.
    for (WPARAM key : {VK_DOWN, VK_DOWN, VK_RIGHT, VK_RIGHT}) {
        Key(run, key);
    }
    EXPECT_TRUE(run.WaitForWindowCount(L"#32768", nullptr, 3));
    Sleep(500);
    EXPECT_TRUE(Screenshot(std::string("menu_") + screen.name));
    EXPECT_EQ(run.CountTrace("DisplayContextMenu: hwnd " +
                             std::to_string(reinterpret_cast<intptr_t>(run.Window())) + ", LCID " +
                             screen.languageId + "\n"),
              1);
    for (int level = 0; level < 3; ++level) {
        Key(run, VK_ESCAPE);
    }
    EXPECT_TRUE(run.WaitForWindowCount(L"#32768", nullptr, 0));
    run.Post(WM_CLOSE);
    EXPECT_EQ(run.WaitForExit(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Languages, MenuScreens,
    ::testing::Values(Screen{"en", "en_US.UTF-8", "409"}, Screen{"de", "de_DE.UTF-8", "407"},
                      Screen{"ja", "ja_JP.UTF-8", "411"}, Screen{"ar", "ar_EG.UTF-8", "c01"}),
    [](const ::testing::TestParamInfo<Screen>& info) { return std::string(info.param.name); });

}  // namespace
