#pragma once

// The stop sequence of a program's window (or loop), run when the system suspends or the
// projector's optical unit is removed.

enum class StopReason { Suspend, OpticalUnitRemoved };

class ProgramWindow;

// Removes the tray icon. Inside the context menu's modal loop the message loop cannot be
// reached, so the menu is destroyed, the full shutdown runs and the process ends with exit
// code 0 here; otherwise the window's loop is asked to end and the program ends after it.
void RunStopSequence(StopReason reason, ProgramWindow& window);
