// The soak's hands inside the Wine prefix: runs the program one run after another and sends it
// what Windows would, on commands read one a line from standard input, each answered with one
// line on standard output after "soak: " (Wine may print lines of its own there):
//   start OPTIONS        a run with the virtual projector's OPTIONS, mirror mode, original zoom
//                        -> "started" once its first frames are in, or "failed"
//   menu ITEM            the menu item chosen: mirror-original, mirror-zoom1, 800x600-original,
//                        800x600-zoom1, 800x600-zoom2 -> "ok" or "failed"
//   lock, unlock, suspend, close   the session's and the system's messages -> "ok" or "failed"
//   exit MS              -> "exit CODE" once the run has ended, or "exit running"
//   screen               -> "WIDTHxHEIGHT" of the desktop
//   warnings             -> "warnings N": the fault warning boxes open
//   close-warnings       closes them as the user would -> "closed N"
//   settings             -> "settings DISPMODE ZOOMMODE" as saved ("-" for none)
//   kill                 ends a run still going at once -> "ok"
//   pattern              the synthetic test pattern over the whole desktop, a new frame 30 times
//                        a second, for a program that captures the desktop -> "ok"
//   still                stops or starts the pattern's changes -> "ok"
//   stamp on|off         the pattern with its index stamp, or without (frames the projector
//                        then leaves unchecked) -> "ok"
//   removed              the first projector's optical unit announced gone, as Windows
//                        broadcasts it -> "ok"
// Started by tests/e2e/run_e2e.sh in place of the end-to-end tests (E2E_PROGRAM, E2E_WORK).
#include <windows.h>

#include <wtsapi32.h>

#include <algorithm>
#include <atomic>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "kvcap/synthetic_pattern.h"
#include "program_run_win32.h"
#include "resources/resource.h"
#include "tests/below/wine/desktop_picture_win32.h"
#include "tests/below/wine/unit_paths_win32.h"

namespace {

constexpr wchar_t kDialogClass[] = L"#32770";
constexpr wchar_t kWarningTitle[] = L"Tarq Projira";

const std::map<std::string, WPARAM> kMenuItems = {{"mirror-original", IDM_MIRROR_ORIGINAL},
                                                  {"mirror-zoom1", IDM_MIRROR_ZOOM1},
                                                  {"800x600-original", IDM_800X600_ORIGINAL},
                                                  {"800x600-zoom1", IDM_800X600_ZOOM1},
                                                  {"800x600-zoom2", IDM_800X600_ZOOM2}};

struct Message {
    UINT message;
    WPARAM wParam;
};
const std::map<std::string, Message> kMessages = {
    {"lock", {WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK}},
    {"unlock", {WM_WTSSESSION_CHANGE, WTS_SESSION_UNLOCK}},
    {"suspend", {WM_POWERBROADCAST, PBT_APMSUSPEND}},
    {"close", {WM_CLOSE, 0}}};

std::string Setting(const wchar_t* name) {
    std::optional<DWORD> value = ReadSetting(name);
    return value ? std::to_string(*value) : "-";
}

// The pattern on the desktop, as kv_x11_test_helper shows it on an X screen.
class MovingPattern {
  public:
    MovingPattern()
        : frame_(size_t{kProjectorWidth} * kProjectorHeight * 3),
          window_(Draw(0)),
          thread_([this] { Run(); }) {}
    ~MovingPattern() {
        stop_ = true;
        thread_.join();
    }
    void ToggleStill() { still_ = !still_; }
    void Stamp(bool on) { stamped_ = on; }

  private:
    const std::vector<uint8_t>& Draw(uint32_t index) {
        DrawSyntheticPattern(index, kProjectorWidth, kProjectorHeight, frame_.data());
        if (!stamped_) {
            std::fill_n(frame_.begin(), kPatternStampBytes, 0);  // no index and its complement
        }
        return frame_;
    }
    void Run() {
        for (uint32_t index = 1; !stop_; Sleep(33)) {
            if (!still_) {
                window_.Show(Draw(index++));
            }
        }
    }

    std::vector<uint8_t> frame_;
    std::atomic<bool> still_{false};
    std::atomic<bool> stamped_{true};
    std::atomic<bool> stop_{false};
    PictureWindow window_;  // after what Draw reads, before the thread that draws
    std::thread thread_;
};

}  // namespace

int main() {
    std::unique_ptr<MovingPattern> pattern;
    std::unique_ptr<ProgramRun> run;
    int runs = 0;
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string command;
        words >> command;
        std::string answer;
        if (command == "start") {
            RunOptions options;
            words >> options.device;
            options.dispMode = 0;
            options.zoomMode = 0;
            run.reset();  // a run still going is ended first
            run = std::make_unique<ProgramRun>("run-" + std::to_string(++runs));
            answer = run->Start(options) ? "started" : "failed";
        } else if (command == "menu" && run) {
            std::string item;
            words >> item;
            auto found = kMenuItems.find(item);
            answer =
                found != kMenuItems.end() && run->Post(WM_COMMAND, found->second) ? "ok" : "failed";
        } else if (kMessages.count(command) != 0 && run) {
            const Message& message = kMessages.at(command);
            answer = run->Post(message.message, message.wParam) ? "ok" : "failed";
        } else if (command == "exit" && run) {
            DWORD ms = 0;
            words >> ms;
            DWORD code = run->WaitForExit(ms);
            answer = code == STILL_ACTIVE ? "exit running" : "exit " + std::to_string(code);
        } else if (command == "screen") {
            answer = std::to_string(GetSystemMetrics(SM_CXSCREEN)) + "x" +
                     std::to_string(GetSystemMetrics(SM_CYSCREEN));
        } else if (command == "warnings" && run) {
            answer = "warnings " + std::to_string(run->Windows(kDialogClass, kWarningTitle).size());
        } else if (command == "close-warnings" && run) {
            size_t closed = 0;
            for (HWND box : run->Windows(kDialogClass, kWarningTitle)) {
                closed += PostMessageW(box, WM_COMMAND, IDCANCEL, 0) ? 1 : 0;
            }
            answer = "closed " + std::to_string(closed);
        } else if (command == "kill") {
            run.reset();
            answer = "ok";
        } else if (command == "pattern") {
            pattern = std::make_unique<MovingPattern>();
            answer = "ok";
        } else if (command == "still" && pattern) {
            pattern->ToggleStill();
            answer = "ok";
        } else if (command == "stamp" && pattern) {
            std::string state;
            words >> state;
            pattern->Stamp(state == "on");
            answer = "ok";
        } else if (command == "removed" && run) {
            run->SendDeviceRemoval(
                std::wstring(kBelowOpticalPath.begin(), kBelowOpticalPath.end()));
            answer = "ok";
        } else if (command == "settings") {
            answer = "settings " + Setting(L"DispMode") + " " + Setting(L"ZoomMode");
        } else {
            answer = "unknown " + command;
        }
        std::cout << "soak: " << answer << std::endl;
    }
    return 0;
}
