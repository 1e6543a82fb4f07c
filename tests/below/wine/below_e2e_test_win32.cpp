// The shipped program under Wine with the virtual projector below it: its own SetupAPI
// search, CreateFileW and DeviceIoControl reach the projector through Wine's pass-through
// and the machine's sg nodes. What arrives is checked there byte for byte, the x64 record
// behind every request field by field; here, what the program makes of it.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/below/wine/desktop_picture_win32.h"
#include "tests/below/wine/unit_paths_win32.h"
#include "tests/e2e/program_run_win32.h"

namespace {

constexpr int kWidth = kProjectorWidth;
constexpr int kHeight = kProjectorHeight;

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

bool TracedWithin(const ProgramRun& run, const std::string& text) {
    for (const std::string& line : run.Traces()) {
        if (line.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

class BelowTest : public ::testing::Test {
  protected:
    BelowTest()
        : run_(::testing::UnitTest::GetInstance()->current_test_info()->name()),
          startWidth_(GetSystemMetrics(SM_CXSCREEN)) {}

    void SetUp() override {
        if (!ProjectorBelow()) {
            GTEST_SKIP() << "the session's projector is not below the program (E2E_ROUTE)";
        }
    }

    // An end through one of the shutdowns: exit code 0, the desktop at its size, the modes
    // saved, and nothing the projector took was against the protocol.
    void ExpectCleanEnd(DWORD dispMode, DWORD zoomMode) {
        EXPECT_EQ(run_.WaitForExit(), 0u);
        EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), startWidth_);
        EXPECT_EQ(ReadSetting(L"DispMode"), dispMode);
        EXPECT_EQ(ReadSetting(L"ZoomMode"), zoomMode);
        EXPECT_EQ(run_.Report().protocolErrors, 0);
    }

    ProgramRun run_;
    const int startWidth_;
};

TEST_F(BelowTest, StartUpFindsTheUnitsOpensThemAndHidesOnlyTheProjectorsVolume) {
    ASSERT_TRUE(run_.Start({.device = "link=2.0,power=1", .dispMode = 1, .zoomMode = 0}));
    EXPECT_TRUE(run_.TracedInOrder({"vorn_kvusb started!\n", "Disk2 Path: " + kBelowDiskPath + "\n",
                                    "g_USB3_0: 0x2\n", "USB 2.0\n",
                                    "Disk1 Path: " + kBelowOpticalPath + "\n", "Hide Disk: E:\\\n",
                                    " KVCapAPI_Start success\n"}));
    // F: is removable but its label differs in case; G: is labelled alike but fixed.
    EXPECT_EQ(run_.CountTrace("Hide Disk: E:\\\n"), 1);
    EXPECT_FALSE(TracedWithin(run_, "Hide Disk: F:"));
    EXPECT_FALSE(TracedWithin(run_, "Hide Disk: G:"));
    EXPECT_TRUE(run_.WaitForTrace("DevErrTimerProc: scsi_cmd_read_driverless success!\n", 2));
    EXPECT_TRUE(run_.WaitForFrames(run_.Report().frames + 10));
    EXPECT_EQ(run_.Report().powerMode, 1);
    run_.Post(WM_CLOSE);
    ExpectCleanEnd(1, 0);
    EXPECT_EQ(run_.Traces().back(), "vorn_kvusb end!\n");
}

// Wine hands the sg node's ENODEV back as STATUS_UNSUCCESSFUL, ERROR_GEN_FAILURE (31): no
// errno becomes ERROR_DEVICE_NOT_CONNECTED on its pass-through, so the program takes a
// vanished projector for a failing link, as it takes any other error.
TEST_F(BelowTest, AVanishedProjectorIsALinkErrorUnderWineAndEndsAfterAHundredFrames) {
    ASSERT_TRUE(
        run_.Start({.device = "link=2.0,vanish_at_slice=7", .dispMode = 0, .zoomMode = 1}, 0));
    EXPECT_EQ(run_.WaitForExit(), 0u);
    EXPECT_TRUE(TracedWithin(run_, "SCSI Error: 31  "));
    EXPECT_TRUE(TracedWithin(run_, "USB Link error, vorn_kvusb end!!!\n"));
    EXPECT_FALSE(TracedWithin(run_, "ERROR_DEVICE_NOT_CONNECTED"));
    EXPECT_TRUE(TracedWithin(run_, "SCSI ERROR(R) => 31: "));
    ExpectCleanEnd(0, 1);
    EXPECT_EQ(run_.Traces().back(), "vorn_kvusb end!\n");
}

// What Windows would broadcast when the projector goes, sent as the system sends it (Wine's
// device notifications come from drivers, and these units have none).
TEST_F(BelowTest, AVanishedProjectorWhoseRemovalIsAnnouncedEndsAtOnce) {
    ASSERT_TRUE(
        run_.Start({.device = "link=2.0,vanish_at_slice=7", .dispMode = 1, .zoomMode = 0}, 0));
    ASSERT_TRUE(WaitFor([&] { return TracedWithin(run_, "SCSI Error: 31  "); }, 20000));
    run_.SendDeviceRemoval(Wide(kBelowOpticalPath));
    ExpectCleanEnd(1, 0);
    EXPECT_TRUE(run_.TracedInOrder({"KVUSB cd removed, will stop vorn_kvusb thread!\n",
                                    "return from CreateMyWindow!\n", "vorn_kvusb end!\n"}));
    EXPECT_FALSE(TracedWithin(run_, "USB Link error"));
}

TEST_F(BelowTest, AnOsErrorOnAWriteCostsOneFrameAndTheStreamGoesOn) {
    // EIO on the node is ERROR_NOT_READY (21) to the program.
    ASSERT_TRUE(run_.Start({.device = "link=3.0,fail_next=1:5@60", .dispMode = 0, .zoomMode = 0}));
    ASSERT_TRUE(WaitFor([&] { return TracedWithin(run_, "SCSI Error: 21  "); }, 20000));
    const int frames = run_.Report().frames;
    EXPECT_TRUE(run_.WaitForFrames(frames + 10));
    run_.Post(WM_CLOSE);
    ExpectCleanEnd(0, 0);
    EXPECT_EQ(run_.Report().rejected, 0);
}

TEST_F(BelowTest, AFailedStatusReadIsTracedAndThePollGoesOn) {
    // The first status read, the power mode at the window's creation, then two polls.
    ASSERT_TRUE(run_.Start({.device = "link=2.0,fail_reads=3:5@1", .dispMode = 0, .zoomMode = 0}));
    EXPECT_TRUE(run_.WaitForTrace("GetDevPowerMode: scsi_cmd_read_driverless error!\n"));
    EXPECT_TRUE(run_.WaitForTrace("DevErrTimerProc: scsi_cmd_read_driverless error!\n", 2));
    EXPECT_TRUE(run_.WaitForTrace("DevErrTimerProc: scsi_cmd_read_driverless success!\n"));
    EXPECT_TRUE(TracedWithin(run_, "SCSI ERROR(R) => 21: "));
    EXPECT_TRUE(run_.WaitForFrames(run_.Report().frames + 5));
    run_.Post(WM_CLOSE);
    ExpectCleanEnd(0, 0);
}

// In a session whose desktop is the projector's size: mirror mode at the original zoom
// captures it one to one, so the projector shows exactly what is on it.
TEST_F(BelowTest, TheDesktopReachesTheProjectorPixelForPixel) {
    if (GetSystemMetrics(SM_CXSCREEN) != kWidth || GetSystemMetrics(SM_CYSCREEN) != kHeight) {
        GTEST_SKIP() << "the desktop is not 854 x 480";
    }
    const std::vector<uint8_t> picture = TestPicture();
    PictureWindow window(picture);
    for (const char* link : {"3.0", "2.0"}) {
        SCOPED_TRACE(link);
        ProgramRun run(std::string("pixels_usb") + link);
        ASSERT_TRUE(
            run.Start({.device = std::string("link=") + link, .dispMode = 0, .zoomMode = 0}));
        // The projector writes its frame to the file once a second; the start-up balloon
        // may cover the picture for a while.
        int differing = kWidth * kHeight;
        WaitFor(
            [&] {
                differing = DifferingPixels(ProjectorFrame(std::string(std::getenv("E2E_WORK")) +
                                                           "\\pixels_usb" + link + "\\frame.ppm"),
                                            picture);
                return differing == 0;
            },
            30000);
        EXPECT_EQ(differing, 0);
        run.Post(WM_CLOSE);
        EXPECT_EQ(run.WaitForExit(), 0u);
        EXPECT_EQ(run.Report().protocolErrors, 0);
    }
}

}  // namespace
