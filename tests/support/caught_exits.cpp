#include "tests/support/caught_exits.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace {
[[noreturn]] void EndCurrentThread() {
#if defined(_WIN32)
    ExitThread(0);
#else
    pthread_exit(nullptr);
#endif
}
}  // namespace

CaughtExits::CaughtExits() {
    SetExitHandler(this);
}

CaughtExits::~CaughtExits() {
    SetExitHandler(nullptr);
}

void CaughtExits::BeforeExit(RunEnd reason) {
    // Once the code is out the test may end and this object with it: nothing of it after.
    const int code = ExitCode(reason);
    const bool onTestThread = std::this_thread::get_id() == m_testThread;
    m_code.store(code);
    if (onTestThread) {
        throw ExitCalled{code};
    }
    EndCurrentThread();
}
