#include "kvcap/duplication_policy.h"

#include <algorithm>

namespace {
// The HRESULTs, as winerror.h spells them.
constexpr int32_t kAccessDenied = static_cast<int32_t>(0x80070005);  // E_ACCESSDENIED
constexpr int32_t kAccessLost = static_cast<int32_t>(0x887A0026);    // DXGI_ERROR_ACCESS_LOST
constexpr int32_t kNotCurrentlyAvailable = static_cast<int32_t>(0x887A0022);
constexpr int32_t kSessionDisconnected = static_cast<int32_t>(0x887A0028);
// A desktop mode or scenario duplication cannot serve for now; it may come back after a desktop
// switch or a mode change.
constexpr int32_t kUnsupported = static_cast<int32_t>(0x887A0004);
}  // namespace

std::optional<DuplicationOutput> ChooseOutput(const std::vector<DuplicationOutput>& outputs,
                                              uintptr_t primaryMonitor) {
    auto primary = std::find_if(outputs.begin(), outputs.end(), [&](const DuplicationOutput& o) {
        return o.monitor == primaryMonitor;
    });
    if (primary == outputs.end()) {
        return std::nullopt;
    }
    return *primary;
}

ImageMapping UprightMapping(OutputRotation rotation) {
    switch (rotation) {
        case OutputRotation::Rotate90:  // the image's left column is the desktop's top row
            return {0, 1, 0, -1, 0, 1};
        case OutputRotation::Rotate180:
            return {-1, 0, 1, 0, -1, 1};
        case OutputRotation::Rotate270:  // the image's left column is the desktop's bottom row
            return {0, -1, 1, 1, 0, 0};
        default:
            return {1, 0, 0, 0, 1, 0};
    }
}

DuplicationFailure ClassifyDuplicationFailure(int32_t hr) {
    switch (hr) {
        case kAccessLost:
            return DuplicationFailure::AccessLost;
        case kAccessDenied:
        case kNotCurrentlyAvailable:
        case kSessionDisconnected:
        case kUnsupported:
            return DuplicationFailure::Waiting;
        default:
            return DuplicationFailure::DeviceLost;
    }
}

bool DuplicationRecovery::Failed(int32_t hr, Clock::time_point now) {
    m_lastFailure = now;
    if (std::find(m_traced.begin(), m_traced.end(), hr) != m_traced.end()) {
        return false;
    }
    m_traced.push_back(hr);
    return true;
}

bool DuplicationRecovery::MayRetry(Clock::time_point now) const {
    return !m_lastFailure || now - *m_lastFailure >= kRetryInterval;
}

void DuplicationRecovery::Succeeded() {
    m_traced.clear();
    m_lastFailure.reset();
}
