#include "mirror/seat_session_linux.h"

#include <unistd.h>

#include <cstdint>

#include "platform/dbus_call_linux.h"
#include "platform/debug_print.h"

namespace {

constexpr char kLogind[] = "org.freedesktop.login1";
constexpr char kManagerPath[] = "/org/freedesktop/login1";
constexpr char kManager[] = "org.freedesktop.login1.Manager";
constexpr char kUser[] = "org.freedesktop.login1.User";
constexpr char kSession[] = "org.freedesktop.login1.Session";
constexpr char kProperties[] = "org.freedesktop.DBus.Properties";
// Asked once a second from the run's loop: logind answers at once, or is in trouble.
constexpr int kCallTimeoutMs = 500;

DBusMessage* Call(DBusConnection* bus, DBusMessage* message) {
    std::string why;
    DBusMessage* reply = CallAndWait(bus, message, kCallTimeoutMs, &why);
    if (reply == nullptr) {
        DebugPrint("SeatSession: %s\n", why.c_str());
    }
    return reply;
}

}  // namespace

SeatSession::~SeatSession() {
    if (m_bus != nullptr) {
        Disconnect(m_bus);
    }
}

DBusMessage* SeatSession::Property(const char* path, const char* interface, const char* name,
                                   DBusMessageIter* variant) {
    DBusMessage* message = dbus_message_new_method_call(kLogind, path, kProperties, "Get");
    if (message == nullptr ||
        !dbus_message_append_args(message, DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING, &name,
                                  DBUS_TYPE_INVALID)) {
        if (message != nullptr) {
            dbus_message_unref(message);
        }
        return nullptr;
    }
    DBusMessage* reply = Call(m_bus, message);
    DBusMessageIter arguments;
    if (reply != nullptr && (!dbus_message_iter_init(reply, &arguments) ||
                             dbus_message_iter_get_arg_type(&arguments) != DBUS_TYPE_VARIANT)) {
        dbus_message_unref(reply);
        return nullptr;
    }
    if (reply != nullptr) {
        dbus_message_iter_recurse(&arguments, variant);
    }
    return reply;
}

bool SeatSession::Find() {
    std::string why;
    m_bus = ConnectPrivately(DBUS_BUS_SYSTEM, &why);
    if (m_bus == nullptr) {
        DebugPrint("SeatSession: %s\n", why.c_str());
        return false;
    }
    DBusMessage* message = dbus_message_new_method_call(kLogind, kManagerPath, kManager, "GetUser");
    const uint32_t uid = getuid();
    const char* user = nullptr;
    DBusMessage* reply = nullptr;
    if (message != nullptr &&
        dbus_message_append_args(message, DBUS_TYPE_UINT32, &uid, DBUS_TYPE_INVALID)) {
        reply = Call(m_bus, message);
    } else if (message != nullptr) {
        dbus_message_unref(message);
    }
    if (reply == nullptr ||
        !dbus_message_get_args(reply, nullptr, DBUS_TYPE_OBJECT_PATH, &user, DBUS_TYPE_INVALID)) {
        if (reply != nullptr) {
            dbus_message_unref(reply);
        }
        return false;
    }
    // The user's Display: (session id, session path), "/" when the user has no graphical one.
    DBusMessageIter display;
    DBusMessageIter fields;
    DBusMessage* property = Property(user, kUser, "Display", &display);
    dbus_message_unref(reply);
    if (property != nullptr && dbus_message_iter_get_arg_type(&display) == DBUS_TYPE_STRUCT) {
        dbus_message_iter_recurse(&display, &fields);
        const char* path = nullptr;
        if (dbus_message_iter_next(&fields) &&
            dbus_message_iter_get_arg_type(&fields) == DBUS_TYPE_OBJECT_PATH) {
            dbus_message_iter_get_basic(&fields, &path);
            m_session = path;
        }
    }
    if (property != nullptr) {
        dbus_message_unref(property);
    }
    if (m_session.empty() || m_session == "/") {
        DebugPrint("SeatSession: the user has no graphical session\n");
        m_session.clear();
        return false;
    }
    DebugPrint("SeatSession: following %s\n", m_session.c_str());
    return true;
}

bool SeatSession::Active() {
    if (m_bus == nullptr || m_session.empty()) {
        return true;
    }
    DBusMessageIter value;
    DBusMessage* reply = Property(m_session.c_str(), kSession, "Active", &value);
    dbus_bool_t active = TRUE;
    if (reply != nullptr && dbus_message_iter_get_arg_type(&value) == DBUS_TYPE_BOOLEAN) {
        dbus_message_iter_get_basic(&value, &active);
    }
    if (reply != nullptr) {
        dbus_message_unref(reply);
    }
    return active != FALSE;
}
