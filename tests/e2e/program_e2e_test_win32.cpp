// The real program under Wine: every message of its window, every way it ends, and the fault
// warnings, against the virtual projector and the synthetic capture source.
#include <gtest/gtest.h>
#include <windows.h>
// dbt.h builds on the types windows.h declares.
#include <dbt.h>
#include <wtsapi32.h>

#include <cstdlib>

#include "program_run_win32.h"
#include "resources/resource.h"

namespace {

const UINT kNotifyIconMessage = RegisterWindowMessageW(L"KVUSBNotifyIcon");
const UINT kTaskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");

const std::wstring kOpticalUnit =
    L"\\\\?\\USBSTOR#Optical&Ven_KVUSB&Prod_TR40W17B6-1&Rev_1.00#7&1c2a3f4e&0&000001#"
    L"{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
const std::wstring kDiskUnit =
    L"\\\\?\\USBSTOR#Disk&Ven_KVUSB&Prod_TR40W17B6-2&Rev_1.00#7&1c2a3f4e&0&000000#"
    L"{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

constexpr wchar_t kMenuClass[] = L"#32768";
constexpr wchar_t kDialogClass[] = L"#32770";
constexpr wchar_t kWarningTitle[] = L"Tarq Projira";
constexpr wchar_t kAboutTitle[] = L"About Tarq Projira";

class ProgramTest : public ::testing::Test {
  protected:
    ProgramTest()
        : run_(::testing::UnitTest::GetInstance()->current_test_info()->name()),
          startWidth_(GetSystemMetrics(SM_CXSCREEN)),
          startHeight_(GetSystemMetrics(SM_CYSCREEN)) {}

    void Start(const RunOptions& options = {}) { ASSERT_TRUE(run_.Start(options)); }

    // The icon's callback as the shell sends it once the program asked for its version 4:
    // the event and the icon's id, and the point where it happened.
    bool PostIconEvent(WORD event) {
        return run_.Post(kNotifyIconMessage, MAKEWPARAM(200, 150), MAKELPARAM(event, IDI_KVUSB));
    }

    // Opens the context menu as a click on the icon does, and waits until it is shown.
    void OpenMenu(WORD event = WM_CONTEXTMENU) {
        ASSERT_TRUE(PostIconEvent(event));
        ASSERT_TRUE(run_.WaitForWindowCount(kMenuClass, nullptr, 1));
    }

    void CloseMenu() {
        run_.Post(WM_KEYDOWN, VK_ESCAPE);
        ASSERT_TRUE(run_.WaitForWindowCount(kMenuClass, nullptr, 0));
    }

    // Every end: exit code 0, the desktop at its start-up size, the modes saved, the icon
    // gone, and every frame the projector took decoded.
    void ExpectCleanEnd(DWORD dispMode, DWORD zoomMode) {
        EXPECT_EQ(run_.WaitForExit(), 0u);
        EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), startWidth_);
        EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), startHeight_);
        EXPECT_EQ(ReadSetting(L"DispMode"), dispMode);
        EXPECT_EQ(ReadSetting(L"ZoomMode"), zoomMode);
        EXPECT_FALSE(run_.TrayIconPresent());
        EXPECT_EQ(run_.Traces().back(), "vorn_kvusb end!\n");
        const ProjectorReport report = run_.Report();
        EXPECT_EQ(report.rejected, 0);
        EXPECT_EQ(report.protocolErrors, 0);
    }

    ProgramRun run_;
    const int startWidth_;
    const int startHeight_;
};

TEST_F(ProgramTest, StartUpAddsTheIconAndBalloonAndWmCloseEndsCleanly) {
    Start();
    EXPECT_TRUE(run_.WaitForTrace("GetDevPowerMode: scsi_cmd_read_driverless success!\n"));
    EXPECT_TRUE(run_.TracedInOrder({"vorn_kvusb started!\n", " KVCapAPI_Start success\n",
                                    "GetDevPowerMode: scsi_cmd_read_driverless success!\n"}));
    EXPECT_TRUE(run_.TrayIconPresent());
    Sleep(1500);  // the shell shows balloons after a moment
    Screenshot("startup_balloon");
    // A first run streams at 800 x 600.
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 800);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 600);
    EXPECT_TRUE(run_.WaitForTrace("DevErrTimerProc: scsi_cmd_read_driverless success!\n", 2));

    EXPECT_EQ(run_.RunAnotherInstance(), 0u);  // a second instance ends at once, untraced
    EXPECT_EQ(run_.CountTrace("vorn_kvusb started!\n"), 1);
    EXPECT_EQ(run_.WaitForExit(0), static_cast<DWORD>(STILL_ACTIVE));

    run_.Post(WM_CLOSE);
    ExpectCleanEnd(1, 0);
    EXPECT_TRUE(run_.TracedInOrder({"vorn_kvusb: WM_DESTROY!\n", "return from CreateMyWindow!\n",
                                    "SetDisplaySettings - nDispMode: 0x1, nZoomMode: 0x0\n",
                                    " KVCapAPI_Close success\n", " KVCapAPI_Release success\n",
                                    " KVCapAPI_Uninitialize success\n", "vorn_kvusb end!\n"}));
}

TEST_F(ProgramTest, EachDisplayCommandRestartsTheSessionWhileFramesKeepComing) {
    Start({.dispMode = 0, .zoomMode = 0});
    struct Row {
        WORD id;
        const char* trace;
        int width;  // of the desktop afterwards, 0 for the start-up size
        const char* captured;
    };
    const Row rows[] = {
        {IDM_MIRROR_ZOOM1, "KVUSB menu: MIRRORMODE ZOOM1!\n", 0, "1136, 480\n"},
        {IDM_800X600_ZOOM2, "KVUSB menu: 1:1 Mode Zoom 2!\n", 800, "854, 848\n"},
        {IDM_800X600_ZOOM1, "KVUSB menu: 1:1 Mode Zoom 1!\n", 800, "1136, 480\n"},
        {IDM_800X600_ORIGINAL, "KVUSB menu: 1:1 Mode Zoom 0!\n", 800, "854, 480\n"},
        {IDM_MIRROR_ORIGINAL, "KVUSB menu: MIRRORMODE ORIGINAL!\n", 0, "854, 480\n"},
    };
    for (const Row& row : rows) {
        const int starts = run_.CountTrace(" KVCapAPI_Start success\n");
        const int captured = run_.CountTrace(row.captured);
        run_.Post(WM_COMMAND, row.id);
        ASSERT_TRUE(run_.WaitForTrace(row.trace)) << row.trace;
        EXPECT_TRUE(run_.WaitForTrace(" KVCapAPI_Start success\n", starts + 1)) << row.trace;
        EXPECT_TRUE(run_.WaitForTrace(row.captured, captured + 1)) << row.trace;
        EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), row.width ? row.width : startWidth_);
        const int frames = run_.Report().frames;
        EXPECT_TRUE(run_.WaitForFrames(frames + 5)) << row.trace;
    }
    // The desktop changes reached the window and restarted the session as well.
    EXPECT_GE(run_.CountTrace("WM_DISPLAYCHANGE!!!!!!!!!!!!!!!!!\n"), 2);
    run_.Post(WM_CLOSE);
    ExpectCleanEnd(0, 0);
}

TEST_F(ProgramTest, ADisplayChangeRestartsTheSessionAndTimerMessagesDoNothing) {
    Start({.dispMode = 0, .zoomMode = 2});  // a saved zoom is applied at creation
    EXPECT_TRUE(run_.WaitForTrace("854, 848\n"));
    const int starts = run_.CountTrace(" KVCapAPI_Start success\n");
    run_.Post(WM_DISPLAYCHANGE, 24, MAKELPARAM(startWidth_, startHeight_));
    EXPECT_TRUE(run_.WaitForTrace("OnDisplayChange ok\n"));
    EXPECT_TRUE(run_.WaitForTrace(" KVCapAPI_Start success\n", starts + 1));
    run_.Post(WM_TIMER, 7);
    EXPECT_TRUE(run_.WaitForFrames(run_.Report().frames + 5));
    run_.Post(WM_CLOSE);
    ExpectCleanEnd(0, 2);
}

TEST_F(ProgramTest, PowerCommandsSetTheProjectorsRegisterAndReadItBack) {
    Start({.device = "link=2.0,power=0"});
    run_.Post(WM_COMMAND, IDM_POWER_ECO);
    EXPECT_TRUE(run_.WaitForTrace("SetDevPowerMode: scsi_cmd_read_driverless success!\n"));
    EXPECT_TRUE(WaitFor([&] { return run_.Report().powerMode == 1; }, 10000));
    run_.Post(WM_COMMAND, IDM_POWER_AUTO);
    EXPECT_TRUE(run_.WaitForTrace("SetDevPowerMode: scsi_cmd_read_driverless success!\n", 2));
    EXPECT_TRUE(WaitFor([&] { return run_.Report().powerMode == 0; }, 10000));
    // Read back after each change, and once at creation.
    EXPECT_GE(run_.CountTrace("GetDevPowerMode: scsi_cmd_read_driverless success!\n"), 3);
    run_.Post(WM_CLOSE);
    ExpectCleanEnd(1, 0);
}

TEST_F(ProgramTest, OneMenuPerRequestAndNoneBuiltWhileOneIsOpen) {
    Start();
    const std::string built = "DisplayContextMenu: hwnd " +
                              std::to_string(reinterpret_cast<intptr_t>(run_.Window())) +
                              ", LCID 409\n";
    // A right click as the shell reports it: press, release, the context menu; then moves, a
    // double click and a balloon's end, none of them a request.
    const WORD others[] = {WM_MOUSEMOVE,     WM_RBUTTONDOWN, WM_RBUTTONUP,      WM_LBUTTONDOWN,
                           WM_LBUTTONDBLCLK, WM_LBUTTONUP,   NIN_BALLOONTIMEOUT};
    for (WORD event : others) {
        PostIconEvent(event);
    }
    OpenMenu(WM_CONTEXTMENU);
    // Clicks on the icon while the menu is open arrive through the menu's loop: nothing is
    // built over the open menu.
    PostIconEvent(WM_CONTEXTMENU);
    PostIconEvent(NIN_SELECT);
    EXPECT_TRUE(run_.WaitForFrames(run_.Report().frames + 5));
    EXPECT_EQ(run_.Windows(kMenuClass).size(), 1u);
    EXPECT_EQ(run_.CountTrace("KVUSB add sub-menu: hwnd " +
                              std::to_string(reinterpret_cast<intptr_t>(run_.Window())) + "\n"),
              1);
    CloseMenu();
    // A left click and Enter on the icon open it too, each once.
    OpenMenu(NIN_SELECT);
    CloseMenu();
    OpenMenu(NIN_KEYSELECT);
    CloseMenu();
    // Traced once the menu has closed, which may be after its window went.
    EXPECT_TRUE(run_.WaitForTrace("TrackPopupMenu succeeded!\n", 3));
    EXPECT_EQ(run_.CountTrace("TrackPopupMenu succeeded!\n"), 3);
    EXPECT_EQ(run_.CountTrace(built), 3);
    // The owner-drawn items were measured and painted.
    EXPECT_GE(run_.CountTrace("WM_MEASUREITEM!!\n"), 3);
    EXPECT_GE(run_.CountTrace("WM_DRAWITEM!!\n"), 3);
    // Twelve described items and the presenter's eight (Flip, its four, Freeze, Blank, One
    // window), each build.
    EXPECT_EQ(run_.CountTrace("SetOwnerDrawnItem: SetMenuItemInfo success!\n"), 3 * 20);
    run_.Post(WM_CLOSE);
    ExpectCleanEnd(1, 0);
}

TEST_F(ProgramTest, RemovingTheOpticalUnitEndsTheProgramTheDiskUnitAloneDoesNot) {
    Start({.dispMode = 1, .zoomMode = 1});
    run_.SendDeviceRemoval(kDiskUnit);
    run_.SendDeviceRemoval(L"\\\\?\\STORAGE#Volume#{x}", DBT_DEVTYP_VOLUME);
    EXPECT_TRUE(run_.WaitForTrace(
        "usb remove: \\\\?\\USBSTOR#Disk&Ven_KVUSB&Prod_TR40W17B6-2&Rev_1.00#7&1c2a3f4e&0&000000#"
        "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}\n"));
    EXPECT_TRUE(run_.WaitForFrames(run_.Report().frames + 5));
    EXPECT_EQ(run_.WaitForExit(0), static_cast<DWORD>(STILL_ACTIVE));

    run_.SendDeviceRemoval(kOpticalUnit);
    ExpectCleanEnd(1, 1);
    EXPECT_TRUE(run_.TracedInOrder({"KVUSB cd removed, will stop vorn_kvusb thread!\n",
                                    "DBT_DEVICEREMOVECOMPLETE: PostQuitMessage!\n",
                                    "return from CreateMyWindow!\n", "vorn_kvusb end!\n"}));
}

TEST_F(ProgramTest, RemovingTheOpticalUnitWithTheMenuOpenEndsAtOnce) {
    Start({.dispMode = 1, .zoomMode = 0});
    OpenMenu();
    run_.SendDeviceRemoval(kOpticalUnit);
    ExpectCleanEnd(1, 0);
    EXPECT_TRUE(run_.TracedInOrder({"KVUSB cd removed, will stop vorn_kvusb thread!\n",
                                    "vorn_kvusb quit with menu!\n", "vorn_kvusb end!\n"}));
    EXPECT_EQ(run_.CountTrace("return from CreateMyWindow!\n"), 0);
}

// The projector gone in the middle of a frame: the device-loss end, which leaves the capture
// library alone. Below Wine the unplug never reads as ERROR_DEVICE_NOT_CONNECTED (Wine's
// pass-through turns the sg node's ENODEV into ERROR_GEN_FAILURE), so this end is reached in
// process only, where the projector in the backend's place reports it as Windows does.
TEST_F(ProgramTest, AProjectorGoneMidFrameEndsThroughTheDeviceLossShutdown) {
    if (ProjectorBelow()) {
        GTEST_SKIP() << "Wine reports no unplug as ERROR_DEVICE_NOT_CONNECTED";
    }
    ASSERT_TRUE(
        run_.Start({.device = "link=2.0,vanish_after=2000", .dispMode = 1, .zoomMode = 2}, 0));
    EXPECT_EQ(run_.WaitForExit(), 0u);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), startWidth_);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), startHeight_);
    EXPECT_EQ(ReadSetting(L"DispMode"), 1u);
    EXPECT_EQ(ReadSetting(L"ZoomMode"), 2u);
    EXPECT_FALSE(run_.TrayIconPresent());
    EXPECT_TRUE(run_.TracedInOrder({"ERROR_DEVICE_NOT_CONNECTED, vorn_kvusb end!!!\n",
                                    "SetDisplaySettings - nDispMode: 0x1, nZoomMode: 0x2\n",
                                    "vorn_kvusb end!\n"}));
    EXPECT_EQ(run_.CountTrace(" KVCapAPI_Uninitialize success\n"), 0);
    EXPECT_EQ(run_.Report().protocolErrors, 0);
}

// The handle the program traced for a unit when it asked for its removal notifications.
HANDLE TracedUnitHandle(const ProgramRun& run, const std::string& unit) {
    const std::string prefix = "vorn_kvusb: removal notifications for " + unit + " handle 0x";
    for (const std::string& line : run.Traces()) {
        if (line.rfind(prefix, 0) == 0) {
            return reinterpret_cast<HANDLE>(
                std::strtoull(line.c_str() + prefix.size(), nullptr, 16));
        }
    }
    return nullptr;
}

TEST_F(ProgramTest, EjectingTheProjectorLetsGoOfItsUnitsBeforeTheAnswer) {
    Start({.dispMode = 1, .zoomMode = 0});
    // Registered at the window's creation, which may still run when the first frames are in.
    HANDLE disk2 = nullptr;
    ASSERT_TRUE(
        WaitFor([&] { return (disk2 = TracedUnitHandle(run_, "Disk2")) != nullptr; }, 10000));
    // Another device's removal is granted and changes nothing.
    EXPECT_EQ(run_.SendQueryRemove(reinterpret_cast<HANDLE>(0x7F10)), TRUE);
    EXPECT_TRUE(run_.WaitForFrames(run_.Report().frames + 5));
    EXPECT_EQ(run_.WaitForExit(0), static_cast<DWORD>(STILL_ACTIVE));

    EXPECT_EQ(run_.SendQueryRemove(disk2), TRUE);
    // Granted only once the whole shutdown, the units' handles included, has run; the loop
    // then ends on the quit message, and nothing is done twice.
    EXPECT_EQ(run_.CountTrace("vorn_kvusb end!\n"), 1);
    EXPECT_EQ(run_.WaitForExit(), 0u);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), startWidth_);
    EXPECT_EQ(ReadSetting(L"DispMode"), 1u);
    EXPECT_FALSE(run_.TrayIconPresent());
    EXPECT_TRUE(run_.TracedInOrder({"vorn_kvusb: the projector is to be removed, letting it go!\n",
                                    "KVUSB cd removed, will stop vorn_kvusb thread!\n",
                                    " KVCapAPI_Uninitialize success\n", "vorn_kvusb end!\n",
                                    "return from CreateMyWindow!\n"}));
    EXPECT_EQ(run_.CountTrace("vorn_kvusb end!\n"), 1);
    EXPECT_EQ(run_.Report().rejected, 0);
}

TEST_F(ProgramTest, SuspendEndsTheProgramOtherPowerEventsDoNot) {
    Start({.dispMode = 0, .zoomMode = 1});
    run_.Post(WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC);
    run_.Post(WM_POWERBROADCAST, PBT_APMPOWERSTATUSCHANGE);
    EXPECT_TRUE(run_.WaitForFrames(run_.Report().frames + 5));
    EXPECT_EQ(run_.WaitForExit(0), static_cast<DWORD>(STILL_ACTIVE));
    run_.Post(WM_POWERBROADCAST, PBT_APMSUSPEND);
    ExpectCleanEnd(0, 1);
    EXPECT_TRUE(run_.TracedInOrder({"PBT_APMSUSPEND detected, will stop vorn_kvusb!\n",
                                    "return from CreateMyWindow!\n", "vorn_kvusb end!\n"}));
}

TEST_F(ProgramTest, SuspendWithTheMenuOpenEndsAtOnce) {
    Start({.dispMode = 0, .zoomMode = 0});
    OpenMenu();
    run_.Post(WM_POWERBROADCAST, PBT_APMSUSPEND);
    ExpectCleanEnd(0, 0);
    EXPECT_TRUE(run_.TracedInOrder({"PBT_APMSUSPEND detected, will stop vorn_kvusb!\n",
                                    "vorn_kvusb quit with menu!\n", "vorn_kvusb end!\n"}));
}

TEST_F(ProgramTest, TheEndOfTheSessionPutsTheDesktopBackBeforeItAnswers) {
    Start({.dispMode = 1, .zoomMode = 1});
    ASSERT_EQ(GetSystemMetrics(SM_CXSCREEN), 800);
    EXPECT_EQ(run_.Send(WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
    // Another program refused: the session, and the program, go on.
    EXPECT_EQ(run_.Send(WM_ENDSESSION, FALSE, ENDSESSION_LOGOFF), 0);
    EXPECT_TRUE(run_.WaitForFrames(run_.Report().frames + 5));
    EXPECT_EQ(run_.WaitForExit(0), static_cast<DWORD>(STILL_ACTIVE));

    // The session ends once the answer is in: by then the whole shutdown has run.
    run_.Send(WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), startWidth_);
    EXPECT_EQ(ReadSetting(L"DispMode"), 1u);
    ExpectCleanEnd(1, 1);
    EXPECT_TRUE(run_.TracedInOrder({"WM_ENDSESSION 0x80000000, will stop vorn_kvusb!\n",
                                    "SetDisplaySettings - nDispMode: 0x1, nZoomMode: 0x1\n",
                                    " KVCapAPI_Uninitialize success\n", "vorn_kvusb end!\n"}));
}

TEST_F(ProgramTest, ALockedSessionShowsBlackUntilItUnlocks) {
    Start();
    // The synthetic pattern is never all black; the frame file is rewritten once a second.
    EXPECT_TRUE(WaitFor([&] { return !run_.LastFrameBlack(); }, 5000));
    run_.Post(WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK);
    EXPECT_TRUE(run_.WaitForTrace("vorn_kvusb: session locked, black frames until it unlocks!\n"));
    EXPECT_TRUE(WaitFor([&] { return run_.LastFrameBlack(); }, 5000));
    EXPECT_TRUE(run_.WaitForFrames(run_.Report().frames + 5));  // frames keep coming
    run_.Post(WM_WTSSESSION_CHANGE, WTS_SESSION_UNLOCK);
    EXPECT_TRUE(WaitFor([&] { return !run_.LastFrameBlack(); }, 5000));
    run_.Post(WM_CLOSE);
    ExpectCleanEnd(1, 0);
}

// Someone takes the session from afar and unlocks it there: the PC's wall stays black until
// the session is back at its console.
TEST_F(ProgramTest, ASessionAwayFromTheConsoleShowsBlackUntilItIsBack) {
    Start();
    EXPECT_TRUE(WaitFor([&] { return !run_.LastFrameBlack(); }, 5000));
    run_.Post(WM_WTSSESSION_CHANGE, WTS_CONSOLE_DISCONNECT);
    run_.Post(WM_WTSSESSION_CHANGE, WTS_REMOTE_CONNECT);
    run_.Post(WM_WTSSESSION_CHANGE, WTS_SESSION_UNLOCK);
    EXPECT_TRUE(run_.WaitForTrace("vorn_kvusb: session unlocked!\n"));
    EXPECT_EQ(
        run_.CountTrace("vorn_kvusb: session left the console, black frames until it is back!\n"),
        2);
    EXPECT_TRUE(WaitFor([&] { return run_.LastFrameBlack(); }, 5000));
    run_.Post(WM_WTSSESSION_CHANGE, WTS_REMOTE_DISCONNECT);
    EXPECT_TRUE(run_.WaitForFrames(run_.Report().frames + 40));  // over a second of frames
    EXPECT_TRUE(run_.LastFrameBlack());
    run_.Post(WM_WTSSESSION_CHANGE, WTS_CONSOLE_CONNECT);
    EXPECT_TRUE(run_.WaitForTrace("vorn_kvusb: session back at the console!\n"));
    EXPECT_TRUE(WaitFor([&] { return !run_.LastFrameBlack(); }, 5000));
    run_.Post(WM_CLOSE);
    ExpectCleanEnd(1, 0);
}

// Wine's wtsapi32 answers no WTSSessionInfoEx query. For one run, the prefix's System32 holds a
// stand-in that reports the session locked, which the program alone takes in place of Wine's
// (its own DllOverrides under Wine's AppDefaults); Wine's own is put back once the program has
// loaded it.
class LockedSessionLibrary {
  public:
    LockedSessionLibrary() {
        wchar_t path[MAX_PATH] = {};
        GetSystemDirectoryW(path, MAX_PATH);
        system_ = std::wstring(path) + L"\\wtsapi32.dll";
        saved_ = system_ + L".e2e";
        GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring standIn(path);
        standIn = standIn.substr(0, standIn.rfind(L'\\')) + L"\\locked_session\\wtsapi32.dll";
        const char* program = std::getenv("E2E_PROGRAM");
        std::string name = program != nullptr ? program : "";
        name = name.substr(name.rfind('\\') + 1);
        overrides_ = L"Software\\Wine\\AppDefaults\\" + std::wstring(name.begin(), name.end()) +
                     L"\\DllOverrides";
        const wchar_t native[] = L"native";
        installed_ = !name.empty() &&
                     RegSetKeyValueW(HKEY_CURRENT_USER, overrides_.c_str(), L"wtsapi32", REG_SZ,
                                     native, sizeof native) == ERROR_SUCCESS &&
                     MoveFileExW(system_.c_str(), saved_.c_str(), MOVEFILE_REPLACE_EXISTING) &&
                     CopyFileW(standIn.c_str(), system_.c_str(), FALSE);
    }
    ~LockedSessionLibrary() { Restore(); }
    LockedSessionLibrary(const LockedSessionLibrary&) = delete;
    LockedSessionLibrary& operator=(const LockedSessionLibrary&) = delete;

    bool Installed() const { return installed_; }
    void Restore() {
        if (GetFileAttributesW(saved_.c_str()) != INVALID_FILE_ATTRIBUTES) {
            MoveFileExW(saved_.c_str(), system_.c_str(), MOVEFILE_REPLACE_EXISTING);
        }
        RegDeleteKeyValueW(HKEY_CURRENT_USER, overrides_.c_str(), L"wtsapi32");
    }

  private:
    std::wstring system_;
    std::wstring saved_;
    std::wstring overrides_;
    bool installed_ = false;
};

TEST_F(ProgramTest, AStartOnALockedSessionIsBlackFromTheFirstFrame) {
    LockedSessionLibrary library;
    ASSERT_TRUE(library.Installed());
    ASSERT_TRUE(run_.Start({}, 1));
    library.Restore();
    EXPECT_TRUE(
        run_.TracedInOrder({"vorn_kvusb: session locked at start, black frames until it unlocks!\n",
                            "vorn_kvusb started!\n", " KVCapAPI_Start success\n"}));
    // The frame file is first written with the first frames.
    ASSERT_TRUE(WaitFor([&] { return run_.WorkFileExists("frame.ppm"); }, 5000));
    EXPECT_TRUE(run_.LastFrameBlack());
    run_.Post(WM_WTSSESSION_CHANGE, WTS_SESSION_UNLOCK);
    EXPECT_TRUE(WaitFor([&] { return !run_.LastFrameBlack(); }, 5000));
    run_.Post(WM_CLOSE);
    ExpectCleanEnd(1, 0);
}

TEST_F(ProgramTest, TheIconComesBackWhenTheShellRestarts) {
    Start();
    // Added at the window's creation, which may still run when the first frames are in.
    ASSERT_TRUE(WaitFor([&] { return run_.TrayIconPresent(); }, 10000));
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = run_.Window();
    data.uID = IDI_KVUSB;
    ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &data));  // as a shell restart loses it
    ASSERT_FALSE(run_.TrayIconPresent());
    run_.Post(kTaskbarCreated);
    EXPECT_TRUE(WaitFor([&] { return run_.TrayIconPresent(); }, 10000));
    run_.Post(WM_CLOSE);
    ExpectCleanEnd(1, 0);
}

TEST_F(ProgramTest, AnOverheatOpensOneWarningAtATimeAndThePollGoesOn) {
    Start({.device = "link=2.0,fault=1"});
    ASSERT_TRUE(run_.WaitForWindowCount(kDialogClass, kWarningTitle, 1));
    Screenshot("overheat_warning");
    const std::string poll = "DevErrTimerProc: scsi_cmd_read_driverless success!\n";
    const int polls = run_.CountTrace(poll);
    EXPECT_TRUE(run_.WaitForTrace(poll, polls + 3));
    EXPECT_EQ(run_.Windows(kDialogClass, kWarningTitle).size(), 1u);
    EXPECT_EQ(run_.CountTrace("Dialog2Proc: hwnd " +
                              std::to_string(reinterpret_cast<intptr_t>(
                                  run_.Windows(kDialogClass, kWarningTitle).front())) +
                              ", LCID 409\n"),
              1);
    // Escape closes it; the fault persists, so the next poll opens a new one.
    PostMessageW(run_.Windows(kDialogClass, kWarningTitle).front(), WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(WaitFor(
        [&] {
            int opened = 0;
            for (const std::string& trace : run_.Traces()) {
                opened += trace.rfind("Dialog2Proc: hwnd ", 0) == 0 ? 1 : 0;
            }
            return opened == 2;
        },
        10000));
    EXPECT_TRUE(run_.WaitForFrames(run_.Report().frames + 5));
    run_.Post(WM_CLOSE);
    ExpectCleanEnd(1, 0);
}

TEST_F(ProgramTest, AFanFailureOpensItsOwnWarning) {
    Start({.device = "link=2.0,fault=2"});
    ASSERT_TRUE(run_.WaitForWindowCount(kDialogClass, kWarningTitle, 1));
    EXPECT_TRUE(WaitFor(
        [&] {
            for (const std::string& trace : run_.Traces()) {
                if (trace.rfind("Dialog3Proc: hwnd ", 0) == 0) {
                    return true;
                }
            }
            return false;
        },
        5000));
    run_.Post(WM_CLOSE);
    ExpectCleanEnd(1, 0);
}

TEST_F(ProgramTest, ACaptureSourceThatCannotStartIsShownAndNothingStarts) {
    if (ProjectorBelow()) {
        GTEST_SKIP() << "the shipped program below takes no capture source";
    }
    ASSERT_TRUE(run_.Launch({.capture = "synthetic:png=C:\\nowhere\\picture.png"}));
    ASSERT_TRUE(run_.WaitForWindowCount(kDialogClass, L"vorn_kvusb_sim", 1));
    const HWND box = run_.Windows(kDialogClass, L"vorn_kvusb_sim").front();
    wchar_t text[512] = {};
    GetDlgItemTextW(box, 0xFFFF, text, 512);  // a message box's text
    EXPECT_NE(std::wstring(text).find(L"cannot replay \"C:\\nowhere\\picture.png\""),
              std::wstring::npos);
    Screenshot("capture_source_error");
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(run_.WaitForExit(), 2u);
    EXPECT_FALSE(run_.WorkFileExists("report.txt"));  // the projector was never opened
    EXPECT_EQ(run_.CountTrace("vorn_kvusb started!\n"), 0);
    EXPECT_FALSE(ReadSetting(L"DispMode"));
}

TEST_F(ProgramTest, TheAboutBoxShowsBothVersions) {
    Start();
    run_.Post(WM_COMMAND, IDM_ABOUT);
    ASSERT_TRUE(run_.WaitForWindowCount(kDialogClass, kAboutTitle, 1));
    HWND about = run_.Windows(kDialogClass, kAboutTitle).front();
    wchar_t text[128] = {};
    GetDlgItemTextW(about, IDC_APP_VERSION, text, 128);
    EXPECT_STREQ(text, L"Tarq Projira Version 1.0.0.6");
    GetDlgItemTextW(about, IDC_FW_VERSION, text, 128);
    EXPECT_STREQ(text, L"K7Q0 FW Version 1.2.3.260 A01");
    EXPECT_TRUE(run_.WaitForTrace("AboutProc: MCU FW A01\n"));
    Screenshot("about_en");
    PostMessageW(about, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(run_.WaitForWindowCount(kDialogClass, kAboutTitle, 0));
    run_.Post(WM_CLOSE);
    ExpectCleanEnd(1, 0);
}

}  // namespace
