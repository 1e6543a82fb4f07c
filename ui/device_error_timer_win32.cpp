#include "ui/device_error_timer.h"

#include "app/fault_warnings.h"
#include "device/device_status.h"
#include "resources/resource.h"
#include "ui/dialogs.h"
#include "ui/one_window.h"
#include "ui/tray_window.h"

void CALLBACK DevErrTimerProc(HWND hwnd, UINT, UINT_PTR, DWORD) {
    PollClosedWindow();
    const std::optional<WarningKind> warning = WarningForFaultStatus(ReadDevFaultStatus());
    if (!warning || !BeginFaultWarning(*warning)) {
        return;
    }
    const bool overheat = *warning == WarningKind::Overheat;
    DialogBoxParamW(g_hInstance, MAKEINTRESOURCEW(overheat ? IDD_OVERHEAT : IDD_FANFAIL), hwnd,
                    overheat ? Dialog2Proc : Dialog3Proc, 0);
    EndFaultWarning(*warning);
}
