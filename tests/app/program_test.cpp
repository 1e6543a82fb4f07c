#include "app/program.h"

#include <array>
#include <functional>
#include <memory>
#include <thread>

#include "app/capture_session.h"
#include "app/device_selection.h"
#include "app/display_mode.h"
#include "app/frame_pipeline.h"
#include "app/instance_count.h"
#include "app/program_window.h"
#include "app/shutdown.h"
#include "device/device_discovery.h"
#include "emulator/device_request.h"
#include "tests/support/engine_fixture.h"

namespace {

// The program's window for these runs: its loop is the test's, and its shutdown steps are
// counted, the icon record taken by exchange as the tray window takes it.
class TestWindow final : public ProgramWindow {
  public:
    explicit TestWindow(std::function<void()> loop) : m_loop(std::move(loop)) {}
    ~TestWindow() {
        AttachProgramWindow(nullptr);
        delete m_trayIcon.load();
    }

    int RunLoop() override {
        AttachProgramWindow(this);
        m_loop();
        return 0;
    }
    void StopFaultPoll() override { m_timersKilled.fetch_add(1); }
    void ReleaseTrayIcon() override {
        if (int* icon = m_trayIcon.exchange(nullptr)) {
            delete icon;
            m_iconsDeleted.fetch_add(1);
        }
    }
    bool ContextMenuOpen() override { return false; }
    void DestroyContextMenu() override {}
    void PostQuit() override {}

    std::atomic<int> m_timersKilled{0};
    std::atomic<int> m_iconsDeleted{0};
    std::atomic<int*> m_trayIcon{new int(105)};

  private:
    std::function<void()> m_loop;
};

class ProgramTest : public EngineTest {
  protected:
    // Runs the program on a thread of its own, as the process's main thread, with a window
    // whose loop returns once `frames` frames were shown (WM_CLOSE) or when told to.
    void Run(int frames) {
        Run([this, frames] {
            WaitUntil([&] { return m_quit.load() || FramesShown() >= frames; });
        });
    }
    void Run(std::function<void()> loop) {
        m_quit.store(false);
        m_result.store(-1);
        m_window = std::make_unique<TestWindow>(std::move(loop));
        m_main = std::thread([this] { m_result.store(RunProgram(PROGRAM_FILE_NAME, *m_window)); });
    }
    int Join() {
        m_main.join();
        return m_result.load();
    }
    std::atomic<bool> m_quit{false};
    std::atomic<int> m_result{-1};
    std::unique_ptr<TestWindow> m_window;
    std::thread m_main;
};

TEST_F(ProgramTest, ASecondInstanceEndsAtOnceAndTouchesNothing) {
    m_processes.listed = {4, 100, 200};
    m_processes.names[200] = "vorn_kvusb.exe";
    AttachProjector("");
    Run(1);
    EXPECT_EQ(Join(), 0);
    EXPECT_TRUE(Traces().empty());
    EXPECT_EQ(m_projector->Report().commands, 0u);
    EXPECT_TRUE(m_desktop.Changes().empty());
    EXPECT_FALSE(m_store.HasKey(kSettingsKey));
}

TEST_F(ProgramTest, OnlyTheExactExecutableNameCounts) {
    m_processes.listed = {0, 4, 100, 200, 300, 400};
    m_processes.names = {{4, "System"},
                         {100, "vorn_kvusb.exe"},
                         {200, "VORN_KVUSB.EXE"},
                         {300, "vorn_kvusb_copy.exe"}};  // 400 cannot be opened
    EXPECT_EQ(CountInstances(), 1);
    m_processes.names[400] = "vorn_kvusb.exe";
    EXPECT_EQ(CountInstances(), 2);
}

TEST_F(ProgramTest, TheCountLooksAtNoMoreThan1024Processes) {
    m_processes.listed.clear();
    for (uint32_t id = 1; id <= 2000; ++id) {
        m_processes.listed.push_back(id);
        m_processes.names[id] = "vorn_kvusb.exe";
    }
    EXPECT_EQ(CountInstances(), 1024);
    EXPECT_EQ(m_processes.highestIdOpened, 1024u);
}

TEST_F(ProgramTest, AProcessListThatCannotBeHadDoesNotLockTheUserOut) {
    m_processes.fail = true;
    EXPECT_EQ(CountInstances(), 1);
    EXPECT_TRUE(Traced("CountInstances: EnumProcesses failed!\n"));
}

TEST_F(ProgramTest, TheRequestSelectsTheVirtualProjectorOnlyInAProgramThatCanMakeOne) {
    ASSERT_TRUE(SelectDeviceBackend("virtual:link=3.0", emu::MakeVirtualProjector));
    auto* projector = dynamic_cast<emu::VirtualProjector*>(g_pDeviceBackend);
    ASSERT_NE(projector, nullptr);
    EXPECT_EQ(OpenDriverlessDevice(), 1);
    EXPECT_EQ(g_USB3_0, 1u);  // USB 3.0
    delete projector;

    g_pDeviceBackend = nullptr;
    EXPECT_FALSE(SelectDeviceBackend("virtual:link=fast", emu::MakeVirtualProjector));
    EXPECT_EQ(g_pDeviceBackend, nullptr);
    ASSERT_FALSE(Traces().empty());
    EXPECT_EQ(Traces().back().rfind("VORN_KVUSB_DEVICE: ", 0), 0u);

    // The shipped program has no maker: whatever the request, the system's units.
    for (const char* request : {"virtual:link=3.0", "virtual:link=fast", "", "system"}) {
        ASSERT_TRUE(SelectDeviceBackend(request, nullptr));
        ASSERT_NE(g_pDeviceBackend, nullptr);
        EXPECT_EQ(dynamic_cast<emu::VirtualProjector*>(g_pDeviceBackend), nullptr);
        delete g_pDeviceBackend;
        g_pDeviceBackend = nullptr;
    }
}

TEST_F(ProgramTest, NoProjectorEndsWithExitCode1AndLeavesDesktopAndSettingsAlone) {
    AttachProjector("projectors=0");
    Run(1);
    EXPECT_EQ(WaitForExit(), 1);
    Join();
    EXPECT_EQ(Traces().front(), "vorn_kvusb started!\n");
    EXPECT_TRUE(Traced("SetupDiEnumDeviceInterfaces failed.\n"));
    EXPECT_TRUE(m_desktop.Changes().empty());
    EXPECT_FALSE(m_store.HasKey(kSettingsKey));
    EXPECT_EQ(g_hCapture.load(), NO_CAPTURE);
}

TEST_F(ProgramTest, ANormalRunStreamsThenEndsInOrder) {
    AttachProjector("link=2.0");
    Run(3);
    EXPECT_EQ(Join(), 0);
    EXPECT_EQ(WaitForExit(0), -1);
    std::vector<std::string> traces = Traces();
    EXPECT_EQ(traces.front(), "vorn_kvusb started!\n");
    int at = TraceIndex("return from CreateMyWindow!\n");
    ASSERT_GE(at, 0);
    for (const char* line :
         {"SetDisplaySettings - nDispMode: 0x1, nZoomMode: 0x0\n", " KVCapAPI_Close success\n",
          " KVCapAPI_Release success\n", " KVCapAPI_Uninitialize success\n", "vorn_kvusb end!\n"}) {
        int next = TraceIndex(line, at);
        EXPECT_GT(next, at) << line;
        at = next;
    }
    EXPECT_EQ(at, static_cast<int>(traces.size()) - 1);
    // First run: 800 x 600 while streaming, the start-up size again at the end.
    EXPECT_EQ(m_desktop.Changes(),
              (std::vector<std::pair<int, int>>{{800, 600}, {kStartWidth, kStartHeight}}));
    EXPECT_EQ(m_store.Value(kSettingsKey, "DispMode"), 1u);
    EXPECT_EQ(m_store.Value(kSettingsKey, "ZoomMode"), 0u);
    emu::EmulatorReport report = m_projector->Report();
    EXPECT_GE(report.projectors[0].framesCompleted[0] + report.projectors[0].framesCompleted[1], 3);
    EXPECT_EQ(report.protocolErrorCount, 0u)
        << (report.protocolErrors.empty() ? "" : report.protocolErrors[0]);
    EXPECT_EQ(g_hDisk1, nullptr);
    EXPECT_EQ(g_hCapture.load(), NO_CAPTURE);
}

TEST_F(ProgramTest, AfterDeviceLossTheSettingsInForceAreSavedAndTheLibraryIsKept) {
    m_store.SetValue(kSettingsKey, "DispMode", 0);
    m_store.SetValue(kSettingsKey, "ZoomMode", 2);
    AttachProjector("link=2.0,vanish_after=60");
    Run(1000);
    EXPECT_EQ(WaitForExit(), 0);
    m_quit.store(true);
    Join();
    EXPECT_EQ(m_store.Value(kSettingsKey, "DispMode"), 0u);
    EXPECT_EQ(m_store.Value(kSettingsKey, "ZoomMode"), 2u);
    EXPECT_FALSE(Traced(" KVCapAPI_Release success\n"));
    EXPECT_EQ(TraceIndex("vorn_kvusb end!\n", TraceIndex("vorn_kvusb end!\n") + 1), -1);
    EXPECT_TRUE(m_desktop.Changes().empty());  // the mirror mode is not forced back
}

// Unplugging starts both ends at once: the sender thread sees the device gone while the main
// thread, told of the removal, runs the full shutdown. Everything is released once.
TEST_F(ProgramTest, BothShutdownsAtOnceReleaseEverythingOnce) {
    int senderShutdowns = 0;
    for (int round = 0; round < 30; ++round) {
        SCOPED_TRACE(round);
        TearDown();
        SetUp();
        AttachProjector("link=2.0");
        const uint64_t vanishAfter = std::array<uint64_t, 3>{0, 3, 40}[round % 3];
        Run([this, vanishAfter] {
            // Once frames flow the projector is unplugged, the removal notice reaching the
            // window at about the moment the sender's next writes fail: at once, or a few
            // writes into the frame, or before the sender gets there.
            WaitUntil([this] { return FramesShown() >= 1; });
            m_projector->VanishAfter(vanishAfter);
            if (vanishAfter == 0) {
                WaitUntil([this] { return m_projector->Report().vanished; });
            }
        });
        Join();
        // When the sender's shutdown ran, the library is still open and its thread may still
        // be on its way out: releasing the library waits for it.
        bool senderEnded = g_hCapture.load() != NO_CAPTURE;
        if (senderEnded) {
            ReleaseCapture();
        }
        EXPECT_EQ(WaitForExit(0), senderEnded ? 0 : -1);
        senderShutdowns += senderEnded;
        EXPECT_EQ(m_result.load(), 0);
        EXPECT_EQ(m_window->m_iconsDeleted.load(), 1);
        EXPECT_EQ(m_window->m_trayIcon.load(), nullptr);
        EXPECT_EQ(g_nShutdownState.load(), SHUTDOWN_DONE);
        int ends = 0;
        for (const std::string& line : Traces()) {
            ends += line == "vorn_kvusb end!\n";
        }
        EXPECT_EQ(ends, 1);
        EXPECT_EQ(m_desktop.Changes().back(), std::make_pair(kStartWidth, kStartHeight));
    }
    RecordProperty("SenderShutdowns", senderShutdowns);
}

}  // namespace
