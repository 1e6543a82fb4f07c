// A batch as a client of the device service's pipe may send it, run by the service's side
// against a virtual projector. The section and the read buffer are exactly their size, so a
// request that reached past them would be caught:
//
//   bytes 0-7    the batch header: count, first slot
//   byte 8       bit 0: the optical unit's adapter states a 64 KiB limit
//   then         count request records (zeros after the input's end)
//   the rest     the first slot's data
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "device/device_discovery.h"
#include "device/service_channel.h"
#include "emulator/virtual_projector.h"
#include "platform/debug_print.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static DroppedTraces dropped;
    SetTraceSink(&dropped);
    if (size < SERVICE_BATCH_HEADER_BYTES + 1) {
        return 0;
    }
    const uint32_t count = GetServiceWord(data);
    const uint32_t first = GetServiceWord(data + 4);
    if (!BatchFitsSection(count, first)) {
        return 0;
    }
    const uint8_t choice = data[8];
    const uint8_t* at = data + SERVICE_BATCH_HEADER_BYTES + 1;
    const uint8_t* end = data + size;
    std::vector<uint8_t> records(count * SERVICE_REQUEST_BYTES);
    const size_t recordBytes = std::min<size_t>(records.size(), end - at);
    std::copy_n(at, recordBytes, records.begin());
    at += recordBytes;

    static uint8_t* section =
        static_cast<uint8_t*>(std::aligned_alloc(PAGE_BYTES, SERVICE_SECTION_BYTES));
    std::memset(section, 0, SERVICE_SECTION_BYTES);
    std::copy_n(at, std::min<size_t>(end - at, SERVICE_SLOT_BYTES),
                section + size_t{first} * SERVICE_SLOT_BYTES);
    auto readBuffer = std::make_unique<uint8_t[]>(SERVICE_READ_MAX_BYTES);

    emu::VirtualProjector projector;
    std::mutex lock;
    ServedUnits served;
    served.backend = &projector;
    served.readBuffer = readBuffer.get();
    served.lock = &lock;
    for (uint32_t i = 0; i < 2; ++i) {
        std::string path;
        uint32_t code = 0;
        if (projector.GetDiskInterface(i, &path, &code) == InterfaceLookup::Found) {
            served.units[PathContainsText(path, DISK_UNIT_SEARCH_TEXT) ? SERVICE_UNIT_DISK
                                                                       : SERVICE_UNIT_OPTICAL] =
                projector.OpenUnit(path, &code);
        }
    }
    served.limitsStated[SERVICE_UNIT_OPTICAL] = (choice & 1) != 0;
    served.limits[SERVICE_UNIT_OPTICAL] = {511, 65536, 17};
    auto answer = std::make_unique<uint8_t[]>(SERVICE_ANSWER_MAX_BYTES);
    const uint32_t length =
        RunServiceBatch(served, records.data(), count, first, section, 0, answer.get());
    if (length > SERVICE_ANSWER_MAX_BYTES) {
        std::abort();
    }
    projector.WaitUntilShown();
    return 0;
}
