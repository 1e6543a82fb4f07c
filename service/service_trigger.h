#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What Windows starts the device service by: the arrival of a disk interface (the class both
// of the projector's units appear in) whose device has one of the hardware ids USBSTOR
// generates for the projector's units from their INQUIRY data. Windows also takes the action
// at boot when such a device is already present, so no other start is needed.

// "USBSTOR\" + type + vendor (8) + product (16) + revision (4): the most specific of the
// hardware ids, each field padded with '_' to its width and its blanks made '_'.
std::string UsbstorHardwareId(const char* deviceType, const char* vendor, const char* product,
                              const char* revision);

// The projector's two units: "Disk" (SCSI type 0) and "Optical" (type 7).
std::vector<std::string> ProjectorHardwareIds();

// One string data item of the trigger: the id in UTF-16, least significant byte first,
// ended by one zero character (a single string; a multi-string would need every one of
// its strings to match).
std::vector<uint8_t> TriggerStringItem(const std::string& id);
