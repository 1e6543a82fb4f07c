#pragma once

// Worker threads of the program's own, with what stopping one needs: whether it still runs,
// whether it is the caller, and the cancellation of a device request it is blocked in.

struct ThreadRecord;
using ThreadHandle = ThreadRecord*;  // nullptr is none
using ThreadProc = int (*)();

// Starts `proc` on a new thread at normal priority (created suspended, then resumed, so the
// handle exists before the thread runs). nullptr when the thread could not be created.
ThreadHandle StartThread(ThreadProc proc);

bool IsThreadActive(ThreadHandle thread);
bool IsCurrentThread(ThreadHandle thread);

// Makes a device request the thread is blocked in return at once with an error. Where the
// system cannot, the request's own timeout bounds the wait.
void CancelThreadIo(ThreadHandle thread);

// Waits until the thread has ended, then releases the handle.
void WaitForThread(ThreadHandle thread);

// Releases the handle without waiting; the thread runs on to its end.
void ForgetThread(ThreadHandle thread);

// Names the calling thread where debuggers and the system's thread lists show it (15
// characters at most), so that the time each thread takes can be told apart.
void NameThisThread(const char* name);
