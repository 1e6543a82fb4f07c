#pragma once

#include <optional>

// The projector's faults as the once-a-second poll finds them, and which warnings are being
// shown. The poll goes on while a warning box is open (the box's modal loop dispatches the
// timer), so a fault that persists would open a box at every tick, each nested in the one
// before; at most one warning of each kind is shown at a time.

enum class WarningKind { Overheat, FanFailure };

// The warning a fault status asks for: 1 overheat, 2 fan failure, nothing for any other value
// or a failed read.
std::optional<WarningKind> WarningForFaultStatus(int status);

// Marks the warning shown; false when one of that kind is shown already. One thread only.
bool BeginFaultWarning(WarningKind kind);
// The warning was closed.
void EndFaultWarning(WarningKind kind);

// The Linux programs' form of the warning boxes: a notice when the once-a-second poll first
// reports a fault, and no other of that kind while the projector goes on reporting it; once
// the report has changed (no fault, or the other one), the fault gives a new notice when it
// comes back. A failed read changes nothing.
class FaultNotices {
  public:
    // The poll's status byte, or DEV_FAULT_READ_FAILED; the fault to give notice of now.
    std::optional<WarningKind> Poll(int status);

  private:
    std::optional<WarningKind> m_reported;  // the fault the last read reported
};

// The warning boxes' caption and text, in English.
inline constexpr char FAULT_NOTICE_TITLE[] = "Tarq Projira";
const char* FaultNoticeText(WarningKind kind);
