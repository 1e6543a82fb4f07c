#include "emulator/virtual_config.h"

#include <gtest/gtest.h>

namespace {

using emu::LinkDelay;
using emu::ParseVirtualConfig;
using emu::VirtualConfig;

TEST(VirtualConfigTest, PlainVirtualGivesOneProjectorOnUsb2WithNoFaults) {
    VirtualConfig config;
    std::string error;
    ASSERT_TRUE(ParseVirtualConfig("virtual", &config, &error)) << error;
    EXPECT_EQ(config.linkValues, std::vector<uint32_t>{2});
    EXPECT_EQ(config.delay, LinkDelay::None);
    EXPECT_FALSE(config.vanishAfter.has_value());
    EXPECT_EQ(config.failNext.count, 0u);
    ASSERT_TRUE(ParseVirtualConfig("virtual:", &config, &error)) << error;
}

TEST(VirtualConfigTest, EveryOptionIsRead) {
    VirtualConfig config;
    std::string error;
    ASSERT_TRUE(ParseVirtualConfig(
        "virtual:link=1.1,fault=1,power=1,mcu=B02,firmware=01.02.03.01.04.ff,vanish_after=500,"
        "vanish_at_slice=7,fail_next=3:31@20,fail_reads=1:5,delay=usb2,out=/tmp/shown.ppm,"
        "out_every=0,report=/tmp/r.txt",
        &config, &error))
        << error;
    EXPECT_EQ(config.linkValues, std::vector<uint32_t>{3});
    EXPECT_EQ(config.fault, 1);
    EXPECT_EQ(config.powerMode, 1);
    EXPECT_EQ(config.mcuFirmware, (std::array<uint8_t, 3>{'B', '0', '2'}));
    EXPECT_EQ(config.firmwareInfo, (std::array<uint8_t, 10>{1, 2, 3, 1, 4, 0xFF, 0, 0, 0, 0}));
    EXPECT_EQ(config.vanishAfter, 500u);
    EXPECT_EQ(config.vanishAtSlice, 7);
    EXPECT_EQ(config.failNext.count, 3u);
    EXPECT_EQ(config.failNext.code, 31u);
    EXPECT_EQ(config.failNext.after, 20u);
    EXPECT_EQ(config.failReads.count, 1u);
    EXPECT_EQ(config.failReads.code, 5u);
    EXPECT_EQ(config.failReads.after, 0u);
    EXPECT_EQ(config.delay, LinkDelay::Usb2);
    EXPECT_EQ(config.imagePath, "/tmp/shown.ppm");
    EXPECT_EQ(config.imageIntervalMs, 0u);
    EXPECT_EQ(config.reportPath, "/tmp/r.txt");
}

TEST(VirtualConfigTest, ProjectorsAndLinksCombine) {
    VirtualConfig config;
    std::string error;
    ASSERT_TRUE(ParseVirtualConfig("virtual:projectors=0", &config, &error)) << error;
    EXPECT_TRUE(config.linkValues.empty());
    ASSERT_TRUE(ParseVirtualConfig("virtual:link=none/3.0", &config, &error)) << error;
    EXPECT_EQ(config.linkValues, (std::vector<uint32_t>{0, 1}));
    ASSERT_TRUE(ParseVirtualConfig("virtual:link=none/0x6,projectors=3", &config, &error));
    EXPECT_EQ(config.linkValues, (std::vector<uint32_t>{0, 6, 6}));
    ASSERT_TRUE(ParseVirtualConfig("virtual:projectors=2", &config, &error)) << error;
    EXPECT_EQ(config.linkValues, (std::vector<uint32_t>{2, 2}));
}

TEST(VirtualConfigTest, MistakesGiveOneClearLine) {
    struct Case {
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        {"real", "does not start with 'virtual'"},
        {"virtualx", "does not start with 'virtual'"},
        {"virtual:speed=2.0", "unknown option 'speed'"},
        {"virtual:link", "option 'link' has no '=value'"},
        {"virtual:link=2.5", "bad value '2.5' for link: expected 3.0, 2.0, 1.1, none or a number"},
        {"virtual:projectors=9", "from 0 to 8"},
        {"virtual:link=2.0/2.0/2.0,projectors=2", "link gives 3 values for 2 projectors"},
        {"virtual:link=2/2/2/2/2/2/2/2/2", "link gives 9 values: at most 8 projectors"},
        {"virtual:fault=256", "bad value '256' for fault"},
        {"virtual:mcu=AB", "three characters"},
        {"virtual:firmware=1.2.x", "hex bytes"},
        {"virtual:vanish_after=-1", "bad value '-1' for vanish_after"},
        {"virtual:vanish_at_slice=20", "a slice from 0 to 19"},
        {"virtual:fail_next=3", "COUNT:CODE"},
        {"virtual:fail_next=3:0", "non-zero error code"},
        {"virtual:delay=usb3", "none, usb2 or usb1"},
        {"virtual:out=/tmp/shown.bmp", "must end in .png or .ppm"},
        {"virtual:out_every=-1", "milliseconds"},
        {"virtual:report=", "a file name"},
    };
    for (const Case& c : cases) {
        VirtualConfig config;
        config.fault = 77;
        std::string error;
        EXPECT_FALSE(ParseVirtualConfig(c.text, &config, &error)) << c.text;
        EXPECT_NE(error.find(c.expected), std::string::npos) << c.text << " -> " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos);
        EXPECT_EQ(config.fault, 77) << "a failed parse leaves the configuration alone";
    }
}

TEST(VirtualConfigTest, AControlStepGivesOnlyTheOptionsItNames) {
    emu::VirtualChange change;
    std::string error;
    ASSERT_TRUE(emu::ParseVirtualChange("12 fault=2,fail_reads=3:31@1\n", &change, &error))
        << error;
    EXPECT_EQ(change.step, 12u);
    EXPECT_EQ(change.fault, 2);
    ASSERT_TRUE(change.failReads.has_value());
    EXPECT_EQ(change.failReads->count, 3u);
    EXPECT_EQ(change.failReads->after, 1u);
    EXPECT_FALSE(change.failNext || change.vanishAtSlice || change.linkValue || change.delay);

    ASSERT_TRUE(emu::ParseVirtualChange("13", &change, &error)) << error;  // a step that clears
    EXPECT_EQ(change.step, 13u);
    EXPECT_FALSE(change.fault.has_value());

    const char* refused[][2] = {
        {"x fault=1", "not a step number"},
        {"4 out=/tmp/a.png", "'out' cannot change while the projector runs"},
        {"4 link=2.0/3.0", "link takes one value"},
        {"4 fault=300", "bad value '300' for fault"},
    };
    for (const auto& [text, expected] : refused) {
        EXPECT_FALSE(emu::ParseVirtualChange(text, &change, &error)) << text;
        EXPECT_NE(error.find(expected), std::string::npos) << text << " -> " << error;
    }
}

}  // namespace
