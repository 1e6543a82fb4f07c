#include "kvcap/screencast_portal_linux.h"

#include <dbus/dbus.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "kvcap/screencast_portal_replies_linux.h"
#include "platform/dbus_call_linux.h"
#include "platform/debug_print.h"

// Each portal method answers at once with the path of a Request object, and later with that
// object's Response signal: 0 and the results when it went through, 1 when the user
// cancelled, 2 otherwise. The path is known beforehand (the bus name and a token of ours), so
// the signal is listened for before the call and cannot slip past.

namespace {

constexpr char kService[] = "org.freedesktop.portal.Desktop";
constexpr char kPath[] = "/org/freedesktop/portal/desktop";
constexpr char kScreenCast[] = "org.freedesktop.portal.ScreenCast";
constexpr char kRequest[] = "org.freedesktop.portal.Request";
constexpr char kSession[] = "org.freedesktop.portal.Session";
constexpr char kProperties[] = "org.freedesktop.DBus.Properties";
constexpr int kCallMilliseconds = 10000;
constexpr uint32_t kResponseSuccess = 0;
constexpr uint32_t kResponseCancelled = 1;
constexpr uint32_t kPersistUntilRevoked = 2;
constexpr uint32_t kRestoreTokenVersion = 4;  // persist_mode and restore_token came with it
constexpr char kTokenPrefix[] = "kvusb";

// Sends `message` (taken) and waits for the reply; nullptr with the error in *why.
DBusMessage* Call(DBusConnection* connection, DBusMessage* message, std::string* why) {
    return CallAndWait(connection, message, kCallMilliseconds, why);
}

void AppendOption(DBusMessageIter* options, const char* key, int type, const char* signature,
                  const void* value) {
    DBusMessageIter entry;
    DBusMessageIter variant;
    dbus_message_iter_open_container(options, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
    dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key);
    dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, signature, &variant);
    dbus_message_iter_append_basic(&variant, type, value);
    dbus_message_iter_close_container(&entry, &variant);
    dbus_message_iter_close_container(options, &entry);
}
void AppendString(DBusMessageIter* options, const char* key, const std::string& value) {
    const char* text = value.c_str();
    AppendOption(options, key, DBUS_TYPE_STRING, "s", &text);
}
void AppendUint32(DBusMessageIter* options, const char* key, uint32_t value) {
    AppendOption(options, key, DBUS_TYPE_UINT32, "u", &value);
}

}  // namespace

// The conversation's connection, and the session it opened (empty until then).
struct ScreenCastSession {
    explicit ScreenCastSession(DBusConnection* bus) : connection(bus) {}
    ~ScreenCastSession();

    DBusConnection* connection;
    std::string handle;
    int pipewireFd = -1;
    std::string senderPart;  // the unique bus name as request paths spell it
    unsigned nextToken = 0;
};

ScreenCastSession::~ScreenCastSession() {
    if (pipewireFd >= 0) {
        close(pipewireFd);
    }
    if (!handle.empty()) {
        DBusMessage* message =
            dbus_message_new_method_call(kService, handle.c_str(), kSession, "Close");
        dbus_message_set_no_reply(message, TRUE);
        dbus_connection_send(connection, message, nullptr);
        dbus_connection_flush(connection);
        dbus_message_unref(message);
    }
    Disconnect(connection);
}

namespace {

// How long a request's answer is waited for, and whether to give up before.
struct Wait {
    int seconds;
    bool (*stop)();
};

// A request of the conversation: its token, and the path its Response will come from.
struct Request {
    std::string token;
    std::string path;
};

Request NewRequest(ScreenCastSession* session) {
    Request request;
    request.token =
        kTokenPrefix + std::to_string(getpid()) + "_" + std::to_string(session->nextToken++);
    request.path =
        "/org/freedesktop/portal/desktop/request/" + session->senderPart + "/" + request.token;
    return request;
}

std::string MatchRule(const Request& request) {
    return std::string("type='signal',interface='") + kRequest + "',member='Response',path='" +
           request.path + "'";
}

// A ScreenCast method's call with the session (unless empty) and an options dictionary
// that `fill` completes after the handle token.
template <typename Fill>
DBusMessage* NewScreenCastCall(const char* method, const ScreenCastSession& session,
                               const Request& request, Fill fill) {
    DBusMessage* message = dbus_message_new_method_call(kService, kPath, kScreenCast, method);
    DBusMessageIter arguments;
    DBusMessageIter options;
    dbus_message_iter_init_append(message, &arguments);
    if (!session.handle.empty()) {
        const char* handle = session.handle.c_str();
        dbus_message_iter_append_basic(&arguments, DBUS_TYPE_OBJECT_PATH, &handle);
    }
    if (std::strcmp(method, "Start") == 0) {
        const char* parentWindow = "";
        dbus_message_iter_append_basic(&arguments, DBUS_TYPE_STRING, &parentWindow);
    }
    dbus_message_iter_open_container(&arguments, DBUS_TYPE_ARRAY, "{sv}", &options);
    AppendString(&options, "handle_token", request.token);
    fill(&options);
    dbus_message_iter_close_container(&arguments, &options);
    return message;
}

// Calls `message` (taken) as the request, waits for its Response and hands the results to
// `take`. One of the SCREENCAST_* results.
template <typename Take>
int Converse(ScreenCastSession* session, const Request& request, DBusMessage* message,
             const Wait& wait, const char* step, Take take, std::string* why) {
    DBusError error;
    dbus_error_init(&error);
    std::string rule = MatchRule(request);
    dbus_bus_add_match(session->connection, rule.c_str(), &error);
    if (dbus_error_is_set(&error)) {
        *why = std::string(step) + ": " + error.message;
        dbus_error_free(&error);
        dbus_message_unref(message);
        return SCREENCAST_FAILED;
    }
    DBusMessage* reply = Call(session->connection, message, why);
    if (reply == nullptr) {
        *why = std::string(step) + ": " + *why;
        dbus_bus_remove_match(session->connection, rule.c_str(), nullptr);
        return SCREENCAST_FAILED;
    }
    dbus_message_unref(reply);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(wait.seconds);
    int result = SCREENCAST_FAILED;
    *why = std::string(step) + ": no answer from the portal";
    for (bool answered = false; !answered && std::chrono::steady_clock::now() < deadline;) {
        dbus_connection_read_write(session->connection, 100);
        while (DBusMessage* signal = dbus_connection_pop_message(session->connection)) {
            if (!answered && dbus_message_is_signal(signal, kRequest, "Response") &&
                request.path == dbus_message_get_path(signal)) {
                answered = true;
                DBusMessageIter results;
                uint32_t response = ReadPortalResponse(signal, &results);
                if (response == kResponseSuccess) {
                    result = take(&results);
                    if (result != SCREENCAST_GRANTED) {
                        *why = std::string(step) + ": the portal's answer lacks what it needs";
                    }
                } else if (response == kResponseCancelled) {
                    result = SCREENCAST_DECLINED;
                    *why = "the screen cast was declined";
                } else {
                    *why = std::string(step) + ": the portal ended the request";
                }
            }
            dbus_message_unref(signal);
        }
        if (!dbus_connection_get_is_connected(session->connection)) {
            *why = std::string(step) + ": the session bus went away";
            break;
        }
        if (!answered && wait.stop()) {
            result = SCREENCAST_STOPPED;
            *why = "stopped while waiting for the screen-cast portal";
            break;
        }
    }
    dbus_bus_remove_match(session->connection, rule.c_str(), nullptr);
    return result;
}

std::string SenderPart(DBusConnection* connection) {
    std::string name = dbus_bus_get_unique_name(connection);
    std::string part;
    for (char c : name.substr(name.starts_with(':') ? 1 : 0)) {
        part += c == '.' ? '_' : c;
    }
    return part;
}

}  // namespace

ScreenCastPortal QueryScreenCastPortal() {
    std::string why;
    DBusConnection* connection = ConnectPrivately(DBUS_BUS_SESSION, &why);
    if (connection == nullptr) {
        return {};
    }
    DBusMessage* message = dbus_message_new_method_call(kService, kPath, kProperties, "GetAll");
    const char* interface = kScreenCast;
    dbus_message_append_args(message, DBUS_TYPE_STRING, &interface, DBUS_TYPE_INVALID);
    DBusMessage* reply = Call(connection, message, &why);
    ScreenCastPortal portal;
    if (reply != nullptr) {
        portal = ReadScreenCastProperties(reply);
        dbus_message_unref(reply);
    }
    Disconnect(connection);
    return portal;
}

int OpenScreenCast(const ScreenCastRequest& wanted, int answerSeconds, bool (*stopWaiting)(),
                   ScreenCastGrant* grant, std::string* why) {
    const Wait wait = {answerSeconds, stopWaiting};
    ScreenCastPortal portal = QueryScreenCastPortal();
    if (portal.version == 0) {
        *why =
            "no screen-cast portal on the session bus (xdg-desktop-portal and a backend "
            "for this desktop)";
        return SCREENCAST_NO_PORTAL;
    }
    if ((portal.sourceTypes & wanted.sourceType) == 0) {
        *why = std::string("this desktop's screen-cast portal offers no ") +
               (wanted.sourceType == SCREENCAST_SOURCE_VIRTUAL  ? "virtual screen"
                : wanted.sourceType == SCREENCAST_SOURCE_WINDOW ? "windows"
                                                                : "monitor");
        return SCREENCAST_NO_PORTAL;
    }
    DBusConnection* connection = ConnectPrivately(DBUS_BUS_SESSION, why);
    if (connection == nullptr) {
        return SCREENCAST_NO_PORTAL;
    }
    auto session = std::make_shared<ScreenCastSession>(connection);
    session->senderPart = SenderPart(connection);

    Request request = NewRequest(session.get());
    std::string sessionToken = kTokenPrefix + std::to_string(getpid());
    DBusMessage* message =
        NewScreenCastCall("CreateSession", *session, request, [&](DBusMessageIter* options) {
            AppendString(options, "session_handle_token", sessionToken);
        });
    std::string handle;
    int result = Converse(
        session.get(), request, message, wait, "CreateSession",
        [&handle](DBusMessageIter* results) {
            handle = ReadSessionHandle(results);
            return handle.empty() ? SCREENCAST_FAILED : SCREENCAST_GRANTED;
        },
        why);
    if (result != SCREENCAST_GRANTED) {
        return result;
    }
    session->handle = handle;

    // An embedded cursor where the portal can draw it, else none: it is not ours to draw.
    uint32_t cursorMode = wanted.embedCursor && (portal.cursorModes & SCREENCAST_CURSOR_EMBEDDED)
                              ? SCREENCAST_CURSOR_EMBEDDED
                              : SCREENCAST_CURSOR_HIDDEN;
    request = NewRequest(session.get());
    message = NewScreenCastCall("SelectSources", *session, request, [&](DBusMessageIter* options) {
        AppendUint32(options, "types", wanted.sourceType);
        dbus_bool_t multiple = FALSE;
        AppendOption(options, "multiple", DBUS_TYPE_BOOLEAN, "b", &multiple);
        if (portal.cursorModes != 0) {
            AppendUint32(options, "cursor_mode", cursorMode);
        }
        if (portal.version >= kRestoreTokenVersion) {
            AppendUint32(options, "persist_mode", kPersistUntilRevoked);
            if (!wanted.restoreToken.empty()) {
                AppendString(options, "restore_token", wanted.restoreToken);
            }
        }
    });
    result = Converse(
        session.get(), request, message, wait, "SelectSources",
        [](DBusMessageIter*) { return SCREENCAST_GRANTED; }, why);
    if (result != SCREENCAST_GRANTED) {
        return result;
    }

    ScreenCastGrant granted;
    request = NewRequest(session.get());
    message = NewScreenCastCall("Start", *session, request, [](DBusMessageIter*) {});
    result = Converse(
        session.get(), request, message, wait, "Start",
        [&granted](DBusMessageIter* results) {
            return ReadStartResults(results, &granted.stream, &granted.restoreToken)
                       ? SCREENCAST_GRANTED
                       : SCREENCAST_FAILED;
        },
        why);
    if (result != SCREENCAST_GRANTED) {
        return result;
    }

    message = dbus_message_new_method_call(kService, kPath, kScreenCast, "OpenPipeWireRemote");
    const char* sessionPath = session->handle.c_str();
    DBusMessageIter arguments;
    DBusMessageIter options;
    dbus_message_iter_init_append(message, &arguments);
    dbus_message_iter_append_basic(&arguments, DBUS_TYPE_OBJECT_PATH, &sessionPath);
    dbus_message_iter_open_container(&arguments, DBUS_TYPE_ARRAY, "{sv}", &options);
    dbus_message_iter_close_container(&arguments, &options);
    DBusMessage* reply = Call(session->connection, message, why);
    int fd = -1;
    if (reply == nullptr ||
        !dbus_message_get_args(reply, nullptr, DBUS_TYPE_UNIX_FD, &fd, DBUS_TYPE_INVALID)) {
        *why = "OpenPipeWireRemote: " + (reply == nullptr ? *why : std::string("no descriptor"));
        if (reply != nullptr) {
            dbus_message_unref(reply);
        }
        return SCREENCAST_FAILED;
    }
    dbus_message_unref(reply);
    session->pipewireFd = fd;
    granted.pipewireFd = fd;
    granted.session = std::move(session);
    DebugPrint(" kvcap: screen cast granted, node %u at %d,%d size %dx%d\n", granted.stream.node,
               granted.stream.x, granted.stream.y, granted.stream.width, granted.stream.height);
    *grant = std::move(granted);
    return SCREENCAST_GRANTED;
}
