#include <gtest/gtest.h>

#include <filesystem>

#include "emulator/virtual_projector.h"
#include "image/image_file.h"
#include "tests/emulator/hand_host.h"
#include "tests/support/test_files.h"
#include "tests/support/trace_recorder.h"

namespace {

TEST(ReportTest, ReportFileAndLastFrameAreWrittenWhenAsked) {
    TraceRecorder traces;  // the unknown control code below is traced
    emu::VirtualConfig config;
    config.reportPath = TempPath("report.txt");
    config.imagePath = TempPath("shown.ppm");
    std::vector<uint8_t> frame = NoiseFrame(12);
    {
        emu::VirtualProjector projector(config);
        HandHost host(projector);
        host.Control(1);
        ASSERT_EQ(host.SendRawFrame(frame, 0), 0u);
        projector.Report();  // the decoder has shown the frame and written the report
        std::string report = ReadText(config.reportPath);
        EXPECT_NE(report.find("projector 0 link=0x00000002 open_commands=1 frames_bank0=1 "
                              "frames_bank1=0 frames_abandoned=0 frames_rejected=0 power_mode=0 "
                              "fault=0 volume=mounted\n"),
                  std::string::npos)
            << report;
        EXPECT_NE(report.find("protocol_errors 0\n"), std::string::npos) << report;
        EXPECT_NE(report.find("cdb 22 optical0 none 0 0 FE 00 00 00 C0 D1 05 00 40 00 01 00 00 00 "
                              "00 00\n"),
                  std::string::npos)
            << report;
        EXPECT_NE(report.find("cdb 21 optical0 out 4136 0 FF 00 00 00 00 B0 13 80"),
                  std::string::npos)
            << report;
        projector.RemoveMountPoint("E:\\");
        host.Control(9);
    }
    std::string report = ReadText(config.reportPath);
    EXPECT_NE(report.find("mount_point_removed E:\\\n"), std::string::npos) << report;
    EXPECT_NE(report.find("protocol_errors 1\nprotocol_error command 23 (FE 00 00 00 C0 D1 09"),
              std::string::npos)
        << report;
    Image shown;
    std::string error;
    ASSERT_TRUE(ReadImage(config.imagePath, &shown, &error)) << error;
    EXPECT_EQ(shown.bgr, frame);
    std::filesystem::remove(config.reportPath);
    std::filesystem::remove(config.imagePath);
}

}  // namespace
