#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "app/fault_warnings.h"

// The texts of the About box and the warning boxes that are composed rather than loaded.

// The version lines are formatted into 128-byte buffers: at most 63 characters are shown.
inline constexpr size_t ABOUT_LINE_MAX_CHARS = 63;

// Offset in the 64-byte FirmwareInfo where the three MCU firmware characters are put.
inline constexpr size_t FIRMWARE_INFO_MCU_OFFSET = 20;

// Firmware line of the About box from the 64-byte FirmwareInfo: "<label> 1.2.3.300 A01",
// in Arabic "1.2.3.300 A01 <label>", or the English fallback when the label did not load
// (nullopt). The MCU characters print as the characters of their byte values; a zero one
// ends the visible text, as it would in the formatted buffer.
std::u16string FormatFirmwareLine(std::span<const uint8_t, 64> firmwareInfo,
                                  std::optional<std::u16string_view> label, uint32_t lcid);

// The four numbers of a file version (VS_FIXEDFILEINFO).
struct FileVersion {
    uint16_t major;
    uint16_t minor;
    uint16_t third;
    uint16_t fourth;
};
inline constexpr FileVersion FileVersionFromFixedInfo(uint32_t fileVersionMS,
                                                      uint32_t fileVersionLS) {
    return {static_cast<uint16_t>(fileVersionMS >> 16), static_cast<uint16_t>(fileVersionMS),
            static_cast<uint16_t>(fileVersionLS >> 16), static_cast<uint16_t>(fileVersionLS)};
}

// Program version line: "<label> 1.0.0.6", in Arabic "1.0.0.6 <label>", or the English
// fallback when the label did not load.
std::u16string FormatProgramVersionLine(const FileVersion& version,
                                        std::optional<std::u16string_view> label, uint32_t lcid);

// Which string a warning box shows instead of its template text, or 0 to keep the template:
// English and languages without a block keep it.
uint32_t WarningStringId(uint32_t lcid, WarningKind kind);
