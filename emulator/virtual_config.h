#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// How the virtual projector is set up, from one text so that the Windows program can select it
// through an environment variable:
//
//   VORN_KVUSB_DEVICE=virtual[:option,option,...]
//
//   projectors=N         projectors attached, 0 to 8 (default 1)
//   link=L[/L...]        link-speed reply of each projector: 3.0, 2.0, 1.1, none, or a number
//                        (decimal or 0x hex); the last one given holds for the rest (default 2.0)
//   fault=N              fault status register: 1 overheated, 2 fan failure (default 0)
//   power=N              power mode register: 0 Auto Power, 1 ECO (default 0)
//   mcu=XYZ              three-character microcontroller firmware id (default A01)
//   firmware=HH.HH...    driverless firmware answer, up to 10 hex bytes (default 01.02.03.01.04)
//   vanish_after=N       the first N commands are answered, then every command fails with 1167
//   vanish_at_slice=K    the first write of slice K (0 to 19) fails with 1167, as do all after
//   fail_next=K:CODE[@N] K commands fail with the OS error CODE, after the first N (default 0)
//   fail_reads=K:CODE[@N] K vendor reads on a disk unit fail with CODE, after the first N of
//                        them (the link-speed query at start-up is the first); status reads
//                        fail so while frames keep going
//   delay=none|usb2|usb1 take as long as a USB 2.0 (35 MB/s) or 1.1 (1 MB/s) link per transfer
//   out=PATH             where the last frame shown is written (.png or .ppm)
//   out_every=MS         written at most every MS milliseconds (default 1000; 0: at every
//                        frame-done, for timing what reaches the projector)
//   report=PATH          where the report is written, on every frame-done and at the end
//   control=PATH         faults to inject while running: a file re-read every 100 ms whose
//                        text is "STEP OPTIONS"; each new STEP applies its options (fault,
//                        link, delay, vanish_after, vanish_at_slice, fail_next, fail_reads),
//                        counted from then
//   log=N                commands kept in the log, 1 or more (default 200000)
//
// Paths cannot hold a comma.

namespace emu {

inline constexpr char kDeviceEnvVar[] = "VORN_KVUSB_DEVICE";

enum class LinkDelay { None, Usb2, Usb11 };

// What of each request reaches the projector: the whole pass-through request (in process), or
// only what the USB mass-storage transport carries (the CDB, the direction and the length), so
// that TargetId, the sense length and the timeout, which stay in the host, are not checked.
enum class RequestView { PassThrough, UsbTransport };

// `count` commands fail with the OS error `code`, once `after` of those counted have passed.
struct InjectedFailure {
    uint32_t count = 0;
    uint32_t code = 0;
    uint64_t after = 0;
};

struct VirtualConfig {
    std::vector<uint32_t> linkValues = {2};  // one per projector
    uint8_t fault = 0;
    uint8_t powerMode = 0;
    std::array<uint8_t, 3> mcuFirmware = {'A', '0', '1'};
    std::array<uint8_t, 10> firmwareInfo = {1, 2, 3, 1, 4, 0, 0, 0, 0, 0};
    std::optional<uint64_t> vanishAfter;
    std::optional<int> vanishAtSlice;
    InjectedFailure failNext;   // counted over all commands
    InjectedFailure failReads;  // counted over the vendor reads on disk units
    LinkDelay delay = LinkDelay::None;
    RequestView requestView = RequestView::PassThrough;  // not set from the text
    std::string imagePath;
    uint32_t imageIntervalMs = 1000;
    std::string reportPath;
    std::string controlPath;
    size_t loggedCommands = 200000;
};

// One step read from the control file: the options it gives, the rest left as they are.
struct VirtualChange {
    uint64_t step = 0;
    std::optional<uint8_t> fault;
    std::optional<uint32_t> linkValue;
    std::optional<LinkDelay> delay;
    std::optional<uint64_t> vanishAfter;
    std::optional<int> vanishAtSlice;
    std::optional<InjectedFailure> failNext;
    std::optional<InjectedFailure> failReads;
};

// True when `text` selects the virtual projector ("virtual" or "virtual:...").
bool SelectsVirtualProjector(std::string_view text);

// Parses the whole variable value. On failure returns false and a one-line reason in *error
// (without the variable's name, which the caller adds).
bool ParseVirtualConfig(std::string_view text, VirtualConfig* config, std::string* error);

// Parses the control file's text, "STEP OPTIONS" (a blank line or a trailing line break is
// allowed). False with a one-line reason in *error.
bool ParseVirtualChange(std::string_view text, VirtualChange* change, std::string* error);

}  // namespace emu
