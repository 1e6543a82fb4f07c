#pragma once

#include <string>
#include <vector>

#include "device/device_backend.h"

// The mounted block-device volumes as the mount table lists them, each with whether its disk
// is removable (sysfs) and its label (the udev by-label links). Mount sources under /dev are
// looked up below `devRoot`, so tests can hand in a fake tree.
std::vector<VolumeInfo> ListMountedVolumes(const std::string& sysfsRoot, const std::string& devRoot,
                                           const std::string& mountsFile);

// A mount-table field with its octal escapes ("\040") decoded.
std::string DecodeMountField(const std::string& field);
// A by-label link name with udev's hex escapes ("\x20") decoded.
std::string DecodeLabelLinkName(const std::string& name);
