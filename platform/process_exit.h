#pragma once

// Ends the process with `code` (EndProcess), after the installed handler has had its turn.
[[noreturn]] void ExitProgram(int code);

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
    virtual void BeforeExit(int code) = 0;

  protected:
    ~ExitHandler() = default;
};
// nullptr restores the plain exit.
void SetExitHandler(ExitHandler* handler);
