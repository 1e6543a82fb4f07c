// kvusb-gadget: the virtual projector as a USB device. A configfs gadget with one FunctionFS
// function speaks the Bulk-Only Transport; the control endpoint's events are handled on the
// main thread, the bulk transport on a thread of its own. The vendor commands reach the same
// projector core as in process, which checks and decodes every frame.
#include <fcntl.h>
#include <linux/usb/functionfs.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/mount.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <mutex>
#include <thread>

#include "emulator/projector_protocol.h"
#include "emulator/virtual_projector.h"
#include "gadget/bulk_transport.h"
#include "gadget/configfs_gadget.h"
#include "gadget/fat_volume.h"
#include "gadget/function_fs.h"
#include "gadget/gadget_options.h"
#include "kvcap/synthetic_pattern.h"

namespace {

using namespace gadget;
using Clock = std::chrono::steady_clock;

constexpr char CONFIGFS_ROOT[] = "/sys/kernel/config";
constexpr char UDC_CLASS[] = "/sys/class/udc";
constexpr char VOLUME_LABEL[] = "TARQ K7Q0";
constexpr uint32_t VOLUME_SECTORS = 2048;  // 1 MiB
constexpr uint32_t VOLUME_ID = 0x4B513730;
constexpr int EXIT_CHECKS_FAILED = 1;
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_SETUP = 3;
constexpr auto KICK_INTERVAL = std::chrono::milliseconds(2);

// What the frames shown came to: their count and rate, and against the pattern.
struct FrameCount {
    std::mutex lock;
    uint64_t shown = 0;
    uint64_t stamped = 0;  // carrying the pattern's stamp
    uint64_t timed = 0;    // between first and last
    uint64_t unlikePattern = 0;
    Clock::time_point first;
    Clock::time_point last;
};

struct Device {
    GadgetOptions options;
    emu::VirtualProjector* core = nullptr;
    ProjectorLuns* luns = nullptr;
    bool linkGiven = false;
    std::string udc;
    int ep0 = -1;
    int in = -1;
    int out = -1;
    int wake = -1;  // the bulk thread's word to the main thread: the projector vanished
    std::atomic<bool> stopping{false};
    std::atomic<bool> projectorGone{false};
    std::atomic<bool> bulkDone{false};
    // Resets asked for by the host, and the last one the bulk thread has started over after.
    std::atomic<uint64_t> resets{0};
    std::atomic<uint64_t> resetsTaken{0};
    pthread_t bulkThread{};
};

void Print(const char* format, const std::string& text) {
    std::fprintf(stderr, "%s: ", GADGET_PROGRAM_NAME);
    std::fprintf(stderr, format, text.c_str());
    std::fputc('\n', stderr);
}

// ---- The bulk transport's thread

void BulkLoop(Device* device) {
    FunctionFsPipes pipes(device->in, device->out);
    uint8_t cbw[CBW_RECEIVE_BYTES];
    while (!device->stopping.load()) {
        device->resetsTaken.store(device->resets.load());
        long got = pipes.Receive(cbw, sizeof cbw);
        if (got < 0) {
            // Interrupted, or the endpoint went away with the configuration; a blocked receive
            // waits for the next one.
            continue;
        }
        CommandOutcome outcome = ServeCommand(&pipes, device->luns, cbw, static_cast<size_t>(got));
        if (outcome == CommandOutcome::DeviceGone) {
            device->projectorGone.store(true);
            uint64_t one = 1;
            (void)!write(device->wake, &one, sizeof one);
            break;
        }
    }
    device->bulkDone.store(true);
}

// Interrupts the bulk thread's endpoint I/O until `done` holds: a signal that arrives between
// two calls is lost, so it is sent again.
template <typename Done>
void KickBulkThread(Device* device, Done done) {
    while (!done()) {
        pthread_kill(device->bulkThread, SIGUSR1);
        std::this_thread::sleep_for(KICK_INTERVAL);
    }
}

// Has the bulk thread drop the command it serves and wait for the next command block, and
// returns once it does.
void StartBulkOver(Device* device) {
    uint64_t reset = device->resets.fetch_add(1) + 1;
    KickBulkThread(device,
                   [&] { return device->resetsTaken.load() >= reset || device->bulkDone.load(); });
}

// ---- The control endpoint

void AnswerSetup(Device* device, const usb_ctrlrequest& setup) {
    bool in = (setup.bRequestType & USB_DIR_IN) != 0;
    bool classToInterface = (setup.bRequestType & (USB_TYPE_MASK | USB_RECIP_MASK)) ==
                            (USB_TYPE_CLASS | USB_RECIP_INTERFACE);
    uint16_t value = le16toh(setup.wValue);
    uint16_t length = le16toh(setup.wLength);
    if (device->options.verbose) {
        char text[80];
        std::snprintf(text, sizeof text, "%02X %02X %04X %04X %04X", setup.bRequestType,
                      setup.bRequest, value, le16toh(setup.wIndex), length);
        Print("control request %s", text);
    }
    if (classToInterface && setup.bRequest == REQUEST_GET_MAX_LUN && in && value == 0 &&
        length >= 1) {
        uint8_t maxLun = MAX_LUN;
        (void)!write(device->ep0, &maxLun, sizeof maxLun);
        return;
    }
    if (classToInterface && setup.bRequest == REQUEST_MASS_STORAGE_RESET && !in && value == 0 &&
        length == 0) {
        (void)!read(device->ep0, nullptr, 0);  // the status stage
        StartBulkOver(device);
        return;
    }
    // Anything else stalls: an I/O against the request's direction.
    uint8_t byte = 0;
    if (in) {
        (void)!read(device->ep0, &byte, 0);
    } else {
        (void)!write(device->ep0, &byte, 0);
    }
}

void TakeEvents(Device* device) {
    usb_functionfs_event events[4];
    ssize_t got = read(device->ep0, events, sizeof events);
    for (ssize_t i = 0; got > 0 && i < got / static_cast<ssize_t>(sizeof events[0]); ++i) {
        const usb_functionfs_event& event = events[i];
        switch (event.type) {
            case FUNCTIONFS_ENABLE: {
                std::string speed = ControllerSpeed(UDC_CLASS, device->udc);
                if (!device->linkGiven) {
                    device->core->SetLinkValue(LinkValueOfSpeed(speed));
                }
                Print("configured at %s", speed);
                break;
            }
            case FUNCTIONFS_DISABLE:
                // Unplugged or reset: a transfer of the command in flight would wait for the
                // endpoints to come back and land in the next connection, out of step.
                Print("%s", "deconfigured");
                StartBulkOver(device);
                break;
            case FUNCTIONFS_SETUP:
                AnswerSetup(device, event.u.setup);
                break;
            default:
                break;
        }
    }
}

// ---- Set up, run, take down

bool WriteAll(int fd, const std::vector<uint8_t>& bytes) {
    return write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

// Mounts the function's file system and opens its endpoints; false with the reason.
bool OpenFunction(Device* device, std::string* error) {
    const std::string& dir = device->options.ffsDir;
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        *error = dir + ": " + std::strerror(errno);
        return false;
    }
    if (mount(device->options.name.c_str(), dir.c_str(), "functionfs", 0, nullptr) != 0) {
        *error = "mounting FunctionFS on " + dir + ": " + std::strerror(errno) +
                 " (is usb_f_fs loaded?)";
        return false;
    }
    device->ep0 = open((dir + "/ep0").c_str(), O_RDWR | O_CLOEXEC);
    if (device->ep0 < 0 || !WriteAll(device->ep0, BuildFunctionDescriptors()) ||
        !WriteAll(device->ep0, BuildFunctionStrings("KVUSB pico projector"))) {
        *error = dir + "/ep0: " + std::strerror(errno);
        return false;
    }
    device->in = open((dir + "/ep1").c_str(), O_RDWR | O_CLOEXEC);
    device->out = open((dir + "/ep2").c_str(), O_RDWR | O_CLOEXEC);
    if (device->in < 0 || device->out < 0) {
        *error = dir + "/ep1, ep2: " + std::strerror(errno);
        return false;
    }
    return true;
}

void CloseFunction(Device* device) {
    for (int* fd : {&device->in, &device->out, &device->ep0}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
    umount(device->options.ffsDir.c_str());
    rmdir(device->options.ffsDir.c_str());
}

// Runs until a stop signal or until the projector vanishes; true when it vanished.
bool RunDevice(Device* device, int signals) {
    while (true) {
        pollfd waits[] = {
            {device->ep0, POLLIN, 0}, {signals, POLLIN, 0}, {device->wake, POLLIN, 0}};
        if (poll(waits, std::size(waits), -1) < 0 && errno != EINTR) {
            return false;
        }
        if (waits[0].revents & POLLIN) {
            TakeEvents(device);
        }
        if (waits[1].revents & POLLIN) {
            return false;
        }
        if (device->projectorGone.load()) {
            return true;
        }
    }
}

std::string Summary(const Device& device, FrameCount* frames, const emu::EmulatorReport& report) {
    std::lock_guard hold(frames->lock);
    double seconds = std::chrono::duration<double>(frames->last - frames->first).count();
    char line[200];
    std::snprintf(line, sizeof line, "link 0x%08X; %llu frames shown, %.1f fps",
                  report.projectors.empty() ? 0 : report.projectors[0].linkValue,
                  static_cast<unsigned long long>(frames->shown),
                  frames->timed > 1 && seconds > 0 ? (frames->timed - 1) / seconds : 0.0);
    std::string text = line;
    if (device.options.expectPattern) {
        text += "; " + std::to_string(frames->stamped) + " of the pattern, " +
                std::to_string(frames->unlikePattern) + " of them unlike it";
    }
    text += "; " + std::to_string(report.protocolErrorCount) + " protocol errors";
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    Device device;
    std::string error;
    if (!ParseGadgetOptions(argc, argv, &device.options, &error)) {
        Print("%s (try kvusb-gadget --help)", error);
        return EXIT_USAGE;
    }
    if (device.options.help) {
        std::fputs(GadgetUsage(), stdout);
        return 0;
    }
    if (device.options.version) {
        std::printf("kvusb-gadget %s\n", KV_PROGRAM_VERSION);
        return 0;
    }
    emu::VirtualConfig config;
    if (!GadgetProjectorConfig(device.options, &config, &device.linkGiven, &error)) {
        Print("--projector: %s", error);
        return EXIT_USAGE;
    }

    // Stop signals go to the loop; the kick only interrupts the bulk thread's I/O.
    sigset_t stops;
    sigemptyset(&stops);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&stops, signal);
    }
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    struct sigaction kick = {};
    kick.sa_handler = [](int) {};
    sigaction(SIGUSR1, &kick, nullptr);
    int signals = signalfd(-1, &stops, SFD_CLOEXEC);
    device.wake = eventfd(0, EFD_CLOEXEC);

    std::vector<uint8_t> volume = BuildFatVolume(VOLUME_SECTORS, VOLUME_LABEL, VOLUME_ID);
    emu::VirtualProjector core(config);
    FrameCount frames;
    bool expectPattern = device.options.expectPattern;
    core.SetFrameObserver([&frames, expectPattern](const std::vector<uint8_t>& frame) {
        uint32_t index = 0;
        bool stamped = expectPattern && ReadPatternStamp(frame.data(), &index);
        bool unlike = false;
        if (stamped) {
            std::vector<uint8_t> expected(frame.size());
            DrawSyntheticPattern(index, emu::kFrameWidth, emu::kFrameHeight, expected.data());
            unlike = expected != frame;
        }
        std::lock_guard hold(frames.lock);
        ++frames.shown;
        // The rate is the stream's: with the pattern expected, of the pattern's frames only.
        if (stamped || !expectPattern) {
            frames.last = Clock::now();
            if (frames.timed++ == 0) {
                frames.first = frames.last;
            }
        }
        frames.stamped += stamped ? 1 : 0;
        frames.unlikePattern += unlike ? 1 : 0;
    });
    ProjectorLuns luns(&core, &volume, device.options.serial);
    luns.UnplugAfterFrames(device.options.unplugAfterFrames);
    device.core = &core;
    device.luns = &luns;
    if (!luns.Open(&error)) {
        Print("%s", error);
        return EXIT_SETUP;
    }

    GadgetIdentity identity;
    identity.name = device.options.name;
    identity.vendorId = device.options.vendorId;
    identity.productId = device.options.productId;
    identity.manufacturer = "KVUSB";
    identity.product = "TR40W17B6 pico projector";
    identity.serial = device.options.serial;
    device.udc = device.options.udc.empty() ? FirstController(UDC_CLASS) : device.options.udc;
    if (device.udc.empty()) {
        Print("%s", std::string("no USB device controller in ") + UDC_CLASS);
        return EXIT_SETUP;
    }
    if (!CreateGadget(CONFIGFS_ROOT, identity, &error)) {
        Print("%s", error);
        return EXIT_SETUP;
    }
    bool ready = OpenFunction(&device, &error);
    std::thread bulk;
    if (ready) {
        bulk = std::thread(BulkLoop, &device);
        device.bulkThread = bulk.native_handle();
        ready = BindGadget(CONFIGFS_ROOT, identity.name, device.udc, &error);
    }
    bool vanished = false;
    if (ready) {
        Print("on %s", device.udc + " as " + identity.manufacturer + " " + identity.product +
                           ", serial " + identity.serial);
        vanished = RunDevice(&device, signals);
        Print("%s", vanished ? "the projector vanished: leaving the bus" : "stopping");
    } else {
        Print("%s", error);
    }
    // Unbinding is the unplug; the bulk thread then finds its endpoints gone.
    UnbindGadget(CONFIGFS_ROOT, identity.name);
    device.stopping.store(true);
    if (bulk.joinable()) {
        KickBulkThread(&device, [&] { return device.bulkDone.load(); });
        bulk.join();
    }
    CloseFunction(&device);
    RemoveGadget(CONFIGFS_ROOT, identity.name);
    if (!ready) {
        return EXIT_SETUP;
    }

    std::string fileError;
    if (!core.Flush(&fileError)) {
        Print("%s", fileError);
    }
    emu::EmulatorReport report = core.Report();
    Print("%s", Summary(device, &frames, report));
    for (size_t i = 0; i < report.protocolErrors.size() && i < 5; ++i) {
        Print("protocol error: %s", report.protocolErrors[i]);
    }
    std::fprintf(stdout, "%s", luns.Tally().Format().c_str());
    bool checked = report.protocolErrorCount == 0 && frames.unlikePattern == 0;
    return checked ? 0 : EXIT_CHECKS_FAILED;
}
