// Any payload as the reply of each of sway's IPC messages kvusb-mirror sends.
#include <cstdint>
#include <string_view>

#include "platform/sway_ipc_linux.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view reply(reinterpret_cast<const char*>(data), size);
    ParseSwayOutputs(reply);
    SwayCommandsSucceeded(reply);
    int major = 0;
    int minor = 0;
    ParseSwayVersion(reply, &major, &minor);
    return 0;
}
