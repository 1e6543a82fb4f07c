#include "emulator/device_request.h"

#include <gtest/gtest.h>

#include <memory>

#include "device/device_backend.h"
#include "emulator/virtual_projector.h"

namespace {

std::string Request(const emu::DeviceRequestParts& parts) {
    std::string request;
    std::string error;
    EXPECT_TRUE(emu::ComposeDeviceRequest(parts, &request, &error)) << error;
    return request;
}

TEST(DeviceRequest, TheVirtualProjectorIsChosenByOptionOrVariable) {
    EXPECT_EQ(Request({}), "");
    EXPECT_EQ(Request({.environment = "system"}), "");
    EXPECT_EQ(Request({.environment = "virtual:link=3.0"}), "virtual:link=3.0");
    // Wanted without options, the variable's options still count.
    EXPECT_EQ(Request({.virtualWanted = true}), "virtual");
    EXPECT_EQ(Request({.environment = "virtual:link=3.0", .virtualWanted = true}),
              "virtual:link=3.0");
    // An explicit request wins over the variable.
    EXPECT_EQ(Request({.device = "virtual:fault=1", .environment = "virtual:link=3.0"}),
              "virtual:fault=1");
}

TEST(DeviceRequest, AnImagePathSelectsTheVirtualProjectorAndJoinsItsOptions) {
    EXPECT_EQ(Request({.imagePath = "shown.png"}), "virtual:out=shown.png");
    EXPECT_EQ(Request({.environment = "virtual:link=3.0", .imagePath = "shown.png"}),
              "virtual:link=3.0,out=shown.png");
    EXPECT_EQ(
        Request(
            {.device = "virtual:", .environment = "virtual:link=3.0", .imagePath = "shown.png"}),
        "virtual:out=shown.png");

    std::string request;
    std::string error;
    EXPECT_FALSE(emu::ComposeDeviceRequest({.imagePath = "a,b.png"}, &request, &error));
    EXPECT_EQ(error, "--virtual: the file name cannot hold a comma");
}

TEST(DeviceRequest, TheMakerMakesAProjectorOnlyWhenTheRequestSelectsOne) {
    emu::VirtualProjector earlier;
    for (const char* request : {static_cast<const char*>(nullptr), "", "system", "virtually"}) {
        DeviceBackend* backend = &earlier;
        std::string error;
        EXPECT_TRUE(emu::MakeVirtualProjector(request, &backend, &error));
        EXPECT_EQ(backend, nullptr);
    }
    DeviceBackend* backend = nullptr;
    std::string error;
    ASSERT_TRUE(emu::MakeVirtualProjector("virtual:power=1", &backend, &error)) << error;
    std::unique_ptr<DeviceBackend> made(backend);
    auto* projector = dynamic_cast<emu::VirtualProjector*>(backend);
    ASSERT_NE(projector, nullptr);
    EXPECT_EQ(projector->Report().projectors.at(0).powerMode, 1);

    EXPECT_FALSE(emu::MakeVirtualProjector("virtual:speed=2", &backend, &error));
    EXPECT_EQ(backend, nullptr);
    EXPECT_NE(error.find("unknown option 'speed'"), std::string::npos) << error;
}

}  // namespace
