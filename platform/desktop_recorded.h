#pragma once

#include <mutex>
#include <utility>
#include <vector>

#include "platform/desktop.h"

// A desktop that only records: its size, and every change asked of it. The platform desktop
// outside Windows, and the desktop of tests, which can also make changes fail.
class RecordedDesktop : public Desktop {
  public:
    RecordedDesktop(int width, int height) : m_width(width), m_height(height) {}

    int Width() override;
    int Height() override;
    bool ChangeSize(int width, int height) override;

    void FailChanges(bool fail);
    std::vector<std::pair<int, int>> Changes() const;  // every size asked for, in order

  private:
    mutable std::mutex m_lock;
    int m_width;
    int m_height;
    bool m_failChanges = false;
    std::vector<std::pair<int, int>> m_changes;
};
