#include "platform/desktop_notification_linux.h"

#include <cstdint>
#include <string>

#include "platform/dbus_call_linux.h"
#include "platform/debug_print.h"

namespace {

constexpr char kService[] = "org.freedesktop.Notifications";
constexpr char kPath[] = "/org/freedesktop/Notifications";
constexpr char kInterface[] = "org.freedesktop.Notifications";
constexpr uint8_t kUrgencyNormal = 1;
constexpr uint8_t kUrgencyCritical = 2;
constexpr int32_t kServerDefaultTimeout = -1;

// The hints: {"urgency": byte}.
bool AppendUrgency(DBusMessageIter* arguments, uint8_t urgency) {
    DBusMessageIter hints;
    DBusMessageIter entry;
    DBusMessageIter variant;
    const char* key = "urgency";
    return dbus_message_iter_open_container(arguments, DBUS_TYPE_ARRAY, "{sv}", &hints) &&
           dbus_message_iter_open_container(&hints, DBUS_TYPE_DICT_ENTRY, nullptr, &entry) &&
           dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key) &&
           dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, "y", &variant) &&
           dbus_message_iter_append_basic(&variant, DBUS_TYPE_BYTE, &urgency) &&
           dbus_message_iter_close_container(&entry, &variant) &&
           dbus_message_iter_close_container(&hints, &entry) &&
           dbus_message_iter_close_container(arguments, &hints);
}

}  // namespace

DesktopNotifier::~DesktopNotifier() {
    if (m_connection != nullptr) {
        Disconnect(m_connection);
    }
}

bool DesktopNotifier::Notify(const char* summary, const char* body, bool critical) {
    if (!m_tried) {
        m_tried = true;
        std::string why;
        m_connection = ConnectPrivately(DBUS_BUS_SESSION, &why);
        if (m_connection == nullptr) {
            DebugPrint("DesktopNotifier: %s\n", why.c_str());
        }
    }
    if (m_connection == nullptr) {
        return false;
    }
    DBusMessage* message = dbus_message_new_method_call(kService, kPath, kInterface, "Notify");
    if (message == nullptr) {
        return false;
    }
    uint32_t replacesId = 0;
    const char* icon = critical ? "dialog-warning" : "";
    int32_t timeout = kServerDefaultTimeout;
    DBusMessageIter arguments;
    DBusMessageIter actions;
    dbus_message_iter_init_append(message, &arguments);
    bool built = dbus_message_iter_append_basic(&arguments, DBUS_TYPE_STRING, &m_appName) &&
                 dbus_message_iter_append_basic(&arguments, DBUS_TYPE_UINT32, &replacesId) &&
                 dbus_message_iter_append_basic(&arguments, DBUS_TYPE_STRING, &icon) &&
                 dbus_message_iter_append_basic(&arguments, DBUS_TYPE_STRING, &summary) &&
                 dbus_message_iter_append_basic(&arguments, DBUS_TYPE_STRING, &body) &&
                 dbus_message_iter_open_container(&arguments, DBUS_TYPE_ARRAY, "s", &actions) &&
                 dbus_message_iter_close_container(&arguments, &actions) &&
                 AppendUrgency(&arguments, critical ? kUrgencyCritical : kUrgencyNormal) &&
                 dbus_message_iter_append_basic(&arguments, DBUS_TYPE_INT32, &timeout);
    // The answer (the notice's id) is of no use; not asking for it keeps the poll from waiting.
    dbus_message_set_no_reply(message, TRUE);
    bool sent = built && dbus_connection_send(m_connection, message, nullptr);
    dbus_connection_flush(m_connection);
    dbus_message_unref(message);
    return sent;
}
