#include <pthread.h>

#include <atomic>

#include "platform/thread.h"

// The record is shared by the handle and the running thread; whichever lets go last frees it.
struct ThreadRecord {
    pthread_t id{};
    ThreadProc proc = nullptr;
    std::atomic<bool> active{true};
    std::atomic<int> references{2};
};

namespace {
void Release(ThreadRecord* record) {
    if (record->references.fetch_sub(1) == 1) {
        delete record;
    }
}

// Marks the end even when the thread leaves through pthread_exit.
struct ThreadEnd {
    ThreadRecord* record;
    ~ThreadEnd() {
        record->active.store(false);
        Release(record);
    }
};

void* ThreadStart(void* parameter) {
    ThreadEnd end{static_cast<ThreadRecord*>(parameter)};
    end.record->proc();
    return nullptr;
}
}  // namespace

ThreadHandle StartThread(ThreadProc proc) {
    auto* record = new ThreadRecord;
    record->proc = proc;
    if (pthread_create(&record->id, nullptr, ThreadStart, record) != 0) {
        delete record;
        return nullptr;
    }
    return record;
}

bool IsThreadActive(ThreadHandle thread) {
    return thread->active.load();
}

bool IsCurrentThread(ThreadHandle thread) {
    return pthread_equal(thread->id, pthread_self());
}

// SG_IO requests cannot be cancelled from another thread; their timeout bounds the wait.
void CancelThreadIo(ThreadHandle) {}

void WaitForThread(ThreadHandle thread) {
    pthread_join(thread->id, nullptr);
    Release(thread);
}

void ForgetThread(ThreadHandle thread) {
    pthread_detach(thread->id);
    Release(thread);
}

void NameThisThread(const char* name) {
    pthread_setname_np(pthread_self(), name);
}
