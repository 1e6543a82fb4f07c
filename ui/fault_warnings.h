#pragma once

#include <cstdint>
#include <optional>

#include "ui/dialog_texts.h"

// The warning boxes the device-error poll opens. The poll goes on once a second while a box
// is open (the box's modal loop dispatches the timer), so a fault that persists would open a
// box at every tick, each nested in the one before; at most one box of each kind is open.

struct FaultWarning {
    WarningKind kind;
    uint16_t dialogId;  // IDD_OVERHEAT or IDD_FANFAIL
};

// The warning a fault status asks for: 1 overheat, 2 fan failure, nothing for any other value
// or a failed read.
std::optional<FaultWarning> WarningForFaultStatus(int status);

// Marks the warning's box open; false when a box of that kind is open already. UI thread only.
bool BeginFaultWarning(WarningKind kind);
// The box was closed.
void EndFaultWarning(WarningKind kind);
