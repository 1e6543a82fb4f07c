// vorn_kvusb_sim.exe: the tray program for the tests and the demo, which the environment may
// put in front of the virtual projector and a synthetic capture source, and whose traces it
// may also append to a file (where no debugger listens, as under Wine):
//
//   VORN_KVUSB_DEVICE       virtual[:options] (emulator/virtual_config.h); else the system's units
//   VORN_KVUSB_CAPTURE      the capture source (kvcap/capture_source_choice.h); else the desktop
//   VORN_KVUSB_TRACE_FILE   a file every trace is appended to, besides the debugger output
//
// It counts its own instances, so it runs beside the shipped program.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "app/device_selection.h"
#include "emulator/device_request.h"
#include "emulator/virtual_config.h"
#include "kvcap/capture_source_choice.h"
#include "kvcap/kvcap_api.h"
#include "platform/debug_print.h"
#include "ui/tray_program.h"

namespace {

constexpr char kSimulatorFileName[] = "vorn_kvusb_sim.exe";
constexpr char kTraceFileVariable[] = "VORN_KVUSB_TRACE_FILE";

// Every trace to the debugger output and appended to the file.
class TraceFile final : public TraceSink {
  public:
    explicit TraceFile(HANDLE file) : m_file(file) {}

    void Write(const char* text) override {
        PlatformTraceOutput(text);
        std::lock_guard<std::mutex> hold(m_lock);
        DWORD written = 0;
        WriteFile(m_file, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
    }

  private:
    const HANDLE m_file;
    std::mutex m_lock;
};

void AppendTracesTo(const char* path) {
    if (path == nullptr || *path == '\0') {
        return;
    }
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        // Never destroyed: threads may trace while the process exits.
        SetTraceSink(new TraceFile(file));
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int) {
    AppendTracesTo(std::getenv(kTraceFileVariable));
    KVCapSetSource(std::getenv(kCaptureSourceVariable));
    if (!SelectDeviceBackend(std::getenv(emu::kDeviceEnvVar), emu::MakeVirtualProjector)) {
        return 0;
    }
    return RunTrayProgram(hInstance, kSimulatorFileName);
}
