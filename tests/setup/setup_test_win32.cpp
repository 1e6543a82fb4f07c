// The setup program in a fresh Wine prefix, with no projector, run as an administrator would
// run it: silent installs, what they leave where, an upgrade over a version that started its
// program from scheduled tasks, the installed agent, silent uninstalls and what they keep.
// The service it registers, running with the projector: tests/service/wine.
//
// run_e2e.sh gives the display and the prefix, and E2E_PROGRAM names the setup program.

#include <windows.h>

#include <shlobj.h>
#include <taskschd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "program_run_win32.h"

namespace {

constexpr wchar_t kUninstallKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\vorn_kvusb";
constexpr wchar_t kSettingsKey[] = L"Software\\K7Q0KVUSB";
// What earlier versions installed: an elevated program and two tasks that started it.
constexpr wchar_t kOldTasks[][32] = {L"vorn_kvusb on plug-in", L"vorn_kvusb at sign-in"};
constexpr wchar_t kServiceName[] = L"vorn_kvusb";
constexpr DWORD kSetupTimeoutMs = 120000;

std::wstring Variable(const wchar_t* name) {
    wchar_t value[MAX_PATH * 2] = {};
    const DWORD n = GetEnvironmentVariableW(name, value, MAX_PATH * 2);
    return n > 0 && n < MAX_PATH * 2 ? value : L"";
}

std::wstring Expand(const std::wstring& text) {
    wchar_t expanded[MAX_PATH * 2] = {};
    const DWORD n = ExpandEnvironmentStringsW(text.c_str(), expanded, MAX_PATH * 2);
    return n > 0 && n <= MAX_PATH * 2 ? expanded : L"";
}

std::wstring InstallDir() {
    return Expand(L"%ProgramFiles%\\vorn_kvusb");
}
std::wstring InstalledAgent() {
    return InstallDir() + L"\\vorn_kvusb_agent.exe";
}
std::wstring OldProgram() {
    return InstallDir() + L"\\vorn_kvusb.exe";
}
std::wstring StartMenuEntry() {
    return Expand(L"%ProgramData%\\Microsoft\\Windows\\Start Menu\\Programs\\vorn_kvusb.lnk");
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Starts a command line and waits for its exit code; STILL_ACTIVE when it did not start or
// outlasted the time.
DWORD RunCommand(std::wstring commandLine, DWORD timeoutMs = kSetupTimeoutMs) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return STILL_ACTIVE;
    }
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &code);
    }
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return code;
}

std::optional<std::wstring> ReadString(HKEY root, const wchar_t* key, const wchar_t* name) {
    wchar_t value[1024] = {};
    DWORD size = sizeof value;
    if (RegGetValueW(root, key, name, RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, value,
                     &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return std::wstring(value);
}

std::optional<DWORD> ReadDword(HKEY root, const wchar_t* key, const wchar_t* name) {
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegGetValueW(root, key, name, RRF_RT_REG_DWORD | RRF_SUBKEY_WOW6464KEY, nullptr, &value,
                     &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return value;
}

bool KeyExists(HKEY root, const wchar_t* key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(root, key, 0, KEY_READ | KEY_WOW64_64KEY, &handle) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(handle);
    return true;
}

// The task folder of the Task Scheduler service, as any program on Windows asks for it; the
// caller releases both.
bool OpenTaskRoot(ITaskService** service, ITaskFolder** root) {
    *root = nullptr;
    if (FAILED(CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ITaskService, reinterpret_cast<void**>(service)))) {
        return false;
    }
    VARIANT none{};
    VariantInit(&none);
    BSTR rootName = SysAllocString(L"\\");
    const bool open = SUCCEEDED((*service)->Connect(none, none, none, none)) &&
                      SUCCEEDED((*service)->GetFolder(rootName, root));
    SysFreeString(rootName);
    if (!open) {
        (*service)->Release();
    }
    return open;
}

bool TaskRegistered(const wchar_t* name) {
    ITaskService* service = nullptr;
    ITaskFolder* root = nullptr;
    if (!OpenTaskRoot(&service, &root)) {
        return false;
    }
    BSTR taskName = SysAllocString(name);
    IRegisteredTask* task = nullptr;
    const bool found = SUCCEEDED(root->GetTask(taskName, &task));
    if (task != nullptr) {
        task->Release();
    }
    SysFreeString(taskName);
    root->Release();
    service->Release();
    return found;
}

// A task as an earlier version registered it, starting its program.
bool RegisterOldTask(const wchar_t* name) {
    ITaskService* service = nullptr;
    ITaskFolder* root = nullptr;
    if (!OpenTaskRoot(&service, &root)) {
        return false;
    }
    const std::wstring xml =
        L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>"
        L"<Task version=\"1.3\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">"
        L"<Actions><Exec><Command>" +
        OldProgram() + L"</Command></Exec></Actions></Task>";
    BSTR taskName = SysAllocString(name);
    BSTR definition = SysAllocString(xml.c_str());
    VARIANT none{};
    VariantInit(&none);
    IRegisteredTask* task = nullptr;
    const bool registered =
        SUCCEEDED(root->RegisterTask(taskName, definition, TASK_CREATE_OR_UPDATE, none, none,
                                     TASK_LOGON_INTERACTIVE_TOKEN, none, &task));
    if (task != nullptr) {
        task->Release();
    }
    SysFreeString(definition);
    SysFreeString(taskName);
    root->Release();
    service->Release();
    return registered;
}

bool ServiceRegistered() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceW(manager, kServiceName, SERVICE_QUERY_STATUS);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return service != nullptr;
}

std::wstring ShortcutTarget(const std::wstring& shortcut) {
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link)))) {
        return L"";
    }
    wchar_t target[MAX_PATH] = {};
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        if (SUCCEEDED(file->Load(shortcut.c_str(), STGM_READ))) {
            link->GetPath(target, MAX_PATH, nullptr, 0);
        }
        file->Release();
    }
    link->Release();
    return target;
}

class SetupTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        setup_ = Variable(L"E2E_PROGRAM");
    }
    // The program runs of ProgramRun start the installed agent, unless a test says otherwise.
    void SetUp() override { UseProgram(InstalledAgent()); }

    static void UseProgram(const std::wstring& program) {
        _wputenv_s(L"E2E_PROGRAM", program.c_str());
    }
    static std::wstring Simulator() {
        std::wstring path = Variable(L"SETUP_SIMULATOR");
        std::replace(path.begin(), path.end(), L'/', L'\\');
        return path;
    }

    static DWORD Install(const std::wstring& options = L"") {
        return RunCommand(L"\"" + setup_ + L"\" /S " + options);
    }

    // The uninstaller runs on from a copy of itself, so the end is when its work is done.
    static bool Uninstall(const std::wstring& options = L"") {
        const std::optional<std::wstring> quiet =
            ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, L"QuietUninstallString");
        if (!quiet || RunCommand(*quiet + L" " + options) != 0) {
            return false;
        }
        return WaitFor(
            [] { return !KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey) && !Exists(InstallDir()); },
            60000);
    }

    static void ExpectNothingLeft() {
        EXPECT_FALSE(Exists(InstallDir()));
        EXPECT_FALSE(Exists(StartMenuEntry()));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
        EXPECT_FALSE(ServiceRegistered());
        for (const wchar_t* task : kOldTasks) {
            EXPECT_FALSE(TaskRegistered(task)) << task;
        }
    }

    static std::wstring setup_;
};

std::wstring SetupTest::setup_;

TEST_F(SetupTest, SilentInstallPutsTheServiceTheAgentTheStartMenuEntryAndTheUninstaller) {
    ASSERT_EQ(Install(), 0u);

    EXPECT_TRUE(Exists(InstalledAgent()));
    EXPECT_TRUE(Exists(InstallDir() + L"\\vorn_kvusb_service.exe"));
    EXPECT_TRUE(Exists(InstallDir() + L"\\Uninstall.exe"));
    EXPECT_FALSE(Exists(OldProgram()));
    EXPECT_TRUE(ServiceRegistered());
    EXPECT_EQ(ShortcutTarget(StartMenuEntry()), InstalledAgent());

    const wchar_t* key = kUninstallKey;
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, key, L"DisplayName"), L"vorn_kvusb");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, key, L"DisplayVersion"), KV_VERSION);
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, key, L"Publisher"), L"vorn_kvusb developers");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, key, L"DisplayIcon"), InstalledAgent() + L",0");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, key, L"UninstallString"),
              L"\"" + InstallDir() + L"\\Uninstall.exe\"");
    // In KiB, at least the agent's own size.
    WIN32_FILE_ATTRIBUTE_DATA agent{};
    ASSERT_TRUE(GetFileAttributesExW(InstalledAgent().c_str(), GetFileExInfoStandard, &agent));
    EXPECT_GE(ReadDword(HKEY_LOCAL_MACHINE, key, L"EstimatedSize").value_or(0),
              agent.nFileSizeLow / 1024);
}

TEST_F(SetupTest, UpgradeRemovesTheTasksAndTheElevatedProgramOfAnEarlierVersion) {
    ASSERT_TRUE(CreateDirectoryW(InstallDir().c_str(), nullptr) ||
                GetLastError() == ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(CopyFileW(Simulator().c_str(), OldProgram().c_str(), FALSE));
    for (const wchar_t* task : kOldTasks) {
        ASSERT_TRUE(RegisterOldTask(task)) << task;
    }

    ASSERT_EQ(Install(), 0u);
    for (const wchar_t* task : kOldTasks) {
        EXPECT_FALSE(TaskRegistered(task)) << task;
    }
    EXPECT_FALSE(Exists(OldProgram()));
    EXPECT_TRUE(ServiceRegistered());
}

TEST_F(SetupTest, InstalledAgentIsTheShippedOneAndEndsAtOnceWithoutTheService) {
    ASSERT_EQ(Install(), 0u);

    // Started from the Start menu with no projector, so with no service running, it finds no
    // units and ends as with no projector.
    EXPECT_EQ(RunCommand(L"\"" + InstalledAgent() + L"\"", 20000), 1u);

    // The setup installs the program users run, not the simulator: given the simulator's
    // environment it still asks the service, and writes no file of the virtual projector.
    ProgramRun run("installed");
    EXPECT_EQ(run.RunToEnd({}), 1u);  // no service to reach: as with no projector
    for (const char* file : {"trace.txt", "report.txt", "frame.ppm"}) {
        EXPECT_FALSE(run.WorkFileExists(file)) << file;
    }
}

TEST_F(SetupTest, SilentUninstallClosesTheRunningProgramAndKeepsOnlyTheUserSettings) {
    ASSERT_EQ(Install(), 0u);
    // The uninstaller finds a tray program running in its session by its window; without a
    // projector only the simulator, the same tray program with the virtual one, keeps running.
    UseProgram(Simulator());
    ProgramRun run("before-uninstall");
    ASSERT_TRUE(run.Start({.dispMode = 0, .zoomMode = 2}));

    ASSERT_TRUE(Uninstall());
    // Closed as the user would close it: it ends on its own and saves its settings.
    EXPECT_EQ(run.WaitForExit(), 0u);
    ExpectNothingLeft();
    EXPECT_EQ(ReadSetting(L"DispMode"), 0u);
    EXPECT_EQ(ReadSetting(L"ZoomMode"), 2u);
}

TEST_F(SetupTest, UninstallRemovesTheUserSettingsWhenAsked) {
    ASSERT_EQ(Install(), 0u);
    const DWORD mode = 1;
    RegSetKeyValueW(HKEY_CURRENT_USER, kSettingsKey, L"DispMode", REG_DWORD, &mode, sizeof mode);

    ASSERT_TRUE(Uninstall(L"/REMOVESETTINGS"));
    ExpectNothingLeft();
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKey));
}

}  // namespace
