#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

// The desktop size the program puts back, and a record of it that outlives the process. The
// 800 x 600 mode is stored as the user's setting, so a run that never puts the desktop back
// (killed, a crash the filter could not handle, a power cut) would leave every later logon at
// 800 x 600, and the next start would take that for the user's own size. So the size to go
// back to is recorded under the program's key before the first change away from it, and the
// record is cleared once the desktop is back. A run that never changed the desktop (the mirror
// mode) puts nothing back.

struct DesktopSize {
    int width = 0;
    int height = 0;
    bool operator==(const DesktopSize&) const = default;
};

// Values under the program's key (DISPLAY_SETTINGS_KEY); 0 when cleared.
inline constexpr char RESTORE_WIDTH_VALUE[] = "RestoreWidth";
inline constexpr char RESTORE_HEIGHT_VALUE[] = "RestoreHeight";

// Whether this run changed the desktop, or took over a record left behind: the start-up size
// is to be put back.
extern std::atomic<bool> g_bDesktopChanged;
// Desktop changes in flight on any thread, and DESKTOP_RESTORE_BEGUN once a shutdown puts the
// desktop back, after which no change starts.
inline constexpr uint32_t DESKTOP_RESTORE_BEGUN = 1u << 31;
extern std::atomic<uint32_t> g_nDesktopChanges;

enum class LeftoverRecord {
    None,        // nothing was left behind
    Restore,     // put the recorded size back now, then clear the record
    GoBackToIt,  // the start switches to 800 x 600 anyway: the record's size is the one to go
                 // back to, and the record stays until it is back
    Clear,       // the desktop has the recorded size already
};

// What a start does with a record a run left behind, given the desktop's size and whether the
// saved display mode switches it to 800 x 600.
LeftoverRecord ActOnLeftoverRecord(std::optional<DesktopSize> record, DesktopSize current,
                                   bool switchingTo800x600);

// Start-up, before the saved display mode is applied, with g_nScreenWidth and g_nScreenHeight
// taken: acts on a record left behind, which may change the size to go back to.
void TakeUpLeftoverRecord(bool switchingTo800x600);

// A change of the user's display mode: 0 when the desktop took the size, -2 otherwise. The
// size to go back to is recorded before the first change away from it, the record cleared once
// the desktop is back at it. Refused once a shutdown puts the desktop back.
int ChangeDesktopSize(int width, int height);

// The shutdowns: after a change in flight on another thread has ended, puts the start-up size
// back when this run changed the desktop, and clears the record.
void RestoreDesktopSize();

// Puts the start-up size back when this run changed the desktop, at once: no lock, no wait, no
// registry. The record stays; the next start finds the desktop at its size and clears it.
void RestoreDesktopAtOnce();
