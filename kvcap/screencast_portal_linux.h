#pragma once

#include <cstdint>
#include <memory>
#include <string>

// The screen-cast portal (org.freedesktop.portal.ScreenCast on the session bus): how a program
// in a Wayland session is allowed to see a screen. One conversation asks for one stream and,
// once the user allowed it, yields a PipeWire remote with that stream's node on it. The
// session lasts while this process holds its connection to the bus.

// Source types of SelectSources, as bits.
inline constexpr uint32_t SCREENCAST_SOURCE_MONITOR = 1;
inline constexpr uint32_t SCREENCAST_SOURCE_WINDOW = 2;
inline constexpr uint32_t SCREENCAST_SOURCE_VIRTUAL = 4;

// Cursor modes of SelectSources, as bits.
inline constexpr uint32_t SCREENCAST_CURSOR_HIDDEN = 1;
inline constexpr uint32_t SCREENCAST_CURSOR_EMBEDDED = 2;

// Results of OpenScreenCast.
inline constexpr int SCREENCAST_GRANTED = 0;
inline constexpr int SCREENCAST_DECLINED = 1;   // the user said no in the dialog
inline constexpr int SCREENCAST_NO_PORTAL = 2;  // no bus, no portal, or no screen cast in it
inline constexpr int SCREENCAST_FAILED = 3;     // the portal answered with an error
inline constexpr int SCREENCAST_STOPPED = 4;    // the caller stopped waiting for the user

struct ScreenCastRequest {
    uint32_t sourceType = SCREENCAST_SOURCE_MONITOR;
    bool embedCursor = false;
    // The token of an earlier grant: the same screen again without a dialog, where the
    // portal still knows it. Empty on a first run.
    std::string restoreToken;
};

// What the portal reports of its installation: the version of its screen-cast interface
// and the source types and cursor modes it offers, as bits. All 0 when there is none.
struct ScreenCastPortal {
    uint32_t version = 0;
    uint32_t sourceTypes = 0;
    uint32_t cursorModes = 0;
};

// The granted stream. Position and size are the portal's word for the screen it shows,
// where it says (-1 where it does not); the frames themselves say their size again.
struct ScreenCastStream {
    uint32_t node = 0;
    int x = -1;
    int y = -1;
    int width = -1;
    int height = -1;
};

struct ScreenCastSession;  // the bus connection and the session's object path

struct ScreenCastGrant {
    std::shared_ptr<ScreenCastSession> session;  // closed when the last owner lets go
    int pipewireFd = -1;                         // owned with the session
    ScreenCastStream stream;
    std::string restoreToken;  // for the next run; empty when the portal gives none
};

// The screen-cast portal on the session bus, or all zeros when there is no bus or no portal.
ScreenCastPortal QueryScreenCastPortal();

// The whole conversation: CreateSession, SelectSources, Start (which may show the user a
// dialog; waits for the user's answer up to `answerSeconds`, asking `stopWaiting` ten times a
// second whether to give up), OpenPipeWireRemote. One of the SCREENCAST_* results; on any but
// SCREENCAST_GRANTED, *why says in one line what happened.
int OpenScreenCast(const ScreenCastRequest& request, int answerSeconds, bool (*stopWaiting)(),
                   ScreenCastGrant* grant, std::string* why);
