// Kept apart from the engine's headers: <windows.h> declares a ReleaseCapture of its own.
#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#endif

#include "engine_fixture.h"

void EndCurrentThread() {
#if defined(_WIN32)
    ExitThread(0);
#else
    pthread_exit(nullptr);
#endif
}
