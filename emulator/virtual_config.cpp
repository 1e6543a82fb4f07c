#include "emulator/virtual_config.h"

#include <algorithm>
#include <charconv>

#include "emulator/projector_protocol.h"
#include "image/image_file.h"

namespace emu {
namespace {

constexpr std::string_view kPrefix = "virtual";
constexpr uint64_t kMaxProjectors = 8;

// Decimal, or hexadecimal after 0x; the whole text must be the number.
bool ParseNumber(std::string_view text, uint64_t limit, uint64_t* value) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    uint64_t parsed = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed, base);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || parsed > limit) {
        return false;
    }
    *value = parsed;
    return true;
}

bool ParseLink(std::string_view text, uint32_t* value) {
    if (text == "3.0") {
        *value = kLinkUsb3;
    } else if (text == "2.0") {
        *value = kLinkUsb2;
    } else if (text == "1.1") {
        *value = kLinkUsb11;
    } else if (text == "none") {
        *value = kLinkNone;
    } else {
        uint64_t number = 0;
        if (!ParseNumber(text, UINT32_MAX, &number)) {
            return false;
        }
        *value = static_cast<uint32_t>(number);
    }
    return true;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (true) {
        size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) {
            return parts;
        }
        start = end + 1;
    }
}

class OptionParser {
  public:
    OptionParser(VirtualConfig* config, std::string* error) : config_(config), error_(error) {}

    bool Parse(std::string_view options) {
        for (std::string_view option : Split(options, ',')) {
            size_t equals = option.find('=');
            if (equals == std::string_view::npos) {
                return Fail("option '" + std::string(option) + "' has no '=value'");
            }
            key_ = option.substr(0, equals);
            if (!ParseOption(option.substr(equals + 1))) {
                return false;
            }
            given_.push_back(key_);
        }
        return FinishProjectors();
    }

    bool Given(std::string_view key) const {
        return std::find(given_.begin(), given_.end(), key) != given_.end();
    }

    const std::vector<std::string_view>& given() const { return given_; }

  private:
    bool ParseOption(std::string_view value) {
        uint64_t number = 0;
        if (key_ == "projectors") {
            if (!ParseNumber(value, kMaxProjectors, &number)) {
                return Bad(value, "a number of projectors from 0 to 8");
            }
            projectors_ = number;
        } else if (key_ == "link") {
            links_.clear();
            for (std::string_view part : Split(value, '/')) {
                uint32_t link = 0;
                if (!ParseLink(part, &link)) {
                    return Bad(part, "3.0, 2.0, 1.1, none or a number");
                }
                links_.push_back(link);
            }
        } else if (key_ == "fault" || key_ == "power") {
            if (!ParseNumber(value, UINT8_MAX, &number)) {
                return Bad(value, "a byte value");
            }
            (key_ == "fault" ? config_->fault : config_->powerMode) = static_cast<uint8_t>(number);
        } else if (key_ == "mcu") {
            if (value.size() != config_->mcuFirmware.size()) {
                return Bad(value, "three characters");
            }
            std::copy(value.begin(), value.end(), config_->mcuFirmware.begin());
        } else if (key_ == "firmware") {
            return ParseFirmware(value);
        } else if (key_ == "vanish_after") {
            if (!ParseNumber(value, UINT64_MAX, &number)) {
                return Bad(value, "a number of commands");
            }
            config_->vanishAfter = number;
        } else if (key_ == "vanish_at_slice") {
            if (!ParseNumber(value, kLastSlice, &number)) {
                return Bad(value, "a slice from 0 to 19");
            }
            config_->vanishAtSlice = static_cast<int>(number);
        } else if (key_ == "fail_next") {
            return ParseFailure(value, &config_->failNext);
        } else if (key_ == "fail_reads") {
            return ParseFailure(value, &config_->failReads);
        } else if (key_ == "delay") {
            if (value == "none") {
                config_->delay = LinkDelay::None;
            } else if (value == "usb2") {
                config_->delay = LinkDelay::Usb2;
            } else if (value == "usb1") {
                config_->delay = LinkDelay::Usb11;
            } else {
                return Bad(value, "none, usb2 or usb1");
            }
        } else if (key_ == "out") {
            std::string reason;
            if (value.empty() || !ImageFormatSupported(std::string(value), &reason)) {
                return Bad(value, value.empty() ? "a file name" : reason.c_str());
            }
            config_->imagePath = value;
        } else if (key_ == "out_every") {
            if (!ParseNumber(value, UINT32_MAX, &number)) {
                return Bad(value, "milliseconds");
            }
            config_->imageIntervalMs = static_cast<uint32_t>(number);
        } else if (key_ == "report") {
            if (value.empty()) {
                return Bad(value, "a file name");
            }
            config_->reportPath = value;
        } else if (key_ == "control") {
            if (value.empty()) {
                return Bad(value, "a file name");
            }
            config_->controlPath = value;
        } else if (key_ == "log") {
            if (!ParseNumber(value, SIZE_MAX, &number) || number == 0) {
                return Bad(value, "a number of commands, 1 or more");
            }
            config_->loggedCommands = static_cast<size_t>(number);
        } else {
            return Fail(
                "unknown option '" + std::string(key_) +
                "' (known: projectors, link, fault, power, mcu, firmware, vanish_after, "
                "vanish_at_slice, fail_next, fail_reads, delay, out, out_every, report, control, "
                "log)");
        }
        return true;
    }

    bool ParseFirmware(std::string_view value) {
        std::vector<std::string_view> parts = Split(value, '.');
        if (parts.size() > config_->firmwareInfo.size()) {
            return Bad(value, "at most 10 hex bytes separated by '.'");
        }
        config_->firmwareInfo.fill(0);
        for (size_t i = 0; i < parts.size(); ++i) {
            uint8_t byte = 0;
            std::string_view part = parts[i];
            auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), byte, 16);
            if (part.empty() || part.size() > 2 || ec != std::errc() ||
                end != part.data() + part.size()) {
                return Bad(value, "hex bytes separated by '.', such as 01.02.03.01.04");
            }
            config_->firmwareInfo[i] = byte;
        }
        return true;
    }

    // K:CODE or K:CODE@N
    bool ParseFailure(std::string_view value, InjectedFailure* failure) {
        size_t colon = value.find(':');
        size_t at = value.find('@');
        uint64_t count = 0;
        uint64_t code = 0;
        uint64_t after = 0;
        if (colon == std::string_view::npos ||
            !ParseNumber(value.substr(0, colon), UINT32_MAX, &count) ||
            !ParseNumber(
                value.substr(colon + 1, at == std::string_view::npos ? at : at - colon - 1),
                UINT32_MAX, &code) ||
            code == 0 ||
            (at != std::string_view::npos &&
             !ParseNumber(value.substr(at + 1), UINT64_MAX, &after))) {
            return Bad(value, "COUNT:CODE or COUNT:CODE@AFTER, with a non-zero error code");
        }
        *failure = {static_cast<uint32_t>(count), static_cast<uint32_t>(code), after};
        return true;
    }

    // projectors= and link= may come in either order.
    bool FinishProjectors() {
        bool linksGiven = !links_.empty();
        if (!linksGiven) {
            links_ = config_->linkValues;
        }
        size_t count = projectors_.value_or(links_.size());
        if (count > kMaxProjectors) {
            return Fail("link gives " + std::to_string(count) + " values: at most " +
                        std::to_string(kMaxProjectors) + " projectors");
        }
        if (linksGiven && links_.size() > count) {
            return Fail("link gives " + std::to_string(links_.size()) + " values for " +
                        std::to_string(count) + " projectors");
        }
        config_->linkValues.clear();
        for (size_t i = 0; i < count; ++i) {
            config_->linkValues.push_back(links_[std::min(i, links_.size() - 1)]);
        }
        return true;
    }

    bool Bad(std::string_view value, const char* expected) {
        return Fail("bad value '" + std::string(value) + "' for " + std::string(key_) +
                    ": expected " + expected);
    }

    bool Fail(const std::string& reason) {
        *error_ = reason;
        return false;
    }

    VirtualConfig* config_;
    std::string* error_;
    std::string_view key_;
    std::optional<uint64_t> projectors_;
    std::vector<uint32_t> links_;
    std::vector<std::string_view> given_;
};

// What the control file may change while the projector runs.
constexpr std::string_view kChangeable[] = {
    "fault", "link", "delay", "vanish_after", "fail_next", "fail_reads", "vanish_at_slice"};

}  // namespace

bool SelectsVirtualProjector(std::string_view text) {
    return text.substr(0, kPrefix.size()) == kPrefix &&
           (text.size() == kPrefix.size() || text[kPrefix.size()] == ':');
}

bool ParseVirtualConfig(std::string_view text, VirtualConfig* config, std::string* error) {
    if (!SelectsVirtualProjector(text)) {
        *error = "'" + std::string(text) + "' does not start with 'virtual'";
        return false;
    }
    VirtualConfig parsed;
    text.remove_prefix(kPrefix.size());
    if (!text.empty()) {
        text.remove_prefix(1);  // ':'
        if (!text.empty() && !OptionParser(&parsed, error).Parse(text)) {
            return false;
        }
    }
    *config = parsed;
    return true;
}

bool ParseVirtualChange(std::string_view text, VirtualChange* change, std::string* error) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    size_t space = text.find(' ');
    std::string_view step = text.substr(0, space);
    std::string_view options = space == std::string_view::npos ? "" : text.substr(space + 1);
    VirtualChange parsed;
    if (!ParseNumber(step, UINT64_MAX, &parsed.step)) {
        *error = "'" + std::string(step) + "' is not a step number";
        return false;
    }
    VirtualConfig config;
    OptionParser parser(&config, error);
    if (!options.empty() && !parser.Parse(options)) {
        return false;
    }
    for (std::string_view key : parser.given()) {
        if (std::find(std::begin(kChangeable), std::end(kChangeable), key) ==
            std::end(kChangeable)) {
            *error = "'" + std::string(key) + "' cannot change while the projector runs";
            return false;
        }
    }
    if (parser.Given("link") && config.linkValues.size() != 1) {
        *error = "link takes one value while the projector runs";
        return false;
    }
    if (parser.Given("fault")) {
        parsed.fault = config.fault;
    }
    if (parser.Given("link")) {
        parsed.linkValue = config.linkValues[0];
    }
    if (parser.Given("delay")) {
        parsed.delay = config.delay;
    }
    if (parser.Given("vanish_after")) {
        parsed.vanishAfter = config.vanishAfter;
    }
    if (parser.Given("vanish_at_slice")) {
        parsed.vanishAtSlice = config.vanishAtSlice;
    }
    if (parser.Given("fail_next")) {
        parsed.failNext = config.failNext;
    }
    if (parser.Given("fail_reads")) {
        parsed.failReads = config.failReads;
    }
    *change = parsed;
    return true;
}

}  // namespace emu
