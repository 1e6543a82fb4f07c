#include "kvcap/frame_pacer.h"

FramePacer::FramePacer(int fps)
    : m_period(std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(1)) / fps) {}

void FramePacer::FrameStarted(Clock::time_point now) {
    bool onSchedule = m_started && now - m_due < m_period;
    m_due = (onSchedule ? m_due : now) + m_period;
    m_started = true;
}
