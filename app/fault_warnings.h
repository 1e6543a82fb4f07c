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
