#pragma once

// Why a program ends the process before its loop ends the run: a value the exit handler is
// handed, so that the program can tell the user without reading traces.
enum class RunEnd {
    Stopped,      // the program's own end: a logoff, the quit with the menu open, no X display
    DeviceLost,   // a frame found the projector gone
    LinkFailed,   // too many failed frames in a row
    NoProjector,  // the device search found no projector with a working link
};

// The process exit code of `reason`: 1 for NoProjector, 0 otherwise.
int ExitCode(RunEnd reason);

// Ends the process with ExitCode(reason) (EndProcess), after the installed handler has had its
// turn.
[[noreturn]] void ExitProgram(RunEnd reason);

// Ends the process with `code` while other threads may be anywhere. On Windows it is
// terminated: running the exit-time destructions and the libraries' detach code beside
// threads that may hold their locks can hang for good. Elsewhere the exit-time destructions
// run.
[[noreturn]] void EndProcess(int code);

// What a program or a test does when the process is about to end: a program has its last
// word, a test ends the calling thread or unwinds to itself instead. The installer owns it and
// keeps it alive while installed.
class ExitHandler {
  public:
    virtual void BeforeExit(RunEnd reason) = 0;

  protected:
    ~ExitHandler() = default;
};
// nullptr restores the plain exit.
void SetExitHandler(ExitHandler* handler);
