#include <windows.h>

#include "platform/thread.h"

// A ThreadHandle is the system's thread handle.

namespace {
HANDLE AsHandle(ThreadHandle thread) {
    return reinterpret_cast<HANDLE>(thread);
}

DWORD WINAPI ThreadStart(LPVOID parameter) {
    return static_cast<DWORD>(reinterpret_cast<ThreadProc>(parameter)());
}
}  // namespace

ThreadHandle StartThread(ThreadProc proc) {
    HANDLE thread = CreateThread(nullptr, 0, ThreadStart, reinterpret_cast<LPVOID>(proc),
                                 CREATE_SUSPENDED, nullptr);
    if (thread == nullptr) {
        return nullptr;
    }
    SetThreadPriority(thread, THREAD_PRIORITY_NORMAL);
    ResumeThread(thread);
    return reinterpret_cast<ThreadHandle>(thread);
}

bool IsThreadActive(ThreadHandle thread) {
    DWORD exitCode = 0;
    return GetExitCodeThread(AsHandle(thread), &exitCode) && exitCode == STILL_ACTIVE;
}

bool IsCurrentThread(ThreadHandle thread) {
    return GetThreadId(AsHandle(thread)) == GetCurrentThreadId();
}

void CancelThreadIo(ThreadHandle thread) {
    CancelSynchronousIo(AsHandle(thread));
}

void WaitForThread(ThreadHandle thread) {
    WaitForSingleObject(AsHandle(thread), INFINITE);
    CloseHandle(AsHandle(thread));
}

void ForgetThread(ThreadHandle thread) {
    CloseHandle(AsHandle(thread));
}

// SetThreadDescription came with Windows 10 1607; before it, threads have no names.
void NameThisThread(const char* name) {
    using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    auto setDescription = reinterpret_cast<SetDescription>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription")));
    if (setDescription == nullptr) {
        return;
    }
    wchar_t wide[16] = {};
    for (int i = 0; i < 15 && name[i] != '\0'; ++i) {
        wide[i] = static_cast<wchar_t>(name[i]);
    }
    setDescription(GetCurrentThread(), wide);
}
