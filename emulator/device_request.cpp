#include "emulator/device_request.h"

#include "emulator/virtual_config.h"
#include "emulator/virtual_projector.h"

namespace emu {

bool ComposeDeviceRequest(const DeviceRequestParts& parts, std::string* request,
                          std::string* error) {
    if (!parts.device.empty()) {
        *request = parts.device;
    } else if (parts.environment != nullptr && SelectsVirtualProjector(parts.environment)) {
        *request = parts.environment;
    } else {
        *request = parts.virtualWanted ? "virtual" : "";
    }
    if (parts.imagePath.empty()) {
        return true;
    }
    if (parts.imagePath.find(',') != std::string::npos) {
        *error = "--virtual: the file name cannot hold a comma";
        return false;
    }
    if (request->empty()) {
        *request = "virtual";
    }
    if (*request == "virtual") {
        *request += ':';
    } else if (request->back() != ':') {
        *request += ',';
    }
    *request += "out=" + parts.imagePath;
    return true;
}

bool MakeVirtualProjector(const char* request, DeviceBackend** backend, std::string* error) {
    *backend = nullptr;
    if (request == nullptr || !SelectsVirtualProjector(request)) {
        return true;
    }
    VirtualConfig config;
    if (!ParseVirtualConfig(request, &config, error)) {
        return false;
    }
    *backend = new VirtualProjector(config);
    return true;
}

}  // namespace emu
