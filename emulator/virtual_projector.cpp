#include "emulator/virtual_projector.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "device/projector_identity.h"
#include "emulator/hex_text.h"
#include "emulator/projector_protocol.h"
#include "image/image_file.h"
#include "kvcap/synthetic_pattern.h"
#include "platform/debug_print.h"
#include "platform/thread.h"
#include "platform/whole_file.h"

namespace emu {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
constexpr uint32_t ERROR_INVALID_HANDLE = 6;

constexpr char kDiskInterfaceClass[] = "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
constexpr char kSystemDiskPath[] =
    "\\\\?\\scsi#disk&ven_nvme&prod_virtual_ssd#4&2f6b2b1c&0&000000#"
    "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
constexpr char kVolumeLabel[] = "TARQ K7Q0";

constexpr uint8_t kTargetStream = 1;  // TargetId and SenseInfoLength of each command
constexpr uint8_t kTargetStatus = 3;
constexpr uint8_t kSenseStream = 32;
constexpr uint8_t kSenseStatus = 24;
constexpr uint32_t kTimeoutStream = 2;
constexpr uint32_t kTimeoutStatus = 10;

// What a bulk transfer achieves on each link, roughly.
constexpr double kUsb2BytesPerSecond = 35e6;
constexpr double kUsb11BytesPerSecond = 1e6;

constexpr auto kControlInterval = std::chrono::milliseconds(100);

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// A unit's interface path as the system lists it: bus, kind, vendor, product and revision,
// an instance of its own, the disk interface class.
std::string UnitPath(const char* kind, const char* product, int projector, int unit) {
    return "\\\\?\\" +
           Lower(std::string(kind) + "&Ven_" + PROJECTOR_VENDOR + "&Prod_" + product + "&Rev_" +
                 PROJECTOR_REVISION) +
           "#7&1c2a3f4e&" + std::to_string(projector) + "&00000" + std::to_string(unit) + "#" +
           kDiskInterfaceClass;
}

std::string VolumeRoot(int projector) {
    return std::string(1, static_cast<char>('E' + projector)) + ":\\";
}

uint32_t LittleEndian32(const uint8_t* bytes) {
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

const char* UnitName(UnitKind kind);

std::string UnitLabel(const CommandRecord& record);

// "command 12 (FF 00 ...) on the optical unit of projector 0"
std::string CommandText(const CommandRecord& record) {
    return "command " + std::to_string(record.number) + " (" +
           HexBytes(record.cdb.data(), record.cdb.size()) + ") on " + UnitLabel(record);
}

const char* UnitName(UnitKind kind) {
    switch (kind) {
        case UnitKind::Disk:
            return "disk";
        case UnitKind::Optical:
            return "optical";
        case UnitKind::Other:
            break;
    }
    return "other";
}

std::string UnitLabel(const CommandRecord& record) {
    if (record.projector < 0) {
        return "a unit that is not the projector's";
    }
    return std::string("the ") + UnitName(record.unit) + " unit of projector " +
           std::to_string(record.projector);
}

// A frame that carries the synthetic pattern's stamp against the pattern frame it names; a
// frame without the stamp is not counted.
PatternCheck ComparePattern(const std::vector<uint8_t>& pixels, std::vector<uint8_t>* expected) {
    PatternCheck check;
    uint32_t index = 0;
    if (!ReadPatternStamp(pixels.data(), &index)) {
        return check;
    }
    expected->resize(pixels.size());
    DrawSyntheticPattern(index, kFrameWidth, kFrameHeight, expected->data());
    for (size_t i = 0; i < pixels.size(); i += 3) {
        check.pixelErrors += std::memcmp(&pixels[i], &(*expected)[i], 3) != 0 ? 1 : 0;
    }
    check.frames = 1;
    check.mismatched = check.pixelErrors > 0 ? 1 : 0;
    return check;
}

}  // namespace

struct FreeBytes {
    void operator()(uint8_t* bytes) const { std::free(bytes); }
};

struct VirtualProjector::Projector {
    ProjectorStatus status;
    // The two frame banks, allocated zeroed at the first write: the system hands out zero
    // pages on demand, so only the slices written take memory.
    std::unique_ptr<uint8_t, FreeBytes> memory;
    FrameAssembler assembler;
};

struct VirtualProjector::Command {
    CommandRecord record;
    const ScsiRequest* request = nullptr;
    Projector* projector = nullptr;
    std::unique_lock<std::mutex>* lock = nullptr;
    bool stateChanged = false;  // the report should be written again
};

struct VirtualProjector::Output {
    uint64_t sequence = 0;
    std::string reportPath;
    std::string report;
    std::string imagePath;
    Image image;
};

VirtualProjector::VirtualProjector(const VirtualConfig& config) : config_(config) {
    for (uint32_t link : config.linkValues) {
        auto projector = std::make_unique<Projector>();
        projector->status.linkValue = link;
        projector->status.fault = config.fault;
        projector->status.powerMode = config.powerMode;
        projectors_.push_back(std::move(projector));
    }
    vanishAfter_ = config.vanishAfter.value_or(UINT64_MAX);
    vanishAtSlice_ = config.vanishAtSlice.value_or(-1);
    failNext_ = config.failNext;
    failReads_ = config.failReads;
    delay_ = config.delay;
    decoder_ = std::thread(&VirtualProjector::DecoderLoop, this);
}

VirtualProjector::~VirtualProjector() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    work_.notify_all();
    decoder_.join();  // after the frames already closed are shown
    Flush();
}

// ---- Units, interfaces and volumes

std::vector<std::string> VirtualProjector::InterfacePaths() const {
    std::vector<std::string> paths = {kSystemDiskPath};
    for (size_t i = 0; !vanished_ && i < projectors_.size(); ++i) {
        paths.push_back(UnitPath("USBSTOR#Disk", PROJECTOR_DISK_PRODUCT, static_cast<int>(i), 0));
        paths.push_back(
            UnitPath("USBSTOR#Optical", PROJECTOR_OPTICAL_PRODUCT, static_cast<int>(i), 1));
    }
    return paths;
}

InterfaceLookup VirtualProjector::GetDiskInterface(uint32_t index, std::string* path,
                                                   uint32_t* error) {
    std::lock_guard lock(mutex_);
    std::vector<std::string> paths = InterfacePaths();
    if (index >= paths.size()) {
        *error = ERROR_NO_MORE_ITEMS;
        return InterfaceLookup::EnumFailed;
    }
    *path = paths[index];
    return InterfaceLookup::Found;
}

DeviceHandle VirtualProjector::OpenUnit(const std::string& path, uint32_t* error) {
    std::lock_guard lock(mutex_);
    std::vector<std::string> paths = InterfacePaths();
    for (size_t i = 0; i < paths.size(); ++i) {
        if (Lower(paths[i]) == Lower(path)) {
            // Entry 0 is the system's own disk, then each projector's disk and optical unit.
            int projector = i == 0 ? -1 : static_cast<int>((i - 1) / 2);
            UnitKind kind = i == 0 ? UnitKind::Other : (i % 2 ? UnitKind::Disk : UnitKind::Optical);
            return &handles_.emplace_back(OpenedUnit{projector, kind, true});
        }
    }
    *error = ERROR_FILE_NOT_FOUND;
    return nullptr;
}

void VirtualProjector::CloseUnit(DeviceHandle unit) {
    std::lock_guard lock(mutex_);
    for (OpenedUnit& opened : handles_) {
        if (&opened == unit && opened.open) {
            opened.open = false;
            return;
        }
    }
    ProtocolError("a handle that is not open was closed");
}

std::vector<VolumeInfo> VirtualProjector::ListVolumes() {
    std::lock_guard lock(mutex_);
    std::vector<VolumeInfo> volumes = {{"C:\\", false, true, "System"}};
    for (size_t i = 0; !vanished_ && i < projectors_.size(); ++i) {
        if (projectors_[i]->status.volumeMounted) {
            volumes.push_back({VolumeRoot(static_cast<int>(i)), true, true, kVolumeLabel});
        }
    }
    volumes.insert(volumes.end(), otherVolumes_.begin(), otherVolumes_.end());
    return volumes;
}

void VirtualProjector::RemoveMountPoint(const std::string& root) {
    Output output;
    {
        std::lock_guard lock(mutex_);
        removals_.push_back(root);
        for (size_t i = 0; i < projectors_.size(); ++i) {
            if (VolumeRoot(static_cast<int>(i)) == root) {
                projectors_[i]->status.volumeMounted = false;
            }
        }
        std::erase_if(otherVolumes_, [&](const VolumeInfo& v) { return v.root == root; });
        output = TakeOutput(false, false);
    }
    WriteOutput(output);
}

std::string VirtualProjector::SystemErrorText(uint32_t code) {
    switch (code) {
        case 1:
            return "Incorrect function.\r\n";
        case ERROR_FILE_NOT_FOUND:
            return "The system cannot find the file specified.\r\n";
        case 5:
            return "Access is denied.\r\n";
        case ERROR_INVALID_HANDLE:
            return "The handle is invalid.\r\n";
        case 31:
            return "A device attached to the system is not functioning.\r\n";
        case 87:
            return "The parameter is incorrect.\r\n";
        case 121:
            return "The semaphore timeout period has expired.\r\n";
        case ERROR_NO_MORE_ITEMS:
            return "No more data is available.\r\n";
        case ERROR_DEVICE_NOT_CONNECTED:
            return "The device is not connected.\r\n";
        default:
            return "";
    }
}

void VirtualProjector::AddVolume(const VolumeInfo& volume) {
    std::lock_guard lock(mutex_);
    otherVolumes_.push_back(volume);
}

void VirtualProjector::AddProtocolError(const std::string& text) {
    Output output;
    {
        std::lock_guard lock(mutex_);
        ProtocolError(text);
        output = TakeOutput(false, false);
    }
    WriteOutput(output);
}

// ---- Fault injection

void VirtualProjector::VanishAfter(uint64_t commands) {
    std::lock_guard lock(mutex_);
    vanishAfter_ = commands_ + commands;
}

void VirtualProjector::VanishAtSlice(int slice) {
    std::lock_guard lock(mutex_);
    vanishAtSlice_ = slice;
}

void VirtualProjector::FailNext(uint32_t count, uint32_t code) {
    std::lock_guard lock(mutex_);
    failNext_ = {count, code, commands_};
}

void VirtualProjector::SetFault(uint8_t status) {
    std::lock_guard lock(mutex_);
    for (auto& projector : projectors_) {
        projector->status.fault = status;
    }
}

void VirtualProjector::SetLinkDelay(LinkDelay delay) {
    std::lock_guard lock(mutex_);
    delay_ = delay;
}

void VirtualProjector::SetLinkValue(uint32_t value) {
    std::lock_guard lock(mutex_);
    for (auto& projector : projectors_) {
        projector->status.linkValue = value;
    }
}

// Runs under the lock, from the commands themselves, so a change lands between two commands.
// True when a step was applied.
bool VirtualProjector::PollControl() {
    Clock::time_point now = Clock::now();
    if (config_.controlPath.empty() || now - controlRead_ < kControlInterval) {
        return false;
    }
    controlRead_ = now;
    std::vector<uint8_t> bytes;
    std::string error;
    if (!ReadWholeFile(config_.controlPath, &bytes, &error)) {
        return false;  // not written yet
    }
    VirtualChange change;
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (!ParseVirtualChange(text, &change, &error)) {
        ProtocolError("the control file: " + error);
        return true;
    }
    if (change.step <= controlStep_) {
        return false;
    }
    controlStep_ = change.step;
    Apply(change);
    return true;
}

void VirtualProjector::Apply(const VirtualChange& change) {
    for (auto& projector : projectors_) {
        projector->status.fault = change.fault.value_or(projector->status.fault);
        projector->status.linkValue = change.linkValue.value_or(projector->status.linkValue);
    }
    delay_ = change.delay.value_or(delay_);
    if (change.vanishAfter) {
        vanishAfter_ = commands_ + *change.vanishAfter;
    }
    vanishAtSlice_ = change.vanishAtSlice.value_or(vanishAtSlice_);
    if (change.failNext) {
        failNext_ = *change.failNext;
        failNext_.after += commands_;
    }
    if (change.failReads) {
        failReads_ = *change.failReads;
        failReads_.after += reads_;
    }
}

// ---- Commands

uint32_t VirtualProjector::SendScsi(DeviceHandle unit, const ScsiRequest& request) {
    Clock::time_point start = Clock::now();
    uint32_t result = 0;
    uint64_t bytes = 0;
    LinkDelay delay = LinkDelay::None;
    Output output;
    {
        std::unique_lock lock(mutex_);
        Command command;
        command.request = &request;
        command.lock = &lock;
        command.stateChanged = PollControl();
        CommandRecord& record = command.record;
        record.number = ++commands_;
        std::copy(std::begin(request.cdb), std::end(request.cdb), record.cdb.begin());
        record.length = request.dataTransferLength;
        record.direction = request.dataTransferLength == 0        ? "none"
                           : request.dataIn == SCSI_IOCTL_DATA_IN ? "in"
                                                                  : "out";
        auto opened = std::find_if(handles_.begin(), handles_.end(),
                                   [&](const OpenedUnit& u) { return &u == unit; });
        if (opened == handles_.end() || !opened->open) {
            ProtocolError(&command, "the handle is not open");
            result = ERROR_INVALID_HANDLE;
        } else {
            record.projector = opened->projector;
            record.unit = opened->kind;
            if (!vanished_ && commands_ > vanishAfter_) {
                vanished_ = true;
                command.stateChanged = true;
            }
            bool read = record.unit == UnitKind::Disk && record.cdb[0] == kOpRead;
            reads_ += read ? 1 : 0;
            if (vanished_) {
                result = ERROR_DEVICE_NOT_CONNECTED;
            } else if (Injected(&failNext_, commands_)) {
                result = failNext_.code;
                command.stateChanged = true;  // the report counts what is still to come
            } else if (read && Injected(&failReads_, reads_)) {
                result = failReads_.code;
                command.stateChanged = true;
            } else {
                result = Execute(&command);
            }
        }
        record.result = result;
        log_.push_back(record);
        if (log_.size() > config_.loggedCommands) {
            log_.pop_front();
        }
        bytes = result == 0 ? request.dataTransferLength : 0;
        delay = delay_;
        if (command.stateChanged) {
            output = TakeOutput(false, false);
        }
    }
    WriteOutput(output);
    if (delay != LinkDelay::None && bytes > 0) {
        // The link carries the bytes at its own pace; the checking above happens meanwhile.
        double bytesPerSecond =
            delay == LinkDelay::Usb2 ? kUsb2BytesPerSecond : kUsb11BytesPerSecond;
        const Clock::time_point done =
            start + std::chrono::nanoseconds(static_cast<int64_t>(bytes * 1e9 / bytesPerSecond));
        // A sleep may end early where the system counts it in whole milliseconds (Windows).
        while (Clock::now() < done) {
            std::this_thread::sleep_until(done);
        }
    }
    deviceNanoseconds_ += static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count());
    return result;
}

bool VirtualProjector::Injected(InjectedFailure* failure, uint64_t counted) {
    if (failure->count == 0 || counted <= failure->after) {
        return false;
    }
    --failure->count;
    return true;
}

uint32_t VirtualProjector::Execute(Command* command) {
    const CommandRecord& record = command->record;
    if (record.projector < 0) {
        ProtocolError(command, "command sent to a disk that is not the projector's");
        return 0;
    }
    command->projector = projectors_[static_cast<size_t>(record.projector)].get();
    uint8_t opcode = record.cdb[0];
    UnitKind wanted = opcode == kOpRead ? UnitKind::Disk : UnitKind::Optical;
    if (opcode != kOpWrite && opcode != kOpControl && opcode != kOpRead) {
        ProtocolError(command, "unknown opcode " + HexBytes(&opcode, 1));
        return 0;
    }
    if (record.unit != wanted) {
        ProtocolError(command,
                      std::string("this command belongs on the ") + UnitName(wanted) + " unit");
        return 0;
    }
    if (record.unit == UnitKind::Optical &&
        (command->projector->status.linkValue & kLinkSpeedMask) == kLinkNone) {
        // Without a link there is no frame path: the optical unit answers as unplugged.
        return ERROR_DEVICE_NOT_CONNECTED;
    }
    if (opcode == kOpWrite) {
        return ExecuteWrite(command);
    }
    return opcode == kOpControl ? ExecuteControl(command) : ExecuteRead(command);
}

bool VirtualProjector::CheckRequest(Command* command, uint8_t targetId, uint8_t senseLength,
                                    uint8_t dataIn, uint32_t timeout) {
    const ScsiRequest& request = *command->request;
    std::string wrong;
    bool passThrough = config_.requestView == RequestView::PassThrough;
    if (passThrough && request.targetId != targetId && request.targetId != kTargetIdNotCarried) {
        wrong = "TargetId " + std::to_string(request.targetId) + ", expected " +
                std::to_string(targetId);
    } else if (passThrough && request.senseInfoLength != senseLength) {
        wrong = "SenseInfoLength " + std::to_string(request.senseInfoLength) + ", expected " +
                std::to_string(senseLength);
    } else if (request.dataIn != dataIn) {
        wrong = "DataIn " + std::to_string(request.dataIn) + ", expected " + std::to_string(dataIn);
    } else if (passThrough && request.timeOutValue != timeout) {
        wrong = "TimeOutValue " + std::to_string(request.timeOutValue) + " s, expected " +
                std::to_string(timeout) + " s";
    } else if ((request.dataTransferLength == 0) != (request.dataBuffer == nullptr)) {
        wrong = "DataTransferLength " + std::to_string(request.dataTransferLength) +
                (request.dataBuffer ? " with a data buffer" : " without a data buffer");
    }
    if (!wrong.empty()) {
        ProtocolError(command, wrong);
    }
    return wrong.empty();
}

bool VirtualProjector::CheckCdbZero(Command* command, std::initializer_list<int> bytes) {
    for (int i : bytes) {
        if (command->record.cdb[static_cast<size_t>(i)] != 0) {
            ProtocolError(command, "CDB byte " + std::to_string(i) + " is " +
                                       HexBytes(&command->record.cdb[static_cast<size_t>(i)], 1) +
                                       ", expected 00");
            return false;
        }
    }
    return true;
}

uint32_t VirtualProjector::ExecuteWrite(Command* command) {
    const ScsiRequest& request = *command->request;
    if (!CheckRequest(command, kTargetStream, kSenseStream, SCSI_IOCTL_DATA_OUT, kTimeoutStream) ||
        !CheckCdbZero(command, {1, 2, 3, 8, 9, 10, 11, 12, 13, 14, 15})) {
        return 0;
    }
    uint32_t address = LittleEndian32(&command->record.cdb[4]);
    uint32_t length = request.dataTransferLength;
    char where[80];
    snprintf(where, sizeof where, "write of %u bytes at 0x%08X", length, address);
    uint64_t offset = uint64_t{address} - kMemoryBase;
    if (address < kMemoryBase || offset + length > kMemoryBytes) {
        ProtocolError(command, std::string(where) +
                                   " does not fit the frame banks (0x80000000 to 0x80FFFFFF)");
        return 0;
    }
    if (length == 0) {
        ProtocolError(command, std::string(where) + ": a write carries data");
        return 0;
    }
    int bank = static_cast<int>(offset / kBankBytes);
    uint32_t inBank = static_cast<uint32_t>(offset % kBankBytes);
    int index = static_cast<int>(inBank / kSliceBytes) - 1;
    if (inBank % kSliceBytes != 0 || index < 0 || index > kLastSlice) {
        ProtocolError(command, std::string(where) + " is no slice address: slice k of bank " +
                                   std::to_string(bank) + " goes to its base + (k + 1) x 0xFC00");
        return 0;
    }
    if (index == vanishAtSlice_) {
        vanished_ = true;
        command->stateChanged = true;
        return ERROR_DEVICE_NOT_CONNECTED;
    }
    Projector& projector = *command->projector;
    const uint8_t* data = static_cast<const uint8_t*>(request.dataBuffer);
    if (!projector.memory) {
        projector.memory.reset(static_cast<uint8_t*>(std::calloc(kMemoryBytes, 1)));
    }
    if (projector.memory) {
        memcpy(projector.memory.get() + offset, data, length);
    }

    SliceWrite slice;
    std::string error = CheckSliceWrite(index, data, length, &slice);
    if (error.empty()) {
        error = projector.assembler.AddSlice(bank, slice);
    } else {
        projector.assembler.RejectSlice(bank, index);
    }
    if (!error.empty()) {
        ProtocolError(command, "slice " + std::to_string(index) + " of bank " +
                                   std::to_string(bank) + ": " + error);
    }
    projector.status.framesAbandoned = projector.assembler.abandoned();
    return 0;
}

uint32_t VirtualProjector::ExecuteControl(Command* command) {
    const std::array<uint8_t, 16>& cdb = command->record.cdb;
    if (!CheckRequest(command, kTargetStream, kSenseStream, SCSI_IOCTL_DATA_OUT, kTimeoutStream) ||
        !CheckCdbZero(command, {1, 2, 3, 9, 11, 12, 13, 14, 15})) {
        return 0;
    }
    if (cdb[4] != 0xC0 || cdb[5] != 0xD1 || cdb[8] != 0x40 || cdb[10] != 0x01) {
        ProtocolError(command, "control CDB needs C0 D1 in bytes 4-5, 40 in byte 8, 01 in byte 10");
        return 0;
    }
    Projector& projector = *command->projector;
    uint16_t code = static_cast<uint16_t>(cdb[6] | cdb[7] << 8);
    command->stateChanged = true;
    if (code == kCtrlOpen) {
        ++projector.status.openCommands;
    } else if (code == kCtrlFrameDone) {
        // The decoder holds at most a frame per bank; a host faster than that waits.
        idle_.wait(*command->lock, [&] { return pending_.size() < kMaxPendingFrames; });
        PendingFrame pending{command->record.projector, {}, ""};
        if (!spare_.empty()) {
            pending.frame = std::move(spare_.back());
            spare_.pop_back();
        }
        std::string error;
        switch (projector.assembler.Close(&pending.frame, &error)) {
            case FrameAssembler::Outcome::Ready:
                pending.command = CommandText(command->record);
                pending_.push_back(std::move(pending));
                ++framesQueued_;
                work_.notify_one();
                break;
            case FrameAssembler::Outcome::Error:
                ProtocolError(command, error);
                [[fallthrough]];
            case FrameAssembler::Outcome::Rejected:
                ++projector.status.framesRejected;
                break;
        }
        projector.status.framesAbandoned = projector.assembler.abandoned();
    } else {
        ProtocolError(command, "unknown control code " + std::to_string(code));
    }
    return 0;
}

uint32_t VirtualProjector::ExecuteRead(Command* command) {
    const ScsiRequest& request = *command->request;
    const std::array<uint8_t, 16>& cdb = command->record.cdb;
    ProjectorStatus& status = command->projector->status;
    uint8_t* reply = static_cast<uint8_t*>(request.dataBuffer);
    std::vector<uint8_t> answer;
    if (cdb[4] != 0xC0) {
        ProtocolError(command, "read CDB byte 4 is " + HexBytes(&cdb[4], 1) + ", expected C0");
        return 0;
    }
    if (cdb[5] == kReadLinkSpeed) {
        static constexpr uint8_t kLinkSpeedCdb[16] = {0xFD, 0, 0, 0,    0xC0, 0xA5,
                                                      0,    0, 0, 0xA0, 0x04};
        if (!CheckRequest(command, kTargetStream, kSenseStream, SCSI_IOCTL_DATA_IN,
                          kTimeoutStream)) {
            return 0;
        }
        if (memcmp(cdb.data(), kLinkSpeedCdb, sizeof kLinkSpeedCdb) != 0 ||
            request.dataTransferLength != 4) {
            ProtocolError(command,
                          "the link-speed query is FD 00 00 00 C0 A5 00 00 00 A0 04 and "
                          "reads 4 bytes");
            return 0;
        }
        uint32_t link = status.linkValue;
        answer = {static_cast<uint8_t>(link >> 24), static_cast<uint8_t>(link >> 16),
                  static_cast<uint8_t>(link >> 8), static_cast<uint8_t>(link)};
    } else if (cdb[5] == kReadRegister || cdb[5] == kReadFirmware) {
        if (!CheckRequest(command, kTargetStatus, kSenseStatus, SCSI_IOCTL_DATA_IN,
                          kTimeoutStatus)) {
            return 0;
        }
        if (request.dataTransferLength > kReadReplyLimit) {
            ProtocolError(command, "reads " + std::to_string(request.dataTransferLength) +
                                       " bytes; the reply area holds 84");
            return 0;
        }
        if (cdb[5] == kReadFirmware) {
            if (!CheckCdbZero(command, {1, 2, 3, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15})) {
                return 0;
            }
            answer.assign(config_.firmwareInfo.begin(), config_.firmwareInfo.end());
        } else {
            if (!CheckCdbZero(command, {1, 2, 3, 9, 11, 12, 13, 14, 15})) {
                return 0;
            }
            uint8_t reg = cdb[6];
            bool write = cdb[7] == 1;
            uint8_t value = cdb[8];
            std::string wrong;
            if (cdb[7] > 1) {
                wrong = "register access byte 7 is " + HexBytes(&cdb[7], 1) + ", not 00 or 01";
            } else if (!write && value != 0) {
                wrong = "register read with value byte " + HexBytes(&value, 1);
            } else if (reg == kRegPowerMode) {
                if (write && value > 1) {
                    wrong = "power mode " + std::to_string(value) + " is neither 0 nor 1";
                } else if (write) {
                    status.powerMode = value;
                    command->stateChanged = true;
                }
                answer = {status.powerMode};
            } else if (reg == kRegFault || reg == kRegFirmwareId) {
                if (write) {
                    wrong = "register " + HexBytes(&reg, 1) + " is read-only";
                } else if (reg == kRegFault) {
                    answer = {status.fault};
                } else {
                    answer.assign(config_.mcuFirmware.begin(), config_.mcuFirmware.end());
                }
            } else {
                wrong = "unknown microcontroller register " + HexBytes(&reg, 1);
            }
            if (wrong.empty() && cdb[10] != answer.size()) {
                wrong = "asks for " + std::to_string(cdb[10]) + " answer bytes of register " +
                        HexBytes(&reg, 1) + ", which has " + std::to_string(answer.size());
            }
            if (!wrong.empty()) {
                ProtocolError(command, wrong);
                return 0;
            }
        }
        if (request.dataTransferLength < answer.size()) {
            ProtocolError(command, "reads " + std::to_string(request.dataTransferLength) +
                                       " bytes of a " + std::to_string(answer.size()) +
                                       "-byte answer");
        }
    } else {
        ProtocolError(command, "unknown read " + HexBytes(&cdb[5], 1) + " in CDB byte 5");
        return 0;
    }
    // Only the answer is transferred; the rest of the caller's buffer is left as it was. A
    // request with no data may have no buffer at all.
    size_t moved = std::min<size_t>(answer.size(), request.dataTransferLength);
    if (moved > 0) {
        memcpy(reply, answer.data(), moved);
    }
    return 0;
}

// ---- Reports

void VirtualProjector::ProtocolError(const Command* command, const std::string& text) {
    ProtocolError(CommandText(command->record) + ": " + text);
}

void VirtualProjector::ProtocolError(const std::string& text) {
    ++errorCount_;
    if (errors_.size() < kMaxKeptErrors) {
        errors_.push_back(text);
    }
    DebugPrint("VirtualProjector: protocol error: %s\n", text.c_str());
}

EmulatorReport VirtualProjector::ReportLocked() const {
    EmulatorReport report;
    report.commands = commands_;
    report.vanished = vanished_;
    report.framesShown = framesShown_;
    report.pattern = pattern_;
    report.injectedPending = uint64_t{failNext_.count} + failReads_.count;
    report.controlStep = controlStep_;
    for (const auto& projector : projectors_) {
        report.projectors.push_back(projector->status);
    }
    report.protocolErrorCount = errorCount_;
    report.protocolErrors = errors_;
    report.mountPointRemovals = removals_;
    return report;
}

void VirtualProjector::WaitIdle(std::unique_lock<std::mutex>& lock) const {
    // Waits for the frames closed so far, not for a quiet moment: a host that keeps sending
    // would otherwise keep the reader waiting for ever.
    const uint64_t closed = framesQueued_;
    idle_.wait(lock, [&] { return framesDecoded_ >= closed; });
}

void VirtualProjector::DecoderLoop() {
    NameThisThread("kv-projector");  // its time is the device's, not the program's
    DecodedRegion scratch;
    std::vector<uint8_t> pixels;
    std::vector<uint8_t> expected;
    std::unique_lock lock(mutex_);
    while (true) {
        work_.wait(lock, [&] { return stopping_ || !pending_.empty(); });
        if (pending_.empty()) {
            return;
        }
        PendingFrame job = std::move(pending_.front());
        pending_.pop_front();
        lock.unlock();
        std::string error = AssembleFrame(job.frame, &scratch, &pixels);
        PatternCheck checked;
        if (error.empty()) {
            checked = ComparePattern(pixels, &expected);
            if (observer_) {
                observer_(pixels);
            }
        }
        if (checked.mismatched != 0 && pattern_.mismatched == 0 && !config_.imagePath.empty()) {
            KeepFirstUnlike(pixels, expected);
        }
        lock.lock();
        pattern_.frames += checked.frames;
        pattern_.mismatched += checked.mismatched;
        pattern_.pixelErrors += checked.pixelErrors;
        ProjectorStatus& status = projectors_[static_cast<size_t>(job.projector)]->status;
        if (error.empty()) {
            ++status.framesCompleted[static_cast<size_t>(job.frame.bank)];
            lastFrame_.swap(pixels);
            ++framesShown_;
        } else {
            ProtocolError(job.command + ": " + error);
            ++status.framesRejected;
        }
        spare_.push_back(std::move(job.frame));
        Output output = TakeOutput(error.empty(), false);
        lock.unlock();
        WriteOutput(output);
        lock.lock();
        // Counted once the files say so too, so that a reader after Report() sees this frame.
        ++framesDecoded_;
        idle_.notify_all();
    }
}

void VirtualProjector::WaitUntilShown() const {
    std::unique_lock lock(mutex_);
    WaitIdle(lock);
}

EmulatorReport VirtualProjector::Report() const {
    std::unique_lock lock(mutex_);
    WaitIdle(lock);
    return ReportLocked();
}

std::vector<CommandRecord> VirtualProjector::CommandLog() const {
    std::lock_guard lock(mutex_);
    return {log_.begin(), log_.end()};
}

std::vector<uint8_t> VirtualProjector::LastFrame() const {
    std::unique_lock lock(mutex_);
    WaitIdle(lock);
    return lastFrame_;
}

std::vector<uint8_t> VirtualProjector::ReadMemory(int projector, uint32_t address,
                                                  size_t length) const {
    std::lock_guard lock(mutex_);
    std::vector<uint8_t> bytes(length, 0);
    uint64_t offset = uint64_t{address} - kMemoryBase;
    if (projector >= 0 && static_cast<size_t>(projector) < projectors_.size() &&
        address >= kMemoryBase && offset + length <= kMemoryBytes) {
        const uint8_t* memory = projectors_[static_cast<size_t>(projector)]->memory.get();
        if (memory != nullptr) {
            memcpy(bytes.data(), memory + offset, length);
        }
    }
    return bytes;
}

std::string FormatReport(const EmulatorReport& report,
                         const std::vector<CommandRecord>& lastCommands) {
    std::string text = "commands " + std::to_string(report.commands) + "\n";
    text += "vanished " + std::to_string(report.vanished ? 1 : 0) + "\n";
    char line[400];
    snprintf(line, sizeof line,
             "frames_shown %llu pattern_frames %llu pattern_mismatched %llu pixel_errors %llu\n",
             static_cast<unsigned long long>(report.framesShown),
             static_cast<unsigned long long>(report.pattern.frames),
             static_cast<unsigned long long>(report.pattern.mismatched),
             static_cast<unsigned long long>(report.pattern.pixelErrors));
    text += line;
    text += "injected_pending " + std::to_string(report.injectedPending) + " control_step " +
            std::to_string(report.controlStep) + "\n";
    for (size_t i = 0; i < report.projectors.size(); ++i) {
        const ProjectorStatus& p = report.projectors[i];
        snprintf(line, sizeof line,
                 "projector %zu link=0x%08X open_commands=%d frames_bank0=%d frames_bank1=%d "
                 "frames_abandoned=%d frames_rejected=%d power_mode=%u fault=%u volume=%s\n",
                 i, p.linkValue, p.openCommands, p.framesCompleted[0], p.framesCompleted[1],
                 p.framesAbandoned, p.framesRejected, p.powerMode, p.fault,
                 p.volumeMounted ? "mounted" : "removed");
        text += line;
    }
    for (const std::string& root : report.mountPointRemovals) {
        text += "mount_point_removed " + root + "\n";
    }
    text += "protocol_errors " + std::to_string(report.protocolErrorCount) + "\n";
    for (const std::string& error : report.protocolErrors) {
        text += "protocol_error " + error + "\n";
    }
    for (const CommandRecord& c : lastCommands) {
        std::string unit = UnitName(c.unit);
        if (c.projector >= 0) {
            unit += std::to_string(c.projector);
        }
        snprintf(line, sizeof line, "cdb %llu %s %s %u %u ",
                 static_cast<unsigned long long>(c.number), unit.c_str(), c.direction, c.length,
                 c.result);
        text += line + HexBytes(c.cdb.data(), c.cdb.size()) + "\n";
    }
    return text;
}

// The first frame unlike the pattern and the pattern it should have been, beside the out file
// (OUT.unlike.ppm, OUT.expected.ppm), so that a soak's one bad frame can be looked at.
void VirtualProjector::KeepFirstUnlike(const std::vector<uint8_t>& shown,
                                       const std::vector<uint8_t>& expected) const {
    std::string error;
    if (!WriteImage(config_.imagePath + ".unlike.ppm", {kFrameWidth, kFrameHeight, shown},
                    &error) ||
        !WriteImage(config_.imagePath + ".expected.ppm", {kFrameWidth, kFrameHeight, expected},
                    &error)) {
        DebugPrint("VirtualProjector: %s\n", error.c_str());
    }
}

VirtualProjector::Output VirtualProjector::TakeOutput(bool withImage, bool force) {
    Output output;
    if (config_.reportPath.empty() && config_.imagePath.empty()) {
        return output;
    }
    output.sequence = ++outputSequence_;
    if (!config_.reportPath.empty()) {
        size_t first = log_.size() - std::min(log_.size(), kReportedCommands);
        output.reportPath = config_.reportPath;
        output.report = FormatReport(ReportLocked(),
                                     {log_.begin() + static_cast<ptrdiff_t>(first), log_.end()});
    }
    Clock::time_point now = Clock::now();
    bool due = force || framesWritten_ == 0 ||
               now - lastImageWrite_ >= std::chrono::milliseconds(config_.imageIntervalMs);
    if (!config_.imagePath.empty() && withImage && due && framesShown_ > framesWritten_) {
        output.imagePath = config_.imagePath;
        output.image = {kFrameWidth, kFrameHeight, lastFrame_};
        framesWritten_ = framesShown_;
        lastImageWrite_ = now;
    }
    return output;
}

std::string VirtualProjector::WriteOutput(const Output& output) {
    if (output.sequence == 0) {
        return "";
    }
    std::lock_guard lock(outputMutex_);
    std::string error;
    // Another thread may have taken a newer report meanwhile and written it first.
    if (output.sequence > outputWritten_ && !output.reportPath.empty() &&
        !WriteFileAtomically(output.reportPath, output.report.data(), output.report.size(),
                             &error)) {
        DebugPrint("VirtualProjector: %s\n", error.c_str());
    }
    std::string imageError;
    if (!output.imagePath.empty() && !WriteImage(output.imagePath, output.image, &imageError)) {
        DebugPrint("VirtualProjector: %s\n", imageError.c_str());
    }
    outputWritten_ = std::max(outputWritten_, output.sequence);
    return error.empty() ? imageError : error;
}

bool VirtualProjector::Flush(std::string* error) {
    Output output;
    {
        std::unique_lock lock(mutex_);
        WaitIdle(lock);
        output = TakeOutput(true, true);
    }
    std::string failure = WriteOutput(output);
    if (error != nullptr) {
        *error = failure;
    }
    return failure.empty();
}

}  // namespace emu
