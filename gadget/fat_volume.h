#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A small FAT12 volume, as the projector's disk unit serves it: no partition table (a
// "superfloppy", as small removable media are), the label both in the boot sector and as the
// root directory's volume entry, where systems read it, and no files.

namespace gadget {

inline constexpr uint32_t FAT_SECTOR_BYTES = 512;

// `sectors` of 512 bytes (64 to 4,000); `label` up to 11 characters, padded with blanks.
std::vector<uint8_t> BuildFatVolume(uint32_t sectors, const std::string& label, uint32_t volumeId);

}  // namespace gadget
