#pragma once

#include <optional>

#include "app/fault_warnings.h"

// The Linux program's form of the fault warning boxes: a notice when the once-a-second poll
// first reports a fault, and no other of that kind while the projector goes on reporting it;
// once the report has changed (no fault, or the other one), the fault gives a new notice when
// it comes back. A failed read changes nothing.
class FaultNotices {
  public:
    // The poll's status byte, or DEV_FAULT_READ_FAILED; the fault to give notice of now.
    std::optional<WarningKind> Poll(int status);

  private:
    std::optional<WarningKind> m_reported;  // the fault the last read reported
};

// The warning boxes' caption and text.
inline constexpr char FAULT_NOTICE_TITLE[] = "Tarq Projira";
const char* FaultNoticeText(WarningKind kind);
