#pragma once

#include <mutex>
#include <string>

#include "platform/debug_print.h"

// The traces of the layers below are for the program's log, not for the tool's user; the last
// one explains a failure. Kept while this lives, from whichever thread traces.
class TraceKeeper final : public TraceSink {
  public:
    TraceKeeper();
    ~TraceKeeper();  // the platform output again
    TraceKeeper(const TraceKeeper&) = delete;
    TraceKeeper& operator=(const TraceKeeper&) = delete;

    void Write(const char* text) override;
    // The last trace without the blanks and line break around it.
    std::string Last() const;

  private:
    mutable std::mutex m_lock;
    std::string m_text;
};
