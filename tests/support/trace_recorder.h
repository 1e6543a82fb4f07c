#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/debug_print.h"

// The traces a test makes, kept for it to read: installed for as long as it lives.
class TraceRecorder final : public TraceSink {
  public:
    TraceRecorder();
    ~TraceRecorder();  // the platform output again
    TraceRecorder(const TraceRecorder&) = delete;
    TraceRecorder& operator=(const TraceRecorder&) = delete;

    void Write(const char* text) override;

    // One entry per trace, in order.
    std::vector<std::string> Traces() const;
    // All of them as one text.
    std::string Text() const;
    void Clear();

  private:
    mutable std::mutex m_lock;
    std::vector<std::string> m_traces;
};
