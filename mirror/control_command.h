#pragma once

#include <optional>
#include <string>
#include <string_view>

// What `kvusb-mirror --control COMMAND` asks of the running instance, one line on its control
// socket:
//
//   freeze | freeze=on | freeze=off   the wall keeps its picture (alone: turns it over)
//   blank | blank=on | blank=off      the wall goes black (alone: turns it over)
//   live                              neither frozen nor blank
//   flip=none|horizontal|vertical|both
//   status                            changes nothing
//
// Every command is answered with the state it leaves (ControlStateText).

enum class ControlVerb { Freeze, Blank, Live, Flip, Status };
enum class ControlSwitch { Toggle, On, Off };

struct ControlCommand {
    ControlVerb verb = ControlVerb::Status;
    ControlSwitch turn = ControlSwitch::Toggle;  // Freeze and Blank
    int flip = 0;                                // Flip: FLIP_*
};

// Longest command line taken, newline included.
inline constexpr size_t kMaxControlLine = 64;

// One command, without its newline; nothing for anything outside the grammar.
std::optional<ControlCommand> ParseControlCommand(std::string_view text);

// The wall hold (WALL_*) a command leaves, from the one in force.
int ControlledWallHold(const ControlCommand& command, int wallHold);

// The answer: "wall: live|frozen|blank\nflip: none|horizontal|vertical|both\n".
std::string ControlStateText(int wallHold, int flip);

// The words of the flip values, for --flip and flip=; false for another word.
bool ParseFlipWord(std::string_view word, int* flip);
