// The device service under Wine with the projector below it, as an installed machine has it:
// installed by the silent setup program (E2E_PROGRAM), started through the service control
// manager, owning the units at the machine's sg nodes, starting the agent, which streams
// through it; upgraded and uninstalled while it runs. The tests run in order on one
// installation, from its install to its removal.
#include <gtest/gtest.h>
#include <windows.h>

#include <tlhelp32.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/device_backend.h"
#include "device/device_discovery.h"
#include "device/frame_transfer.h"
#include "device/scsi_commands.h"
#include "device/service_channel.h"
#include "tests/below/wine/desktop_picture_win32.h"
#include "tests/e2e/program_run_win32.h"

namespace {

constexpr wchar_t kServiceName[] = L"vorn_kvusb";
constexpr wchar_t kAgentName[] = L"vorn_kvusb_agent.exe";
constexpr DWORD kStartMs = 30000;

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::wstring InstallFolder() {
    return Wide(Variable("ProgramFiles")) + L"\\vorn_kvusb";
}

// Runs a program to its end: its exit code.
DWORD RunProgram(const std::wstring& program, const std::wstring& arguments) {
    std::wstring line = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return GetLastError();
    }
    WaitForSingleObject(process.hProcess, 60000);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return code;
}

DWORD RunSetup() {
    return RunProgram(Wide(Variable("E2E_PROGRAM")), L"/S");
}

// The service with the rights asked for, or nullptr with GetLastError.
SC_HANDLE OpenProjectorService(DWORD access) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceW(manager, kServiceName, access);
    DWORD error = GetLastError();
    CloseServiceHandle(manager);
    SetLastError(error);
    return service;
}

// A handle left open would keep a deleted service in the service control manager.
bool ServiceExists() {
    SC_HANDLE service = OpenProjectorService(SERVICE_QUERY_STATUS);
    const bool exists = service != nullptr || GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST;
    CloseServiceHandle(service);
    return exists;
}

DWORD ServiceState() {
    SC_HANDLE service = OpenProjectorService(SERVICE_QUERY_STATUS);
    SERVICE_STATUS status{};
    QueryServiceStatus(service, &status);
    CloseServiceHandle(service);
    return status.dwCurrentState;
}

// Starts the service as Windows does when its trigger fires.
bool StartProjectorService() {
    SC_HANDLE service = OpenProjectorService(SERVICE_START);
    bool started = StartServiceW(service, 0, nullptr) != 0;
    CloseServiceHandle(service);
    return started && WaitFor([] { return ServiceState() == SERVICE_RUNNING; }, kStartMs);
}

bool StopProjectorService() {
    SC_HANDLE service = OpenProjectorService(SERVICE_STOP);
    SERVICE_STATUS status{};
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    CloseServiceHandle(service);
    return WaitFor([] { return ServiceState() == SERVICE_STOPPED; }, kStartMs);
}

std::vector<DWORD> AgentProcesses() {
    std::vector<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (_wcsicmp(entry.szExeFile, kAgentName) == 0) {
            ids.push_back(entry.th32ProcessID);
        }
    }
    CloseHandle(snapshot);
    return ids;
}

// An agent's end within `ms`: its exit code, STILL_ACTIVE when it runs on. Closes the handle.
DWORD AgentExitCode(HANDLE agent, DWORD ms) {
    DWORD exitCode = STILL_ACTIVE;
    if (WaitForSingleObject(agent, ms) == WAIT_OBJECT_0) {
        GetExitCodeProcess(agent, &exitCode);
    }
    CloseHandle(agent);
    return exitCode;
}

DWORD ServiceProcessId() {
    SC_HANDLE service = OpenProjectorService(SERVICE_QUERY_STATUS);
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                         sizeof status, &needed);
    CloseServiceHandle(service);
    return status.dwProcessId;
}

// The service's traces, read as its debugger reads them, from the attach on.
class ServiceTraces {
  public:
    explicit ServiceTraces(DWORD process) : thread_([this, process] { Read(process); }) {
        WaitFor([this] { return attached_ != 0; }, 10000);
    }
    ~ServiceTraces() {
        stop_ = true;
        thread_.join();
    }
    bool Contains(const std::string& text) {
        std::lock_guard<std::mutex> hold(lock_);
        return text_.find(text) != std::string::npos;
    }

  private:
    void Read(DWORD process) {
        if (!DebugActiveProcess(process)) {
            attached_ = -1;
            return;
        }
        DebugSetProcessKillOnExit(FALSE);
        HANDLE handle = OpenProcess(PROCESS_VM_READ, FALSE, process);
        attached_ = 1;
        DEBUG_EVENT event{};
        while (!stop_) {
            if (!WaitForDebugEvent(&event, 100)) {
                continue;
            }
            // The image and DLL handles are the debugger's to close: left open, they would keep
            // the uninstaller from deleting the service's program.
            if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT) {
                CloseHandle(event.u.CreateProcessInfo.hFile);
            } else if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT) {
                CloseHandle(event.u.LoadDll.hFile);
            } else if (event.dwDebugEventCode == OUTPUT_DEBUG_STRING_EVENT) {
                std::string text(event.u.DebugString.nDebugStringLength, '\0');
                SIZE_T read = 0;
                ReadProcessMemory(handle, event.u.DebugString.lpDebugStringData, text.data(),
                                  text.size(), &read);
                std::lock_guard<std::mutex> hold(lock_);
                text_ += text.c_str();
            }
            ContinueDebugEvent(event.dwProcessId, event.dwThreadId, DBG_CONTINUE);
        }
        DebugActiveProcessStop(process);
        CloseHandle(handle);
    }

    std::mutex lock_;
    std::string text_;
    std::atomic<int> attached_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A client of the service's pipe made of the program's own transport: the agent's backend
// under the frame transfer and the command layer.
class ServiceClient {
  public:
    ServiceClient() : backend_(CreateServiceDeviceBackend(L"no window")) {
        g_pDeviceBackend = backend_;
        g_hDisk1 = nullptr;
        g_hDisk2 = nullptr;
        g_uOpticalSearchIndex = 0;
        g_uDiskSearchIndex = 0;
    }
    ~ServiceClient() {
        g_pDeviceBackend = nullptr;
        delete backend_;
    }

    DeviceBackend* backend_;
};

// A client of the pipe as a hostile local program writes one: the bytes it chooses, and only
// the reads it wants. nullptr when the pipe cannot be opened.
HANDLE OpenRawPipe() {
    for (int attempt = 0; attempt < 20; ++attempt) {
        HANDLE pipe =
            CreateFileA(SERVICE_PIPE_NAME, GENERIC_READ | FILE_WRITE_DATA, 0, nullptr,
                        OPEN_EXISTING, SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) {
            return pipe;
        }
        WaitNamedPipeA(SERVICE_PIPE_NAME, 100);
        Sleep(50);
    }
    return nullptr;
}

void WriteRaw(HANDLE pipe, const void* bytes, DWORD length) {
    DWORD written = 0;
    WriteFile(pipe, bytes, length, &written, nullptr);
}

void Greet(HANDLE pipe) {
    uint8_t greeting[4];
    PutServiceWord(greeting, SERVICE_GREETING);
    WriteRaw(pipe, greeting, sizeof greeting);
}

// Milliseconds the service takes to stop.
ULONGLONG TimedStop() {
    const ULONGLONG start = GetTickCount64();
    EXPECT_TRUE(StopProjectorService());
    return GetTickCount64() - start;
}

// Ten programs at once, for three seconds, each connecting again and again with bytes of its
// own: some no greeting at all, some a greeting and a batch header that wraps around or
// promises records that never come.
void SendGarbage(int client) {
    const ULONGLONG end = GetTickCount64() + 3000;
    while (GetTickCount64() < end) {
        HANDLE pipe = OpenRawPipe();
        if (pipe == nullptr) {
            continue;
        }
        uint8_t bytes[64];
        for (size_t i = 0; i < sizeof bytes; ++i) {
            bytes[i] = static_cast<uint8_t>(client * 37 + i * 11);
        }
        if (client % 2 == 0) {
            Greet(pipe);
            PutServiceWord(bytes, client % 4 == 0 ? 0xFFFFFFFF : 2);
            PutServiceWord(bytes + 4, 1);
        }
        WriteRaw(pipe, bytes, sizeof bytes);
        Sleep(100);
        CloseHandle(pipe);
    }
}

// Mirror mode at the original zoom: the desktop stays as it is, captured one to one.
void SaveMirrorModeSettings() {
    WriteSetting(L"DispMode", 0);
    WriteSetting(L"ZoomMode", 0);
}

// A raw frame of one colour in every byte.
std::vector<uint8_t> Frame(uint8_t value) {
    return std::vector<uint8_t>(FRAME_BYTES, value);
}

class ServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!ProjectorBelow()) {
            GTEST_SKIP() << "the session's projector is not below the program (E2E_ROUTE)";
        }
    }
};

// Wine takes no trigger (1733): the setup carries on, and the service is registered without
// one.
TEST_F(ServiceTest, SilentSetupRegistersALocalSystemServiceStartedOnDemand) {
    ASSERT_EQ(RunSetup(), 0u);

    SC_HANDLE service = OpenProjectorService(SERVICE_QUERY_CONFIG);
    ASSERT_NE(service, nullptr);
    std::vector<uint8_t> buffer(8192);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    DWORD needed = 0;
    ASSERT_TRUE(QueryServiceConfigW(service, config, static_cast<DWORD>(buffer.size()), &needed));
    EXPECT_EQ(config->dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_EQ(_wcsicmp(config->lpServiceStartName, L"LocalSystem"), 0);
    EXPECT_EQ(std::wstring(config->lpBinaryPathName),
              L"\"" + InstallFolder() + L"\\vorn_kvusb_service.exe\"");
    CloseServiceHandle(service);
    EXPECT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_STOPPED));
}

// The agent the service starts captures the desktop and sends it through the service; the
// projector shows exactly what is on it, raw and compressed.
TEST_F(ServiceTest, TheServiceStartsTheAgentWhoseFramesArriveEveryPixelAsOnTheDesktop) {
    if (GetSystemMetrics(SM_CXSCREEN) != kProjectorWidth ||
        GetSystemMetrics(SM_CYSCREEN) != kProjectorHeight) {
        GTEST_SKIP() << "the desktop is not 854 x 480";
    }
    const std::vector<uint8_t> picture = TestPicture();
    PictureWindow window(picture);
    for (const char* link : {"3.0", "2.0"}) {
        SCOPED_TRACE(link);
        const std::string name = std::string("service_usb") + link;
        ProgramRun run(name);
        WriteProjectorOptions(name, std::string("link=") + link);
        SaveMirrorModeSettings();
        ASSERT_TRUE(StartProjectorService());
        ASSERT_TRUE(WaitFor([] { return AgentProcesses().size() == 1; }, kStartMs));
        HANDLE agent = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                   AgentProcesses().front());
        int differing = kProjectorWidth * kProjectorHeight;
        WaitFor(
            [&] {
                differing = DifferingPixels(
                    ProjectorFrame(Variable("E2E_WORK") + "\\" + name + "\\frame.ppm"), picture);
                return differing == 0;
            },
            kStartMs);
        EXPECT_EQ(differing, 0);
        // The service's stop closes the agent the normal way: through its window, ending
        // with exit code 0.
        ASSERT_TRUE(StopProjectorService());
        EXPECT_EQ(AgentExitCode(agent, kStartMs), 0u);
        EXPECT_EQ(run.Report().protocolErrors, 0);
    }
}

// One agent at a time; one killed mid-frame frees the service for the next, which may send
// anything: what is not the projector's own is refused, and its frames go on arriving.
TEST_F(ServiceTest, OneAgentAtATimeAndRequestsOutsideTheProtocolAreRefusedWhileFramesGoOn) {
    ProgramRun run("service_clients");
    WriteProjectorOptions("service_clients", "link=3.0");
    SaveMirrorModeSettings();
    ASSERT_TRUE(StartProjectorService());
    ASSERT_TRUE(WaitFor([] { return AgentProcesses().size() == 1; }, kStartMs));
    ASSERT_TRUE(run.WaitForFrames(5));
    {
        ServiceClient second;
        std::string path;
        uint32_t error = 0;
        EXPECT_EQ(second.backend_->GetDiskInterface(0, &path, &error), InterfaceLookup::EnumFailed);
        EXPECT_EQ(error, static_cast<uint32_t>(ERROR_BUSY));
    }

    HANDLE agent = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, AgentProcesses().front());
    ASSERT_NE(agent, nullptr);
    TerminateProcess(agent, 9);
    WaitForSingleObject(agent, 10000);
    CloseHandle(agent);

    ServiceTraces traces(ServiceProcessId());
    ServiceClient next;
    ASSERT_TRUE(WaitFor([] { return OpenDriverlessDevice() == 1; }, 10000));
    const int framesBefore = run.Report().frames;
    ScsiRequest diskRead{};
    const uint8_t read10[16] = {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0};
    std::memcpy(diskRead.cdb, read10, sizeof read10);
    diskRead.targetId = 1;
    diskRead.senseInfoLength = 32;
    diskRead.dataIn = SCSI_IOCTL_DATA_IN;
    diskRead.dataTransferLength = 512;
    diskRead.timeOutValue = 2;
    std::vector<uint8_t> sector(512, 0xEE);
    diskRead.dataBuffer = sector.data();
    for (int frame = 0; frame < 6; ++frame) {
        g_bFrameToggle = frame % 2;
        EXPECT_EQ(SendFrameRaw(Frame(static_cast<uint8_t>(frame * 40)).data()), 0);
        EXPECT_EQ(next.backend_->SendScsi(g_hDisk2, diskRead), SERVICE_REFUSED);
        EXPECT_EQ(sector, std::vector<uint8_t>(512, 0xEE));
    }
    EXPECT_TRUE(run.WaitForFrames(framesBefore + 6, 5000));
    EXPECT_TRUE(traces.Contains(
        "vorn_kvusb_service: refused a request, not a status or control read of the disk unit: "
        "unit 1, CDB 28 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00, 512 bytes\n"));
    ASSERT_TRUE(StopProjectorService());
    EXPECT_EQ(run.Report().protocolErrors, 0);
}

// No client holds the service: one told no that never reads its answer, one served first that
// then says nothing (before the agent, or while none runs), a process that took the pipe's
// name before the service started, ten programs sending garbage. Each time the agent streams
// within 10 s of starting, and the service stops within 5 s while the client misbehaves.
TEST_F(ServiceTest, NoClientKeepsTheAgentFromStreamingOrTheServiceFromStopping) {
    ProgramRun run("service_hostile");
    WriteProjectorOptions("service_hostile", "link=3.0");
    SaveMirrorModeSettings();
    // The agent the service started is streaming within 10 s of its start.
    auto streamsSoon = [&run] {
        EXPECT_TRUE(WaitFor([] { return AgentProcesses().size() == 1; }, kStartMs));
        return run.WaitForFrames(run.Report().frames + 3, 10000);
    };
    {
        SCOPED_TRACE("told busy, never reads");
        ASSERT_TRUE(StartProjectorService());
        EXPECT_TRUE(streamsSoon());
        HANDLE holder = OpenRawPipe();
        Greet(holder);
        Sleep(500);
        ServiceClient next;  // answered at once, though the one before never read
        std::string path;
        uint32_t error = 0;
        EXPECT_EQ(next.backend_->GetDiskInterface(0, &path, &error), InterfaceLookup::EnumFailed);
        EXPECT_EQ(error, static_cast<uint32_t>(ERROR_BUSY));
        EXPECT_LT(TimedStop(), 5000u);
        CloseHandle(holder);
    }
    {
        SCOPED_TRACE("served first, then silent");
        SC_HANDLE service = OpenProjectorService(SERVICE_START);
        ASSERT_TRUE(StartServiceW(service, 0, nullptr));
        CloseServiceHandle(service);
        HANDLE silent = OpenRawPipe();  // before the service starts its agent
        ASSERT_NE(silent, nullptr);
        Greet(silent);
        EXPECT_TRUE(streamsSoon());
        CloseHandle(silent);
        silent = OpenRawPipe();  // now told busy, and left unread
        Greet(silent);
        EXPECT_LT(TimedStop(), 5000u);
        CloseHandle(silent);
    }
    {
        SCOPED_TRACE("served while no agent runs, then silent");
        ASSERT_TRUE(StartProjectorService());
        EXPECT_TRUE(streamsSoon());
        HANDLE agent =
            OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, AgentProcesses().front());
        TerminateProcess(agent, 9);
        WaitForSingleObject(agent, 10000);
        CloseHandle(agent);
        HANDLE silent = OpenRawPipe();
        Greet(silent);
        // The user's program, started again, is served once the silent one is dropped.
        EXPECT_TRUE(WaitFor(
            [] {
                ServiceClient user;
                std::string path;
                uint32_t error = 0;
                return user.backend_->GetDiskInterface(0, &path, &error) == InterfaceLookup::Found;
            },
            12000));
        EXPECT_LT(TimedStop(), 5000u);
        CloseHandle(silent);
    }
    {
        SCOPED_TRACE("the name taken before the service starts");
        HANDLE squatter =
            CreateNamedPipeA(SERVICE_PIPE_NAME, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT,
                             PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
        ASSERT_NE(squatter, INVALID_HANDLE_VALUE);
        // An agent meeting it ends as with no projector, and does not wait on it.
        const ULONGLONG start = GetTickCount64();
        EXPECT_EQ(RunProgram(InstallFolder() + L"\\" + kAgentName, L""), 1u);
        EXPECT_LT(GetTickCount64() - start, 10000u);
        // The service waits for the name (Windows) or shares it (Wine, which lets any process
        // create instances of any pipe): either way its agent streams once the squatter left.
        ASSERT_TRUE(StartProjectorService());
        Sleep(2000);
        CloseHandle(squatter);
        EXPECT_TRUE(streamsSoon());
    }
    {
        SCOPED_TRACE("ten programs sending garbage");
        std::vector<std::thread> garbage;
        for (int client = 0; client < 10; ++client) {
            garbage.emplace_back(SendGarbage, client);
        }
        EXPECT_TRUE(run.WaitForFrames(run.Report().frames + 3, 10000));
        EXPECT_LT(TimedStop(), 5000u);
        for (std::thread& client : garbage) {
            client.join();
        }
        garbage.clear();
        ASSERT_TRUE(StartProjectorService());
        for (int client = 0; client < 10; ++client) {
            garbage.emplace_back(SendGarbage, client);
        }
        EXPECT_TRUE(streamsSoon());
        for (std::thread& client : garbage) {
            client.join();
        }
        ASSERT_TRUE(StopProjectorService());
    }
    EXPECT_EQ(run.Report().protocolErrors, 0);
}

// Wine reports a pulled projector as a failing link: the agent ends on its link errors, and
// the service, finding no projector, stops by itself.
TEST_F(ServiceTest, PullingTheProjectorEndsTheAgentAndTheServiceStops) {
    ProgramRun run("service_pulled");
    WriteProjectorOptions("service_pulled", "link=2.0,vanish_after=400");
    ASSERT_TRUE(StartProjectorService());
    ASSERT_TRUE(WaitFor([] { return AgentProcesses().size() == 1; }, kStartMs));
    EXPECT_TRUE(WaitFor([] { return AgentProcesses().empty(); }, 60000));
    EXPECT_TRUE(WaitFor([] { return ServiceState() == SERVICE_STOPPED; }, kStartMs));
}

// The setup replaces files, and the uninstaller removes them, only once the service has
// stopped and closed its agent the normal way. An upgrade keeps the one service.
TEST_F(ServiceTest, UpgradeAndUninstallWhileItRunsStopTheServiceAndItsAgentFirst) {
    ProgramRun run("service_setup");
    WriteProjectorOptions("service_setup", "link=3.0");
    for (const bool upgrade : {true, false}) {
        SCOPED_TRACE(upgrade ? "upgrade" : "uninstall");
        ASSERT_TRUE(StartProjectorService());
        ASSERT_TRUE(WaitFor([] { return AgentProcesses().size() == 1; }, kStartMs));
        HANDLE agent = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                   AgentProcesses().front());
        if (upgrade) {
            EXPECT_EQ(RunSetup(), 0u);
            EXPECT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_STOPPED));
        } else {
            // The uninstaller goes on from a copy of itself.
            EXPECT_EQ(RunProgram(InstallFolder() + L"\\Uninstall.exe", L"/S"), 0u);
            EXPECT_TRUE(WaitFor([] { return !ServiceExists(); }, kStartMs));
            EXPECT_TRUE(WaitFor(
                [] {
                    return GetFileAttributesW(InstallFolder().c_str()) == INVALID_FILE_ATTRIBUTES;
                },
                kStartMs));
        }
        EXPECT_EQ(AgentExitCode(agent, kStartMs), 0u);
    }
    EXPECT_EQ(run.Report().protocolErrors, 0);
}

}  // namespace
