// The presenter's hotkeys and one window in the running program (its menu is shot with the
// others: screens_e2e_test_win32.cpp).
#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "program_run_win32.h"
#include "resources/resource.h"

namespace {

void PressKeys(std::initializer_list<WORD> keys) {
    std::vector<INPUT> inputs;
    for (WORD key : keys) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = key;
        inputs.push_back(input);
    }
    for (auto key = keys.end(); key != keys.begin();) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = *--key;
        input.ki.dwFlags = KEYEVENTF_KEYUP;
        inputs.push_back(input);
    }
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

// WM_HOTKEY messages this thread took.
int g_hotkeysTaken = 0;

// Waits for a condition while this thread takes its messages: keys reach the thread that has
// the keyboard, and the system sees a hotkey only as its keys are taken.
template <typename Condition>
bool WaitPumping(Condition condition, DWORD timeoutMs = 20000) {
    return WaitFor(
        [&] {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                g_hotkeysTaken += message.message == WM_HOTKEY;
                DispatchMessageW(&message);
            }
            return condition();
        },
        timeoutMs);
}

// Another program holds Ctrl+Alt+Shift+B: the program says so once, keeps Ctrl+Alt+Shift+F,
// and that one freezes the wall and, pressed again, lets it go.
TEST(PresenterHotkeys, FreezeFromAnywhereAndAHotkeyHeldElsewhereToldOnce) {
    ASSERT_TRUE(RegisterHotKey(nullptr, 1, MOD_CONTROL | MOD_ALT | MOD_SHIFT, 'B'));
    ProgramRun run("presenter_hotkeys");
    ASSERT_TRUE(run.Start({}));
    EXPECT_TRUE(
        run.WaitForTrace("vorn_kvusb: hotkey 0x4007 'B' taken by another program, left "
                         "to it! 1409\n"));
    EXPECT_EQ(run.CountTrace("vorn_kvusb: hotkey 0x4007 'F' taken by another program, left to "
                             "it! 1409\n"),
              0);
    PressKeys({VK_CONTROL, VK_MENU, VK_SHIFT, 'F'});
    EXPECT_TRUE(WaitPumping([&] { return run.CountTrace("KVUSB menu: FREEZE, wall frozen!\n"); }));
    // Held, the wall is still sent its picture at the link's pace.
    const int frames = run.Report().frames;
    EXPECT_TRUE(run.WaitForFrames(frames + 3));
    PressKeys({VK_CONTROL, VK_MENU, VK_SHIFT, 'F'});
    EXPECT_TRUE(WaitPumping([&] { return run.CountTrace("KVUSB menu: FREEZE, wall live!\n"); }));
    // The key held elsewhere stays that program's: it reaches this thread, not the program.
    PressKeys({VK_CONTROL, VK_MENU, VK_SHIFT, 'B'});
    EXPECT_TRUE(WaitPumping([] { return g_hotkeysTaken == 1; }));
    EXPECT_EQ(run.CountTrace("vorn_kvusb: hotkey 'B'!\n"), 0);
    UnregisterHotKey(nullptr, 1);
    run.Post(WM_CLOSE);
    EXPECT_EQ(run.WaitForExit(), 0u);
}

// The projector's frame is 854 x 480; the pixel's red, green and blue.
struct Rgb {
    int r, g, b;
};
Rgb PixelAt(const std::string& frame, int x, int y) {
    const size_t at = (static_cast<size_t>(y) * 854 + x) * 3;
    if (frame.size() < at + 3) {
        return {-1, -1, -1};
    }
    return {static_cast<uint8_t>(frame[at]), static_cast<uint8_t>(frame[at + 1]),
            static_cast<uint8_t>(frame[at + 2])};
}

// A square red window, chosen from the menu, fills the wall's height between black bars; once
// it is closed, the whole desktop comes back and the user is told once.
TEST(PresenterOneWindow, TheWindowBetweenBarsUntilItCloses) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hbrBackground = CreateSolidBrush(RGB(255, 0, 0));
    windowClass.lpszClassName = L"PresenterTarget";
    RegisterClassW(&windowClass);
    HWND target = CreateWindowExW(0, L"PresenterTarget", L"Slides", WS_POPUP | WS_VISIBLE, 300, 200,
                                  400, 400, nullptr, nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(target, nullptr);
    SetForegroundWindow(target);
    WaitPumping([] { return false; }, 500);

    ProgramRun run("presenter_one_window");
    ASSERT_TRUE(run.Start({.capture = "gdi"}));
    const UINT notifyIconMessage = RegisterWindowMessageW(L"KVUSBNotifyIcon");
    ASSERT_TRUE(
        run.Post(notifyIconMessage, MAKEWPARAM(120, 120), MAKELPARAM(WM_CONTEXTMENU, IDI_KVUSB)));
    ASSERT_TRUE(run.WaitForWindowCount(L"#32768", nullptr, 1));
    run.Post(WM_KEYDOWN, VK_ESCAPE);
    run.Post(WM_KEYUP, VK_ESCAPE);
    EXPECT_TRUE(run.WaitForWindowCount(L"#32768", nullptr, 0));
    run.Post(WM_COMMAND, IDM_ONE_WINDOW);
    char chosen[64];
    std::snprintf(chosen, sizeof chosen, "KVUSB menu: ONE WINDOW 0x%llx!\n",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(target)));
    EXPECT_TRUE(run.WaitForTrace(chosen));
    // 400 x 400 fitted to 480 x 480, from column 187 on.
    EXPECT_TRUE(WaitPumping([&] {
        const std::string frame = run.LastFramePixels();
        const Rgb centre = PixelAt(frame, 427, 240);
        const Rgb inside = PixelAt(frame, 190, 5);
        const Rgb bar = PixelAt(frame, 183, 240);
        return centre.r > 240 && centre.g < 16 && inside.r > 240 && bar.r == 0 && bar.g == 0 &&
               bar.b == 0;
    }));

    DestroyWindow(target);
    EXPECT_TRUE(
        run.WaitForTrace("vorn_kvusb: the window shown was closed, the whole desktop is back!\n"));
    EXPECT_TRUE(run.WaitForFrames(run.Report().frames + 3));
    EXPECT_EQ(
        run.CountTrace("vorn_kvusb: the window shown was closed, the whole desktop is back!\n"), 1);
    run.Post(WM_CLOSE);
    EXPECT_EQ(run.WaitForExit(), 0u);
}

}  // namespace
