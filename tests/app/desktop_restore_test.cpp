#include "app/desktop_restore.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "app/capture_session.h"
#include "app/display_mode.h"
#include "app/frame_pipeline.h"
#include "app/shutdown.h"
#include "tests/support/engine_fixture.h"

namespace {

using Size = std::pair<int, int>;

constexpr DesktopSize kStart{kStartWidth, kStartHeight};
constexpr DesktopSize kLeftBehind{1920, 1080};

TEST(ActOnLeftoverRecord, WhatAStartDoesWithARecordLeftBehind) {
    const DesktopSize at800x600{800, 600};
    EXPECT_EQ(ActOnLeftoverRecord(std::nullopt, at800x600, false), LeftoverRecord::None);
    EXPECT_EQ(ActOnLeftoverRecord(std::nullopt, at800x600, true), LeftoverRecord::None);
    // The mirror mode keeps the desktop as it is: the user's size comes back at once.
    EXPECT_EQ(ActOnLeftoverRecord(kLeftBehind, at800x600, false), LeftoverRecord::Restore);
    EXPECT_EQ(ActOnLeftoverRecord(kLeftBehind, kLeftBehind, false), LeftoverRecord::Clear);
    // The 800 x 600 mode switches anyway: the record, not 800 x 600, is the size to go back to.
    EXPECT_EQ(ActOnLeftoverRecord(kLeftBehind, at800x600, true), LeftoverRecord::GoBackToIt);
    EXPECT_EQ(ActOnLeftoverRecord(kLeftBehind, kLeftBehind, true), LeftoverRecord::GoBackToIt);
}

// Records what the registry held each time the desktop was changed, and can run a step of its
// own inside a change, where the system answers the change's broadcast.
class WatchedDesktop final : public RecordedDesktop {
  public:
    explicit WatchedDesktop(MemorySettingsStore& store)
        : RecordedDesktop(kStartWidth, kStartHeight), m_store(store) {}

    bool ChangeSize(int width, int height) override {
        m_recordAtChange.push_back(m_store.Value(kSettingsKey, RESTORE_WIDTH_VALUE).value_or(0));
        if (m_during) {
            std::function<void()> during = std::move(m_during);
            m_during = nullptr;
            during();
        }
        return RecordedDesktop::ChangeSize(width, height);
    }

    MemorySettingsStore& m_store;
    std::vector<uint32_t> m_recordAtChange;  // "RestoreWidth" when each change began
    std::function<void()> m_during;          // run inside the next change
};

class DesktopRestoreTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        m_saved = g_pDesktop;
        g_pDesktop = &m_watched;
    }
    void TearDown() override {
        g_pDesktop = m_saved;
        EngineTest::TearDown();
    }
    std::optional<DesktopSize> Record() {
        const uint32_t width = m_store.Value(kSettingsKey, RESTORE_WIDTH_VALUE).value_or(0);
        const uint32_t height = m_store.Value(kSettingsKey, RESTORE_HEIGHT_VALUE).value_or(0);
        if (width == 0) {
            return std::nullopt;
        }
        return DesktopSize{static_cast<int>(width), static_cast<int>(height)};
    }
    // A start with the desktop at 800 x 600, where a run that died left its record.
    void StartAfterADeadRun(int32_t dispMode) {
        g_nScreenWidth = 800;
        g_nScreenHeight = 600;
        m_store.SetValue(kSettingsKey, "DispMode", static_cast<uint32_t>(dispMode));
        m_store.SetValue(kSettingsKey, RESTORE_WIDTH_VALUE, kLeftBehind.width);
        m_store.SetValue(kSettingsKey, RESTORE_HEIGHT_VALUE, kLeftBehind.height);
        ApplySavedDisplayMode();
    }

    WatchedDesktop m_watched{m_store};
    Desktop* m_saved = nullptr;
};

TEST_F(DesktopRestoreTest, TheRecordIsWrittenBeforeTheFirstChangeAndClearedOnceBack) {
    SelectDisplayMode(DISP_MODE_800X600, ZOOM_ORIGINAL);
    EXPECT_EQ(m_watched.m_recordAtChange, std::vector<uint32_t>{kStartWidth});
    EXPECT_EQ(Record(), kStart);
    SelectDisplayMode(DISP_MODE_MIRROR, ZOOM_ORIGINAL);
    EXPECT_EQ(Record(), std::nullopt);
    SelectDisplayMode(DISP_MODE_800X600, ZOOM_ORIGINAL);
    EXPECT_EQ(Record(), kStart);
    RestoreDesktopSize();
    EXPECT_EQ(
        m_watched.Changes(),
        (std::vector<Size>{
            {800, 600}, {kStartWidth, kStartHeight}, {800, 600}, {kStartWidth, kStartHeight}}));
    EXPECT_EQ(Record(), std::nullopt);
    // Gone, not zeroed: the user's settings keep only what they chose.
    EXPECT_FALSE(m_store.Value(kSettingsKey, RESTORE_HEIGHT_VALUE).has_value());
}

TEST_F(DesktopRestoreTest, ARestoreThatFailsKeepsTheRecordForTheNextStart) {
    SelectDisplayMode(DISP_MODE_800X600, ZOOM_ORIGINAL);
    m_watched.FailChanges(true);
    RestoreDesktopSize();
    EXPECT_EQ(Record(), kStart);
}

TEST_F(DesktopRestoreTest, ARunThatNeverChangedTheDesktopPutsNothingBack) {
    m_store.SetValue(kSettingsKey, "DispMode", DISP_MODE_MIRROR);
    ApplySavedDisplayMode();
    RestoreDesktopSize();
    RestoreDesktopAtOnce();
    EXPECT_TRUE(m_watched.Changes().empty());
    EXPECT_FALSE(m_store.Value(kSettingsKey, RESTORE_WIDTH_VALUE).has_value());
}

TEST_F(DesktopRestoreTest, AMirrorStartPutsBackTheSizeARunLeftBehind) {
    StartAfterADeadRun(DISP_MODE_MIRROR);
    EXPECT_EQ(m_watched.Changes(), (std::vector<Size>{{1920, 1080}}));
    EXPECT_EQ(Record(), std::nullopt);
    EXPECT_EQ(g_nScreenWidth, 1920);
    RestoreDesktopSize();
    EXPECT_EQ(m_watched.Changes().size(), 1u);
}

TEST_F(DesktopRestoreTest, An800x600StartGoesBackToTheSizeARunLeftBehind) {
    StartAfterADeadRun(DISP_MODE_800X600);
    EXPECT_EQ(Record(), kLeftBehind);
    RestoreDesktopSize();
    EXPECT_EQ(m_watched.Changes(), (std::vector<Size>{{800, 600}, {1920, 1080}}));
    EXPECT_EQ(Record(), std::nullopt);
}

// The crashed code may hold anything: a change in flight on another thread is not waited for,
// and the window, which the change's broadcast reaches, answers without the frame lock.
TEST_F(DesktopRestoreTest, ACrashPutsTheSizeBackWithoutWaitingForTheCrashedCode) {
    StartSession("link=2.0");
    SelectDisplayMode(DISP_MODE_800X600, ZOOM_ORIGINAL);
    std::mutex lock;
    std::condition_variable changed;
    bool inside = false;
    bool release = false;
    m_watched.m_during = [&] {
        std::unique_lock<std::mutex> hold(lock);
        inside = true;
        changed.notify_all();
        changed.wait(hold, [&] { return release; });
    };
    std::thread menu([] { ChangeDesktopSize(800, 600); });
    {
        std::unique_lock<std::mutex> hold(lock);
        changed.wait(hold, [&] { return inside; });
    }
    std::atomic<bool> restored{false};
    std::unique_lock<std::mutex> frames(g_csFrames);
    m_watched.m_during = [] { OnDisplayChange(); };
    std::thread crash([&] {
        RestoreDesktopAfterCrash();
        restored.store(true);
    });
    EXPECT_TRUE(WaitUntil([&] { return restored.load(); }, 10));
    frames.unlock();
    crash.join();
    EXPECT_EQ(m_watched.Changes().back(), Size(kStartWidth, kStartHeight));
    {
        std::lock_guard<std::mutex> hold(lock);
        release = true;
    }
    changed.notify_all();
    menu.join();
    g_nShutdownState.store(SHUTDOWN_NONE);
    ReleaseCapture();
}

// The shutdown's restore lands after a change the main thread has in flight, and no change
// starts after it.
TEST_F(DesktopRestoreTest, TheShutdownsRestoreComesAfterAChangeInFlightAndNothingAfterIt) {
    std::atomic<bool> release{false};
    m_watched.m_during = [&] { WaitUntil([&] { return release.load(); }); };
    std::thread menu([] { ChangeDesktopSize(800, 600); });
    WaitUntil([] { return g_nDesktopChanges.load() == 1; });
    std::thread shutdown(RestoreDesktopSize);
    WaitUntil([] { return (g_nDesktopChanges.load() & DESKTOP_RESTORE_BEGUN) != 0; });
    release.store(true);
    menu.join();
    shutdown.join();
    EXPECT_EQ(ChangeDesktopSize(800, 600), -2);
    EXPECT_EQ(m_watched.Changes(), (std::vector<Size>{{800, 600}, {kStartWidth, kStartHeight}}));
    EXPECT_EQ(Record(), std::nullopt);
}

// The projector lost while the main thread changes the desktop, and inside that change (as
// Windows delivers WM_DISPLAYCHANGE to the changing thread's own window) closes the session:
// the sender's shutdown waits for the change to end, so the main thread must not wait for
// the sender.
TEST_F(DesktopRestoreTest, ALossWhileTheMainThreadChangesTheDesktopEndsTheProgram) {
    StartSession("link=2.0");
    ASSERT_TRUE(WaitForFramesShown(1));
    m_watched.m_during = [this] {
        m_projector->VanishAfter(0);
        WaitUntil([] { return ShutdownBegun(); });
        CloseCapture();
    };
    SelectDisplayMode(DISP_MODE_800X600, ZOOM_1);
    EXPECT_EQ(WaitForExit(), 0);
    EXPECT_EQ(m_watched.Changes(), (std::vector<Size>{{800, 600}, {kStartWidth, kStartHeight}}));
    EXPECT_EQ(Record(), std::nullopt);
    EXPECT_FALSE(Traced(" KVCapAPI_Close success\n"));  // the library is the shutdown's
    ReleaseCapture();
}

}  // namespace
