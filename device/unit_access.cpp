#include "device/unit_access.h"

#include <cctype>
#include <cerrno>

#include "device/device_discovery.h"

#if !defined(_WIN32)
#include "device/linux_scsi_units.h"
#endif

namespace {

std::string WithoutTrailingBlanks(std::string text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.pop_back();
    }
    return text;
}

std::string OpenFailure(DeviceBackend* backend, const std::string& path, uint32_t code,
                        const std::string& program) {
#if defined(_WIN32)
    if (code == 5) {  // ERROR_ACCESS_DENIED
        return "access denied on " + path + ": run " + program + " as administrator";
    }
#else
    std::string node = SgNodeOfUnitPath(path);
    if (node.empty()) {
        return "the projector unit " + path + " has no sg node: load the sg driver (modprobe sg)";
    }
    if (code == EACCES || code == EPERM) {
        return "permission denied on /dev/" + node +
               ": install the udev rule 70-kvusb.rules, which gives the logged-in user the "
               "projector (see docs/linux.md), and plug the projector in again, or run " +
               program + " with sudo";
    }
#endif
    return "cannot open " + path + ": " + WithoutTrailingBlanks(backend->SystemErrorText(code));
}

}  // namespace

bool CheckProjectorUnits(DeviceBackend* backend, const char* program, std::string* error) {
    bool disk = false;
    bool optical = false;
    std::string path;
    uint32_t code = 0;
    for (uint32_t i = 0; backend->GetDiskInterface(i, &path, &code) == InterfaceLookup::Found;
         ++i) {
        bool isDisk = PathContainsText(path, DISK_UNIT_SEARCH_TEXT);
        bool isOptical = PathContainsText(path, OPTICAL_UNIT_SEARCH_TEXT);
        if (!isDisk && !isOptical) {
            continue;
        }
        DeviceHandle unit = backend->OpenUnit(path, &code);
        if (unit == nullptr) {
            *error = OpenFailure(backend, path, code, program);
            return false;
        }
        backend->CloseUnit(unit);
        disk = disk || isDisk;
        optical = optical || isOptical;
    }
    if (!disk || !optical) {
        *error = "no projector found (no KVUSB TR40W17B6 units among the disk interfaces)";
        return false;
    }
    return true;
}
