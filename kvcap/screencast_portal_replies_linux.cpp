#include "kvcap/screencast_portal_replies_linux.h"

#include <cstring>
#include <string_view>

namespace {

constexpr uint32_t kResponseOther = 2;

// Walks an a{sv} and hands each value's variant to `take` with its key. Anything else, an
// a{uv} or an a{ss} included, is no dictionary of options and is not walked.
template <typename Take>
void ForEachEntry(DBusMessageIter* dictionary, Take take) {
    if (dbus_message_iter_get_arg_type(dictionary) != DBUS_TYPE_ARRAY) {
        return;
    }
    char* signature = dbus_message_iter_get_signature(dictionary);
    bool options = signature != nullptr && std::strcmp(signature, "a{sv}") == 0;
    dbus_free(signature);
    if (!options) {
        return;
    }
    DBusMessageIter entries;
    dbus_message_iter_recurse(dictionary, &entries);
    for (; dbus_message_iter_get_arg_type(&entries) == DBUS_TYPE_DICT_ENTRY;
         dbus_message_iter_next(&entries)) {
        DBusMessageIter entry;
        DBusMessageIter variant;
        const char* key = nullptr;
        dbus_message_iter_recurse(&entries, &entry);
        dbus_message_iter_get_basic(&entry, &key);
        dbus_message_iter_next(&entry);
        dbus_message_iter_recurse(&entry, &variant);
        take(std::string_view(key), &variant);
    }
}

bool ReadUint32(DBusMessageIter* value, uint32_t* out) {
    if (dbus_message_iter_get_arg_type(value) != DBUS_TYPE_UINT32) {
        return false;
    }
    dbus_message_iter_get_basic(value, out);
    return true;
}

// A string or an object path.
bool ReadText(DBusMessageIter* value, std::string* out) {
    int type = dbus_message_iter_get_arg_type(value);
    if (type != DBUS_TYPE_STRING && type != DBUS_TYPE_OBJECT_PATH) {
        return false;
    }
    const char* text = nullptr;
    dbus_message_iter_get_basic(value, &text);
    *out = text;
    return true;
}

// (ii), as position and size are.
bool ReadPair(DBusMessageIter* value, int* first, int* second) {
    if (dbus_message_iter_get_arg_type(value) != DBUS_TYPE_STRUCT) {
        return false;
    }
    DBusMessageIter fields;
    dbus_message_iter_recurse(value, &fields);
    int32_t values[2] = {};
    for (int32_t& field : values) {
        if (dbus_message_iter_get_arg_type(&fields) != DBUS_TYPE_INT32) {
            return false;
        }
        dbus_message_iter_get_basic(&fields, &field);
        dbus_message_iter_next(&fields);
    }
    *first = values[0];
    *second = values[1];
    return true;
}

// The first stream of a(ua{sv}); false when there is none.
bool ReadFirstStream(DBusMessageIter* value, ScreenCastStream* stream) {
    if (dbus_message_iter_get_arg_type(value) != DBUS_TYPE_ARRAY) {
        return false;
    }
    DBusMessageIter streams;
    dbus_message_iter_recurse(value, &streams);
    if (dbus_message_iter_get_arg_type(&streams) != DBUS_TYPE_STRUCT) {
        return false;
    }
    DBusMessageIter fields;
    dbus_message_iter_recurse(&streams, &fields);
    if (!ReadUint32(&fields, &stream->node)) {
        return false;
    }
    dbus_message_iter_next(&fields);
    ForEachEntry(&fields, [stream](std::string_view key, DBusMessageIter* property) {
        if (key == "position") {
            ReadPair(property, &stream->x, &stream->y);
        } else if (key == "size") {
            ReadPair(property, &stream->width, &stream->height);
        }
    });
    return true;
}

}  // namespace

ScreenCastPortal ReadScreenCastProperties(DBusMessage* reply) {
    ScreenCastPortal portal;
    DBusMessageIter arguments;
    if (!dbus_message_iter_init(reply, &arguments)) {
        return portal;
    }
    ForEachEntry(&arguments, [&portal](std::string_view key, DBusMessageIter* value) {
        if (key == "version") {
            ReadUint32(value, &portal.version);
        } else if (key == "AvailableSourceTypes") {
            ReadUint32(value, &portal.sourceTypes);
        } else if (key == "AvailableCursorModes") {
            ReadUint32(value, &portal.cursorModes);
        }
    });
    return portal;
}

uint32_t ReadPortalResponse(DBusMessage* signal, DBusMessageIter* results) {
    uint32_t response = kResponseOther;
    if (dbus_message_iter_init(signal, results) && ReadUint32(results, &response)) {
        dbus_message_iter_next(results);
    }
    return response;
}

std::string ReadSessionHandle(DBusMessageIter* results) {
    std::string handle;
    ForEachEntry(results, [&handle](std::string_view key, DBusMessageIter* value) {
        if (key == "session_handle") {
            ReadText(value, &handle);
        }
    });
    return handle;
}

bool ReadStartResults(DBusMessageIter* results, ScreenCastStream* stream,
                      std::string* restoreToken) {
    bool streamFound = false;
    ForEachEntry(results, [&](std::string_view key, DBusMessageIter* value) {
        if (key == "streams") {
            streamFound = ReadFirstStream(value, stream);
        } else if (key == "restore_token") {
            ReadText(value, restoreToken);
        }
    });
    return streamFound;
}
