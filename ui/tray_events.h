#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// What the tray window makes of the notifications it receives: clicks on its icon, and the
// removal of a device interface.

// The icon's callback carries the mouse message in lParam; every button press, release and
// double click of either button (WM_LBUTTONDOWN to WM_RBUTTONDBLCLK) opens the menu, mouse
// moves and balloon events do not.
bool IsTrayMenuClick(intptr_t mouseMessage);

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
