#pragma once

#include <atomic>
#include <thread>

#include "platform/process_exit.h"

// What a caught exit throws on the test's own thread.
struct ExitCalled {
    int code;
};

// Process exits caught while it lives: thrown back as ExitCalled on the thread that made it
// (the test's), the calling thread ended on any other, as the process exit would end it.
class CaughtExits final : public ExitHandler {
  public:
    CaughtExits();
    ~CaughtExits();  // the plain exit again
    CaughtExits(const CaughtExits&) = delete;
    CaughtExits& operator=(const CaughtExits&) = delete;

    void BeforeExit(RunEnd reason) override;

    // The last exit code asked for, -1 before the first.
    int Code() const { return m_code.load(); }
    void Clear() { m_code.store(-1); }

  private:
    const std::thread::id m_testThread = std::this_thread::get_id();
    std::atomic<int> m_code{-1};
};
