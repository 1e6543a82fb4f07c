// Kept apart from the engine's headers: <windows.h> declares a ReleaseCapture of its own.
#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#endif

#include <cstdlib>

#include "engine_fixture.h"

void SetEnvironment(const char* name, const char* value) {
#if defined(_WIN32)
    _putenv_s(name, value);
#else
    setenv(name, value, 1);
#endif
}

void EndCurrentThread() {
#if defined(_WIN32)
    ExitThread(0);
#else
    pthread_exit(nullptr);
#endif
}
