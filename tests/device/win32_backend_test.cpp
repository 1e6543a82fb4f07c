#include <windows.h>

#include <memory>

#include "device/device_backend.h"

#include <gtest/gtest.h>

namespace {

// The real system calls, under Windows or Wine: only what holds on any machine.
class Win32BackendTest : public ::testing::Test {
  protected:
    std::unique_ptr<DeviceBackend> backend{CreateSystemDeviceBackend()};
};

TEST_F(Win32BackendTest, ErrorTextsComeFromTheSystemInUtf8) {
    EXPECT_FALSE(backend->SystemErrorText(ERROR_FILE_NOT_FOUND).empty());
    EXPECT_EQ(backend->SystemErrorText(0x2FFFFFFF), "");
}

TEST_F(Win32BackendTest, MissingUnitCannotBeOpened) {
    uint32_t error = 0;
    EXPECT_EQ(backend->OpenUnit(
                  "\\\\?\\usbstor#disk&ven_none#0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}", &error),
              nullptr);
    EXPECT_NE(error, 0u);
}

TEST_F(Win32BackendTest, PassThroughOnAFileFailsWithASystemCode) {
    wchar_t dir[MAX_PATH];
    wchar_t file[MAX_PATH];
    ASSERT_NE(GetTempPathW(MAX_PATH, dir), 0u);
    ASSERT_NE(GetTempFileNameW(dir, L"kvd", 0, file), 0u);
    HANDLE handle = CreateFileW(file, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    ScsiRequest request{};
    request.cdb[0] = 0xFE;
    uint32_t error = backend->SendScsi(handle, request);
    EXPECT_NE(error, 0u);
    EXPECT_NE(error, uint32_t{ERROR_DEVICE_NOT_CONNECTED});
    CloseHandle(handle);
}

TEST_F(Win32BackendTest, InterfaceListEndsWithNoMoreItems) {
    std::string path;
    uint32_t error = 0;
    uint32_t index = 0;
    InterfaceLookup outcome = InterfaceLookup::Found;
    while ((outcome = backend->GetDiskInterface(index, &path, &error)) == InterfaceLookup::Found &&
           index < 1000) {
        EXPECT_FALSE(path.empty());
        ++index;
    }
    EXPECT_EQ(outcome, InterfaceLookup::EnumFailed);
    EXPECT_EQ(error, uint32_t{ERROR_NO_MORE_ITEMS});
}

TEST_F(Win32BackendTest, DriveListNamesRoots) {
    std::vector<VolumeInfo> volumes = backend->ListVolumes();
    ASSERT_FALSE(volumes.empty());
    for (const VolumeInfo& volume : volumes) {
        EXPECT_EQ(volume.root.size(), 3u);
        EXPECT_EQ(volume.root.substr(1), ":\\");
    }
}

}  // namespace
