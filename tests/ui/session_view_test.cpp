#include "ui/session_view.h"

#include <gtest/gtest.h>

namespace {

// WM_WTSSESSION_CHANGE status codes.
constexpr uint32_t kConsoleConnect = 0x1;
constexpr uint32_t kConsoleDisconnect = 0x2;
constexpr uint32_t kRemoteConnect = 0x3;
constexpr uint32_t kRemoteDisconnect = 0x4;
constexpr uint32_t kLogon = 0x5;
constexpr uint32_t kLock = 0x7;
constexpr uint32_t kUnlock = 0x8;

SessionView After(std::initializer_list<uint32_t> changes) {
    SessionView view;
    for (uint32_t change : changes) {
        view = AfterSessionChange(view, change);
    }
    return view;
}

TEST(SessionView, TheWallStaysBlackUntilBothTheLockAndTheAbsenceAreOver) {
    EXPECT_FALSE(ShowsNothing(After({})));
    EXPECT_TRUE(ShowsNothing(After({kLock})));
    EXPECT_FALSE(ShowsNothing(After({kLock, kUnlock})));
    // Someone connects from afar and unlocks there: the PC's own wall shows nothing of it.
    EXPECT_TRUE(ShowsNothing(After({kLock, kConsoleDisconnect, kRemoteConnect, kUnlock})));
    // They leave, which does not bring the session back; the user logs on at the PC again.
    EXPECT_TRUE(ShowsNothing(After({kRemoteConnect, kRemoteDisconnect})));
    EXPECT_FALSE(ShowsNothing(After({kRemoteConnect, kRemoteDisconnect, kConsoleConnect})));
    // Back at the console but still locked, or unlocked but away: black either way.
    EXPECT_TRUE(ShowsNothing(After({kLock, kConsoleDisconnect, kConsoleConnect})));
    EXPECT_TRUE(ShowsNothing(After({kConsoleDisconnect, kLock, kUnlock})));
    // A fast user switch and back.
    EXPECT_FALSE(ShowsNothing(After({kConsoleDisconnect, kConsoleConnect, kLogon})));
    // Codes that say nothing about either leave the view alone, whatever it is.
    EXPECT_TRUE(ShowsNothing(After({kLock, kLogon, 0x6, 0x9, 0xA, 0xB, 0x1234})));
}

TEST(SessionView, AStartOnALockedOrDistantSessionShowsNothingFromTheFirstFrame) {
    const SessionQuery console{
        .answered = true, .sessionFlags = 1, .session = 1, .consoleSession = 1};
    EXPECT_FALSE(ShowsNothing(SessionViewFromQuery(console)));

    SessionQuery locked = console;
    locked.sessionFlags = 0;
    EXPECT_TRUE(SessionViewFromQuery(locked).locked);
    // The same flags from a query that failed mean nothing: not locked, as before the query.
    SessionQuery unanswered = locked;
    unanswered.answered = false;
    EXPECT_FALSE(ShowsNothing(SessionViewFromQuery(unanswered)));
    SessionQuery unknown = console;
    unknown.sessionFlags = -1;
    EXPECT_FALSE(ShowsNothing(SessionViewFromQuery(unknown)));

    // A remote session, and a moment when no session has the console.
    SessionQuery remote = console;
    remote.session = 2;
    EXPECT_TRUE(SessionViewFromQuery(remote).awayFromConsole);
    SessionQuery noConsole = console;
    noConsole.consoleSession = 0xFFFFFFFF;
    EXPECT_TRUE(SessionViewFromQuery(noConsole).awayFromConsole);

    // Unlocking a session that started locked shows the desktop; coming back to the console
    // clears a start away from it.
    EXPECT_FALSE(ShowsNothing(AfterSessionChange(SessionViewFromQuery(locked), kUnlock)));
    EXPECT_FALSE(ShowsNothing(AfterSessionChange(SessionViewFromQuery(remote), kConsoleConnect)));
}

}  // namespace
