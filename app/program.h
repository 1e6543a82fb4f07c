#pragma once

// The program from start to end, with the hidden window's message loop given by the caller:
// single-instance check for the executable named `instanceFileName`, desktop size, projector,
// capture library, saved display mode, capture session, then the loop, then the full shutdown.
// Returns 0 on every path; the device search ends the process with exit code 1 when no
// projector is attached.
using MessageLoop = int (*)();
int RunProgram(const char* instanceFileName, MessageLoop runWindow);
