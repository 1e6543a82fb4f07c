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

constexpr uint32_t kIconId = 105;

intptr_t Version4(uint32_t event) {
    return static_cast<intptr_t>((kIconId << 16) | event);
}

TEST(TrayCallback, OnlyTheDocumentedRequestsOpenTheMenuOncePerClick) {
    // A right click: press, release, then the context menu; a left click: press, release, then
    // the selection; a double click adds its own message. One request each.
    const uint32_t opening[] = {0x7B, 0x400, 0x401};  // context menu, select, key select
    const uint32_t other[] = {0x200, 0x201, 0x202, 0x203, 0x204, 0x205, 0x206, 0x207,
                              0x208, 0x402, 0x403, 0x404, 0x405, 0x406, 0x407};
    for (uint32_t event : opening) {
        EXPECT_TRUE(ReadTrayCallback(0, Version4(event), kIconId).opensMenu) << std::hex << event;
    }
    for (uint32_t event : other) {
        EXPECT_FALSE(ReadTrayCallback(0, Version4(event), kIconId).opensMenu) << std::hex << event;
    }
    // Where the shell kept the old callbacks, a button's release is the request; a press or a
    // double click is not, so one click opens one menu.
    for (intptr_t message : {0x202, 0x205, 0x7B}) {
        EXPECT_TRUE(ReadTrayCallback(kIconId, message, kIconId).opensMenu) << std::hex << message;
    }
    for (intptr_t message : {0x200, 0x201, 0x203, 0x204, 0x206, 0x402, 0x405, 0}) {
        EXPECT_FALSE(ReadTrayCallback(kIconId, message, kIconId).opensMenu) << std::hex << message;
    }
}

TEST(TrayCallback, TheMenuOpensWhereTheShellSaysOnEveryMonitor) {
    // A monitor left of and above the primary has negative coordinates.
    const uintptr_t leftAbove =
        (static_cast<uintptr_t>(static_cast<uint16_t>(-40)) << 16) | static_cast<uint16_t>(-1500);
    const TrayCallback left = ReadTrayCallback(leftAbove, Version4(0x7B), kIconId);
    EXPECT_TRUE(left.hasAnchor);
    EXPECT_EQ(left.x, -1500);
    EXPECT_EQ(left.y, -40);
    const TrayCallback right = ReadTrayCallback((1060u << 16) | 3830u, Version4(0x400), kIconId);
    EXPECT_EQ(right.x, 3830);
    EXPECT_EQ(right.y, 1060);
    // The old callbacks carry the icon's id in wParam, not a point: the cursor's position is
    // taken instead.
    EXPECT_FALSE(ReadTrayCallback(kIconId, 0x205, kIconId).hasAnchor);
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
