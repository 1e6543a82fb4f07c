#pragma once

#include <dbus/dbus.h>

// Notices on the desktop through the freedesktop notification service
// (org.freedesktop.Notifications on the session bus). The bus is reached at the first notice;
// without one, or without a service to take them, notices go nowhere.
class DesktopNotifier {
  public:
    explicit DesktopNotifier(const char* appName) : m_appName(appName) {}
    ~DesktopNotifier();
    DesktopNotifier(const DesktopNotifier&) = delete;
    DesktopNotifier& operator=(const DesktopNotifier&) = delete;

    // Hands one notice to the bus without waiting for the service's answer. False when there
    // is no session bus.
    bool Notify(const char* summary, const char* body, bool critical);

  private:
    const char* m_appName;
    DBusConnection* m_connection = nullptr;
    bool m_tried = false;  // the bus is looked for once
};
