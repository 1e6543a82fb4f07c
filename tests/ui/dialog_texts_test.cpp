#include "ui/dialog_texts.h"

#include <gtest/gtest.h>

#include <array>

namespace {

// FirmwareInfo for version 1.2.3.300 and MCU characters "A01".
std::array<uint8_t, 64> Firmware(uint8_t mcu0 = 'A', uint8_t mcu1 = '0', uint8_t mcu2 = '1') {
    std::array<uint8_t, 64> info{};
    info[0] = 1;
    info[1] = 2;
    info[2] = 3;
    info[3] = 0x01;
    info[4] = 0x2C;
    info[5] = 0x77;  // answer bytes 5 to 9 are not shown
    info[FIRMWARE_INFO_MCU_OFFSET] = mcu0;
    info[FIRMWARE_INFO_MCU_OFFSET + 1] = mcu1;
    info[FIRMWARE_INFO_MCU_OFFSET + 2] = mcu2;
    return info;
}

constexpr std::u16string_view ARABIC_FW_LABEL = u"K7Q0 FW الإصدار";

}  // namespace

TEST(FirmwareLine, EnglishLabelNumbersAndMcuCharacters) {
    EXPECT_EQ(FormatFirmwareLine(Firmware(), u"K7Q0 FW Version", 0x0409),
              u"K7Q0 FW Version 1.2.3.300 A01");
}

TEST(FirmwareLine, ArabicPutsTheLabelLast) {
    EXPECT_EQ(FormatFirmwareLine(Firmware(), ARABIC_FW_LABEL, 0x0401),
              std::u16string(u"1.2.3.300 A01 ") + std::u16string(ARABIC_FW_LABEL));
    EXPECT_EQ(FormatFirmwareLine(Firmware(), ARABIC_FW_LABEL, 0x3801),  // Arabic, UAE
              std::u16string(u"1.2.3.300 A01 ") + std::u16string(ARABIC_FW_LABEL));
}

TEST(FirmwareLine, WithoutTheLabelTheEnglishFormatIsUsedInAnyLanguage) {
    EXPECT_EQ(FormatFirmwareLine(Firmware(), std::nullopt, 0x0401),
              u"K7Q0 FW Version 1.2.3.300 A01");
}

TEST(FirmwareLine, MissingMcuCharactersEndTheVisibleText) {
    const std::array<uint8_t, 64> info = Firmware(0, 0, 0);
    EXPECT_EQ(FormatFirmwareLine(info, u"K7Q0 FW Version", 0x0409), u"K7Q0 FW Version 1.2.3.300 ");
    EXPECT_EQ(FormatFirmwareLine(info, ARABIC_FW_LABEL, 0x0401), u"1.2.3.300 ");
}

TEST(FirmwareLine, LargestNumbersAndHighMcuBytesPrintUnsigned) {
    std::array<uint8_t, 64> info = Firmware(0xE9, 'Z', 0xFF);
    info[0] = 255;
    info[1] = 128;
    info[2] = 0;
    info[3] = 0xFF;
    info[4] = 0xFF;
    EXPECT_EQ(FormatFirmwareLine(info, u"FW", 0x0407), u"FW 255.128.0.65535 \u00E9Z\u00FF");
}

TEST(FirmwareLine, CutTo63Characters) {
    const std::u16string label(60, u'x');
    const std::u16string line = FormatFirmwareLine(Firmware(), label, 0x0409);
    EXPECT_EQ(line, label + u" 1.");
    EXPECT_EQ(line.size(), ABOUT_LINE_MAX_CHARS);
}

TEST(ProgramVersionLine, LabelNoLabelAndArabic) {
    const FileVersion version = FileVersionFromFixedInfo(0x00010000, 0x00000006);
    EXPECT_EQ(FormatProgramVersionLine(version, u"Tarq Projira Version", 0x0409),
              u"Tarq Projira Version 1.0.0.6");
    EXPECT_EQ(FormatProgramVersionLine(version, u"Versão Tarq Projira", 0x0816),
              u"Versão Tarq Projira 1.0.0.6");
    EXPECT_EQ(FormatProgramVersionLine(version, std::nullopt, 0x0401),
              u"Tarq Projira Version 1.0.0.6");
    EXPECT_EQ(FormatProgramVersionLine(version, u"Tarq Projira الإصدار", 0x0401),
              u"1.0.0.6 Tarq Projira الإصدار");
}

TEST(ProgramVersionLine, SixteenBitPartsAndTheCut) {
    const FileVersion version = FileVersionFromFixedInfo(0xFFFF0102, 0x8000FFFE);
    EXPECT_EQ(version.major, 65535);
    EXPECT_EQ(version.minor, 258);
    EXPECT_EQ(version.third, 32768);
    EXPECT_EQ(version.fourth, 65534);
    EXPECT_EQ(FormatProgramVersionLine(version, std::nullopt, 0x0409),
              u"Tarq Projira Version 65535.258.32768.65534");
    const std::u16string line = FormatProgramVersionLine(version, std::u16string(70, u'y'), 0x0409);
    EXPECT_EQ(line, std::u16string(63, u'y'));
}

TEST(WarningText, EnglishAndLanguagesWithoutABlockKeepTheTemplate) {
    EXPECT_EQ(WarningStringId(0x0409, WarningKind::Overheat), 0u);
    EXPECT_EQ(WarningStringId(0x0809, WarningKind::FanFailure), 0u);
    EXPECT_EQ(WarningStringId(0x0408, WarningKind::Overheat), 0u);
    EXPECT_EQ(WarningStringId(0x0408, WarningKind::FanFailure), 0u);
}

TEST(WarningText, OtherLanguagesLoadTheirBlocksWarnings) {
    EXPECT_EQ(WarningStringId(0x0407, WarningKind::Overheat), 2214u);
    EXPECT_EQ(WarningStringId(0x0407, WarningKind::FanFailure), 2213u);
    EXPECT_EQ(WarningStringId(0x0404, WarningKind::Overheat), 2714u);
    EXPECT_EQ(WarningStringId(0x0804, WarningKind::FanFailure), 2813u);
    EXPECT_EQ(WarningStringId(0x0401, WarningKind::Overheat), 3914u);
    EXPECT_EQ(WarningStringId(0x042A, WarningKind::FanFailure), 3813u);
}
