#pragma once

#include <string>

class DeviceBackend;

// How the programs that may show frames on the virtual projector (the simulator, kvusb-mirror,
// kvusbtool) ask for it: a request in VORN_KVUSB_DEVICE's form, "virtual[:options]", or ""
// for the system's units.

namespace emu {

// What a program's options and environment say about the device.
struct DeviceRequestParts {
    std::string device = "";            // an explicit request (--device), "" for none
    const char* environment = nullptr;  // VORN_KVUSB_DEVICE's value, may be null
    bool virtualWanted = false;         // the virtual projector asked for without options
    std::string imagePath = "";         // where it writes what it shows, "" for nowhere
};

// The request: `device` when given, else `environment` when it selects the virtual projector,
// else "virtual" when wanted, else ""; then `imagePath`, when given, added as out= (and the
// virtual projector selected for it). False with the reason in *error for an image path with
// a comma, which the option list cannot hold.
bool ComposeDeviceRequest(const DeviceRequestParts& parts, std::string* request,
                          std::string* error);

// Makes the virtual projector when `request` selects it: true with *backend set, or left
// null when the request selects the system's units. False with the reason in *error when its
// options cannot be parsed. The engine's SelectDeviceBackend takes it from these programs.
bool MakeVirtualProjector(const char* request, DeviceBackend** backend, std::string* error);

}  // namespace emu
