// kvusbtool stream [--seconds N] [--settings FILE] [-v]: the engine's streaming run without a
// desktop, as kvusb-mirror runs it but with the synthetic test pattern as its source
// (VORN_KVUSB_CAPTURE, when it is unset) and the recorded desktop. Frames go raw or compressed
// as the link asks to the first projector found, the fault status is polled once a second, and
// the run ends on SIGINT or SIGTERM, when the time is up, when udev reports the optical unit
// removed, or when a frame finds the projector gone. Every end saves the display and zoom modes
// in FILE (kvusb-mirror's settings file by default).
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <optional>
#include <string>

#include "app/device_selection.h"
#include "app/instance_count.h"
#include "app/program.h"
#include "app/program_window.h"
#include "app/shutdown.h"
#include "device/device_discovery.h"
#include "device/device_status.h"
#include "device/opened_unit_linux.h"
#include "device/unit_access.h"
#include "emulator/device_request.h"
#include "emulator/virtual_config.h"
#include "kvcap/capture_source_choice.h"
#include "kvcap/kvcap_api.h"
#include "platform/debug_print.h"
#include "platform/process_exit.h"
#include "platform/settings_file.h"
#include "platform/unit_removal_linux.h"
#include "tools/tool_command.h"

namespace {

constexpr const char* kCommand = "stream";
constexpr const char* kUsage = "usage: kvusbtool stream [--seconds N] [--settings FILE] [-v]";

sigset_t StopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&signals, signal);
    }
    return signals;
}

std::unique_ptr<UnitRemovalMonitor> WatchOpticalUnit() {
    std::string sgNode;
    std::string hctl;
    if (!FindOpenedOpticalUnit(&sgNode, &hctl)) {
        return nullptr;
    }
    auto monitor = std::make_unique<UnitRemovalMonitor>(sgNode, hctl);
    return monitor->Open() ? std::move(monitor) : nullptr;
}

// The program's window for a run without a desktop: a loop of signals, the time, the fault
// poll and udev; the end of the process the engine may choose; the traces, shown with -v.
class StreamRun final : public ProgramWindow, public ExitHandler, public TraceSink {
  public:
    StreamRun(std::optional<double> seconds, bool verbose)
        : m_seconds(seconds), m_verbose(verbose) {}

    int RunLoop() override;
    void StopFaultPoll() override { m_faultPollRunning.store(false); }
    // There is no tray icon and no menu.
    void ReleaseTrayIcon() override {}
    bool ContextMenuOpen() override { return false; }
    void DestroyContextMenu() override {}
    void PostQuit() override { m_quit = true; }

    // The engine ends the process itself when the projector is lost or the search finds none.
    void BeforeExit(int code) override {
        std::fprintf(stderr, "kvusbtool %s: %s\n", kCommand,
                     code == 1 ? "no projector with a working USB link found"
                               : "the engine ended the run (the projector is gone)");
    }

    void Write(const char* text) override {
        if (m_verbose) {
            std::fputs(text, stderr);
        }
    }

  private:
    const std::optional<double> m_seconds;
    const bool m_verbose;
    // Cleared by the shutdowns, maybe on the sender thread.
    std::atomic<bool> m_faultPollRunning{false};
    bool m_quit = false;  // the loop's own thread only
};

int StreamRun::RunLoop() {
    AttachProgramWindow(this);
    std::unique_ptr<UnitRemovalMonitor> removal = WatchOpticalUnit();
    sigset_t stops = StopSignals();
    int signals = signalfd(-1, &stops, SFD_CLOEXEC);
    int timer = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    const itimerspec everySecond = {{1, 0}, {1, 0}};
    timerfd_settime(timer, 0, &everySecond, nullptr);
    m_faultPollRunning.store(true);
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(m_seconds.value_or(0));
    const char* end = nullptr;
    m_quit = false;
    while (end == nullptr && !m_quit) {
        pollfd waits[] = {
            {signals, POLLIN, 0}, {timer, POLLIN, 0}, {removal ? removal->Fd() : -1, POLLIN, 0}};
        int timeout = -1;
        if (m_seconds) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            timeout = static_cast<int>(std::max<int64_t>(left.count(), 0));
        }
        poll(waits, std::size(waits), timeout);
        uint64_t ticks = 0;
        if ((waits[1].revents & POLLIN) && read(timer, &ticks, sizeof ticks) > 0 &&
            m_faultPollRunning.load()) {
            int fault = ReadDevFaultStatus();
            if (fault == DEV_FAULT_OVERHEAT || fault == DEV_FAULT_FAN_FAILURE) {
                std::fprintf(stderr, "kvusbtool %s: the projector reports %s\n", kCommand,
                             fault == DEV_FAULT_OVERHEAT ? "overheating" : "a fan failure");
            }
        }
        if (waits[0].revents & POLLIN) {
            end = "stopped";
        } else if ((waits[2].revents & POLLIN) && removal->TakeRemoval()) {
            end = "the optical unit was removed";
        } else if (m_seconds && std::chrono::steady_clock::now() >= deadline) {
            end = "the time is up";
        }
    }
    std::fprintf(stderr, "kvusbtool %s: %s\n", kCommand, end != nullptr ? end : "stopped");
    close(signals);
    close(timer);
    return 0;
}

}  // namespace

int RunStreamCommand(int argc, char** argv) {
    std::string seconds;
    std::string settingsPath;
    bool verbose = false;
    std::string error;
    if (!ParseToolOptions(argc, argv, 1,
                          {{"--seconds", nullptr, 0, 0, nullptr, &seconds},
                           {"--settings", nullptr, 0, 0, nullptr, &settingsPath},
                           {"-v", nullptr, 0, 0, &verbose}},
                          &error)) {
        return ToolError(kCommand, kToolMisused, error + "; " + kUsage);
    }
    std::optional<double> duration;
    if (!seconds.empty()) {
        char* rest = nullptr;
        double value = std::strtod(seconds.c_str(), &rest);
        if (*rest != '\0' || !(value > 0)) {
            return ToolError(kCommand, kToolMisused, "--seconds takes a positive number");
        }
        duration = value;
    }
    if (settingsPath.empty()) {
        settingsPath = DefaultSettingsFilePath();
    }
    std::string request;
    if (!emu::ComposeDeviceRequest({"", std::getenv(emu::kDeviceEnvVar), false, ""}, &request,
                                   &error)) {
        return ToolError(kCommand, kToolMisused, error);
    }
    sigset_t stops = StopSignals();
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);  // before any thread, for the loop to take
    const char* source = std::getenv(kCaptureSourceVariable);
    KVCapSetSource(source != nullptr ? source : "synthetic");

    // All live to the end of the process: a shutdown may run on the sender thread while the
    // process exits.
    auto* store = new FileSettingsStore(settingsPath);
    store->Load();
    g_pSettingsStore = store;
    auto* run = new StreamRun(duration, verbose);
    SetTraceSink(run);
    SetExitHandler(run);
    if (!SelectDeviceBackend(request.c_str(), emu::MakeVirtualProjector) ||
        !CheckProjectorUnits(g_pDeviceBackend, "kvusbtool", &error)) {
        return ToolError(kCommand, kToolFailed, error.empty() ? "bad VORN_KVUSB_DEVICE" : error);
    }
    // Under the Windows program's name, which no process here has: kvusbtool's other commands
    // may run beside a stream, as they did before it.
    RunProgram(PROGRAM_FILE_NAME, *run);
    SetExitHandler(nullptr);
    return 0;
}
