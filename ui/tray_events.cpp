#include "ui/tray_events.h"

#include <algorithm>
#include <cstring>

#include "platform/debug_print.h"
#include "ui/trace_text.h"

namespace {

constexpr uint32_t CONTEXT_MENU = 0x7B;      // WM_CONTEXTMENU
constexpr uint32_t MOUSE_LBUTTONUP = 0x202;  // WM_LBUTTONUP
constexpr uint32_t MOUSE_RBUTTONUP = 0x205;  // WM_RBUTTONUP
constexpr uint32_t ICON_SELECT = 0x400;      // NIN_SELECT
constexpr uint32_t ICON_KEY_SELECT = 0x401;  // NIN_KEYSELECT

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

TrayCallback ReadTrayCallback(uintptr_t wParam, intptr_t lParam, uint32_t iconId) {
    const auto bits = static_cast<uint32_t>(lParam);
    // The old callbacks' lParam is a message number below 0x10000, and the icon's id is not 0.
    const bool version4 = (bits >> 16) == iconId;
    const uint32_t event = version4 ? (bits & 0xFFFF) : bits;
    TrayCallback callback;
    callback.opensMenu = event == CONTEXT_MENU || event == ICON_SELECT ||
                         event == ICON_KEY_SELECT ||
                         (!version4 && (event == MOUSE_LBUTTONUP || event == MOUSE_RBUTTONUP));
    if (version4) {
        // Two signed 16-bit coordinates, as GET_X_LPARAM and GET_Y_LPARAM read them.
        callback.hasAnchor = true;
        callback.x = static_cast<int16_t>(wParam & 0xFFFF);
        callback.y = static_cast<int16_t>((wParam >> 16) & 0xFFFF);
    }
    return callback;
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
