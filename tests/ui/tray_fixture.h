#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "emulator/virtual_projector.h"
#include "platform/desktop_recorded.h"
#include "platform/settings_store_memory.h"

// The tray's plain logic against real parts: the virtual projector opened as the device, a
// settings store and a desktop that record, traces captured, and process exits turned into
// an ExitCalled thrown back to the test.

inline constexpr int kStartWidth = 1280;
inline constexpr int kStartHeight = 1024;

struct ExitCalled {
    int code;
};

class TrayTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Opens a virtual projector configured by `options` (the text after "virtual:"); the
    // traces start afresh.
    void AttachProjector(const std::string& options);
    // The capture library with a running session at `zoom`, from the synthetic source.
    void StartSession(int zoom);

    static std::vector<std::string> Traces();
    static void ClearTraces();

    MemorySettingsStore store_;
    RecordedDesktop desktop_{kStartWidth, kStartHeight};
    std::unique_ptr<emu::VirtualProjector> projector_;
};
