#include "ui/fault_warnings.h"

#include "device/device_status.h"
#include "resources/resource.h"

namespace {
bool g_bWarningOpen[2] = {false, false};  // by WarningKind

bool& WarningOpen(WarningKind kind) {
    return g_bWarningOpen[kind == WarningKind::Overheat ? 0 : 1];
}
}  // namespace

std::optional<FaultWarning> WarningForFaultStatus(int status) {
    switch (status) {
        case DEV_FAULT_OVERHEAT:
            return FaultWarning{WarningKind::Overheat, IDD_OVERHEAT};
        case DEV_FAULT_FAN_FAILURE:
            return FaultWarning{WarningKind::FanFailure, IDD_FANFAIL};
        default:
            return std::nullopt;
    }
}

bool BeginFaultWarning(WarningKind kind) {
    bool& open = WarningOpen(kind);
    if (open) {
        return false;
    }
    open = true;
    return true;
}

void EndFaultWarning(WarningKind kind) {
    WarningOpen(kind) = false;
}
