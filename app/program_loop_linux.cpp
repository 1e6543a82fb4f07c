#include "app/program_loop_linux.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/capture_events.h"
#include "app/power_mode.h"
#include "app/shutdown.h"
#include "app/stop_sequence.h"
#include "device/device_status.h"
#include "device/opened_unit_linux.h"
#include "platform/debug_print.h"
#include "platform/unit_removal_linux.h"

namespace {

sigset_t StopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&signals, signal);
    }
    return signals;
}

// Watched by the optical unit's sg node and SCSI address; not at all where it has no sg node
// (the virtual projector's units).
std::unique_ptr<UnitRemovalMonitor> WatchOpticalUnit() {
    std::string sgNode;
    std::string hctl;
    if (!FindOpenedOpticalUnit(&sgNode, &hctl)) {
        return nullptr;
    }
    auto monitor = std::make_unique<UnitRemovalMonitor>(sgNode, hctl);
    if (!monitor->Open()) {
        DebugPrint("RunLoop: udev cannot be watched; a removal shows as a failed frame\n");
        return nullptr;
    }
    return monitor;
}

}  // namespace

void HoldStopSignals() {
    sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

int ProgramLoop::RunLoop() {
    // What the window's creation does.
    AttachProgramWindow(this);
    std::unique_ptr<UnitRemovalMonitor> removal = WatchOpticalUnit();
    RefreshPowerMode();
    int timer = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    const itimerspec everySecond = {{1, 0}, {1, 0}};
    timerfd_settime(timer, 0, &everySecond, nullptr);
    m_faultPollRunning.store(true);
    ApplySavedZoom();

    sigset_t signals = StopSignals();
    int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(m_duration.value_or(0));
    OnStart();
    LoopEnd end = LoopEnd::Quit;
    m_quit = false;
    while (!m_quit) {
        BeforeWait();
        if (m_quit) {
            break;
        }
        std::vector<pollfd> waits = {
            {signalFd, POLLIN, 0}, {timer, POLLIN, 0}, {removal ? removal->Fd() : -1, POLLIN, 0}};
        const size_t ownWaits = waits.size();
        for (int fd : ExtraFds()) {
            waits.push_back({fd, POLLIN, 0});
        }
        int timeout = -1;
        if (m_duration) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            timeout = static_cast<int>(std::max<int64_t>(left.count(), 0));
        }
        poll(waits.data(), waits.size(), timeout);
        signalfd_siginfo signal{};
        if ((waits[0].revents & POLLIN) && read(signalFd, &signal, sizeof signal) > 0) {
            DebugPrint("RunLoop: signal %u (%s), will stop vorn_kvusb!\n", signal.ssi_signo,
                       strsignal(static_cast<int>(signal.ssi_signo)));
            end = LoopEnd::Signal;
            m_quit = true;
        }
        uint64_t ticks = 0;
        if ((waits[1].revents & POLLIN) && read(timer, &ticks, sizeof ticks) > 0 &&
            m_faultPollRunning.load()) {
            PollFault();
        }
        if ((waits[2].revents & POLLIN) && removal->TakeRemoval()) {
            end = LoopEnd::UnitRemoved;
            RunStopSequence(StopReason::OpticalUnitRemoved, *this);
        }
        if (!m_quit && m_duration && std::chrono::steady_clock::now() >= deadline) {
            DebugPrint("RunLoop: the time is up, will stop vorn_kvusb!\n");
            end = LoopEnd::TimeUp;
            m_quit = true;
        }
        // A program's descriptors are seen to unless the run ends on this wake.
        if (!m_quit) {
            for (size_t i = ownWaits; i < waits.size(); ++i) {
                if (waits[i].revents != 0) {
                    OnReadable(waits[i].fd);
                }
            }
        }
    }
    close(signalFd);
    close(timer);
    OnEnd(end);
    return 0;
}

void ProgramLoop::PollFault() {
    const int status = ReadDevFaultStatus();
    if (!OnFaultPollTick()) {
        return;
    }
    std::optional<WarningKind> kind = m_notices.Poll(status);
    if (kind) {
        std::fprintf(stderr, "%s: warning: %s\n", m_programName, FaultNoticeText(*kind));
        OnFaultNotice(*kind);
    }
}

void ProgramLoop::StopFaultPoll() {
    m_faultPollRunning.store(false);
}

void ProgramLoop::PostQuit() {
    m_quit = true;
}
