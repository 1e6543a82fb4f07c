#include "tools/trace_keeper.h"

TraceKeeper::TraceKeeper() {
    SetTraceSink(this);
}

TraceKeeper::~TraceKeeper() {
    SetTraceSink(nullptr);
}

void TraceKeeper::Write(const char* text) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_text = text;
}

std::string TraceKeeper::Last() const {
    std::lock_guard<std::mutex> hold(m_lock);
    const size_t first = m_text.find_first_not_of(" \n");
    const size_t last = m_text.find_last_not_of(" \n");
    return first == std::string::npos ? "" : m_text.substr(first, last - first + 1);
}
