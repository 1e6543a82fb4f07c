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

std::optional<WarningKind> FaultNotices::Poll(int status) {
    if (status == DEV_FAULT_READ_FAILED) {
        return std::nullopt;
    }
    std::optional<WarningKind> kind = WarningForFaultStatus(status);
    bool fresh = kind && kind != m_reported;
    m_reported = kind;
    return fresh ? kind : std::nullopt;
}

const char* FaultNoticeText(WarningKind kind) {
    return kind == WarningKind::Overheat ? "Projector Overheated." : "Fan failure.";
}
