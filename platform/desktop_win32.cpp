#include <windows.h>

#include <mutex>
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

    // Called from the main thread and from the sender thread's shutdowns.
    bool ChangeSize(int width, int height) override {
        std::lock_guard<std::mutex> hold(m_lock);
        if (!m_original) {
            m_original = CurrentMode();
        }
        DisplayMode wanted = ModeForSize(m_original, width, height);
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

    std::mutex m_lock;
    std::optional<DisplayMode> m_original;
};

SystemDesktop g_SystemDesktop;
}  // namespace

Desktop* g_pDesktop = &g_SystemDesktop;
