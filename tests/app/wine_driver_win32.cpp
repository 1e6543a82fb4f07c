// Drives the real vorn_kvusb.exe under Wine against the virtual projector and the synthetic
// capture source (both selected by the environment): starts it as on a first run, checks
// that a second instance ends at once, lets frames stream, closes the window with WM_CLOSE,
// then checks the exit code, the saved settings, the desktop size and the projector's report.
//
//   app_wine_driver <vorn_kvusb.exe> <projector report file>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {
constexpr wchar_t kSettingsKey[] = L"Software\\K7Q0KVUSB";
constexpr int kFramesWanted = 10;
constexpr DWORD kStartTimeoutMs = 60000;

int g_failures = 0;

void Check(bool ok, const char* what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    g_failures += ok ? 0 : 1;
}

struct ProjectorReport {
    int frames = 0;
    int rejected = -1;
    long protocolErrors = -1;
};

ProjectorReport ReadReport(const char* path) {
    ProjectorReport report;
    FILE* file = std::fopen(path, "r");
    if (file == nullptr) {
        return report;
    }
    char line[1024];
    while (std::fgets(line, sizeof line, file) != nullptr) {
        int bank0 = 0, bank1 = 0, abandoned = 0;
        if (std::sscanf(line, "protocol_errors %ld", &report.protocolErrors) == 1) {
            continue;
        }
        const char* frames = std::strstr(line, "frames_bank0=");
        if (std::strncmp(line, "projector 0 ", 12) == 0 && frames != nullptr &&
            std::sscanf(frames,
                        "frames_bank0=%d frames_bank1=%d frames_abandoned=%d frames_rejected=%d",
                        &bank0, &bank1, &abandoned, &report.rejected) == 4) {
            report.frames = bank0 + bank1;
        }
    }
    std::fclose(file);
    return report;
}

bool Launch(const wchar_t* program, PROCESS_INFORMATION* process) {
    std::wstring commandLine = L"\"" + std::wstring(program) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    return CreateProcessW(program, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, process) != 0;
}

DWORD WaitForExitCode(const PROCESS_INFORMATION& process, DWORD timeoutMs) {
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &code);
    }
    return code;
}

bool ReadSetting(const wchar_t* name, DWORD* value) {
    DWORD size = sizeof *value;
    return RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, name, RRF_RT_REG_DWORD, nullptr, value,
                        &size) == ERROR_SUCCESS;
}

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
}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::printf("usage: app_wine_driver <vorn_kvusb.exe> <report file>\n");
        return 2;
    }
    char reportPath[MAX_PATH];
    WideCharToMultiByte(CP_UTF8, 0, argv[2], -1, reportPath, sizeof reportPath, nullptr, nullptr);
    std::remove(reportPath);

    // A first run: no saved settings.
    RegDeleteKeyW(HKEY_CURRENT_USER, kSettingsKey);
    int startWidth = GetSystemMetrics(SM_CXSCREEN);
    int startHeight = GetSystemMetrics(SM_CYSCREEN);
    std::printf("desktop at start: %d x %d\n", startWidth, startHeight);

    PROCESS_INFORMATION first{};
    Check(Launch(argv[1], &first), "vorn_kvusb.exe starts");
    HWND window = nullptr;
    Check(WaitFor([&] { return (window = FindWindowW(L"VORN_KVUSB", nullptr)) != nullptr; },
                  kStartTimeoutMs),
          "its hidden window \"VORN_KVUSB\" appears");
    Check(WaitFor([&] { return ReadReport(reportPath).frames >= kFramesWanted; }, kStartTimeoutMs),
          "frames reach the projector");
    std::printf("desktop while streaming: %d x %d\n", GetSystemMetrics(SM_CXSCREEN),
                GetSystemMetrics(SM_CYSCREEN));

    PROCESS_INFORMATION second{};
    Check(Launch(argv[1], &second) && WaitForExitCode(second, 30000) == 0,
          "a second instance ends at once with exit code 0");
    Check(WaitForSingleObject(first.hProcess, 0) == WAIT_TIMEOUT, "the first instance runs on");

    PostMessageW(window, WM_CLOSE, 0, 0);
    Check(WaitForExitCode(first, 30000) == 0, "WM_CLOSE ends it with exit code 0");

    DWORD dispMode = 99, zoomMode = 99;
    Check(ReadSetting(L"DispMode", &dispMode) && dispMode == 1, "DispMode saved as 1");
    Check(ReadSetting(L"ZoomMode", &zoomMode) && zoomMode == 0, "ZoomMode saved as 0");
    Check(
        GetSystemMetrics(SM_CXSCREEN) == startWidth && GetSystemMetrics(SM_CYSCREEN) == startHeight,
        "the desktop has its start-up size again");
    ProjectorReport report = ReadReport(reportPath);
    std::printf("frames shown: %d, rejected %d, protocol errors %ld\n", report.frames,
                report.rejected, report.protocolErrors);
    Check(report.rejected == 0 && report.protocolErrors == 0,
          "the projector decoded every frame without a protocol error");
    std::printf("%d passed, %d failed\n", 10 - g_failures, g_failures);
    return g_failures == 0 ? 0 : 1;
}
