#include "mirror/mirror_fault_notices.h"

#include "device/device_status.h"

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
