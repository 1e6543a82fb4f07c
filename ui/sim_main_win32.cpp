// vorn_kvusb_sim.exe: the tray program for the tests and the demo, which the environment may
// put in front of the virtual projector and a synthetic capture source, and whose traces it
// may also append to a file (where no debugger listens, as under Wine):
//
//   VORN_KVUSB_DEVICE       virtual[:options] (emulator/virtual_config.h); else the system's units
//   VORN_KVUSB_CAPTURE      the capture source (kvcap/capture_source_choice.h); else the desktop
//   VORN_KVUSB_TRACE_FILE   a file every trace is appended to, besides the debugger output
//
// It counts its own instances, so it runs beside the shipped program. A capture source that
// cannot start is shown in a message box, and the program ends with exit code 2.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "app/device_selection.h"
#include "emulator/device_request.h"
#include "emulator/virtual_config.h"
#include "kvcap/capture_source_check.h"
#include "kvcap/capture_source_choice.h"
#include "kvcap/kvcap_api.h"
#include "platform/debug_print.h"
#include "ui/tray_program.h"

namespace {

constexpr char kSimulatorFileName[] = "vorn_kvusb_sim.exe";
constexpr char kTraceFileVariable[] = "VORN_KVUSB_TRACE_FILE";
constexpr wchar_t kSimulatorTitle[] = L"vorn_kvusb_sim";
// The capture source named cannot start.
constexpr int kExitCaptureSource = 2;

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

// A source that cannot start would leave the projector dark with only a trace to say why:
// the user is told, and nothing is started.
bool CaptureSourceCanStart(const char* source) {
    std::string problem;
    if (CheckCaptureSource(source, &problem)) {
        return true;
    }
    DebugPrint("vorn_kvusb_sim: %s\n", problem.c_str());
    std::wstring text(static_cast<size_t>(
                          MultiByteToWideChar(CP_UTF8, 0, problem.c_str(), -1, nullptr, 0)),
                      L'\0');
    MultiByteToWideChar(CP_UTF8, 0, problem.c_str(), -1, text.data(),
                        static_cast<int>(text.size()));
    MessageBoxW(nullptr, text.c_str(), kSimulatorTitle, MB_OK | MB_ICONERROR);
    return false;
}

}  // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int) {
    HardenProcess();
    AppendTracesTo(std::getenv(kTraceFileVariable));
    const char* source = std::getenv(kCaptureSourceVariable);
    if (!CaptureSourceCanStart(source)) {
        return kExitCaptureSource;
    }
    KVCapSetSource(source);
    if (!SelectDeviceBackend(std::getenv(emu::kDeviceEnvVar), emu::MakeVirtualProjector)) {
        return 0;
    }
    return RunTrayProgram(hInstance, kSimulatorFileName);
}
