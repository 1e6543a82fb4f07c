#include "tests/emulator/hand_host.h"

#include <cstring>
#include <random>
#include <string>

namespace {

constexpr uint8_t kEndMarker[20] = {0xFB, 0x14, 0x02, 0x20, 0, 0, 0,    0, 0, 0,
                                    0,    0,    0,    0,    0, 0, 0x80, 0, 0, 0x4F};

DeviceHandle OpenNth(emu::VirtualProjector& projector, const char* product, int index) {
    std::string path;
    uint32_t error = 0;
    for (uint32_t i = 0; projector.GetDiskInterface(i, &path, &error) == InterfaceLookup::Found;
         ++i) {
        if (path.find(product) != std::string::npos && index-- == 0) {
            return projector.OpenUnit(path, &error);
        }
    }
    return nullptr;
}

}  // namespace

uint32_t SliceAddress(int bank, int slice) {
    return 0x80000000u + static_cast<uint32_t>(bank) * 0x800000u +
           static_cast<uint32_t>(slice + 1) * 0xFC00u;
}

void FixChecksum(uint8_t* header) {
    uint8_t sum = 0;
    for (int i = 0; i < 19; ++i) {
        sum = static_cast<uint8_t>(sum + header[i]);
    }
    header[19] = static_cast<uint8_t>(-sum);
}

std::vector<uint8_t> RawHeader(uint16_t width, uint16_t height, uint32_t bytes) {
    std::vector<uint8_t> header(20, 0);
    header[0] = 0xFB;
    header[1] = 0x14;
    for (int i = 0; i < 2; ++i) {
        header[8 + i] = static_cast<uint8_t>(width >> (8 * i));
        header[10 + i] = static_cast<uint8_t>(height >> (8 * i));
    }
    for (int i = 0; i < 4; ++i) {
        header[12 + i] = static_cast<uint8_t>(bytes >> (8 * i));
    }
    header[16] = 0x01;
    FixChecksum(header.data());
    return header;
}

std::vector<uint8_t> RawSliceWrite(const std::vector<uint8_t>& frame, int slice, bool leadIn) {
    bool last = slice == 19;
    size_t bytes = last ? kLastSliceBytes : kSliceBytes;
    std::vector<uint8_t> write(leadIn ? 64 : 0, 0);
    std::vector<uint8_t> header =
        last ? RawHeader(static_cast<uint16_t>(bytes / 96), 32, static_cast<uint32_t>(bytes))
             : RawHeader(1024, 21, static_cast<uint32_t>(bytes));
    write.insert(write.end(), header.begin(), header.end());
    const uint8_t* source = frame.data() + static_cast<size_t>(slice) * kSliceBytes;
    write.insert(write.end(), source, source + bytes);
    write.insert(write.end(), std::begin(kEndMarker), std::end(kEndMarker));
    return write;
}

std::vector<uint8_t> NoiseFrame(uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> frame(kFrameBytes);
    for (uint8_t& byte : frame) {
        byte = static_cast<uint8_t>(random());
    }
    return frame;
}

HandHost::HandHost(emu::VirtualProjector& projector, int index)
    : disk(OpenNth(projector, "prod_tr40w17b6-2", index)),
      optical(OpenNth(projector, "prod_tr40w17b6-1", index)),
      projector_(projector) {}

ScsiRequest HandHost::WriteRequest(uint32_t address, const std::vector<uint8_t>& data) {
    ScsiRequest request{};
    request.cdb[0] = 0xFF;
    for (int i = 0; i < 4; ++i) {
        request.cdb[4 + i] = static_cast<uint8_t>(address >> (8 * i));
    }
    request.targetId = 1;
    request.senseInfoLength = 32;
    request.dataIn = SCSI_IOCTL_DATA_OUT;
    request.dataTransferLength = static_cast<uint32_t>(data.size());
    request.timeOutValue = 2;
    request.dataBuffer = const_cast<uint8_t*>(data.data());
    return request;
}

ScsiRequest HandHost::ControlRequest(uint16_t code) {
    ScsiRequest request{};
    const uint8_t cdb[16] = {
        0xFE, 0, 0,   0, 0xC0, 0xD1, static_cast<uint8_t>(code), static_cast<uint8_t>(code >> 8),
        0x40, 0, 0x01};
    memcpy(request.cdb, cdb, sizeof cdb);
    request.targetId = 1;
    request.senseInfoLength = 32;
    request.dataIn = SCSI_IOCTL_DATA_OUT;
    request.timeOutValue = 2;
    return request;
}

uint32_t HandHost::Write(uint32_t address, const std::vector<uint8_t>& data) {
    return projector_.SendScsi(optical, WriteRequest(address, data));
}

uint32_t HandHost::Control(uint16_t code) {
    return projector_.SendScsi(optical, ControlRequest(code));
}

uint32_t HandHost::Read(std::array<uint8_t, 16> cdb, uint8_t* reply, uint32_t length) {
    ScsiRequest request{};
    memcpy(request.cdb, cdb.data(), cdb.size());
    if (length > 0) {  // a read of nothing may have no buffer
        memset(reply, 0, length);
    }
    request.targetId = 3;
    request.senseInfoLength = 24;
    request.dataIn = SCSI_IOCTL_DATA_IN;
    request.dataTransferLength = length;
    request.timeOutValue = 10;
    request.dataBuffer = reply;
    return projector_.SendScsi(disk, request);
}

uint32_t HandHost::ReadRegister(uint8_t reg, uint8_t replyBytes, uint8_t* reply) {
    return Read({0xFD, 0, 0, 0, 0xC0, 0xFF, reg, 0, 0, 0, replyBytes}, reply, 4);
}

uint32_t HandHost::WriteRegister(uint8_t reg, uint8_t value) {
    uint8_t reply[4];
    return Read({0xFD, 0, 0, 0, 0xC0, 0xFF, reg, 1, value, 0, 1}, reply, 4);
}

uint32_t HandHost::LinkSpeed(uint32_t* value) {
    ScsiRequest request{};
    const uint8_t cdb[16] = {0xFD, 0, 0, 0, 0xC0, 0xA5, 0, 0, 0, 0xA0, 0x04};
    memcpy(request.cdb, cdb, sizeof cdb);
    uint8_t reply[4] = {};
    request.targetId = 1;
    request.senseInfoLength = 32;
    request.dataIn = SCSI_IOCTL_DATA_IN;
    request.dataTransferLength = 4;
    request.timeOutValue = 2;
    request.dataBuffer = reply;
    uint32_t result = projector_.SendScsi(disk, request);
    *value = uint32_t{reply[0]} << 24 | reply[1] << 16 | reply[2] << 8 | reply[3];
    return result;
}

uint32_t HandHost::SendRawFrame(const std::vector<uint8_t>& frame, int bank) {
    for (int slice = 0; slice < 20; ++slice) {
        if (uint32_t result = Write(SliceAddress(bank, slice), RawSliceWrite(frame, slice, true))) {
            return result;
        }
    }
    return Control(5);
}
