#pragma once

#include <chrono>

// Keeps frames from coming faster than a rate. Frame starts are scheduled one period apart;
// a frame that starts late keeps the schedule (so sleep overshoot does not lower the rate),
// but one that starts more than a period late moves it (so a blocked callback is not made
// up for with a burst). Any window of T seconds then holds at most T x fps + 2 frames.
// Plain logic over time points the caller passes in, so tests can drive it.
class FramePacer {
  public:
    using Clock = std::chrono::steady_clock;

    explicit FramePacer(int fps);

    // When the next frame may start; the first one may start at once.
    Clock::time_point Due() const { return m_due; }
    // A frame started at `now` (never before Due()).
    void FrameStarted(Clock::time_point now);

  private:
    Clock::duration m_period;
    Clock::time_point m_due{};
    bool m_started = false;
};
