#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/device/fake_device_backend.h"

// What the exit handler throws, so that a test sees ExitProgram as an exception.
struct ExitRequested {
    int code;
};

// Puts a fresh fake backend in place, resets the transport's process-wide state, captures
// traces and turns ExitProgram into ExitRequested.
class DeviceTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Everything traced since SetUp.
    static const std::string& Traces();
    static void ClearTraces();

    FakeDeviceBackend fake;
};
