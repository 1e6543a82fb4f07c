// For the whole-program tests: a notification service on the session bus that writes a line
// for every notice it is given, "summary|body|urgency", to the file named, then answers as a
// service does. Prints "ready" once it owns the name, and runs until it is ended.
//   kv_notification_recorder LOG
#include <dbus/dbus.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr char kService[] = "org.freedesktop.Notifications";
constexpr int kNoUrgency = -1;

// The "urgency" hint in the a{sv} argument at `hints`.
int Urgency(DBusMessageIter* hints) {
    DBusMessageIter entry;
    for (dbus_message_iter_recurse(hints, &entry);
         dbus_message_iter_get_arg_type(&entry) == DBUS_TYPE_DICT_ENTRY;
         dbus_message_iter_next(&entry)) {
        DBusMessageIter field;
        dbus_message_iter_recurse(&entry, &field);
        const char* key = nullptr;
        dbus_message_iter_get_basic(&field, &key);
        dbus_message_iter_next(&field);
        DBusMessageIter value;
        dbus_message_iter_recurse(&field, &value);
        if (std::strcmp(key, "urgency") == 0 &&
            dbus_message_iter_get_arg_type(&value) == DBUS_TYPE_BYTE) {
            unsigned char urgency = 0;
            dbus_message_iter_get_basic(&value, &urgency);
            return urgency;
        }
    }
    return kNoUrgency;
}

void Record(DBusMessage* message, FILE* log) {
    DBusMessageIter arguments;
    const char* strings[5] = {};  // app name, (id), icon, summary, body
    int index = 0;
    int urgency = kNoUrgency;
    for (dbus_message_iter_init(message, &arguments);
         dbus_message_iter_get_arg_type(&arguments) != DBUS_TYPE_INVALID;
         dbus_message_iter_next(&arguments), ++index) {
        int type = dbus_message_iter_get_arg_type(&arguments);
        if (type == DBUS_TYPE_STRING && index < 5) {
            dbus_message_iter_get_basic(&arguments, &strings[index]);
        } else if (type == DBUS_TYPE_ARRAY && index == 6) {
            urgency = Urgency(&arguments);
        }
    }
    std::fprintf(log, "%s|%s|%d\n", strings[3] ? strings[3] : "", strings[4] ? strings[4] : "",
                 urgency);
    std::fflush(log);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kv_notification_recorder LOG\n");
        return 2;
    }
    FILE* log = std::fopen(argv[1], "a");
    DBusError error;
    dbus_error_init(&error);
    DBusConnection* bus = dbus_bus_get(DBUS_BUS_SESSION, &error);
    if (log == nullptr || bus == nullptr ||
        dbus_bus_request_name(bus, kService, DBUS_NAME_FLAG_DO_NOT_QUEUE, &error) !=
            DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER) {
        std::fprintf(stderr, "kv_notification_recorder: %s\n",
                     error.message != nullptr ? error.message : "cannot start");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    dbus_uint32_t nextId = 1;
    while (dbus_connection_read_write(bus, -1)) {
        while (DBusMessage* message = dbus_connection_pop_message(bus)) {
            if (dbus_message_is_method_call(message, kService, "Notify")) {
                Record(message, log);
                if (!dbus_message_get_no_reply(message)) {
                    DBusMessage* reply = dbus_message_new_method_return(message);
                    dbus_message_append_args(reply, DBUS_TYPE_UINT32, &nextId, DBUS_TYPE_INVALID);
                    dbus_connection_send(bus, reply, nullptr);
                    dbus_message_unref(reply);
                }
                ++nextId;
            }
            dbus_message_unref(message);
        }
    }
    return 0;
}
