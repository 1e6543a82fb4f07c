#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "device/device_backend.h"

// Finding and opening the projector's two units at start-up.

// The parts of the units' device interface paths that identify them.
inline constexpr const char* DISK_UNIT_SEARCH_TEXT =
    "USBSTOR#Disk&Ven_KVUSB&Prod_TR40W17B6-2&Rev_1.00";
inline constexpr const char* OPTICAL_UNIT_SEARCH_TEXT =
    "USBSTOR#Optical&Ven_KVUSB&Prod_TR40W17B6-1&Rev_1.00";

// The label of the projector's own removable volume, compared exactly.
inline constexpr const char* PROJECTOR_VOLUME_LABEL = "TARQ K7Q0";

// Low two bits of g_USB3_0.
inline constexpr uint32_t LINK_SPEED_MASK = 3;
inline constexpr uint32_t LINK_NONE = 0;
inline constexpr uint32_t LINK_USB3_0 = 1;
inline constexpr uint32_t LINK_USB2_0 = 2;
inline constexpr uint32_t LINK_USB1_1 = 3;

extern DeviceHandle g_hDisk1;  // optical unit: frames and control commands
extern DeviceHandle g_hDisk2;  // disk unit: link speed, status and control reads
extern uint32_t g_USB3_0;      // link-speed reply, 0 before the first query

// Where the next search starts in the interface list: one position for the optical unit's
// text, one for every other text, so that a unit once returned is never returned again.
extern uint32_t g_uOpticalSearchIndex;
extern uint32_t g_uDiskSearchIndex;

// OpenDriverlessDevice's results.
inline constexpr int DEVICE_OPENED = 1;
inline constexpr int DEVICE_NOT_OPENED = 0;
// The interface list holds no further matching unit: there is no projector to run with.
inline constexpr int DEVICE_NONE = -1;

// Opens both units, reads the link speed, sends the open command and hides the projector's
// volume. DEVICE_OPENED on success; DEVICE_NOT_OPENED when a unit cannot be opened, or the
// optical unit's adapter cannot take a frame slice in one request; DEVICE_NONE when the search
// runs out of units. Whether the program ends is the caller's to decide.
int OpenDriverlessDevice();

// The path of the next present disk interface that contains `text` (ignoring case), or none;
// *error then says why when it is given, and *listEnded is set when it is given and the list
// ran out or an entry could not be read (no further unit can be found).
std::optional<std::string> FindDevicePath(const char* text, uint32_t* error = nullptr,
                                          bool* listEnded = nullptr);

// True when a device interface path contains `text`, ignoring case, as the search compares.
bool PathContainsText(const std::string& path, const char* text);

// Removes the mount point of every removable volume labelled exactly "TARQ K7Q0".
void HideDisk();
