#pragma once

#include <dbus/dbus.h>

#include <cstdint>
#include <string>

#include "kvcap/screencast_portal_linux.h"

// What the screen-cast portal's replies and signals say, read from the message alone: the
// conversation hands each message here, so every reader can be tried without a bus. A value
// of another type than the portal documents is left unread, never taken for it.

// The GetAll reply of the ScreenCast interface's properties; zeros where it says nothing.
ScreenCastPortal ReadScreenCastProperties(DBusMessage* reply);

// A Request's Response signal: its code (0 success, 1 cancelled, 2 otherwise; 2 when it
// carries none) and, in *results, its a{sv} of results.
uint32_t ReadPortalResponse(DBusMessage* signal, DBusMessageIter* results);

// CreateSession's results: the session's handle, empty when they lack it.
std::string ReadSessionHandle(DBusMessageIter* results);

// Start's results: the first stream and the restore token when there is one. False when
// they hold no stream.
bool ReadStartResults(DBusMessageIter* results, ScreenCastStream* stream,
                      std::string* restoreToken);
