// The setup program in a fresh Wine prefix, run as a user or an administrator would run it:
// silent installs, what they leave where, the installed program, silent uninstalls and what
// they keep.
//
// run_e2e.sh gives the display and the prefix, and E2E_PROGRAM names the setup program;
// SETUP_TASK_DIR is the folder of the task XML the build made. Wine's task scheduler keeps
// registered tasks but does not fire event or logon triggers, and keeps too little of their
// definition to read back: what the tasks do is checked on their XML (task_xml_test.sh).

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
constexpr wchar_t kPlugInTask[] = L"vorn_kvusb on plug-in";
constexpr wchar_t kSignInTask[] = L"vorn_kvusb at sign-in";
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
std::wstring InstalledProgram() {
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

// Asks the Task Scheduler service, as any program on Windows would.
bool TaskRegistered(const wchar_t* name) {
    ITaskService* service = nullptr;
    if (FAILED(CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ITaskService, reinterpret_cast<void**>(&service)))) {
        return false;
    }
    VARIANT none{};
    VariantInit(&none);
    BSTR rootName = SysAllocString(L"\\");
    BSTR taskName = SysAllocString(name);
    bool found = false;
    ITaskFolder* root = nullptr;
    if (SUCCEEDED(service->Connect(none, none, none, none)) &&
        SUCCEEDED(service->GetFolder(rootName, &root))) {
        IRegisteredTask* task = nullptr;
        found = SUCCEEDED(root->GetTask(taskName, &task));
        if (task != nullptr) {
            task->Release();
        }
        root->Release();
    }
    SysFreeString(taskName);
    SysFreeString(rootName);
    service->Release();
    return found;
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

// The program a task's XML starts, as the task engine expands it.
std::wstring TaskCommand(const wchar_t* xmlFile) {
    const std::wstring path = Variable(L"SETUP_TASK_DIR") + L"\\" + xmlFile;
    std::wstring xml;
    if (FILE* file = _wfopen(path.c_str(), L"rt, ccs=UTF-8")) {
        wchar_t part[1024];
        while (fgetws(part, 1024, file) != nullptr) {
            xml += part;
        }
        fclose(file);
    }
    const std::wstring open = L"<Command>";
    const size_t start = xml.find(open);
    const size_t end = xml.find(L"</Command>");
    if (start == std::wstring::npos || end == std::wstring::npos) {
        return L"";
    }
    return Expand(xml.substr(start + open.size(), end - start - open.size()));
}

class SetupTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        setup_ = Variable(L"E2E_PROGRAM");
    }
    // The program runs of ProgramRun start the installed program, unless a test says otherwise.
    void SetUp() override { UseProgram(InstalledProgram()); }

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
        EXPECT_FALSE(TaskRegistered(kPlugInTask));
        EXPECT_FALSE(TaskRegistered(kSignInTask));
    }

    static std::wstring setup_;
};

std::wstring SetupTest::setup_;

TEST_F(SetupTest, SilentInstallPutsTheProgramTheStartMenuEntryTheUninstallerAndThePlugInTask) {
    ASSERT_EQ(Install(), 0u);

    EXPECT_TRUE(Exists(InstalledProgram()));
    EXPECT_TRUE(Exists(InstallDir() + L"\\Uninstall.exe"));
    EXPECT_EQ(ShortcutTarget(StartMenuEntry()), InstalledProgram());

    const wchar_t* key = kUninstallKey;
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, key, L"DisplayName"), L"vorn_kvusb");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, key, L"DisplayVersion"), KV_VERSION);
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, key, L"Publisher"), L"vorn_kvusb developers");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, key, L"DisplayIcon"), InstalledProgram() + L",0");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, key, L"UninstallString"),
              L"\"" + InstallDir() + L"\\Uninstall.exe\"");
    // In KiB, at least the program's own size.
    WIN32_FILE_ATTRIBUTE_DATA program{};
    ASSERT_TRUE(GetFileAttributesExW(InstalledProgram().c_str(), GetFileExInfoStandard, &program));
    EXPECT_GE(ReadDword(HKEY_LOCAL_MACHINE, key, L"EstimatedSize").value_or(0),
              program.nFileSizeLow / 1024);

    // The plug-in task is chosen by default, the sign-in task is not; both start the program
    // where the setup put it.
    EXPECT_TRUE(TaskRegistered(kPlugInTask));
    EXPECT_FALSE(TaskRegistered(kSignInTask));
    EXPECT_EQ(TaskCommand(L"plug-in.xml"), InstalledProgram());
    EXPECT_EQ(TaskCommand(L"sign-in.xml"), InstalledProgram());
}

TEST_F(SetupTest, TaskChoicesOfASilentInstallReplaceThoseOfTheInstallBefore) {
    ASSERT_EQ(Install(L"/SIGNIN"), 0u);
    EXPECT_TRUE(TaskRegistered(kPlugInTask));
    EXPECT_TRUE(TaskRegistered(kSignInTask));

    ASSERT_EQ(Install(), 0u);
    EXPECT_TRUE(TaskRegistered(kPlugInTask));
    EXPECT_FALSE(TaskRegistered(kSignInTask));

    ASSERT_EQ(Install(L"/NOPLUGIN"), 0u);
    EXPECT_FALSE(TaskRegistered(kPlugInTask));
    EXPECT_FALSE(TaskRegistered(kSignInTask));
}

TEST_F(SetupTest, InstalledProgramIsTheShippedOneAndEndsAtOnceWithoutAProjector) {
    ASSERT_EQ(Install(), 0u);

    // What a task start with nothing plugged in does: the device search ends the program.
    EXPECT_EQ(RunCommand(L"\"" + InstalledProgram() + L"\"", 20000), 1u);

    // The setup installs the program users run, not the simulator: given the simulator's
    // environment it still looks for the real projector, and writes no file of the virtual one.
    ProgramRun run("installed");
    EXPECT_EQ(run.RunToEnd({}), 1u);
    for (const char* file : {"trace.txt", "report.txt", "frame.ppm"}) {
        EXPECT_FALSE(run.WorkFileExists(file)) << file;
    }
}

TEST_F(SetupTest, SilentUninstallClosesTheRunningProgramAndKeepsOnlyTheUserSettings) {
    ASSERT_EQ(Install(L"/SIGNIN"), 0u);
    // The uninstaller finds the running program by its window; under Wine only the simulator,
    // the same tray program with the virtual projector, keeps running.
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
