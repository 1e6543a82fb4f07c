// kvusbtool stream [--seconds N] [--settings FILE] [-v]: the engine's streaming run without a
// desktop, as kvusb-mirror runs it but with the synthetic test pattern as its source
// (VORN_KVUSB_CAPTURE, when it is unset) and the recorded desktop. Frames go raw or compressed
// as the link asks to the first projector found, the fault status is polled once a second, and
// the run ends on SIGINT or SIGTERM, when the time is up, when udev reports the optical unit
// removed, or when a frame finds the projector gone: kvusb-mirror's loop, which also reads the
// power mode and applies a saved zoom at the start. Every end saves the display and zoom modes
// in FILE (kvusb-mirror's settings file by default).
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "app/device_selection.h"
#include "app/instance_count.h"
#include "app/program.h"
#include "app/program_loop_linux.h"
#include "emulator/device_request.h"
#include "emulator/virtual_config.h"
#include "kvcap/capture_source_choice.h"
#include "kvcap/kvcap_api.h"
#include "platform/debug_print.h"
#include "platform/process_exit.h"
#include "platform/settings_file.h"
#include "tools/tool_command.h"

namespace {

constexpr const char* kCommand = "stream";
constexpr const char* kUsage = "usage: kvusbtool stream [--seconds N] [--settings FILE] [-v]";

// The Linux programs' loop for a run without a desktop, which says how it ended; the end of
// the process the engine may choose; the traces, shown with -v.
class StreamRun final : public ProgramLoop, public ExitHandler, public TraceSink {
  public:
    StreamRun(std::optional<double> seconds, bool verbose)
        : ProgramLoop("kvusbtool stream", seconds), m_verbose(verbose) {}

    // The engine ends the process itself when the projector is lost or the search finds none.
    void BeforeExit(RunEnd reason) override {
        std::fprintf(stderr, "kvusbtool %s: %s\n", kCommand,
                     reason == RunEnd::NoProjector
                         ? "no projector with a working USB link found"
                         : "the engine ended the run (the projector is gone)");
    }

    void Write(const char* text) override {
        if (m_verbose) {
            std::fputs(text, stderr);
        }
    }

  private:
    void OnEnd(LoopEnd end) override {
        std::fprintf(stderr, "kvusbtool %s: %s\n", kCommand,
                     end == LoopEnd::UnitRemoved ? "the optical unit was removed"
                     : end == LoopEnd::TimeUp    ? "the time is up"
                                                 : "stopped");
    }

    const bool m_verbose;
};

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
    HoldStopSignals();
    const char* source = std::getenv(kCaptureSourceVariable);
    KVCapSetSource(source != nullptr ? source : "synthetic");

    // All live to the end of the process: a shutdown may run on the sender thread while the
    // process exits.
    UseSettingsFile(settingsPath);
    auto* run = new StreamRun(duration, verbose);
    SetTraceSink(run);
    SetExitHandler(run);
    if (!SelectProjector(request.c_str(), emu::MakeVirtualProjector, "kvusbtool", &error)) {
        return ToolError(kCommand, kToolFailed, error);
    }
    // Under the Windows program's name, which no process here has: kvusbtool's other commands
    // may run beside a stream, as they did before it.
    RunProgram(PROGRAM_FILE_NAME, *run);
    SetExitHandler(nullptr);
    return 0;
}
