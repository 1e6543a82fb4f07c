// SG_IO headers as a program, or Wine on its behalf, may fill them, read by the sg-node
// attachment and, when the sg driver would take them, answered by the projector core. The
// memory the header points to is there, as the driver would otherwise refuse the call:
//
//   byte 0        bit 0 Wine's caller, bit 1 no data buffer, bit 2 no sense buffer, bit 3 the
//                 record's DataBuffer is the header's, bits 4-5 the unit (disk, optical, none)
//   bytes 1-21    interface_id, dxfer_direction, cmd_len, mx_sb_len, iovec_count, dxfer_len,
//                 timeout, flags
//   bytes 22-113  the 92 bytes around the command: Wine's record, the command at byte 36
//   the rest      the data buffer's first bytes (zeros after them up to dxfer_len)
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "emulator/sg_nodes/sg_request.h"
#include "emulator/virtual_projector.h"
#include "platform/debug_print.h"

namespace {

constexpr size_t kHeaderBytes = 21;
constexpr size_t kRecordBytes = 92;
constexpr size_t kCommandAt = 36;
constexpr size_t kDataBufferAt = 24;
constexpr uint32_t kMostData = 256u << 10;  // the program writes at most a slice, 64,616 bytes

template <typename T>
T Take(const uint8_t** at) {
    T value;
    std::memcpy(&value, *at, sizeof value);
    *at += sizeof value;
    return value;
}

// A projector of its own for each input: what one request leaves behind cannot mask another.
struct Core {
    Core() {
        projector = std::make_unique<emu::VirtualProjector>(emu::VirtualConfig{});
        for (uint32_t i = 0; i < 2; ++i) {
            std::string path;
            uint32_t code = 0;
            if (projector->GetDiskInterface(i, &path, &code) == InterfaceLookup::Found) {
                units[i] = projector->OpenUnit(path, &code);
            }
        }
    }
    std::unique_ptr<emu::VirtualProjector> projector;
    DeviceHandle units[3] = {};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static DroppedTraces dropped;
    SetTraceSink(&dropped);
    if (size < 1 + kHeaderBytes + kRecordBytes) {
        return 0;
    }
    const uint8_t choice = data[0];
    const uint8_t* at = data + 1;
    sg_io_hdr header{};
    header.interface_id = Take<uint8_t>(&at);
    header.dxfer_direction = Take<int32_t>(&at);
    header.cmd_len = Take<uint8_t>(&at);
    header.mx_sb_len = Take<uint8_t>(&at);
    header.iovec_count = Take<uint16_t>(&at);
    header.dxfer_len = Take<uint32_t>(&at) % kMostData;
    header.timeout = Take<uint32_t>(&at);
    header.flags = Take<uint32_t>(&at);
    std::vector<uint8_t> record(at, at + kRecordBytes);
    at += kRecordBytes;
    std::vector<uint8_t> buffer(header.dxfer_len);
    std::copy_n(at, std::min<size_t>(buffer.size(), data + size - at), buffer.begin());
    std::vector<uint8_t> sense(header.mx_sb_len);
    header.cmdp = record.data() + kCommandAt;
    header.dxferp = choice & 2 ? nullptr : buffer.data();
    header.sbp = choice & 4 ? nullptr : sense.data();
    if (choice & 8) {
        auto pointer = reinterpret_cast<uint64_t>(header.dxferp);
        std::memcpy(record.data() + kDataBufferAt, &pointer, sizeof pointer);
    }

    emu::SgIntake intake =
        emu::ReadSgRequest(header, choice & 1 ? emu::SgCaller::Wine64 : emu::SgCaller::Native);
    if (intake.refusal == 0) {
        Core core;
        uint32_t code = core.projector->SendScsi(core.units[(choice >> 4) % 3], intake.request);
        core.projector->WaitUntilShown();
        int error = 0;
        emu::CompleteSgRequest(code, 0, &header, &error);
    }
    return 0;
}
