#include "service/service_trigger.h"

#include <gtest/gtest.h>

namespace {

// The device id Microsoft gives as its example of the form: blanks become '_'.
TEST(ServiceTriggerTest, IdsArePaddedToTheirWidthsAndBlanksBecomeUnderscores) {
    EXPECT_EQ(UsbstorHardwareId("", "SEAGATE ", "ST39102LW       ", "0004"),
              "USBSTOR\\SEAGATE_ST39102LW_______0004");
    EXPECT_EQ(UsbstorHardwareId("Disk", "AB", "C D", "1"),
              "USBSTOR\\DiskAB______C_D_____________1___");
    // Longer fields are cut to their width.
    EXPECT_EQ(UsbstorHardwareId("Disk", "VENDORNAME", "P", "1.000"),
              "USBSTOR\\DiskVENDORNAP_______________1.00");
}

TEST(ServiceTriggerTest, TheTriggerNamesOnlyTheProjectorsTwoUnits) {
    EXPECT_EQ(ProjectorHardwareIds(),
              (std::vector<std::string>{"USBSTOR\\DiskKVUSB___TR40W17B6-2_____1.00",
                                        "USBSTOR\\OpticalKVUSB___TR40W17B6-1_____1.00"}));
}

TEST(ServiceTriggerTest, ADataItemIsOneUtf16StringWithOneTerminatingZero) {
    EXPECT_EQ(TriggerStringItem("U\\D1"),
              (std::vector<uint8_t>{'U', 0, '\\', 0, 'D', 0, '1', 0, 0, 0}));
    // Well under the 1024 bytes an item may hold.
    for (const std::string& id : ProjectorHardwareIds()) {
        EXPECT_EQ(TriggerStringItem(id).size(), 2 * id.size() + 2);
    }
}

}  // namespace
