// The menu as users see it, kept as a screenshot named for the language of the run (the
// runner's E2E_LOCALE) and, when it is not 96, the display's DPI (E2E_DPI): the Display Mode
// and Mirror sub-menus open, Mirror, Zoom 1 and ECO on.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "program_run_win32.h"
#include "resources/resource.h"

namespace {

const UINT kNotifyIconMessage = RegisterWindowMessageW(L"KVUSBNotifyIcon");

struct Language {
    LANGID id;
    const char* name;
};
constexpr Language kLanguages[] = {{0x0409, "en"}, {0x0407, "de"}, {0x0411, "ja"}, {0x0C01, "ar"}};

void Key(const ProgramRun& run, WPARAM key) {
    run.Post(WM_KEYDOWN, key);
    run.Post(WM_KEYUP, key);
    Sleep(300);
}

TEST(MenuScreen, TheOpenMenuInTheUsersLanguage) {
    const LANGID language = LANGIDFROMLCID(GetUserDefaultLCID());
    std::string name;
    for (const Language& known : kLanguages) {
        name = known.id == language ? known.name : name;
    }
    ASSERT_FALSE(name.empty()) << "the run's language " << std::hex << language;
    const char* dpi = std::getenv("E2E_DPI");
    if (dpi != nullptr && std::string(dpi) != "96") {
        name += std::string("_") + dpi + "dpi";
    }
    ProgramRun run("menu_" + name);
    ASSERT_TRUE(run.Start({.device = "link=2.0,power=1", .dispMode = 0, .zoomMode = 1}));
    // Where the shell says the request came from.
    ASSERT_TRUE(
        run.Post(kNotifyIconMessage, MAKEWPARAM(120, 120), MAKELPARAM(WM_CONTEXTMENU, IDI_KVUSB)));
    ASSERT_TRUE(run.WaitForWindowCount(L"#32768", nullptr, 1));
    // Display Mode, then its Mirror sub-menu.
    for (WPARAM key : {VK_DOWN, VK_DOWN, VK_RIGHT, VK_RIGHT}) {
        Key(run, key);
    }
    EXPECT_TRUE(run.WaitForWindowCount(L"#32768", nullptr, 3));
    Sleep(500);
    EXPECT_TRUE(Screenshot("menu_" + name));
    char expected[80];
    std::snprintf(expected, sizeof expected, "DisplayContextMenu: hwnd %d, LCID %x\n",
                  static_cast<int>(reinterpret_cast<intptr_t>(run.Window())), language);
    EXPECT_EQ(run.CountTrace(expected), 1);
    for (int level = 0; level < 3; ++level) {
        Key(run, VK_ESCAPE);
    }
    EXPECT_TRUE(run.WaitForWindowCount(L"#32768", nullptr, 0));
    run.Post(WM_CLOSE);
    EXPECT_EQ(run.WaitForExit(), 0u);
}

}  // namespace
