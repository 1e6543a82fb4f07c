#pragma once

#include <cstdint>

// Whether the wall may show the desktop, from the state of the user's session: nothing private
// reaches the projector while the session is locked, nor while it is not at this PC's console
// (taken by a remote connection, or disconnected from the console), until the console has it
// again.

struct SessionView {
    bool locked = false;
    bool awayFromConsole = false;
};

inline bool ShowsNothing(const SessionView& view) {
    return view.locked || view.awayFromConsole;
}

// The view after a WM_WTSSESSION_CHANGE status code (wParam); codes that change neither, such
// as a logon, leave it as it was.
SessionView AfterSessionChange(SessionView view, uint32_t change);

// What the system says of the session when asked (at start-up, and once the window hears of
// its changes).
struct SessionQuery {
    bool answered = false;        // WTSQuerySessionInformation gave WTSSessionInfoEx level 1
    int32_t sessionFlags = -1;    // its SessionFlags: 0 locked, 1 unlocked, -1 not known
    uint32_t session = 0;         // the program's session
    uint32_t consoleSession = 0;  // WTSGetActiveConsoleSessionId, 0xFFFFFFFF when none
};
SessionView SessionViewFromQuery(const SessionQuery& query);
