#pragma once

// The stop sequence of a program's window (or loop), run when the system suspends or the
// projector's optical unit is removed.

enum class StopReason { Suspend, OpticalUnitRemoved };

// The window's part in it, as plain calls.
struct StopSequenceSteps {
    void (*releaseTrayIcon)();
    bool (*contextMenuOpen)();
    void (*destroyContextMenu)();
    void (*postQuitMessage)();
};

// Removes the tray icon. Inside the context menu's modal loop the message loop cannot be
// reached, so the menu is destroyed, the full shutdown runs and the process ends with exit
// code 0 here; otherwise the quit message is posted and the program ends after its loop.
void RunStopSequence(StopReason reason, const StopSequenceSteps& steps);
