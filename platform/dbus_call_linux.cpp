#include "platform/dbus_call_linux.h"

#include <sys/stat.h>

#include <cstdlib>

namespace {

// The session's bus as libdbus finds it, short of launching one: a session without a bus
// would otherwise get a bus daemon of the program's making (dbus-launch), which outlives it.
bool SessionHasBus() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat socket {};
    return (address != nullptr && *address != '\0') ||
           (runtime != nullptr && *runtime != '\0' &&
            stat((std::string(runtime) + "/bus").c_str(), &socket) == 0 &&
            S_ISSOCK(socket.st_mode));
}

}  // namespace

DBusConnection* ConnectPrivately(DBusBusType bus, std::string* why) {
    if (bus == DBUS_BUS_SESSION && !SessionHasBus()) {
        *why = "no session bus: neither DBUS_SESSION_BUS_ADDRESS nor $XDG_RUNTIME_DIR/bus";
        return nullptr;
    }
    DBusError error;
    dbus_error_init(&error);
    DBusConnection* connection = dbus_bus_get_private(bus, &error);
    if (connection == nullptr) {
        *why = std::string(bus == DBUS_BUS_SYSTEM ? "no system bus: " : "no session bus: ") +
               error.message;
        dbus_error_free(&error);
        return nullptr;
    }
    dbus_connection_set_exit_on_disconnect(connection, FALSE);
    return connection;
}

void Disconnect(DBusConnection* connection) {
    dbus_connection_close(connection);
    dbus_connection_unref(connection);
}

DBusMessage* CallAndWait(DBusConnection* connection, DBusMessage* message, int milliseconds,
                         std::string* why) {
    DBusError error;
    dbus_error_init(&error);
    DBusMessage* reply =
        dbus_connection_send_with_reply_and_block(connection, message, milliseconds, &error);
    dbus_message_unref(message);
    if (reply == nullptr) {
        *why = error.message != nullptr ? error.message : "no answer";
        dbus_error_free(&error);
    }
    return reply;
}
