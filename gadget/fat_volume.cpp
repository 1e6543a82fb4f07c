#include "gadget/fat_volume.h"

#include <algorithm>
#include <cstring>

namespace gadget {
namespace {

// The layout: boot sector, two FATs, the root directory, then clusters of four sectors, so that
// a volume of up to 4,000 sectors stays well below FAT12's 4,085 clusters.
constexpr uint16_t RESERVED_SECTORS = 1;
constexpr uint8_t FAT_COUNT = 2;
constexpr uint16_t ROOT_ENTRIES = 64;
constexpr uint8_t SECTORS_PER_CLUSTER = 4;
constexpr uint8_t MEDIA_FIXED = 0xF8;
constexpr uint8_t ATTRIBUTE_VOLUME_LABEL = 0x08;
constexpr uint8_t EXTENDED_BOOT_SIGNATURE = 0x29;
constexpr size_t LABEL_BYTES = 11;

void Put16(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void Put32(uint8_t* at, uint32_t value) {
    Put16(at, value);
    Put16(at + 2, value >> 16);
}

void PutText(uint8_t* at, const std::string& text, size_t width) {
    std::memset(at, ' ', width);
    std::memcpy(at, text.data(), std::min(text.size(), width));
}

}  // namespace

std::vector<uint8_t> BuildFatVolume(uint32_t sectors, const std::string& label, uint32_t volumeId) {
    std::vector<uint8_t> volume(size_t{sectors} * FAT_SECTOR_BYTES, 0);
    uint32_t clusters = sectors / SECTORS_PER_CLUSTER;
    // 12 bits per entry, two reserved entries.
    uint32_t fatSectors = ((clusters + 2) * 3 / 2 + FAT_SECTOR_BYTES - 1) / FAT_SECTOR_BYTES;

    uint8_t* boot = volume.data();
    const uint8_t jump[] = {0xEB, 0x3C, 0x90};  // over the parameter block
    std::memcpy(boot, jump, sizeof jump);
    PutText(boot + 3, "KVUSB1.0", 8);
    Put16(boot + 11, FAT_SECTOR_BYTES);
    boot[13] = SECTORS_PER_CLUSTER;
    Put16(boot + 14, RESERVED_SECTORS);
    boot[16] = FAT_COUNT;
    Put16(boot + 17, ROOT_ENTRIES);
    Put16(boot + 19, sectors);
    boot[21] = MEDIA_FIXED;
    Put16(boot + 22, fatSectors);
    Put16(boot + 24, 32);  // sectors per track and heads, for old readers
    Put16(boot + 26, 64);
    boot[36] = 0x80;  // drive number
    boot[38] = EXTENDED_BOOT_SIGNATURE;
    Put32(boot + 39, volumeId);
    PutText(boot + 43, label, LABEL_BYTES);
    PutText(boot + 54, "FAT12", 8);
    boot[510] = 0x55;
    boot[511] = 0xAA;

    // Entries 0 and 1 of each FAT: the media byte, then end-of-chain marks.
    for (uint32_t fat = 0; fat < FAT_COUNT; ++fat) {
        uint8_t* table = volume.data() + (RESERVED_SECTORS + fat * fatSectors) * FAT_SECTOR_BYTES;
        table[0] = MEDIA_FIXED;
        table[1] = 0xFF;
        table[2] = 0xFF;
    }

    uint8_t* root = volume.data() + (RESERVED_SECTORS + FAT_COUNT * fatSectors) * FAT_SECTOR_BYTES;
    PutText(root, label, LABEL_BYTES);
    root[11] = ATTRIBUTE_VOLUME_LABEL;
    return volume;
}

}  // namespace gadget
