#include "ui/tray_events.h"

#include <algorithm>
#include <cstring>

#include "platform/debug_print.h"
#include "ui/trace_text.h"

namespace {

constexpr intptr_t MOUSE_LBUTTONDOWN = 0x201;
constexpr intptr_t MOUSE_RBUTTONDBLCLK = 0x206;

constexpr uint32_t DEVICE_TYPE_INTERFACE = 5;  // DBT_DEVTYP_DEVICEINTERFACE
// DEV_BROADCAST_DEVICEINTERFACE_W: size, device type, reserved, class GUID, then the name.
constexpr size_t BROADCAST_TYPE_OFFSET = 4;
constexpr size_t BROADCAST_NAME_OFFSET = 28;

uint32_t ReadUint32(const uint8_t* bytes) {
    uint32_t value = 0;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

char16_t AsciiLower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

}  // namespace

bool IsTrayMenuClick(intptr_t mouseMessage) {
    return mouseMessage >= MOUSE_LBUTTONDOWN && mouseMessage <= MOUSE_RBUTTONDBLCLK;
}

std::optional<std::u16string> DeviceInterfaceName(const void* broadcast) {
    const auto* bytes = static_cast<const uint8_t*>(broadcast);
    if (ReadUint32(bytes + BROADCAST_TYPE_OFFSET) != DEVICE_TYPE_INTERFACE) {
        return std::nullopt;
    }
    const uint32_t size = ReadUint32(bytes);
    const size_t maxChars =
        size > BROADCAST_NAME_OFFSET ? (size - BROADCAST_NAME_OFFSET) / sizeof(char16_t) : 0;
    std::u16string name;
    for (size_t i = 0; i < maxChars; ++i) {
        char16_t c = 0;
        std::memcpy(&c, bytes + BROADCAST_NAME_OFFSET + i * sizeof c, sizeof c);
        if (c == 0) {
            break;
        }
        name += c;
    }
    return name;
}

bool NamesOpticalUnit(std::u16string_view interfaceName) {
    const auto equalIgnoringCase = [](char16_t a, char16_t b) {
        return AsciiLower(a) == AsciiLower(b);
    };
    return std::search(interfaceName.begin(), interfaceName.end(), OPTICAL_UNIT_ID.begin(),
                       OPTICAL_UNIT_ID.end(), equalIgnoringCase) != interfaceName.end();
}

bool OpticalUnitRemoved(const void* broadcast) {
    const std::optional<std::u16string> name = DeviceInterfaceName(broadcast);
    if (!name) {
        return false;  // volumes and ports carry no interface name
    }
    DebugPrint("usb remove: %s\n", TraceText(*name).c_str());
    return NamesOpticalUnit(*name);
}
