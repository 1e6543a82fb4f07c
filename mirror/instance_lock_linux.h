#pragma once

// One kvusb-mirror per user, never across users: the running one holds a lock on a file in
// the user's own runtime directory (mirror/runtime_directory_linux.h). Another user's run, or
// a test's with a runtime directory of its own, has another file and is not refused. The
// kernel lets the lock go when the process ends, however it ends.

// True when this process now holds the lock, to its end; also, traced, when there is no
// private runtime directory to hold it in (the program starts rather than lock the user out).
// False when another process holds it.
bool TakeInstanceLock();
