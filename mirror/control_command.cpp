#include "mirror/control_command.h"

#include <charconv>
#include <cstdio>

#include "app/frame_pipeline.h"
#include "image/image_flip.h"

namespace {

constexpr const char* kFlipWords[] = {"none", "horizontal", "vertical", "both"};
static_assert(FLIP_NONE == 0 && FLIP_HORIZONTAL == 1 && FLIP_VERTICAL == 2 && FLIP_BOTH == 3);

// "name", "name=on" or "name=off".
bool ParseSwitch(std::string_view text, std::string_view name, ControlSwitch* turn) {
    if (text.substr(0, name.size()) != name) {
        return false;
    }
    std::string_view rest = text.substr(name.size());
    if (rest.empty()) {
        *turn = ControlSwitch::Toggle;
    } else if (rest == "=on") {
        *turn = ControlSwitch::On;
    } else if (rest == "=off") {
        *turn = ControlSwitch::Off;
    } else {
        return false;
    }
    return true;
}

int Switched(ControlSwitch turn, int wallHold, int hold) {
    bool on = turn == ControlSwitch::On || (turn == ControlSwitch::Toggle && wallHold != hold);
    if (on) {
        return hold;
    }
    return wallHold == hold ? WALL_LIVE : wallHold;
}

}  // namespace

bool ParseFlipWord(std::string_view word, int* flip) {
    for (int value = FLIP_NONE; value <= FLIP_BOTH; ++value) {
        if (word == kFlipWords[value]) {
            *flip = value;
            return true;
        }
    }
    return false;
}

bool ParseWindowWord(std::string_view word, WindowChoice* window) {
    *window = {};
    if (word == "pick") {
        window->pick = true;
        return true;
    }
    if (word == "desktop") {
        return true;
    }
    int base = 10;
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
        word.remove_prefix(2);
        base = 16;
    }
    // X resource IDs are 29 bits; anything past 32 is no window.
    uint32_t id = 0;
    auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), id, base);
    if (word.empty() || error != std::errc() || end != word.data() + word.size() || id == 0) {
        return false;
    }
    window->id = id;
    return true;
}

std::optional<ControlCommand> ParseControlCommand(std::string_view text) {
    ControlCommand command;
    constexpr std::string_view kFlip = "flip=";
    constexpr std::string_view kWindow = "window=";
    if (ParseSwitch(text, "freeze", &command.turn)) {
        command.verb = ControlVerb::Freeze;
    } else if (ParseSwitch(text, "blank", &command.turn)) {
        command.verb = ControlVerb::Blank;
    } else if (text == "live") {
        command.verb = ControlVerb::Live;
    } else if (text == "status") {
        command.verb = ControlVerb::Status;
    } else if (text.substr(0, kFlip.size()) == kFlip &&
               ParseFlipWord(text.substr(kFlip.size()), &command.flip)) {
        command.verb = ControlVerb::Flip;
    } else if (text.substr(0, kWindow.size()) == kWindow &&
               ParseWindowWord(text.substr(kWindow.size()), &command.window)) {
        command.verb = ControlVerb::Window;
    } else {
        return std::nullopt;
    }
    return command;
}

int ControlledWallHold(const ControlCommand& command, int wallHold) {
    switch (command.verb) {
        case ControlVerb::Freeze:
            return Switched(command.turn, wallHold, WALL_FROZEN);
        case ControlVerb::Blank:
            return Switched(command.turn, wallHold, WALL_BLANK);
        case ControlVerb::Live:
            return WALL_LIVE;
        default:
            return wallHold;
    }
}

std::string ControlStateText(int wallHold, int flip, uint64_t window) {
    const char* wall = wallHold == WALL_FROZEN  ? "frozen"
                       : wallHold == WALL_BLANK ? "blank"
                                                : "live";
    const char* flipWord = flip >= FLIP_NONE && flip <= FLIP_BOTH ? kFlipWords[flip] : "none";
    char windowText[32] = "desktop";
    if (window == kPortalWindow) {
        std::snprintf(windowText, sizeof windowText, "chosen in the portal");
    } else if (window != 0) {
        std::snprintf(windowText, sizeof windowText, "0x%llx",
                      static_cast<unsigned long long>(window));
    }
    return std::string("wall: ") + wall + "\nflip: " + flipWord + "\nwindow: " + windowText + "\n";
}
