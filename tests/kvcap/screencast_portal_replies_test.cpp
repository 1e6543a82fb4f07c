#include "kvcap/screencast_portal_replies_linux.h"

#include <gtest/gtest.h>

// The portal's replies as the conversation reads them, built as messages without a bus.

namespace {

// A Response signal whose results are written by `fill` into the a{sv} (or whatever
// container signature is given).
template <typename Fill>
DBusMessage* Response(uint32_t code, const char* signature, Fill fill) {
    DBusMessage* message = dbus_message_new_signal("/org/freedesktop/portal/desktop/request/1_5/t",
                                                   "org.freedesktop.portal.Request", "Response");
    DBusMessageIter arguments;
    DBusMessageIter results;
    dbus_message_iter_init_append(message, &arguments);
    dbus_message_iter_append_basic(&arguments, DBUS_TYPE_UINT32, &code);
    dbus_message_iter_open_container(&arguments, DBUS_TYPE_ARRAY, signature, &results);
    fill(&results);
    dbus_message_iter_close_container(&arguments, &results);
    return message;
}

// One entry of a dictionary: the key of `keyType`, the value a variant of `signature` or, with
// no signature, the bare value.
void Entry(DBusMessageIter* dictionary, int keyType, const void* key, int type,
           const char* signature, const void* value) {
    DBusMessageIter entry;
    DBusMessageIter variant;
    dbus_message_iter_open_container(dictionary, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
    dbus_message_iter_append_basic(&entry, keyType, key);
    if (signature == nullptr) {
        dbus_message_iter_append_basic(&entry, type, value);
    } else {
        dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, signature, &variant);
        dbus_message_iter_append_basic(&variant, type, value);
        dbus_message_iter_close_container(&entry, &variant);
    }
    dbus_message_iter_close_container(dictionary, &entry);
}

void StringEntry(DBusMessageIter* dictionary, const char* key, const char* value) {
    Entry(dictionary, DBUS_TYPE_STRING, &key, DBUS_TYPE_STRING, "s", &value);
}

TEST(ScreenCastPortalReplies, TheSessionHandleIsReadFromASuccessfulResponse) {
    DBusMessage* message = Response(0, "{sv}", [](DBusMessageIter* results) {
        StringEntry(results, "other", "x");
        StringEntry(results, "session_handle", "/org/freedesktop/portal/desktop/session/1_5/s");
    });
    DBusMessageIter results;
    EXPECT_EQ(ReadPortalResponse(message, &results), 0u);
    EXPECT_EQ(ReadSessionHandle(&results), "/org/freedesktop/portal/desktop/session/1_5/s");
    dbus_message_unref(message);

    DBusMessage* bare = dbus_message_new_signal("/r", "org.freedesktop.portal.Request", "Response");
    EXPECT_EQ(ReadPortalResponse(bare, &results), 2u) << "no code is no success";
    dbus_message_unref(bare);
}

// A dictionary of another type than a{sv} is no answer, never read as one: its keys are no
// strings (a{uv}) or its values no variants (a{ss}).
TEST(ScreenCastPortalReplies, ResultsOfAnotherTypeAreLeftUnread) {
    DBusMessage* numbered = Response(0, "{uv}", [](DBusMessageIter* results) {
        uint32_t key = 7;
        const char* value = "/org/freedesktop/portal/desktop/session/1_5/s";
        Entry(results, DBUS_TYPE_UINT32, &key, DBUS_TYPE_STRING, "s", &value);
    });
    DBusMessageIter results;
    ASSERT_EQ(ReadPortalResponse(numbered, &results), 0u);
    EXPECT_EQ(ReadSessionHandle(&results), "");
    dbus_message_unref(numbered);

    DBusMessage* plain = Response(0, "{ss}", [](DBusMessageIter* results) {
        const char* key = "session_handle";
        const char* value = "/org/freedesktop/portal/desktop/session/1_5/s";
        Entry(results, DBUS_TYPE_STRING, &key, DBUS_TYPE_STRING, nullptr, &value);
    });
    ASSERT_EQ(ReadPortalResponse(plain, &results), 0u);
    EXPECT_EQ(ReadSessionHandle(&results), "");
    dbus_message_unref(plain);

    DBusMessage* wrongValue = Response(0, "{sv}", [](DBusMessageIter* results) {
        const char* key = "session_handle";
        uint32_t value = 5;
        Entry(results, DBUS_TYPE_STRING, &key, DBUS_TYPE_UINT32, "u", &value);
    });
    ASSERT_EQ(ReadPortalResponse(wrongValue, &results), 0u);
    EXPECT_EQ(ReadSessionHandle(&results), "");
    dbus_message_unref(wrongValue);
}

TEST(ScreenCastPortalReplies, StartWithoutAStreamIsRefused) {
    DBusMessage* message = Response(0, "{sv}", [](DBusMessageIter* results) {
        StringEntry(results, "restore_token", "a-token");
    });
    DBusMessageIter results;
    ASSERT_EQ(ReadPortalResponse(message, &results), 0u);
    ScreenCastStream stream;
    std::string token;
    EXPECT_FALSE(ReadStartResults(&results, &stream, &token));
    EXPECT_EQ(token, "a-token");
    dbus_message_unref(message);
}

}  // namespace
