#pragma once

#include <dbus/dbus.h>

#include <string>

// The Linux programs' D-Bus calls through libdbus: each caller keeps a private connection,
// whose life is its own and whose loss must not end the process, and waits for a reply no
// longer than it says.

// A private connection to the session or system bus; nullptr with the reason in *why.
DBusConnection* ConnectPrivately(DBusBusType bus, std::string* why);
void Disconnect(DBusConnection* connection);

// Sends `message` (taken) and waits up to `milliseconds` for the reply; nullptr with the
// error in *why.
DBusMessage* CallAndWait(DBusConnection* connection, DBusMessage* message, int milliseconds,
                         std::string* why);
