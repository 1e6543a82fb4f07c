#include <windows.h>

#include <atomic>
#include <optional>

#include "platform/desktop.h"
#include "platform/display_mode_request.h"

namespace {
// The primary display. The whole mode in force before the first change is kept (size,
// colour depth, refresh rate): the change is stored as the user's setting, so the user's next
// logon starts in whatever mode the program leaves behind.
class SystemDesktop final : public Desktop {
  public:
    int Width() override { return GetSystemMetrics(SM_CXSCREEN); }
    int Height() override { return GetSystemMetrics(SM_CYSCREEN); }

    // Called from the main thread, from the sender thread's shutdowns and from the crash
    // filter. It holds no lock: the change broadcasts WM_DISPLAYCHANGE and waits for every
    // top-level window to answer, and a thread that waited on a lock here while its own window
    // owed an answer would never answer; a crash filter must not wait for the crashed code.
    bool ChangeSize(int width, int height) override {
        DisplayMode wanted = ModeForSize(Original(), width, height);
        DEVMODEW mode{};
        mode.dmSize = sizeof mode;
        mode.dmPelsWidth = wanted.width;
        mode.dmPelsHeight = wanted.height;
        mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
        if (wanted.bitsPerPixel != 0) {
            mode.dmBitsPerPel = wanted.bitsPerPixel;
            mode.dmFields |= DM_BITSPERPEL;
        }
        if (wanted.frequency != 0) {
            mode.dmDisplayFrequency = wanted.frequency;
            mode.dmFields |= DM_DISPLAYFREQUENCY;
        }
        return ChangeDisplaySettingsExW(nullptr, &mode, nullptr, CDS_UPDATEREGISTRY, nullptr) ==
               DISP_CHANGE_SUCCESSFUL;
    }

  private:
    enum : int { kNotTaken, kTaking, kTaken };

    // The mode before the first change, taken by that change. A change on another thread
    // meanwhile asks for sizes alone rather than wait.
    std::optional<DisplayMode> Original() {
        int state = kNotTaken;
        if (m_originalState.compare_exchange_strong(state, kTaking)) {
            m_original = CurrentMode();
            m_originalState.store(kTaken);
            return m_original;
        }
        return state == kTaken ? m_original : std::nullopt;
    }

    // None when the system cannot say; sizes alone are asked for then.
    static std::optional<DisplayMode> CurrentMode() {
        DEVMODEW mode{};
        mode.dmSize = sizeof mode;
        if (!EnumDisplaySettingsW(nullptr, ENUM_CURRENT_SETTINGS, &mode)) {
            return std::nullopt;
        }
        // 0 and 1 both mean the hardware's default rate.
        DWORD frequency = mode.dmDisplayFrequency > 1 ? mode.dmDisplayFrequency : 0;
        return DisplayMode{mode.dmPelsWidth, mode.dmPelsHeight, mode.dmBitsPerPel, frequency};
    }

    std::atomic<int> m_originalState{kNotTaken};
    std::optional<DisplayMode> m_original;  // written once, before kTaken
};

SystemDesktop g_SystemDesktop;
}  // namespace

Desktop* g_pDesktop = &g_SystemDesktop;
