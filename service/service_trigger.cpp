#include "service/service_trigger.h"

#include "device/projector_identity.h"

namespace {

constexpr size_t VENDOR_CHARS = 8;
constexpr size_t PRODUCT_CHARS = 16;
constexpr size_t REVISION_CHARS = 4;

void AppendField(std::string* id, const char* text, size_t width) {
    for (size_t i = 0; i < width; ++i) {
        char c = text[0] != '\0' ? *text++ : '_';
        id->push_back(c == ' ' ? '_' : c);
    }
}

}  // namespace

std::string UsbstorHardwareId(const char* deviceType, const char* vendor, const char* product,
                              const char* revision) {
    std::string id = "USBSTOR\\";
    id += deviceType;
    AppendField(&id, vendor, VENDOR_CHARS);
    AppendField(&id, product, PRODUCT_CHARS);
    AppendField(&id, revision, REVISION_CHARS);
    return id;
}

std::vector<std::string> ProjectorHardwareIds() {
    return {UsbstorHardwareId("Disk", PROJECTOR_VENDOR, PROJECTOR_DISK_PRODUCT, PROJECTOR_REVISION),
            UsbstorHardwareId("Optical", PROJECTOR_VENDOR, PROJECTOR_OPTICAL_PRODUCT,
                              PROJECTOR_REVISION)};
}

std::vector<uint8_t> TriggerStringItem(const std::string& id) {
    std::vector<uint8_t> bytes;
    // The ids are ASCII: each character is one UTF-16 unit.
    for (char c : id) {
        bytes.push_back(static_cast<uint8_t>(c));
        bytes.push_back(0);
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}
