#pragma once

#include <cstdint>
#include <string>

#include "emulator/virtual_config.h"

// The command line of kvusb-gadget, and what follows from it for the projector core.

namespace gadget {

inline constexpr char GADGET_PROGRAM_NAME[] = "kvusb-gadget";

struct GadgetOptions {
    std::string udc;             // --udc NAME; "" for the first controller
    std::string projector;       // --projector OPTIONS, as VORN_KVUSB_DEVICE's virtual: options
    std::string name = "kvusb";  // --name: the configfs gadget and FunctionFS instance
    std::string ffsDir = "/run/kvusb-gadget";  // --ffs-dir: where FunctionFS is mounted
    std::string serial = "7B6A17000001";       // --serial: 12 hex digits, as the class asks
    uint16_t vendorId = 0x4B56;                // --vendor-id
    uint16_t productId = 0x0A17;               // --product-id
    bool expectPattern = false;                // --expect-pattern
    uint64_t unplugAfterFrames = UINT64_MAX;   // --unplug-after-frames N
    bool verbose = false;                      // -v, --verbose
    bool help = false;                         // -h, --help
    bool version = false;                      // --version
};

// False with a one-line reason in *error.
bool ParseGadgetOptions(int argc, const char* const* argv, GadgetOptions* options,
                        std::string* error);

const char* GadgetUsage();

// The core's configuration from --projector, seen through the USB transport. *linkGiven tells
// whether it fixes the link-speed reply, which otherwise follows the bus. False with the
// reason for options that make no sense for one projector on a real bus.
bool GadgetProjectorConfig(const GadgetOptions& options, emu::VirtualConfig* config,
                           bool* linkGiven, std::string* error);

// The link-speed reply for a controller's current_speed ("super-speed", "high-speed" ...):
// 1 for USB 3.0 and faster, 2 for USB 2.0, 3 for USB 1.1, 0 when not connected.
uint32_t LinkValueOfSpeed(const std::string& speed);

}  // namespace gadget
