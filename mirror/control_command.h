#pragma once

#include <cstdint>
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
//   window=ID|desktop                 one X window instead of the desktop (ID decimal or 0x
//                                     hex, as xwininfo prints it), or the desktop again
//   window=pick                       the client asks the user to click a window and sends
//                                     its ID
//   status                            changes nothing
//
// Every command is answered with the state it leaves (ControlStateText).

enum class ControlVerb { Freeze, Blank, Live, Flip, Window, Status };
enum class ControlSwitch { Toggle, On, Off };

// A window as a word names it: an X window's ID, the whole desktop (ID 0), or one to pick.
struct WindowChoice {
    uint64_t id = 0;
    bool pick = false;
};

// "pick", "desktop", or an ID of 1 to 2^32 - 1 in decimal or 0x hex; false for another word.
bool ParseWindowWord(std::string_view word, WindowChoice* window);

struct ControlCommand {
    ControlVerb verb = ControlVerb::Status;
    ControlSwitch turn = ControlSwitch::Toggle;  // Freeze and Blank
    int flip = 0;                                // Flip: FLIP_*
    WindowChoice window;                         // Window
};

// Longest command line taken, newline included.
inline constexpr size_t kMaxControlLine = 64;

// One command, without its newline; nothing for anything outside the grammar.
std::optional<ControlCommand> ParseControlCommand(std::string_view text);

// The wall hold (WALL_*) a command leaves, from the one in force.
int ControlledWallHold(const ControlCommand& command, int wallHold);

// What the wall shows instead of the desktop: an X window, or the window the screen-cast
// portal's user chose (a Wayland session, where windows have no IDs for us).
inline constexpr uint64_t kPortalWindow = UINT64_MAX;

// The answer: "wall: live|frozen|blank\nflip: none|horizontal|vertical|both\n" and
// "window: desktop|0x...|chosen in the portal\n".
std::string ControlStateText(int wallHold, int flip, uint64_t window);

// The words of the flip values, for --flip and flip=; false for another word.
bool ParseFlipWord(std::string_view word, int* flip);
