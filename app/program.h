#pragma once

class ProgramWindow;

// The program from start to end, with the caller's window: single-instance check for the
// executable named `instanceFileName` (null: the caller keeps a rule of its own), desktop size,
// projector, capture library, saved display mode, capture session, then the window's loop,
// then the full shutdown. Returns 0 on every path but one: when the device search finds no
// projector, it ends the process (RunEnd::NoProjector, exit code 1).
int RunProgram(const char* instanceFileName, ProgramWindow& window);
