#include "tests/support/engine_fixture.h"

#include <cstring>
#include <mutex>
#include <thread>

#include "app/capture_session.h"
#include "app/display_mode.h"
#include "app/frame_pipeline.h"
#include "app/power_mode.h"
#include "app/shutdown.h"
#include "device/device_discovery.h"
#include "device/device_status.h"
#include "device/frame_transfer.h"
#include "image/image_flip.h"
#include "platform/debug_print.h"
#include "platform/process_exit.h"

namespace {

// The engine's process-wide state as a fresh process has it.
void ResetEngineState() {
    g_nShutdownState.store(SHUTDOWN_NONE);
    AttachProgramWindow(nullptr);
    SetCaptureState(CAPTURE_STOPPED);
    g_nCaptureZoom = ZOOM_ORIGINAL;
    g_bBlankFrames.store(false);
    {
        std::lock_guard<std::mutex> hold(g_csFrames);
        g_FrameQueue.clear();
        g_nQueuedFrames.store(0);
        g_nNextBuffer = 0;
    }
    g_nLinkErrors = 0;
    g_nStatFrames = 0;
    g_nStatTime = 0;
    g_bFrameToggle = 0;
    DispMode.store(DISP_MODE_MIRROR);
    ZoomMode.store(ZOOM_ORIGINAL);
    SetWallHold(WALL_LIVE);
    FlipMode.store(FLIP_NONE);
    SetCaptureFlip(FLIP_NONE);
    SetCaptureWindow(0);
    PowerMode = POWER_MODE_AUTO;
    g_nScreenWidth = kStartWidth;
    g_nScreenHeight = kStartHeight;
    g_bDesktopChanged.store(false);
    g_nDesktopChanges.store(0);
    g_hDisk1 = nullptr;
    g_hDisk2 = nullptr;
    g_USB3_0 = 0;
    g_uOpticalSearchIndex = 0;
    g_uDiskSearchIndex = 0;
}
}  // namespace

bool FakeProcessList::ListIds(uint32_t* ids, size_t capacity, size_t* count) {
    if (fail) {
        return false;
    }
    // Like EnumProcesses, never more than the buffer holds.
    *count = std::min(listed.size(), capacity);
    std::copy(listed.begin(), listed.begin() + *count, ids);
    return true;
}

bool FakeProcessList::ModuleBaseName(uint32_t id, char* name, size_t size) {
    highestIdOpened = std::max(highestIdOpened, id);
    auto found = names.find(id);
    if (found == names.end()) {
        return false;
    }
    std::strncpy(name, found->second.c_str(), size - 1);
    name[size - 1] = '\0';
    return true;
}

void EngineTest::SetUp() {
    ResetEngineState();
    ClearTraces();
    m_exits.Clear();
    m_savedStore = g_pSettingsStore;
    m_savedDesktop = g_pDesktop;
    m_savedProcessList = g_pProcessList;
    g_pSettingsStore = &m_store;
    g_pDesktop = &m_desktop;
    g_pProcessList = &m_processes;
    m_processes.listed = {4, 100};
    m_processes.names = {{4, "System"}, {100, "vorn_kvusb.exe"}};
    KVCapSetSource("synthetic");
}

void EngineTest::TearDown() {
    if (g_hCapture.load() != NO_CAPTURE) {
        ReleaseCapture();
    }
    g_pDeviceBackend = nullptr;
    m_projector.reset();
    g_pSettingsStore = m_savedStore;
    g_pDesktop = m_savedDesktop;
    g_pProcessList = m_savedProcessList;
}

void EngineTest::AttachProjector(const std::string& options) {
    emu::VirtualConfig config;
    std::string error;
    std::string text = options.empty() ? "virtual" : "virtual:" + options;
    ASSERT_TRUE(emu::ParseVirtualConfig(text, &config, &error)) << error;
    m_projector = std::make_unique<emu::VirtualProjector>(config);
    g_pDeviceBackend = m_projector.get();
}

void EngineTest::OpenProjector(const std::string& options) {
    AttachProjector(options);
    ASSERT_EQ(OpenDriverlessDevice(), 1);
    ClearTraces();  // the device search's own
}

void EngineTest::StartDevice(const std::string& options) {
    AttachProjector(options);
    ASSERT_EQ(OpenDriverlessDevice(), 1);
    g_nCaptureZoom = ZOOM_ORIGINAL;
    InitCapture();
    CreateCapture();
    ASSERT_NE(g_hCapture.load(), NO_CAPTURE);
}

void EngineTest::StartSession(const std::string& options, int zoom) {
    StartDevice(options);
    g_nCaptureZoom = zoom;
    OpenCapture();
}

bool EngineTest::WaitUntil(const std::function<bool()>& done, double seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

int EngineTest::FramesShown() const {
    emu::EmulatorReport report = m_projector->Report();
    return report.projectors.empty()
               ? 0
               : report.projectors[0].framesCompleted[0] + report.projectors[0].framesCompleted[1];
}

bool EngineTest::WaitForFramesShown(int frames, double seconds) {
    return WaitUntil([&] { return FramesShown() >= frames; }, seconds);
}

int EngineTest::WaitForExit(double seconds) {
    WaitUntil([this] { return m_exits.Code() != -1; }, seconds);
    return m_exits.Code();
}

std::vector<std::string> EngineTest::Traces() {
    return m_traces.Traces();
}

bool EngineTest::Traced(const std::string& line) {
    return TraceIndex(line) >= 0;
}

int EngineTest::TraceIndex(const std::string& line, int from) {
    std::vector<std::string> traces = Traces();
    for (int i = from; i < static_cast<int>(traces.size()); ++i) {
        if (traces[i] == line) {
            return i;
        }
    }
    return -1;
}

void EngineTest::ClearTraces() {
    m_traces.Clear();
}
