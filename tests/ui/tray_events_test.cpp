#include "ui/tray_events.h"

#include <gmock/gmock.h>

#include <cstring>
#include <vector>

#include "tests/support/engine_fixture.h"

namespace {

// A device-change broadcast as the system builds one: header, class GUID, then the name.
std::vector<uint8_t> Broadcast(uint32_t deviceType, std::u16string_view name,
                               bool terminated = true) {
    const uint32_t size = static_cast<uint32_t>(28 + (name.size() + terminated) * 2);
    std::vector<uint8_t> bytes(size + 8, 0xAB);  // beyond the size: not the name
    std::memcpy(bytes.data(), &size, 4);
    std::memcpy(bytes.data() + 4, &deviceType, 4);
    std::memset(bytes.data() + 8, 0, 20);
    std::memcpy(bytes.data() + 28, name.data(), name.size() * 2);
    if (terminated) {
        std::memset(bytes.data() + 28 + name.size() * 2, 0, 2);
    }
    return bytes;
}

constexpr std::u16string_view kOpticalPath =
    u"\\\\?\\USBSTOR#Optical&Ven_KVUSB&Prod_TR40W17B6-1&Rev_1.00#7&1c2a3f4e&0&000001#"
    u"{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
constexpr std::u16string_view kDiskPath =
    u"\\\\?\\USBSTOR#Disk&Ven_KVUSB&Prod_TR40W17B6-2&Rev_1.00#7&1c2a3f4e&0&000000#"
    u"{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

class TrayEventsTest : public EngineTest {};

TEST(TrayMenuClick, EveryButtonMessageOfBothButtonsOpensTheMenuNothingElse) {
    for (intptr_t message = 0x201; message <= 0x206; ++message) {
        EXPECT_TRUE(IsTrayMenuClick(message)) << std::hex << message;
    }
    // Mouse move, middle button, balloon show, hide, time-out and click.
    for (intptr_t message : {0x200, 0x207, 0x402, 0x403, 0x404, 0x405, 0, -1}) {
        EXPECT_FALSE(IsTrayMenuClick(message)) << std::hex << message;
    }
}

TEST_F(TrayEventsTest, TheOpticalUnitsRemovalStopsTheProgramWhateverTheCase) {
    std::u16string lower(kOpticalPath);
    for (char16_t& c : lower) {
        c = c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
    }
    for (std::u16string_view name : {kOpticalPath, std::u16string_view(lower)}) {
        EXPECT_TRUE(OpticalUnitRemoved(Broadcast(5, name).data()));
    }
    EXPECT_EQ(Traces().front(),
              "usb remove: \\\\?\\USBSTOR#Optical&Ven_KVUSB&Prod_TR40W17B6-1&Rev_1.00#7&1c2a3f4e&0&"
              "000001#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}\n");
}

TEST_F(TrayEventsTest, TheDiskUnitAloneIsTracedAndLeftAlone) {
    EXPECT_FALSE(OpticalUnitRemoved(Broadcast(5, kDiskPath).data()));
    ASSERT_EQ(Traces().size(), 1u);
    EXPECT_EQ(Traces()[0].rfind("usb remove: \\\\?\\USBSTOR#Disk&Ven_KVUSB", 0), 0u);
}

TEST_F(TrayEventsTest, VolumeAndPortBroadcastsCarryNoNameAndAreIgnored) {
    // A volume broadcast is shorter than an interface's; nothing past its header is read.
    EXPECT_FALSE(OpticalUnitRemoved(Broadcast(2, kOpticalPath).data()));
    EXPECT_FALSE(OpticalUnitRemoved(Broadcast(3, kOpticalPath).data()));
    EXPECT_TRUE(Traces().empty());
}

TEST(DeviceInterfaceName, ReadsNoFurtherThanTheBroadcastsSize) {
    EXPECT_EQ(DeviceInterfaceName(Broadcast(5, u"ABC", false).data()), u"ABC");
    EXPECT_EQ(DeviceInterfaceName(Broadcast(5, u"ABC").data()), u"ABC");
    EXPECT_EQ(DeviceInterfaceName(Broadcast(5, u"").data()), u"");
    // A size that does not even cover the name's start gives an empty name.
    std::vector<uint8_t> shortOne = Broadcast(5, u"ABC");
    const uint32_t size = 20;
    std::memcpy(shortOne.data(), &size, 4);
    EXPECT_EQ(DeviceInterfaceName(shortOne.data()), u"");
    EXPECT_EQ(DeviceInterfaceName(Broadcast(2, u"ABC").data()), std::nullopt);
}

TEST(OpticalUnitId, OnlyTheWholeIdentifierCounts) {
    EXPECT_TRUE(NamesOpticalUnit(u"usbstor#optical&ven_kvusb&prod_tr40w17b6-1&rev_1.00"));
    EXPECT_FALSE(NamesOpticalUnit(u"USBSTOR#Optical&Ven_KVUSB&Prod_TR40W17B6-1&Rev_1.0"));
    EXPECT_FALSE(NamesOpticalUnit(u"USBSTOR#Optical&Ven_KVUSB&Prod_TR40W17B6-2&Rev_1.00"));
    EXPECT_FALSE(NamesOpticalUnit(u""));
}

}  // namespace
