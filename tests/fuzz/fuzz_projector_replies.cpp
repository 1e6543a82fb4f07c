// The projector's answers, as odd as a device can make them: each request's outcome and
// reply bytes (short, long or none) come from the input, and so do the removable volumes' labels
// and the SG_IO header the kernel hands back. Start-up, the link speed, the status reads and
// the firmware reads all run on them.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "device/device_discovery.h"
#include "device/device_status.h"
#include "device/scsi_commands.h"
#include "device/sg_io_request.h"
#include "platform/debug_print.h"

namespace {

class ReplyingBackend : public DeviceBackend {
  public:
    explicit ReplyingBackend(FuzzedDataProvider* input) : m_input(input) {}

    uint32_t SendScsi(DeviceHandle, const ScsiRequest& request) override {
        static const uint32_t kResults[] = {0, 0, 0, ERROR_DEVICE_NOT_CONNECTED, EIO, ETIMEDOUT};
        uint32_t result = m_input->PickValueInArray(kResults);
        if (request.dataIn == SCSI_IOCTL_DATA_IN && request.dataTransferLength > 0) {
            std::vector<uint8_t> reply =
                m_input->ConsumeBytes<uint8_t>(m_input->ConsumeIntegral<uint8_t>());
            std::copy_n(reply.begin(), std::min<size_t>(reply.size(), request.dataTransferLength),
                        static_cast<uint8_t*>(request.dataBuffer));
        }
        return result;
    }
    InterfaceLookup GetDiskInterface(uint32_t index, std::string* path, uint32_t* error) override {
        // Units that answer badly are skipped and the search goes on: a few of each.
        if (index >= 6) {
            *error = ERROR_NO_MORE_ITEMS;
            return InterfaceLookup::EnumFailed;
        }
        *path = std::string("\\\\?\\") +
                (index % 2 == 0 ? DISK_UNIT_SEARCH_TEXT : OPTICAL_UNIT_SEARCH_TEXT) + "#" +
                std::to_string(index);
        return InterfaceLookup::Found;
    }
    DeviceHandle OpenUnit(const std::string& path, uint32_t*) override {
        return reinterpret_cast<DeviceHandle>(uintptr_t{0x100} + path.size());
    }
    void CloseUnit(DeviceHandle) override {}
    std::vector<VolumeInfo> ListVolumes() override {
        std::vector<VolumeInfo> volumes;
        for (int i = m_input->ConsumeIntegralInRange(0, 3); i > 0; --i) {
            volumes.push_back({"/media/v" + std::to_string(i), m_input->ConsumeBool(),
                               m_input->ConsumeBool(), m_input->ConsumeRandomLengthString(16)});
        }
        return volumes;
    }
    void RemoveMountPoint(const std::string&) override {}
    std::string SystemErrorText(uint32_t code) override {
        return code == EIO ? "Input/output error" : "";
    }

  private:
    FuzzedDataProvider* m_input;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static DroppedTraces dropped;
    SetTraceSink(&dropped);
    FuzzedDataProvider input(data, size);

    sg_io_hdr header{};
    header.host_status = input.ConsumeIntegral<uint16_t>();
    header.driver_status = input.ConsumeIntegral<uint16_t>();
    header.status = input.ConsumeIntegral<uint8_t>();
    header.resid = input.ConsumeIntegral<int>();
    SgIoResult(input.ConsumeIntegralInRange(-1, 0), input.ConsumeIntegralInRange(0, 140), header);

    ReplyingBackend backend(&input);
    g_pDeviceBackend = &backend;
    g_hDisk1 = g_hDisk2 = nullptr;
    g_USB3_0 = 0;
    g_uOpticalSearchIndex = g_uDiskSearchIndex = 0;
    OpenDriverlessDevice();
    g_hDisk2 = reinterpret_cast<DeviceHandle>(uintptr_t{2});
    scsi_cmd_read_link_speed();
    ReadDevFaultStatus();
    GetDevPowerMode();
    SetDevPowerMode(input.ConsumeIntegral<uint8_t>());
    uint8_t mcu[MCU_FIRMWARE_ID_BYTES];
    GetMCUFirmInfo(mcu);
    uint8_t firmware[FIRMWARE_INFO_BYTES];
    getDriverLessFirmInfo(firmware);
    g_pDeviceBackend = nullptr;
    return 0;
}
