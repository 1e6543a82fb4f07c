// kvusbtool info [--virtual]: what the About box and the tray menu show of the projector: the
// link speed, the power mode, the firmware version and the microcontroller's id.
#include <cstdio>
#include <cstring>
#include <string>

#include "device/device_discovery.h"
#include "device/device_status.h"
#include "tools/projector_session.h"
#include "tools/tool_command.h"

namespace {

constexpr const char* kCommand = "info";

}  // namespace

int RunInfoCommand(int argc, char** argv) {
    bool useVirtual = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--virtual") != 0) {
            return ToolError(kCommand, kToolMisused, "usage: kvusbtool info [--virtual]");
        }
        useVirtual = true;
    }
    ProjectorSession session;
    std::string error;
    if (!session.Open(useVirtual, "", &error)) {
        return ToolError(kCommand, kToolFailed, error);
    }
    std::printf("Link speed: %s (0x%08X)\n", ProjectorSession::LinkName(), g_USB3_0);

    uint8_t power = GetDevPowerMode();
    const char* powerName = power == POWER_MODE_AUTO  ? "Auto Power"
                            : power == POWER_MODE_ECO ? "ECO"
                                                      : nullptr;
    if (powerName != nullptr) {
        std::printf("Power mode: %s\n", powerName);
    } else if (power != POWER_MODE_FAILED) {
        std::printf("Power mode: %u (unknown)\n", power);
    }

    // As the About box: the driverless firmware's version, then the microcontroller's three
    // characters (zeros when that read fails).
    uint8_t info[FIRMWARE_INFO_BYTES] = {};
    bool firmware = getDriverLessFirmInfo(info) != 0;
    uint8_t mcu[MCU_FIRMWARE_ID_BYTES] = {};
    bool mcuRead = GetMCUFirmInfo(mcu) != 0;
    if (firmware) {
        std::printf("K7Q0 FW Version %d.%d.%d.%d %c%c%c\n", info[0], info[1], info[2],
                    info[3] * 256 + info[4], mcu[0], mcu[1], mcu[2]);
    }
    if (mcuRead) {
        std::printf("Microcontroller id: %c%c%c\n", mcu[0], mcu[1], mcu[2]);
    }
    if (power == POWER_MODE_FAILED || !firmware || !mcuRead) {
        return ToolError(kCommand, kToolFailed,
                         std::string("the projector did not answer the ") +
                             (power == POWER_MODE_FAILED ? "power mode"
                              : !firmware                ? "firmware version"
                                                         : "microcontroller id") +
                             " request (" + session.LastTrace() + ")");
    }
    return 0;
}
