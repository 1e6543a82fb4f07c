#include "platform/desktop_recorded.h"

int RecordedDesktop::Width() {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_width;
}

int RecordedDesktop::Height() {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_height;
}

bool RecordedDesktop::ChangeSize(int width, int height) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_changes.emplace_back(width, height);
    if (m_failChanges) {
        return false;
    }
    m_width = width;
    m_height = height;
    return true;
}

void RecordedDesktop::FailChanges(bool fail) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_failChanges = fail;
}

std::vector<std::pair<int, int>> RecordedDesktop::Changes() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_changes;
}
