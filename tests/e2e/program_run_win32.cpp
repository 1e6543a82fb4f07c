#include "program_run_win32.h"

#include <dbt.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <future>
#include <sstream>

namespace {

constexpr wchar_t kSettingsKey[] = L"Software\\K7Q0KVUSB";
constexpr DWORD kStartTimeoutMs = 60000;
constexpr DWORD kLongestTrace = 1024;  // the program's trace buffer

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::wstring Wide(const std::string& text) {
    std::wstring out(text.size(), L'\0');
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      out.data(), static_cast<int>(out.size()));
    out.resize(static_cast<size_t>(n > 0 ? n : 0));
    return out;
}

std::string ReadFileText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

struct WindowSearch {
    DWORD pid;
    const wchar_t* className;
    const wchar_t* title;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM parameter) {
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    wchar_t className[64] = {};
    wchar_t title[128] = {};
    GetClassNameW(hwnd, className, 64);
    GetWindowTextW(hwnd, title, 128);
    if (pid == search->pid && IsWindowVisible(hwnd) &&
        std::wcscmp(className, search->className) == 0 &&
        (search->title == nullptr || std::wcscmp(title, search->title) == 0)) {
        search->found.push_back(hwnd);
    }
    return TRUE;
}

// What a debug event says the debugger does next: the program's own exceptions go back to
// it, as they would without a debugger.
DWORD Continuation(const DEBUG_EVENT& event) {
    return event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT &&
                   event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT
               ? DBG_EXCEPTION_NOT_HANDLED
               : DBG_CONTINUE;
}

// The text of an OUTPUT_DEBUG_STRING_EVENT: ANSI, as the program traces through
// OutputDebugStringA.
std::string DebugString(HANDLE process, const OUTPUT_DEBUG_STRING_INFO& info) {
    std::string text(std::min<DWORD>(info.nDebugStringLength, kLongestTrace), '\0');
    SIZE_T read = 0;
    ReadProcessMemory(process, info.lpDebugStringData, text.data(), text.size(), &read);
    text.resize(std::strlen(text.c_str()));
    return text;
}

}  // namespace

void WriteProjectorOptions(const std::string& name, const std::string& device) {
    const std::string unixWork = Variable("E2E_WORK_UNIX") + "/" + name;
    std::ofstream(Variable("E2E_PROJECTOR_FILE"), std::ios::binary | std::ios::trunc)
        << device << ",report=" << unixWork << "/report.txt,out=" << unixWork << "/frame.ppm\n";
}

bool ProjectorBelow() {
    return Variable("E2E_ROUTE") == "below";
}

ProgramRun::ProgramRun(const std::string& name)
    : below_(ProjectorBelow()), name_(name), work_(Variable("E2E_WORK") + "\\" + name) {
    CreateDirectoryW(Wide(work_).c_str(), nullptr);
    for (const char* file : {"trace.txt", "report.txt", "frame.ppm"}) {
        DeleteFileW(Wide(work_ + "\\" + file).c_str());
    }
}

ProgramRun::~ProgramRun() {
    if (process_.hProcess != nullptr) {
        if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process_.hProcess, 99);
            WaitForSingleObject(process_.hProcess, 10000);
        }
        CloseHandle(process_.hProcess);
        CloseHandle(process_.hThread);
    }
    if (debugger_.joinable()) {
        debugger_.join();
    }
}

std::wstring ProgramRun::Environment(const RunOptions& options) const {
    std::vector<std::wstring> variables;
    for (const wchar_t* entry = GetEnvironmentStringsW(); *entry != L'\0';
         entry += std::wcslen(entry) + 1) {
        std::wstring text(entry);
        if (text.rfind(L"VORN_KVUSB_", 0) != 0) {
            variables.push_back(text);
        }
    }
    if (!below_) {
        variables.push_back(Wide("VORN_KVUSB_DEVICE=virtual:" + options.device +
                                 ",report=" + work_ + "\\report.txt,out=" + work_ + "\\frame.ppm"));
        variables.push_back(Wide("VORN_KVUSB_CAPTURE=" + options.capture));
        variables.push_back(Wide("VORN_KVUSB_TRACE_FILE=" + work_ + "\\trace.txt"));
    }
    std::wstring block;
    for (const std::wstring& variable : variables) {
        block += variable;
        block += L'\0';
    }
    block += L'\0';
    return block;
}

bool ProgramRun::Launch(PROCESS_INFORMATION* process, DWORD flags) const {
    const std::wstring program = Wide(Variable("E2E_PROGRAM"));
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    std::wstring environment = environment_;
    return CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                          CREATE_UNICODE_ENVIRONMENT | flags, environment.data(), nullptr, &startup,
                          process) != 0;
}

bool ProgramRun::LaunchDebugged() {
    std::promise<bool> launched;
    std::future<bool> result = launched.get_future();
    // Debug events come to the thread that started the program.
    debugger_ = std::thread([this, launched = std::move(launched)]() mutable {
        const bool started = Launch(&process_, DEBUG_ONLY_THIS_PROCESS);
        launched.set_value(started);
        if (!started) {
            return;
        }
        const std::string traces = work_ + "\\trace.txt";
        DEBUG_EVENT event{};
        while (WaitForDebugEvent(&event, INFINITE)) {
            switch (event.dwDebugEventCode) {
                case OUTPUT_DEBUG_STRING_EVENT:
                    std::ofstream(traces, std::ios::binary | std::ios::app)
                        << DebugString(process_.hProcess, event.u.DebugString);
                    break;
                case CREATE_PROCESS_DEBUG_EVENT:
                    CloseHandle(event.u.CreateProcessInfo.hFile);
                    break;
                case LOAD_DLL_DEBUG_EVENT:
                    CloseHandle(event.u.LoadDll.hFile);
                    break;
            }
            ContinueDebugEvent(event.dwProcessId, event.dwThreadId, Continuation(event));
            if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) {
                return;
            }
        }
    });
    return result.get();
}

bool ProgramRun::Start(const RunOptions& options, int frames) {
    return Launch(options) && WaitForWindow(kStartTimeoutMs) &&
           WaitForFrames(frames, kStartTimeoutMs);
}

bool ProgramRun::WaitForWindow(DWORD timeoutMs) {
    return WaitFor(
        [this] {
            // The hidden window is not visible, so look it up by name and check its process.
            HWND hwnd = FindWindowW(L"VORN_KVUSB", L"VORN_KVUSB");
            DWORD pid = 0;
            GetWindowThreadProcessId(hwnd, &pid);
            window_ = pid == process_.dwProcessId ? hwnd : nullptr;
            return window_ != nullptr;
        },
        timeoutMs);
}

DWORD ProgramRun::RunAnotherInstance() {
    PROCESS_INFORMATION second{};
    if (!Launch(&second)) {
        return STILL_ACTIVE;
    }
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(second.hProcess, 30000) == WAIT_OBJECT_0) {
        GetExitCodeProcess(second.hProcess, &code);
    }
    CloseHandle(second.hProcess);
    CloseHandle(second.hThread);
    return code;
}

bool ProgramRun::Launch(const RunOptions& options) {
    RegDeleteKeyW(HKEY_CURRENT_USER, kSettingsKey);
    if (options.dispMode) {
        WriteSetting(L"DispMode", *options.dispMode);
    }
    if (options.zoomMode) {
        WriteSetting(L"ZoomMode", *options.zoomMode);
    }
    if (options.leftBehind) {
        WriteSetting(L"RestoreHeight", static_cast<DWORD>(options.leftBehind->cy));
        WriteSetting(L"RestoreWidth", static_cast<DWORD>(options.leftBehind->cx));
    }
    environment_ = Environment(options);
    if (below_) {
        WriteProjectorOptions(name_, options.device);
    }
    return below_ ? LaunchDebugged() : Launch(&process_);
}

DWORD ProgramRun::RunToEnd(const RunOptions& options, DWORD timeoutMs) {
    return Launch(options) ? WaitForExit(timeoutMs) : STILL_ACTIVE;
}

bool ProgramRun::WorkFileExists(const std::string& name) const {
    return GetFileAttributesW(Wide(work_ + "\\" + name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> ProgramRun::Traces() const {
    std::vector<std::string> lines;
    const std::string text = ReadFileText(work_ + "\\trace.txt");
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

int ProgramRun::CountTrace(const std::string& line) const {
    int count = 0;
    for (const std::string& trace : Traces()) {
        count += trace == line ? 1 : 0;
    }
    return count;
}

bool ProgramRun::WaitForTrace(const std::string& line, int count, DWORD timeoutMs) const {
    return WaitFor([&] { return CountTrace(line) >= count; }, timeoutMs);
}

bool ProgramRun::TracedInOrder(const std::vector<std::string>& lines) const {
    const std::vector<std::string> traces = Traces();
    // Another thread's trace that does not end its line ("SCSI Error: 31  ") may lead one.
    auto is = [](const std::string& trace, const std::string& line) {
        return trace.size() >= line.size() &&
               trace.compare(trace.size() - line.size(), line.size(), line) == 0;
    };
    size_t at = 0;
    for (const std::string& line : lines) {
        while (at < traces.size() && !is(traces[at], line)) {
            ++at;
        }
        if (at == traces.size()) {
            return false;
        }
        ++at;
    }
    return true;
}

ProjectorReport ProgramRun::Report() const {
    ProjectorReport report;
    std::istringstream text(ReadFileText(work_ + "\\report.txt"));
    std::string line;
    while (std::getline(text, line)) {
        int bank0 = 0, bank1 = 0, abandoned = 0;
        unsigned power = 0;
        if (std::sscanf(line.c_str(), "protocol_errors %ld", &report.protocolErrors) == 1) {
            continue;
        }
        const char* frames = std::strstr(line.c_str(), "frames_bank0=");
        if (line.rfind("projector 0 ", 0) == 0 && frames != nullptr &&
            std::sscanf(frames,
                        "frames_bank0=%d frames_bank1=%d frames_abandoned=%d frames_rejected=%d "
                        "power_mode=%u",
                        &bank0, &bank1, &abandoned, &report.rejected, &power) == 5) {
            report.frames = bank0 + bank1;
            report.powerMode = static_cast<int>(power);
        }
    }
    return report;
}

std::string ProgramRun::LastFramePixels() const {
    // P6, the size and the maximum value, each line ended by a newline, then the pixels.
    const std::string ppm = ReadFileText(work_ + "\\frame.ppm");
    size_t pixels = 0;
    for (int line = 0; line < 3 && pixels != std::string::npos; ++line) {
        pixels = ppm.find('\n', pixels);
        pixels = pixels == std::string::npos ? pixels : pixels + 1;
    }
    if (pixels == std::string::npos || pixels >= ppm.size()) {
        return {};
    }
    return ppm.substr(pixels);
}

bool ProgramRun::LastFrameBlack() const {
    const std::string pixels = LastFramePixels();
    return !pixels.empty() && pixels.find_first_not_of('\0') == std::string::npos;
}

bool ProgramRun::WaitForFrames(int frames, DWORD timeoutMs) const {
    return WaitFor([&] { return Report().frames >= frames; }, timeoutMs);
}

bool ProgramRun::Post(UINT message, WPARAM wParam, LPARAM lParam) const {
    return PostMessageW(window_, message, wParam, lParam) != 0;
}

std::optional<LRESULT> ProgramRun::Send(UINT message, WPARAM wParam, LPARAM lParam) const {
    DWORD_PTR result = 0;
    if (SendMessageTimeoutW(window_, message, wParam, lParam, SMTO_NORMAL, 10000, &result) == 0) {
        return std::nullopt;
    }
    return static_cast<LRESULT>(result);
}

void ProgramRun::SendDeviceRemoval(const std::wstring& name, DWORD deviceType) const {
    constexpr size_t kNameOffset = 28;
    std::vector<uint8_t> broadcast(kNameOffset + (name.size() + 1) * sizeof(wchar_t), 0);
    auto* header = reinterpret_cast<DEV_BROADCAST_HDR*>(broadcast.data());
    header->dbch_size = static_cast<DWORD>(broadcast.size());
    header->dbch_devicetype = deviceType;
    std::memcpy(broadcast.data() + kNameOffset, name.c_str(), name.size() * sizeof(wchar_t));
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window_, WM_DEVICECHANGE, 0x8004 /* DBT_DEVICEREMOVECOMPLETE */,
                        reinterpret_cast<LPARAM>(broadcast.data()), SMTO_NORMAL, 5000, &result);
}

std::optional<LRESULT> ProgramRun::SendQueryRemove(HANDLE handle) const {
    DEV_BROADCAST_HANDLE broadcast{};
    broadcast.dbch_size = sizeof broadcast;
    broadcast.dbch_devicetype = DBT_DEVTYP_HANDLE;
    broadcast.dbch_handle = handle;
    return Send(WM_DEVICECHANGE, DBT_DEVICEQUERYREMOVE, reinterpret_cast<LPARAM>(&broadcast));
}

DWORD ProgramRun::WaitForExit(DWORD timeoutMs) const {
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(process_.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process_.hProcess, &code);
    }
    return code;
}

std::vector<HWND> ProgramRun::Windows(const wchar_t* className, const wchar_t* title) const {
    WindowSearch search{process_.dwProcessId, className, title, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool ProgramRun::WaitForWindowCount(const wchar_t* className, const wchar_t* title, size_t count,
                                    DWORD timeoutMs) const {
    return WaitFor([&] { return Windows(className, title).size() == count; }, timeoutMs);
}

bool ProgramRun::TrayIconPresent() const {
    // Changing nothing on an icon the shell does not hold fails.
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = window_;
    data.uID = 105;
    data.uFlags = 0;
    return Shell_NotifyIconW(NIM_MODIFY, &data) != 0;
}

void WriteSetting(const wchar_t* name, DWORD value) {
    RegSetKeyValueW(HKEY_CURRENT_USER, kSettingsKey, name, REG_DWORD, &value, sizeof value);
}

std::optional<DWORD> ReadSetting(const wchar_t* name) {
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, name, RRF_RT_REG_DWORD, nullptr, &value,
                     &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return value;
}

bool Screenshot(const std::string& name) {
    const std::string shots = Variable("E2E_SHOTS");
    const std::wstring request = Wide(shots + "\\" + name + ".request");
    const std::wstring picture = Wide(shots + "\\" + name + ".png");
    DeleteFileW(picture.c_str());
    HANDLE file = CreateFileW(request.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(file);
    // The runner takes it and removes the request when the picture is complete.
    return WaitFor([&] { return GetFileAttributesW(request.c_str()) == INVALID_FILE_ATTRIBUTES; },
                   20000) &&
           GetFileAttributesW(picture.c_str()) != INVALID_FILE_ATTRIBUTES;
}
