#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// sway's IPC socket ($SWAYSOCK): commands and the outputs, as a wlroots compositor's own
// way to add a screen that no monitor shows (a headless output).
//
// A message either way is the magic "i3-ipc", the payload's length and the message type
// (32 bits each, in the machine's order), then the payload: a command's text, or JSON.

inline constexpr uint32_t SWAY_IPC_RUN_COMMAND = 0;
inline constexpr uint32_t SWAY_IPC_GET_OUTPUTS = 3;
inline constexpr uint32_t SWAY_IPC_GET_VERSION = 7;

struct SwayOutput {
    std::string name;
    bool active = false;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// The bytes of one message.
std::string SwayIpcMessage(uint32_t type, std::string_view payload);

// Sends one message over a new connection to `socketPath` and returns the reply's payload;
// false when the compositor cannot be reached or does not answer.
bool SwayIpcExchange(const std::string& socketPath, uint32_t type, std::string_view payload,
                     std::string* reply);

// Sends bytes made beforehand and waits for the reply, with system calls only: for a
// crashing process's signal handler.
void SwayIpcSendFromSignalHandler(const char* socketPath, const std::string& message);

// The outputs of a GET_OUTPUTS reply, in its order.
std::vector<SwayOutput> ParseSwayOutputs(std::string_view json);
// True when every command of a RUN_COMMAND reply succeeded.
bool SwayCommandsSucceeded(std::string_view json);
// The "major" and "minor" of a GET_VERSION reply; false when they are not there.
bool ParseSwayVersion(std::string_view json, int* major, int* minor);
