#include "platform/unit_removal_linux.h"

#include <libudev.h>

#include <cstring>

#include "platform/debug_print.h"

namespace {
bool Same(const char* text, const std::string& expected) {
    return text != nullptr && !expected.empty() && expected == text;
}
}  // namespace

bool IsUnitRemoval(const char* action, const char* subsystem, const char* sysname,
                   const std::string& sgNode, const std::string& hctl) {
    if (action == nullptr || subsystem == nullptr || std::strcmp(action, "remove") != 0) {
        return false;
    }
    if (std::strcmp(subsystem, "scsi_generic") == 0) {
        return Same(sysname, sgNode);
    }
    return std::strcmp(subsystem, "scsi") == 0 && Same(sysname, hctl);
}

UnitRemovalMonitor::~UnitRemovalMonitor() {
    if (m_monitor != nullptr) {
        udev_monitor_unref(m_monitor);
    }
    if (m_udev != nullptr) {
        udev_unref(m_udev);
    }
}

bool UnitRemovalMonitor::Open() {
    m_udev = udev_new();
    m_monitor = m_udev != nullptr ? udev_monitor_new_from_netlink(m_udev, "udev") : nullptr;
    return m_monitor != nullptr &&
           udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "scsi_generic", nullptr) >=
               0 &&
           udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "scsi", "scsi_device") >= 0 &&
           udev_monitor_enable_receiving(m_monitor) >= 0;
}

int UnitRemovalMonitor::Fd() const {
    return udev_monitor_get_fd(m_monitor);
}

bool UnitRemovalMonitor::TakeRemoval() {
    bool removed = false;
    while (udev_device* device = udev_monitor_receive_device(m_monitor)) {
        const char* action = udev_device_get_action(device);
        if (action != nullptr && std::strcmp(action, "remove") == 0) {
            DebugPrint("usb remove: %s\n", udev_device_get_syspath(device));
        }
        removed = removed || IsUnitRemoval(action, udev_device_get_subsystem(device),
                                           udev_device_get_sysname(device), m_sgNode, m_hctl);
        udev_device_unref(device);
    }
    return removed;
}
