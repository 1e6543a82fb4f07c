#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/device/fake_device_backend.h"
#include "tests/support/caught_exits.h"
#include "tests/support/trace_recorder.h"

// Puts a fresh fake backend in place, resets the transport's process-wide state, captures
// traces and turns ExitProgram into ExitCalled.
class DeviceTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Everything traced since SetUp.
    std::string Traces() const { return m_traces.Text(); }
    void ClearTraces() { m_traces.Clear(); }

    FakeDeviceBackend fake;

  private:
    TraceRecorder m_traces;
    CaughtExits m_exits;
};

// With the units open as discovery leaves them: the optical unit is interface 1's handle, the
// disk unit interface 2's, and the end marker is built.
class OpenUnitsTest : public DeviceTest {
  protected:
    void SetUp() override;
};
