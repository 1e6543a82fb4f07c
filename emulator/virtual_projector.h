#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/device_backend.h"
#include "emulator/frame_assembler.h"
#include "emulator/virtual_config.h"

// The virtual projector: a device backend whose units are projectors in memory. Each projector
// has a disk unit (link speed, microcontroller registers, firmware) and an optical unit (frame
// writes into 16 MiB of bank memory, control commands) and a removable volume. Every command is
// checked against the frame protocol; what breaks it is kept as a protocol error, and the
// command is still answered as a device would, so the host carries on as with real hardware.
//
// Frame-done hands the frame's slices to the projector's own decoder thread, as the device
// decodes while the host goes on; reports and the last frame wait for it to catch up.
//
// Thread safety: the sender thread writes frames on an optical unit while the main thread polls
// a disk unit; all state is guarded by one lock, which is never held while a transfer's
// simulated link time passes or a frame is decoded.

namespace emu {

// Passed as TargetId by a boundary that does not carry the field (Linux's SG_IO header has
// none); that one check is then left out.
inline constexpr uint8_t kTargetIdNotCarried = 0xFF;

enum class UnitKind { Disk, Optical, Other };

// One command as it reached the backend.
struct CommandRecord {
    uint64_t number = 0;  // from 1
    int projector = -1;   // -1: not a projector's unit
    UnitKind unit = UnitKind::Other;
    std::array<uint8_t, 16> cdb{};
    const char* direction = "none";  // "out", "in" or "none"
    uint32_t length = 0;
    uint32_t result = 0;
};

struct ProjectorStatus {
    uint32_t linkValue = 0;
    uint8_t fault = 0;
    uint8_t powerMode = 0;
    int openCommands = 0;
    std::array<int, 2> framesCompleted{};  // per bank
    int framesAbandoned = 0;               // begun again before their frame-done
    int framesRejected = 0;                // closed by frame-done but broken by a protocol error
    bool volumeMounted = true;
};

// Frames decoded that carry the synthetic pattern's stamp (kvcap/synthetic_pattern.h), each
// compared with the pattern frame it names.
struct PatternCheck {
    uint64_t frames = 0;
    uint64_t mismatched = 0;
    uint64_t pixelErrors = 0;  // pixels unlike the pattern's, over all frames
};

struct EmulatorReport {
    uint64_t commands = 0;
    bool vanished = false;
    uint64_t framesShown = 0;
    PatternCheck pattern;
    uint64_t injectedPending = 0;  // injected failures still to come (fail_next, fail_reads)
    uint64_t controlStep = 0;      // the control file's last step applied
    std::vector<ProjectorStatus> projectors;
    uint64_t protocolErrorCount = 0;
    std::vector<std::string> protocolErrors;  // the first kMaxKeptErrors
    std::vector<std::string> mountPointRemovals;
};

// The report file: one fact a line, key first.
//   commands N
//   vanished 0|1
//   frames_shown N pattern_frames N pattern_mismatched N pixel_errors N
//   injected_pending N control_step N
//   projector I link=0x00000002 open_commands=N frames_bank0=N frames_bank1=N
//       frames_abandoned=N frames_rejected=N power_mode=N fault=N volume=mounted|removed
//   mount_point_removed ROOT                  one a removal, in order
//   protocol_errors N
//   protocol_error TEXT                       the first kMaxKeptErrors
//   cdb NUMBER UNIT DIRECTION LENGTH RESULT HEX   the last commands; UNIT disk0, optical1, other
// (the projector line is one line).
std::string FormatReport(const EmulatorReport& report,
                         const std::vector<CommandRecord>& lastCommands);

class VirtualProjector final : public DeviceBackend {
  public:
    static constexpr size_t kMaxKeptErrors = 1000;
    static constexpr size_t kReportedCommands = 32;

    explicit VirtualProjector(const VirtualConfig& config = VirtualConfig());
    ~VirtualProjector() override;  // writes the report and the last frame when asked
    VirtualProjector(const VirtualProjector&) = delete;
    VirtualProjector& operator=(const VirtualProjector&) = delete;

    uint32_t SendScsi(DeviceHandle unit, const ScsiRequest& request) override;
    InterfaceLookup GetDiskInterface(uint32_t index, std::string* path, uint32_t* error) override;
    DeviceHandle OpenUnit(const std::string& path, uint32_t* error) override;
    void CloseUnit(DeviceHandle unit) override;
    std::vector<VolumeInfo> ListVolumes() override;
    void RemoveMountPoint(const std::string& root) override;
    std::string SystemErrorText(uint32_t code) override;

    // Faults injected while running, counted from now.
    void VanishAfter(uint64_t commands);
    void VanishAtSlice(int slice);
    void FailNext(uint32_t count, uint32_t code);
    void SetFault(uint8_t status);
    void SetLinkDelay(LinkDelay delay);
    void AddVolume(const VolumeInfo& volume);  // another drive beside the projectors' own
    // Every projector's link-speed reply from now on, as when its link came up again.
    void SetLinkValue(uint32_t value);

    // Called on the decoder thread, with no lock held, for every frame shown (B, G, R bytes,
    // 854 x 480). Set before the first command.
    using FrameObserver = std::function<void(const std::vector<uint8_t>& frame)>;
    void SetFrameObserver(FrameObserver observer) { observer_ = std::move(observer); }

    // A fault found where the projector is attached, before a command reaches it (a request
    // the boundary's own rules break); counted and reported with the protocol errors.
    void AddProtocolError(const std::string& text);

    // Waits until every frame closed so far is decoded and its files are written.
    void WaitUntilShown() const;
    // Both wait until every frame closed so far is decoded.
    EmulatorReport Report() const;
    std::vector<CommandRecord> CommandLog() const;
    // The last frame completed (B, G, R bytes, 854 x 480), empty before the first.
    std::vector<uint8_t> LastFrame() const;
    std::vector<uint8_t> ReadMemory(int projector, uint32_t address, size_t length) const;
    // Time spent inside SendScsi, simulated link time included.
    double DeviceSeconds() const { return deviceNanoseconds_.load() * 1e-9; }
    // Waits for the decoder, then writes the report and the last frame when the configuration
    // names files. False, with the reason, when a file could not be written.
    bool Flush(std::string* error = nullptr);

  private:
    struct Projector;
    struct OpenedUnit {
        int projector;
        UnitKind kind;
        bool open;
    };
    struct Command;
    struct Output;
    struct PendingFrame {
        int projector;
        ClosedFrame frame;
        std::string command;  // the frame-done's description, for errors found decoding
    };
    static constexpr size_t kMaxPendingFrames = 2;  // one per bank

    // True, using one up, when `failure` fails the command that brings its count to `counted`.
    static bool Injected(InjectedFailure* failure, uint64_t counted);
    uint32_t Execute(Command* command);
    uint32_t ExecuteWrite(Command* command);
    uint32_t ExecuteControl(Command* command);
    uint32_t ExecuteRead(Command* command);
    bool PollControl();
    void Apply(const VirtualChange& change);
    bool CheckRequest(Command* command, uint8_t targetId, uint8_t senseLength, uint8_t dataIn,
                      uint32_t timeout);
    bool CheckCdbZero(Command* command, std::initializer_list<int> bytes);
    void ProtocolError(const Command* command, const std::string& text);
    void ProtocolError(const std::string& text);
    std::vector<std::string> InterfacePaths() const;
    EmulatorReport ReportLocked() const;
    void WaitIdle(std::unique_lock<std::mutex>& lock) const;
    void DecoderLoop();
    // The files to write after a change, taken under the lock and written outside it.
    void KeepFirstUnlike(const std::vector<uint8_t>& shown,
                         const std::vector<uint8_t>& expected) const;
    Output TakeOutput(bool withImage, bool force);
    std::string WriteOutput(const Output& output);  // "" or the first failure

    const VirtualConfig config_;
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<Projector>> projectors_;
    std::deque<OpenedUnit> handles_;  // a handle is the address of its entry
    std::vector<VolumeInfo> otherVolumes_;
    std::vector<std::string> removals_;
    std::deque<CommandRecord> log_;  // the last config_.loggedCommands
    uint64_t commands_ = 0;
    bool vanished_ = false;
    uint64_t vanishAfter_ = UINT64_MAX;  // command number after which the projectors are gone
    int vanishAtSlice_ = -1;
    InjectedFailure failNext_;   // `after` counts commands
    InjectedFailure failReads_;  // `after` counts reads_
    uint64_t reads_ = 0;         // vendor reads on disk units
    LinkDelay delay_ = LinkDelay::None;
    uint64_t errorCount_ = 0;
    std::vector<std::string> errors_;
    std::vector<uint8_t> lastFrame_;
    uint64_t framesShown_ = 0;
    PatternCheck pattern_;
    std::chrono::steady_clock::time_point controlRead_;
    uint64_t controlStep_ = 0;    // the last step applied
    uint64_t framesWritten_ = 0;  // framesShown_ when the image file was last written
    std::chrono::steady_clock::time_point lastImageWrite_;
    uint64_t outputSequence_ = 0;
    std::mutex outputMutex_;  // guards outputWritten_ and keeps the file writes in order
    uint64_t outputWritten_ = 0;
    std::atomic<uint64_t> deviceNanoseconds_{0};
    std::deque<PendingFrame> pending_;  // closed frames for the decoder thread
    std::vector<ClosedFrame> spare_;    // slice storage to reuse
    uint64_t framesQueued_ = 0;         // closed frames handed to the decoder thread
    uint64_t framesDecoded_ = 0;        // of those, decoded (or rejected) and written out
    bool stopping_ = false;
    FrameObserver observer_;
    std::condition_variable work_;
    mutable std::condition_variable idle_;
    std::thread decoder_;  // started last, joined first
};

}  // namespace emu
