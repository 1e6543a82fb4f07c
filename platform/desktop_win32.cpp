#include <windows.h>

#include "platform/desktop.h"

namespace {
class SystemDesktop final : public Desktop {
  public:
    int Width() override { return GetSystemMetrics(SM_CXSCREEN); }
    int Height() override { return GetSystemMetrics(SM_CYSCREEN); }

    bool ChangeSize(int width, int height) override {
        DEVMODEW mode{};
        mode.dmSize = sizeof mode;
        mode.dmPelsWidth = static_cast<DWORD>(width);
        mode.dmPelsHeight = static_cast<DWORD>(height);
        mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
        return ChangeDisplaySettingsW(&mode, CDS_UPDATEREGISTRY) == DISP_CHANGE_SUCCESSFUL;
    }
};

SystemDesktop g_SystemDesktop;
}  // namespace

Desktop* g_pDesktop = &g_SystemDesktop;
