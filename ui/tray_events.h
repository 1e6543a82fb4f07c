#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// What the tray window makes of the notifications it receives: clicks on its icon, and the
// removal of a device interface.

// The icon's callback message, read. Once the shell took NOTIFYICON_VERSION_4 (NIM_SETVERSION),
// lParam holds the event in its low word and the icon's id in its high word, and wParam the
// point to open a menu at; before, lParam is the mouse message alone. The menu opens once per
// request the shell documents: the context menu (the right button's release, Shift+F10, the
// menu key), a left click (NIN_SELECT) and Enter or Space on the icon (NIN_KEYSELECT); with the
// old callbacks, either button's release. Presses, double clicks, moves and balloon events do
// not open it.
struct TrayCallback {
    bool opensMenu = false;
    bool hasAnchor = false;  // the shell gave the point; otherwise the cursor's position
    int32_t x = 0;           // screen coordinates, negative left of or above the primary
    int32_t y = 0;
};
TrayCallback ReadTrayCallback(uintptr_t wParam, intptr_t lParam, uint32_t iconId);

// The part of a device-interface name that identifies the projector's optical unit.
inline constexpr std::u16string_view OPTICAL_UNIT_ID =
    u"USBSTOR#Optical&Ven_KVUSB&Prod_TR40W17B6-1&Rev_1.00";

// The interface name of a device-change broadcast (a DEV_BROADCAST_HDR and what follows it),
// or nullopt when it is not a device-interface broadcast. The name is read no further than
// the broadcast's own size says, nor past its terminator.
std::optional<std::u16string> DeviceInterfaceName(const void* broadcast);

// True when the removed interface is the projector's optical unit, compared ignoring case.
bool NamesOpticalUnit(std::u16string_view interfaceName);

// The removal check of DBT_DEVICEREMOVECOMPLETE: traces "usb remove: <name>" for a device
// interface and tells whether the optical unit went away.
bool OpticalUnitRemoved(const void* broadcast);
