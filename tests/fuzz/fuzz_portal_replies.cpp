// Any message the session bus could deliver, taken as each of the screen-cast portal's replies:
// the properties, a Response signal with CreateSession's or Start's results. libdbus checks the
// wire format as it does for a message from the bus; what it lets through reaches the readers.
#include <dbus/dbus.h>

#include <cstdint>

#include "kvcap/screencast_portal_replies_linux.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool quiet = [] {
        dbus_setenv("DBUS_FATAL_WARNINGS", "1");  // a misuse of libdbus ends the run
        return true;
    }();
    (void)quiet;
    DBusError error;
    dbus_error_init(&error);
    DBusMessage* message =
        dbus_message_demarshal(reinterpret_cast<const char*>(data), static_cast<int>(size), &error);
    if (message == nullptr) {
        dbus_error_free(&error);
        return 0;
    }
    ReadScreenCastProperties(message);
    // The results are read only from a successful Response, as the conversation does.
    DBusMessageIter results;
    if (ReadPortalResponse(message, &results) == 0) {
        ReadSessionHandle(&results);
        ReadPortalResponse(message, &results);
        ScreenCastStream stream;
        std::string restoreToken;
        ReadStartResults(&results, &stream, &restoreToken);
    }
    dbus_message_unref(message);
    return 0;
}
