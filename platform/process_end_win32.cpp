#include <windows.h>

#include <cstdio>

#include "platform/process_exit.h"

// Exiting runs every library's detach code after the other threads were stopped wherever they
// were, and hangs for good when one of them held a lock that code takes (the sender ends the
// program while the main thread is inside a dialog or a desktop change). Terminating runs
// none of it; what a tool printed is flushed first.
void EndProcess(int code) {
    std::fflush(nullptr);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
    for (;;) {
        Sleep(INFINITE);  // the termination ends this thread too
    }
}
