#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

// The decisions of desktop duplication that do not need the system, so that they are tested
// anywhere: which output to duplicate, how to turn a rotated output's image upright, and what
// to do after a failure.

// One output of one adapter, as DXGI lists them.
struct DuplicationOutput {
    uint32_t adapter = 0;
    uint32_t output = 0;
    uintptr_t monitor = 0;  // DXGI_OUTPUT_DESC.Monitor
};

// The output that shows the primary monitor; on a laptop with two GPUs it may be on either
// adapter, and duplication works only through the adapter that drives it. None when no
// output shows it.
std::optional<DuplicationOutput> ChooseOutput(const std::vector<DuplicationOutput>& outputs,
                                              uintptr_t primaryMonitor);

// DXGI_MODE_ROTATION.
enum class OutputRotation : uint32_t {
    Unspecified = 0,
    Identity = 1,
    Rotate90 = 2,
    Rotate180 = 3,
    Rotate270 = 4,
};

// Where the upright desktop's point (u, v) (0..1, from the top left) lies in the duplicated
// image, which is kept in the monitor's own scan-out orientation:
//   s = su * u + sv * v + s0,  t = tu * u + tv * v + t0
struct ImageMapping {
    float su, sv, s0;
    float tu, tv, t0;
};
ImageMapping UprightMapping(OutputRotation rotation);

// What a failed duplication call asks for.
enum class DuplicationFailure {
    AccessLost,  // a mode change or desktop switch: duplicate the output again
    Waiting,     // a secure desktop, another session, a desktop mode duplication does not
                 // serve, or no duplication free for now
    DeviceLost,  // removed or reset (driver update, GPU timeout), or the output is gone:
                 // rebuild the device and everything made on it
};
DuplicationFailure ClassifyDuplicationFailure(int32_t hr);

// Retries after a failure at a bounded rate, so that a lock screen that lasts an hour costs a
// few calls a second and no busy loop; and says which failures to trace, each HRESULT once
// until duplication works again.
class DuplicationRecovery {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr Clock::duration kRetryInterval = std::chrono::milliseconds(250);

    // A failure at `now`; true when it is one to trace.
    bool Failed(int32_t hr, Clock::time_point now);
    // Whether a new attempt may be made at `now`.
    bool MayRetry(Clock::time_point now) const;
    void Succeeded();

  private:
    std::vector<int32_t> m_traced;
    std::optional<Clock::time_point> m_lastFailure;
};
