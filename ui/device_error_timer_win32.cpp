#include "ui/device_error_timer.h"

#include "device/device_status.h"
#include "ui/dialogs.h"
#include "ui/fault_warnings.h"
#include "ui/tray_window.h"

void CALLBACK DevErrTimerProc(HWND hwnd, UINT, UINT_PTR, DWORD) {
    const std::optional<FaultWarning> warning = WarningForFaultStatus(ReadDevFaultStatus());
    if (!warning || !BeginFaultWarning(warning->kind)) {
        return;
    }
    const DLGPROC procedure = warning->kind == WarningKind::Overheat ? Dialog2Proc : Dialog3Proc;
    DialogBoxParamW(g_hInstance, MAKEINTRESOURCEW(warning->dialogId), hwnd, procedure, 0);
    EndFaultWarning(warning->kind);
}
