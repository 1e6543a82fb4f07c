#pragma once

#include <dbus/dbus.h>

#include <string>

// Whether the user's desktop is the one in front on its seat, as logind says
// (org.freedesktop.login1 on the system bus): the Active property of the user's graphical
// session (the user's Display). On a switch to another user, logind gives the projector's
// nodes to that user, whose kvusb-mirror takes the projector; this one lets it go and puts
// its desktop back, and one started while its desktop is not in front waits for it.
class SeatSession {
  public:
    SeatSession() = default;
    SeatSession(const SeatSession&) = delete;
    SeatSession& operator=(const SeatSession&) = delete;
    ~SeatSession();

    // Finds the user's graphical session; false, traced, when there is none to follow (no
    // system bus, no logind, no graphical session): the run is then tied to no seat.
    bool Find();
    // The session is the seat's active one; also true when it cannot be asked.
    bool Active();

  private:
    // The property `name` of `interface` at `path`, read into `variant`; the reply to unref.
    DBusMessage* Property(const char* path, const char* interface, const char* name,
                          DBusMessageIter* variant);

    DBusConnection* m_bus = nullptr;
    std::string m_session;  // its object path
};
