#include "app/fault_warnings.h"

#include "device/device_status.h"

namespace {
bool g_bWarningOpen[2] = {false, false};  // by WarningKind

bool& WarningOpen(WarningKind kind) {
    return g_bWarningOpen[kind == WarningKind::Overheat ? 0 : 1];
}
}  // namespace

std::optional<WarningKind> WarningForFaultStatus(int status) {
    switch (status) {
        case DEV_FAULT_OVERHEAT:
            return WarningKind::Overheat;
        case DEV_FAULT_FAN_FAILURE:
            return WarningKind::FanFailure;
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
