#include "tests/support/trace_recorder.h"

TraceRecorder::TraceRecorder() {
    SetTraceSink(this);
}

TraceRecorder::~TraceRecorder() {
    SetTraceSink(nullptr);
}

void TraceRecorder::Write(const char* text) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_traces.emplace_back(text);
}

std::vector<std::string> TraceRecorder::Traces() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_traces;
}

std::string TraceRecorder::Text() const {
    std::string text;
    for (const std::string& trace : Traces()) {
        text += trace;
    }
    return text;
}

void TraceRecorder::Clear() {
    std::lock_guard<std::mutex> hold(m_lock);
    m_traces.clear();
}
