#include "platform/dbus_call_linux.h"

DBusConnection* ConnectPrivately(DBusBusType bus, std::string* why) {
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
