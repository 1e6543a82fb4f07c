#pragma once

class ProgramWindow;

// The program from start to end, with the caller's window: single-instance check for the
// executable named `instanceFileName` (null: the caller keeps a rule of its own), desktop size,
// projector, capture library, saved display mode, capture session, then the window's loop,
// then the full shutdown. Returns 0 on every
// path; the device search ends the process with exit code 1 when no projector is attached.
int RunProgram(const char* instanceFileName, ProgramWindow& window);
