#pragma once

#include <string>
#include <vector>

// The present SCSI units as sysfs lists them, each named like a Windows disk interface path
// so that the same search texts find the projector's units:
//   USBSTOR#Disk&Ven_<vendor>&Prod_<model>&Rev_<rev>#<h:c:t:l>#<sg node>
// (Optical for the optical unit). Disk and optical units only, ordered by host, channel,
// target and lun.

inline constexpr int SCSI_TYPE_DISK = 0;
inline constexpr int SCSI_TYPE_CDROM = 5;
inline constexpr int SCSI_TYPE_OPTICAL = 7;

// The identifier of one unit, or "" for a type the disk interface list does not hold.
// Vendor, model and rev are trimmed and inner blanks become '_'; sgNode may be "".
std::string BuildUnitInterfacePath(int type, const std::string& vendor, const std::string& model,
                                   const std::string& rev, const std::string& hctl,
                                   const std::string& sgNode);

std::vector<std::string> ListScsiUnitPaths(const std::string& sysfsRoot);

// The sg node ("sg3") that an identifier names, or "" when it names none.
std::string SgNodeOfUnitPath(const std::string& path);
