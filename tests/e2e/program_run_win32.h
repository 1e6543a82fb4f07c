#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

// One run of the real program, as a user's machine would have it, with a work folder of its
// own for its traces and the projector's report and frame. The projector is attached in one
// of two ways, chosen for the whole session by the runner:
//  - in the program's process: the simulator build (vorn_kvusb_sim.exe) takes the virtual
//    projector and the synthetic capture source from its environment and appends its traces
//    to a file (the shipped build must not honour that environment);
//  - below it (E2E_ROUTE=below): the shipped vorn_kvusb.exe runs unchanged, its own SetupAPI,
//    CreateFileW and DeviceIoControl reaching the virtual projector at the sg nodes of the
//    machine Wine runs on; it captures the desktop, and its traces are read as its debugger
//    reads them.
//
// The runner script gives the paths: E2E_PROGRAM (the program), E2E_WORK (a folder for the
// runs) and E2E_SHOTS (where screenshots are asked for and kept); below, also E2E_WORK_UNIX
// (the runs' folder as the projector sees it) and E2E_PROJECTOR_FILE (the file the projector
// takes its options from when the program first talks to it).

struct RunOptions {
    std::string device = "link=2.0";    // virtual projector options
    std::string capture = "synthetic";  // the capture source, in process
    // Saved settings before the start; without them the key is deleted (a first run).
    std::optional<DWORD> dispMode;
    std::optional<DWORD> zoomMode;
    // The size to go back to that a run left behind ("RestoreWidth", "RestoreHeight").
    std::optional<SIZE> leftBehind;
};

struct ProjectorReport {
    int frames = 0;  // completed, both banks
    int rejected = -1;
    long protocolErrors = -1;
    int powerMode = -1;
};

class ProgramRun {
  public:
    explicit ProgramRun(const std::string& name);
    ~ProgramRun();  // a run still going is ended
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    // Launches the program and waits for its window and `frames` frames on the projector.
    bool Start(const RunOptions& options, int frames = 3);
    // Launches one more instance with the same environment; its exit code, or STILL_ACTIVE.
    DWORD RunAnotherInstance();
    // Launches the program with its saved settings and returns at once.
    bool Launch(const RunOptions& options);
    // Waits for the program's hidden window.
    bool WaitForWindow(DWORD timeoutMs);
    // Launches the program and waits for it to end by itself; its exit code, or STILL_ACTIVE.
    DWORD RunToEnd(const RunOptions& options, DWORD timeoutMs = 60000);
    // Whether the run's folder holds the file (trace.txt, report.txt, frame.ppm).
    bool WorkFileExists(const std::string& name) const;

    HWND Window() const { return window_; }

    std::vector<std::string> Traces() const;
    int CountTrace(const std::string& line) const;
    // Waits until `line` was traced `count` times.
    bool WaitForTrace(const std::string& line, int count = 1, DWORD timeoutMs = 20000) const;
    // True when the lines were traced in this order, each after the one before.
    bool TracedInOrder(const std::vector<std::string>& lines) const;

    ProjectorReport Report() const;
    bool WaitForFrames(int frames, DWORD timeoutMs = 20000) const;
    // Whether the last frame the projector wrote out (at most a second old) is all black;
    // false too when there is none yet.
    bool LastFrameBlack() const;
    // That frame's red, green and blue bytes, row after row; empty when there is none yet.
    std::string LastFramePixels() const;

    bool Post(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    // Sends as the system does and waits up to 10 s for the answer: the answer, or none when
    // the program ended (or hung) before it answered.
    std::optional<LRESULT> Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    // The removal of a device interface of that name (or a broadcast of another kind), sent
    // as the system does.
    void SendDeviceRemoval(const std::wstring& name, DWORD deviceType = 5) const;
    // The request to remove the device behind a handle ("Eject"), sent as the system does;
    // the answer, or none when the program did not give one.
    std::optional<LRESULT> SendQueryRemove(HANDLE handle) const;

    // Exit code, or STILL_ACTIVE when it has not ended within the time.
    DWORD WaitForExit(DWORD timeoutMs = 30000) const;

    // The program's visible top-level windows of a class (and title, when given).
    std::vector<HWND> Windows(const wchar_t* className, const wchar_t* title = nullptr) const;
    bool WaitForWindowCount(const wchar_t* className, const wchar_t* title, size_t count,
                            DWORD timeoutMs = 20000) const;

    // Whether the shell holds the program's icon now.
    bool TrayIconPresent() const;

  private:
    std::wstring Environment(const RunOptions& options) const;
    bool Launch(PROCESS_INFORMATION* process, DWORD flags = 0) const;
    // Launches the program as its debugger, which appends what it traces to the trace file
    // until it ends.
    bool LaunchDebugged();

    const bool below_;
    std::string name_;
    std::string work_;  // this run's folder
    std::wstring environment_;
    PROCESS_INFORMATION process_{};
    std::thread debugger_;
    HWND window_ = nullptr;
};

// True when the session's projector is below the program.
bool ProjectorBelow();

// Below: the projector's options for the next program that talks to it; its report and last
// frame go to the folder of the run `name`, named as the machine below Wine names it.
void WriteProjectorOptions(const std::string& name, const std::string& device);

// The settings the program saved.
std::optional<DWORD> ReadSetting(const wchar_t* name);
void WriteSetting(const wchar_t* name, DWORD value);

// Asks the runner for a screenshot of the whole display, kept as E2E_SHOTS\<name>.png.
bool Screenshot(const std::string& name);

// Polls `condition` every 50 ms.
template <typename Condition>
bool WaitFor(Condition condition, DWORD timeoutMs) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
        if (condition()) {
            return true;
        }
        Sleep(50);
    }
    return condition();
}
