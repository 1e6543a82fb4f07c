#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "emulator/virtual_projector.h"
#include "platform/desktop_recorded.h"
#include "platform/process_list.h"
#include "platform/settings_store_memory.h"
#include "tests/support/caught_exits.h"
#include "tests/support/trace_recorder.h"

// Everything the streaming engine reaches outside itself, made observable, for the engine's
// tests and the tray's: a settings store and a desktop that record, a process list, the
// virtual projector as the device, the synthetic capture source, traces captured, and process
// exits caught (thrown back as ExitCalled on the test's own thread, the thread ended on any
// other). Whatever a test swaps is put back afterwards.

inline constexpr char kSettingsKey[] = "Software\\K7Q0KVUSB";
inline constexpr int kStartWidth = 1280;
inline constexpr int kStartHeight = 1024;

class FakeProcessList : public ProcessList {
  public:
    bool ListIds(uint32_t* ids, size_t capacity, size_t* count) override;
    bool ModuleBaseName(uint32_t id, char* name, size_t size) override;

    std::map<uint32_t, std::string> names;  // a process without a name cannot be opened
    std::vector<uint32_t> listed;           // what the system reports, maybe more than asked
    bool fail = false;
    uint32_t highestIdOpened = 0;
};

class EngineTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Installs a virtual projector configured by `options` (the text after "virtual:").
    void AttachProjector(const std::string& options);
    // AttachProjector, the projector found and opened; the traces start afresh.
    void OpenProjector(const std::string& options);
    // The projector found and opened, the capture library initialised, a handle created.
    void StartDevice(const std::string& options);
    // StartDevice, then a session opened at `zoom`.
    void StartSession(const std::string& options, int zoom = 0);

    // Waits until `done` holds; false after `seconds`.
    static bool WaitUntil(const std::function<bool()>& done, double seconds = 20);
    bool WaitForFramesShown(int frames, double seconds = 20);
    int FramesShown() const;
    // Waits for the process exit a thread asked for; -1 when none came.
    int WaitForExit(double seconds = 20);

    std::vector<std::string> Traces();
    bool Traced(const std::string& line);
    // Index of the first trace equal to `line` at or after `from`, or -1.
    int TraceIndex(const std::string& line, int from = 0);
    void ClearTraces();

    MemorySettingsStore m_store;
    RecordedDesktop m_desktop{kStartWidth, kStartHeight};
    FakeProcessList m_processes;
    std::unique_ptr<emu::VirtualProjector> m_projector;

  private:
    TraceRecorder m_traces;
    CaughtExits m_exits;
    SettingsStore* m_savedStore = nullptr;
    Desktop* m_savedDesktop = nullptr;
    ProcessList* m_savedProcessList = nullptr;
};
