#include "ui/session_view.h"

namespace {
// WM_WTSSESSION_CHANGE status codes.
constexpr uint32_t CONSOLE_CONNECT = 0x1;
constexpr uint32_t CONSOLE_DISCONNECT = 0x2;
constexpr uint32_t REMOTE_CONNECT = 0x3;
constexpr uint32_t SESSION_LOCK = 0x7;
constexpr uint32_t SESSION_UNLOCK = 0x8;

constexpr int32_t SESSION_STATE_LOCK = 0;  // WTS_SESSIONSTATE_LOCK
constexpr uint32_t NO_CONSOLE_SESSION = 0xFFFFFFFF;
}  // namespace

SessionView AfterSessionChange(SessionView view, uint32_t change) {
    switch (change) {
        case SESSION_LOCK:
            view.locked = true;
            break;
        case SESSION_UNLOCK:
            view.locked = false;
            break;
        case CONSOLE_DISCONNECT:
        case REMOTE_CONNECT:
            view.awayFromConsole = true;
            break;
        case CONSOLE_CONNECT:
            view.awayFromConsole = false;
            break;
        default:  // a remote end leaving the session does not bring it back to the console
            break;
    }
    return view;
}

SessionView SessionViewFromQuery(const SessionQuery& query) {
    SessionView view;
    // A state the system does not know, or could not tell, is taken as unlocked, as before the
    // query: the lock notifications still blank the wall.
    view.locked = query.answered && query.sessionFlags == SESSION_STATE_LOCK;
    view.awayFromConsole =
        query.consoleSession == NO_CONSOLE_SESSION || query.session != query.consoleSession;
    return view;
}
