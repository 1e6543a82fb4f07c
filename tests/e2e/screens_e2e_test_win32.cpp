// The menu as users see it, kept as a screenshot named for the language of the run (the
// runner's E2E_LOCALE) and, when it is not 96, the display's DPI (E2E_DPI): the Display Mode
// and Mirror sub-menus open, Mirror, Zoom 1 and ECO on. Then the presenter's items, with the
// wall frozen and the flip vertical, the Flip sub-menu open (presenter_menu_<language>), at
// 96 and 192 DPI.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
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

// The run's language by its short name; empty for one not shot.
std::string LanguageName(LANGID language) {
    for (const Language& known : kLanguages) {
        if (known.id == language) {
            return known.name;
        }
    }
    return {};
}

bool RunAtBaseDpi() {
    const char* dpi = std::getenv("E2E_DPI");
    return dpi == nullptr || std::string(dpi) == "96";
}

// The display's DPI for the programs started from now on, in both places Wine reads it.
void SetDpi(DWORD dpi) {
    const struct {
        HKEY root;
        const wchar_t* path;
    } keys[] = {{HKEY_CURRENT_USER, L"Control Panel\\Desktop"},
                {HKEY_CURRENT_CONFIG, L"Software\\Fonts"}};
    for (const auto& key : keys) {
        RegSetKeyValueW(key.root, key.path, L"LogPixels", REG_DWORD, &dpi, sizeof dpi);
    }
}

// Opens the menu of a started run, walks `keys`, waits for `menus` menus open and keeps a
// screenshot; then closes the menus and the program.
void ShootMenu(ProgramRun& run, const std::string& shot, std::initializer_list<WPARAM> keys,
               size_t menus) {
    const LANGID language = LANGIDFROMLCID(GetUserDefaultLCID());
    // Where the shell says the request came from; a menu laid out from the right opens leftwards
    // from there, so Arabic's is asked for further right, with room for its sub-menus.
    const WORD x = PRIMARYLANGID(language) == LANG_ARABIC ? 900 : 120;
    ASSERT_TRUE(
        run.Post(kNotifyIconMessage, MAKEWPARAM(x, 120), MAKELPARAM(WM_CONTEXTMENU, IDI_KVUSB)));
    ASSERT_TRUE(run.WaitForWindowCount(L"#32768", nullptr, 1));
    for (WPARAM key : keys) {
        Key(run, key);
    }
    EXPECT_TRUE(run.WaitForWindowCount(L"#32768", nullptr, menus));
    Sleep(500);
    EXPECT_TRUE(Screenshot(shot));
    char expected[80];
    std::snprintf(expected, sizeof expected, "DisplayContextMenu: hwnd %d, LCID %x\n",
                  static_cast<int>(reinterpret_cast<intptr_t>(run.Window())), language);
    EXPECT_EQ(run.CountTrace(expected), 1);
    for (size_t level = 0; level < menus; ++level) {
        Key(run, VK_ESCAPE);
    }
    EXPECT_TRUE(run.WaitForWindowCount(L"#32768", nullptr, 0));
    run.Post(WM_CLOSE);
    EXPECT_EQ(run.WaitForExit(), 0u);
}

TEST(MenuScreen, TheOpenMenuInTheUsersLanguage) {
    const LANGID language = LANGIDFROMLCID(GetUserDefaultLCID());
    std::string name = LanguageName(language);
    ASSERT_FALSE(name.empty()) << "the run's language " << std::hex << language;
    if (!RunAtBaseDpi()) {
        name += std::string("_") + std::getenv("E2E_DPI") + "dpi";
    }
    ProgramRun run("menu_" + name);
    ASSERT_TRUE(run.Start({.device = "link=2.0,power=1", .dispMode = 0, .zoomMode = 1}));
    // Display Mode, then its Mirror sub-menu.
    ShootMenu(run, "menu_" + name, {VK_DOWN, VK_DOWN, VK_RIGHT, VK_RIGHT}, 3);
}

// The presenter's items at 96 and 192 DPI; the run at another DPI leaves them to the runs at
// 96, which change the DPI for their own programs.
TEST(MenuScreen, ThePresenterItemsCheckedAt96And192Dpi) {
    const std::string name = LanguageName(LANGIDFROMLCID(GetUserDefaultLCID()));
    if (name.empty() || !RunAtBaseDpi()) {
        GTEST_SKIP();
    }
    for (DWORD dpi : {96u, 192u}) {
        SetDpi(dpi);
        const std::string shot =
            "presenter_menu_" + name + (dpi == 96 ? "" : "_" + std::to_string(dpi) + "dpi");
        ProgramRun run(shot);
        const bool started =
            run.Start({.device = "link=2.0,power=1", .dispMode = 0, .zoomMode = 1}, 1);
        SetDpi(96);
        ASSERT_TRUE(started);
        run.Post(WM_COMMAND, IDM_FREEZE);
        run.Post(WM_COMMAND, IDM_FLIP_VERTICAL);
        EXPECT_TRUE(run.WaitForTrace("KVUSB menu: FLIP VERTICAL!\n"));
        // Up from nothing is the last item, One window; once more is Flip, which right opens.
        ShootMenu(run, shot, {VK_UP, VK_UP, VK_RIGHT}, 2);
    }
}

}  // namespace
