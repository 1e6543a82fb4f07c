#pragma once

// Ends the process with `code`, running the exit-time destructions. Tests install a handler
// that unwinds to the test instead; a handler must not return.
[[noreturn]] void ExitProgram(int code);

using ExitHandler = void (*)(int code);
void SetExitHandler(ExitHandler handler);  // nullptr restores the real exit
