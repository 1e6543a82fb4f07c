#include "gadget/scsi_unit.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace gadget {
namespace {

constexpr uint8_t TEST_UNIT_READY = 0x00;
constexpr uint8_t REQUEST_SENSE = 0x03;
constexpr uint8_t READ_6 = 0x08;
constexpr uint8_t WRITE_6 = 0x0A;
constexpr uint8_t INQUIRY = 0x12;
constexpr uint8_t MODE_SELECT_6 = 0x15;
constexpr uint8_t MODE_SENSE_6 = 0x1A;
constexpr uint8_t START_STOP_UNIT = 0x1B;
constexpr uint8_t SEND_DIAGNOSTIC = 0x1D;
constexpr uint8_t PREVENT_ALLOW_MEDIUM_REMOVAL = 0x1E;
constexpr uint8_t READ_FORMAT_CAPACITIES = 0x23;
constexpr uint8_t READ_CAPACITY_10 = 0x25;
constexpr uint8_t READ_10 = 0x28;
constexpr uint8_t WRITE_10 = 0x2A;
constexpr uint8_t VERIFY_10 = 0x2F;
constexpr uint8_t SYNCHRONIZE_CACHE_10 = 0x35;
constexpr uint8_t READ_TOC = 0x43;
constexpr uint8_t GET_CONFIGURATION = 0x46;
constexpr uint8_t GET_EVENT_STATUS_NOTIFICATION = 0x4A;
constexpr uint8_t MODE_SELECT_10 = 0x55;
constexpr uint8_t MODE_SENSE_10 = 0x5A;
constexpr uint8_t SERVICE_ACTION_IN_16 = 0x9E;
constexpr uint8_t REPORT_LUNS = 0xA0;
constexpr uint8_t READ_CAPACITY_16 = 0x10;  // its service action

constexpr Sense INVALID_OPCODE = {SENSE_ILLEGAL_REQUEST, 0x20, 0x00};
constexpr Sense LBA_OUT_OF_RANGE = {SENSE_ILLEGAL_REQUEST, 0x21, 0x00};
constexpr Sense SAVING_NOT_SUPPORTED = {SENSE_ILLEGAL_REQUEST, 0x39, 0x00};
constexpr Sense MEDIUM_NOT_PRESENT = {SENSE_NOT_READY, 0x3A, 0x00};
constexpr Sense WRITE_PROTECTED = {SENSE_DATA_PROTECT, 0x27, 0x00};

constexpr uint8_t VERSION_SPC4 = 0x06;
constexpr uint8_t RESPONSE_FORMAT_2 = 0x02;
constexpr uint8_t REMOVABLE = 0x80;
constexpr size_t STANDARD_INQUIRY_BYTES = 36;
constexpr uint8_t VPD_SUPPORTED_PAGES = 0x00;
constexpr uint8_t VPD_UNIT_SERIAL_NUMBER = 0x80;
constexpr uint8_t VPD_DEVICE_IDENTIFICATION = 0x83;
constexpr uint8_t CODE_SET_ASCII = 0x02;
constexpr uint8_t DESIGNATOR_T10_VENDOR_ID = 0x01;

constexpr uint8_t MODE_PAGE_VENDOR = 0x00;  // no page: the header alone
constexpr uint8_t MODE_PAGE_CACHING = 0x08;
constexpr uint8_t MODE_PAGE_ALL = 0x3F;
constexpr uint8_t MODE_PAGE_CONTROL_SAVED = 3;
constexpr uint8_t CACHING_PAGE_LENGTH = 0x12;
constexpr uint8_t WRITE_PROTECT = 0x80;  // device-specific parameter of the mode header

constexpr uint8_t FORMATTED_MEDIA = 0x02;
constexpr uint8_t NO_MEDIA_PRESENT = 0x03;
constexpr size_t FIXED_SENSE_BYTES = 18;
constexpr uint8_t DESCRIPTOR_FORMAT = 0x01;  // REQUEST SENSE's DESC
constexpr uint8_t EVENT_CLASS_MEDIA = 4;
constexpr uint8_t NO_EVENT_AVAILABLE = 0x80;

constexpr uint8_t SELF_TEST = 0x04;   // SEND DIAGNOSTIC's default self-test
constexpr uint8_t BYTE_CHECK = 0x06;  // VERIFY: data out to compare
constexpr uint8_t REPORT_WELL_KNOWN_LUNS_ONLY = 0x01;
constexpr uint8_t REPORT_ALL_LUNS = 0x02;
constexpr size_t REPORT_LUNS_LEAST_ALLOCATION = 16;
constexpr size_t LUN_ENTRY_BYTES = 8;

uint32_t Big16(const uint8_t* at) {
    return static_cast<uint32_t>(at[0] << 8 | at[1]);
}

uint32_t Big32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) << 24 | at[1] << 16 | at[2] << 8 | at[3];
}

void Append16(std::vector<uint8_t>* data, uint32_t value) {
    data->push_back(static_cast<uint8_t>(value >> 8));
    data->push_back(static_cast<uint8_t>(value));
}

void Append32(std::vector<uint8_t>* data, uint32_t value) {
    Append16(data, value >> 16);
    Append16(data, value);
}

void AppendText(std::vector<uint8_t>* data, const std::string& text, size_t width) {
    for (size_t i = 0; i < width; ++i) {
        data->push_back(i < text.size() ? static_cast<uint8_t>(text[i]) : ' ');
    }
}

UnitAnswer Pass(std::vector<uint8_t> data, size_t allocation) {
    data.resize(std::min(data.size(), allocation));
    return {true, std::move(data)};
}

uint32_t MediumBlocks(const StorageUnit& unit) {
    return static_cast<uint32_t>(unit.medium->size() / BLOCK_BYTES);
}

UnitAnswer Inquiry(StorageUnit* unit, const uint8_t* cdb) {
    bool vitalProductData = (cdb[1] & 0x01) != 0;
    uint8_t page = cdb[2];
    size_t allocation = Big16(cdb + 3);
    std::vector<uint8_t> data = {unit->peripheralType};
    if (!vitalProductData) {
        if (page != 0) {
            return Fail(unit, INVALID_FIELD_IN_CDB);
        }
        data.insert(data.end(), {REMOVABLE, VERSION_SPC4, RESPONSE_FORMAT_2,
                                 STANDARD_INQUIRY_BYTES - 5, 0, 0, 0});
        AppendText(&data, unit->vendor, 8);
        AppendText(&data, unit->product, 16);
        AppendText(&data, unit->revision, 4);
        return Pass(data, allocation);
    }
    std::vector<uint8_t> body;
    if (page == VPD_SUPPORTED_PAGES) {
        body = {VPD_SUPPORTED_PAGES, VPD_UNIT_SERIAL_NUMBER, VPD_DEVICE_IDENTIFICATION};
    } else if (page == VPD_UNIT_SERIAL_NUMBER) {
        AppendText(&body, unit->serial, unit->serial.size());
    } else if (page == VPD_DEVICE_IDENTIFICATION) {
        // One designator: the T10 vendor identification, vendor then product and serial.
        std::vector<uint8_t> id;
        AppendText(&id, unit->vendor, 8);
        AppendText(&id, unit->product, 16);
        AppendText(&id, unit->serial, unit->serial.size());
        body = {CODE_SET_ASCII, DESIGNATOR_T10_VENDOR_ID, 0, static_cast<uint8_t>(id.size())};
        body.insert(body.end(), id.begin(), id.end());
    } else {
        return Fail(unit, INVALID_FIELD_IN_CDB);
    }
    data.push_back(page);
    Append16(&data, static_cast<uint32_t>(body.size()));
    data.insert(data.end(), body.begin(), body.end());
    return Pass(data, allocation);
}

// In the format the host asks for: fixed, or descriptor (DESC), with no descriptors.
UnitAnswer RequestSense(StorageUnit* unit, const uint8_t* cdb) {
    std::vector<uint8_t> data;
    if ((cdb[1] & DESCRIPTOR_FORMAT) != 0) {
        data = {0x72, unit->sense.key, unit->sense.asc, unit->sense.ascq, 0, 0, 0, 0};
    } else {
        data.assign(FIXED_SENSE_BYTES, 0);
        data[0] = 0x70;  // current error, fixed format
        data[2] = unit->sense.key;
        data[7] = FIXED_SENSE_BYTES - 8;
        data[12] = unit->sense.asc;
        data[13] = unit->sense.ascq;
    }
    unit->sense = Sense();
    return Pass(data, cdb[4]);
}

UnitAnswer ModeSense(StorageUnit* unit, const uint8_t* cdb) {
    bool ten = cdb[0] == MODE_SENSE_10;
    uint8_t control = cdb[2] >> 6;
    uint8_t page = cdb[2] & 0x3F;
    uint8_t subpage = cdb[3];
    size_t allocation = ten ? Big16(cdb + 7) : cdb[4];
    if (control == MODE_PAGE_CONTROL_SAVED) {
        return Fail(unit, SAVING_NOT_SUPPORTED);
    }
    bool allSubpages = page == MODE_PAGE_ALL && subpage == 0xFF;
    if ((page != MODE_PAGE_VENDOR && page != MODE_PAGE_CACHING && page != MODE_PAGE_ALL) ||
        (subpage != 0 && !allSubpages)) {
        return Fail(unit, INVALID_FIELD_IN_CDB);
    }
    std::vector<uint8_t> pages;
    if (page == MODE_PAGE_CACHING || page == MODE_PAGE_ALL) {
        // Write cache off, read cache on: nothing to flush. Changeable values: none.
        pages = {MODE_PAGE_CACHING, CACHING_PAGE_LENGTH};
        pages.resize(2 + CACHING_PAGE_LENGTH, 0);
    }
    uint8_t deviceSpecific = unit->peripheralType == PERIPHERAL_DISK ? WRITE_PROTECT : 0;
    std::vector<uint8_t> data;
    if (ten) {
        Append16(&data, static_cast<uint32_t>(6 + pages.size()));
        data.insert(data.end(), {0, deviceSpecific, 0, 0, 0, 0});
    } else {
        data = {static_cast<uint8_t>(3 + pages.size()), 0, deviceSpecific, 0};
    }
    data.insert(data.end(), pages.begin(), pages.end());
    return Pass(data, allocation);
}

UnitAnswer ReadFormatCapacities(StorageUnit* unit, const uint8_t* cdb) {
    std::vector<uint8_t> data = {0, 0, 0, 8};
    Append32(&data, unit->medium ? MediumBlocks(*unit) : 0);
    data.push_back(unit->medium ? FORMATTED_MEDIA : NO_MEDIA_PRESENT);
    data.insert(data.end(), {0, BLOCK_BYTES >> 8, BLOCK_BYTES & 0xFF});
    return Pass(data, Big16(cdb + 7));
}

UnitAnswer ReadCapacity(StorageUnit* unit, const uint8_t* cdb) {
    if (!unit->medium) {
        return Fail(unit, MEDIUM_NOT_PRESENT);
    }
    uint32_t lastBlock = MediumBlocks(*unit) - 1;
    std::vector<uint8_t> data;
    if (cdb[0] == READ_CAPACITY_10) {
        Append32(&data, lastBlock);
        Append32(&data, BLOCK_BYTES);
        return Pass(data, data.size());
    }
    Append32(&data, 0);
    Append32(&data, lastBlock);
    Append32(&data, BLOCK_BYTES);
    data.resize(32, 0);
    return Pass(data, Big32(cdb + 10));
}

// The blocks a READ or VERIFY names: false, with the unit's sense set, when there is no medium
// or they reach past its end.
bool BlocksOnMedium(StorageUnit* unit, const uint8_t* cdb, uint64_t* block, uint64_t* count) {
    if (!unit->medium) {
        Fail(unit, MEDIUM_NOT_PRESENT);
        return false;
    }
    if (cdb[0] == READ_6) {
        *block = (cdb[1] & 0x1Fu) << 16 | cdb[2] << 8 | cdb[3];
        *count = cdb[4] == 0 ? 256 : cdb[4];
    } else {
        *block = Big32(cdb + 2);
        *count = Big16(cdb + 7);
    }
    if (*block + *count > MediumBlocks(*unit)) {
        Fail(unit, LBA_OUT_OF_RANGE);
        return false;
    }
    return true;
}

UnitAnswer Read(StorageUnit* unit, const uint8_t* cdb) {
    uint64_t block = 0;
    uint64_t count = 0;
    if (!BlocksOnMedium(unit, cdb, &block, &count)) {
        return {false, {}};
    }
    auto first = unit->medium->begin() + static_cast<std::ptrdiff_t>(block * BLOCK_BYTES);
    size_t bytes = count * BLOCK_BYTES;
    return Pass({first, first + static_cast<std::ptrdiff_t>(bytes)}, bytes);
}

// The medium is read-only and always sound: a verify needs no work. Comparing against data the
// host sends is not offered.
UnitAnswer Verify(StorageUnit* unit, const uint8_t* cdb) {
    if ((cdb[1] & BYTE_CHECK) != 0) {
        return Fail(unit, INVALID_FIELD_IN_CDB);
    }
    uint64_t block = 0;
    uint64_t count = 0;
    return BlocksOnMedium(unit, cdb, &block, &count) ? Pass({}, 0) : UnitAnswer{false, {}};
}

// Every LUN of the target, in the peripheral device addressing method; there are no
// well-known LUNs.
UnitAnswer ReportLuns(StorageUnit* unit, const uint8_t* cdb) {
    uint8_t select = cdb[2];
    size_t allocation = Big32(cdb + 6);
    if (select > REPORT_ALL_LUNS || allocation < REPORT_LUNS_LEAST_ALLOCATION) {
        return Fail(unit, INVALID_FIELD_IN_CDB);
    }
    uint32_t luns = select == REPORT_WELL_KNOWN_LUNS_ONLY ? 0 : unit->targetLuns;
    std::vector<uint8_t> data;
    Append32(&data, static_cast<uint32_t>(luns * LUN_ENTRY_BYTES));
    Append32(&data, 0);
    for (uint32_t lun = 0; lun < luns; ++lun) {
        data.insert(data.end(), {0, static_cast<uint8_t>(lun), 0, 0, 0, 0, 0, 0});
    }
    return Pass(data, allocation);
}

// The default self-test, which has nothing to find; diagnostic pages are not offered.
UnitAnswer SendDiagnostic(StorageUnit* unit, const uint8_t* cdb) {
    bool selfTest = (cdb[1] & SELF_TEST) != 0;
    return selfTest && Big16(cdb + 3) == 0 ? Pass({}, 0) : Fail(unit, INVALID_FIELD_IN_CDB);
}

UnitAnswer GetConfiguration(const uint8_t* cdb) {
    // The feature header alone: no current profile, as for a drive without a medium.
    std::vector<uint8_t> data = {0, 0, 0, 4, 0, 0, 0, 0};
    return Pass(data, Big16(cdb + 7));
}

UnitAnswer GetEventStatusNotification(StorageUnit* unit, const uint8_t* cdb) {
    bool polled = (cdb[1] & 0x01) != 0;
    if (!polled) {
        return Fail(unit, INVALID_FIELD_IN_CDB);
    }
    constexpr uint8_t supported = 1 << EVENT_CLASS_MEDIA;
    std::vector<uint8_t> data;
    if ((cdb[4] & supported) != 0) {
        // Media class: no change, no medium.
        data = {0, 6, EVENT_CLASS_MEDIA, supported, 0, 0, 0, 0};
    } else {
        data = {0, 2, NO_EVENT_AVAILABLE, supported};
    }
    return Pass(data, Big16(cdb + 7));
}

bool IsOptical(const StorageUnit& unit) {
    return unit.peripheralType == PERIPHERAL_OPTICAL_MEMORY;
}

}  // namespace

uint32_t DataOutLength(const uint8_t* cdb) {
    switch (cdb[0]) {
        case WRITE_6:
            return (cdb[4] == 0 ? 256 : cdb[4]) * BLOCK_BYTES;
        case WRITE_10:
            return Big16(cdb + 7) * BLOCK_BYTES;
        case MODE_SELECT_6:
            return cdb[4];
        case MODE_SELECT_10:
            return Big16(cdb + 7);
        case SEND_DIAGNOSTIC:
            return Big16(cdb + 3);
        case VERIFY_10:
            return (cdb[1] & BYTE_CHECK) != 0 ? Big16(cdb + 7) * BLOCK_BYTES : 0;
        default:
            return 0;
    }
}

UnitAnswer Fail(StorageUnit* unit, Sense sense) {
    unit->sense = sense;
    return {false, {}};
}

UnitAnswer RunStandardCommand(StorageUnit* unit, const uint8_t* cdb) {
    if (cdb[0] == REQUEST_SENSE) {
        return RequestSense(unit, cdb);
    }
    // Any other command ends the sense of the one before.
    unit->sense = Sense();
    switch (cdb[0]) {
        case INQUIRY:
            return Inquiry(unit, cdb);
        case TEST_UNIT_READY:
            return unit->medium ? Pass({}, 0) : Fail(unit, MEDIUM_NOT_PRESENT);
        case MODE_SENSE_6:
        case MODE_SENSE_10:
            return ModeSense(unit, cdb);
        case READ_FORMAT_CAPACITIES:
            return ReadFormatCapacities(unit, cdb);
        case READ_CAPACITY_10:
            return ReadCapacity(unit, cdb);
        case SERVICE_ACTION_IN_16:
            if ((cdb[1] & 0x1F) == READ_CAPACITY_16) {
                return ReadCapacity(unit, cdb);
            }
            return Fail(unit, INVALID_FIELD_IN_CDB);
        case READ_6:
        case READ_10:
            return Read(unit, cdb);
        case WRITE_6:
        case WRITE_10:
            return Fail(unit, unit->medium ? WRITE_PROTECTED : MEDIUM_NOT_PRESENT);
        case START_STOP_UNIT:
        case PREVENT_ALLOW_MEDIUM_REMOVAL:
        case SYNCHRONIZE_CACHE_10:
            return Pass({}, 0);
        case VERIFY_10:
            return Verify(unit, cdb);
        case REPORT_LUNS:
            return ReportLuns(unit, cdb);
        case SEND_DIAGNOSTIC:
            return SendDiagnostic(unit, cdb);
        case READ_TOC:
            return IsOptical(*unit) ? Fail(unit, MEDIUM_NOT_PRESENT) : Fail(unit, INVALID_OPCODE);
        case GET_CONFIGURATION:
            return IsOptical(*unit) ? GetConfiguration(cdb) : Fail(unit, INVALID_OPCODE);
        case GET_EVENT_STATUS_NOTIFICATION:
            return IsOptical(*unit) ? GetEventStatusNotification(unit, cdb)
                                    : Fail(unit, INVALID_OPCODE);
        default:
            return Fail(unit, INVALID_OPCODE);
    }
}

}  // namespace gadget
