#include "gadget/gadget_options.h"

#include <cstdlib>
#include <string_view>

namespace gadget {
namespace {

bool ParseId(const std::string& text, uint16_t* id) {
    char* end = nullptr;
    unsigned long value = std::strtoul(text.c_str(), &end, 16);
    if (text.empty() || *end != '\0' || value > 0xFFFF) {
        return false;
    }
    *id = static_cast<uint16_t>(value);
    return true;
}

bool IsHexText(const std::string& text) {
    return text.size() >= 12 && text.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

}  // namespace

bool ParseGadgetOptions(int argc, const char* const* argv, GadgetOptions* options,
                        std::string* error) {
    GadgetOptions parsed;
    for (int i = 1; i < argc; ++i) {
        std::string_view argument = argv[i];
        if (argument == "-v" || argument == "--verbose") {
            parsed.verbose = true;
            continue;
        }
        if (argument == "-h" || argument == "--help") {
            parsed.help = true;
            continue;
        }
        if (argument == "--version") {
            parsed.version = true;
            continue;
        }
        if (argument == "--expect-pattern") {
            parsed.expectPattern = true;
            continue;
        }
        std::string_view name = argument.substr(0, argument.find('='));
        std::string value;
        if (name.size() < argument.size()) {
            value = argument.substr(name.size() + 1);
        } else if (i + 1 < argc && name.rfind("--", 0) == 0) {
            value = argv[++i];
        } else {
            *error = "unknown option " + std::string(argument);
            return false;
        }
        bool good = !value.empty();
        if (name == "--udc") {
            parsed.udc = value;
        } else if (name == "--projector") {
            parsed.projector = value;
        } else if (name == "--name") {
            parsed.name = value;
            good = good && value.find('/') == std::string::npos;
        } else if (name == "--ffs-dir") {
            parsed.ffsDir = value;
        } else if (name == "--serial") {
            parsed.serial = value;
            good = IsHexText(value);
        } else if (name == "--unplug-after-frames") {
            char* end = nullptr;
            parsed.unplugAfterFrames = std::strtoull(value.c_str(), &end, 10);
            good = good && *end == '\0' && value[0] != '-';
        } else if (name == "--vendor-id") {
            good = ParseId(value, &parsed.vendorId);
        } else if (name == "--product-id") {
            good = ParseId(value, &parsed.productId);
        } else {
            *error = "unknown option " + std::string(name);
            return false;
        }
        if (!good) {
            *error = std::string(name) + ": cannot take \"" + value + "\"";
            return false;
        }
    }
    *options = std::move(parsed);
    return true;
}

const char* GadgetUsage() {
    return "Usage: kvusb-gadget [OPTION]...\n"
           "Plays the KVUSB pico projector as a USB device on this machine's USB device\n"
           "controller (configfs and FunctionFS; run as root with libcomposite and usb_f_fs\n"
           "loaded), until SIGINT or SIGTERM, or until the projector vanishes as its options\n"
           "say. Frames are checked and decoded as the virtual projector does.\n"
           "\n"
           "  --udc NAME             the device controller (default: the first in\n"
           "                         /sys/class/udc)\n"
           "  --projector OPTIONS    the projector's registers, faults and files, as\n"
           "                         VORN_KVUSB_DEVICE=virtual:OPTIONS takes them (power=,\n"
           "                         fault=, mcu=, firmware=, vanish_after=, vanish_at_slice=,\n"
           "                         out=, report=); link= fixes the link-speed reply, which\n"
           "                         otherwise follows the bus speed\n"
           "  --expect-pattern       every frame that carries the synthetic test pattern's\n"
           "                         index stamp must be that pattern frame\n"
           "  --unplug-after-frames N  leave the bus in the middle of the frame after N\n"
           "                         frames, as when the cable is pulled\n"
           "  --serial HEX           USB serial number, 12 or more hex digits\n"
           "  --vendor-id HEX        USB vendor id (default 4B56)\n"
           "  --product-id HEX       USB product id (default 0A17)\n"
           "  --name NAME            configfs gadget and FunctionFS instance (default kvusb)\n"
           "  --ffs-dir DIR          where FunctionFS is mounted (default /run/kvusb-gadget)\n"
           "  -v, --verbose          print the control requests and every standard command\n"
           "  -h, --help             print this help\n"
           "      --version          print the version\n"
           "\n"
           "At the end it prints the frames shown and their rate, the protocol errors, and\n"
           "every kind of command the host sent with how it was answered. Exit status: 0,\n"
           "1 when the projector saw protocol errors or a frame was not the pattern, 2 on\n"
           "bad usage, 3 when the device could not be set up.\n";
}

bool GadgetProjectorConfig(const GadgetOptions& options, emu::VirtualConfig* config,
                           bool* linkGiven, std::string* error) {
    emu::VirtualConfig parsed;
    if (!emu::ParseVirtualConfig("virtual:" + options.projector, &parsed, error)) {
        return false;
    }
    if (parsed.linkValues.size() != 1) {
        *error = "the gadget is one projector";
        return false;
    }
    if (parsed.delay != emu::LinkDelay::None) {
        *error = "the bus takes its own time: delay= does not apply";
        return false;
    }
    *linkGiven = false;
    for (size_t start = 0; start <= options.projector.size();) {
        size_t comma = options.projector.find(',', start);
        if (options.projector.compare(start, 5, "link=") == 0) {
            *linkGiven = true;
        }
        start = comma == std::string::npos ? options.projector.size() + 1 : comma + 1;
    }
    parsed.requestView = emu::RequestView::UsbTransport;
    *config = std::move(parsed);
    return true;
}

uint32_t LinkValueOfSpeed(const std::string& speed) {
    if (speed.rfind("super-speed", 0) == 0) {
        return 1;
    }
    if (speed == "high-speed") {
        return 2;
    }
    if (speed == "full-speed" || speed == "low-speed") {
        return 3;
    }
    return 0;
}

}  // namespace gadget
