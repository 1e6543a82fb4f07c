#pragma once

#include <string>

struct udev;
struct udev_monitor;

// Tells when a SCSI unit goes away, from udev's device events: the removal of the unit's sg
// node or of the SCSI device itself.
class UnitRemovalMonitor {
  public:
    // `sgNode` ("sg2") and `hctl` ("2:0:0:0") name the unit watched. Open() is false when
    // udev cannot be listened to.
    UnitRemovalMonitor(std::string sgNode, std::string hctl)
        : m_sgNode(std::move(sgNode)), m_hctl(std::move(hctl)) {}
    ~UnitRemovalMonitor();
    UnitRemovalMonitor(const UnitRemovalMonitor&) = delete;
    UnitRemovalMonitor& operator=(const UnitRemovalMonitor&) = delete;

    bool Open();
    int Fd() const;  // readable when events wait
    // Reads the waiting events; true when one was the watched unit's removal. Each removal
    // is traced as "usb remove: <device path>\n", as the window traces its removals.
    bool TakeRemoval();

  private:
    std::string m_sgNode;
    std::string m_hctl;
    struct udev* m_udev = nullptr;
    struct udev_monitor* m_monitor = nullptr;
};

// Whether a udev event is the removal of the unit `sgNode` / `hctl`: an sg node of that name
// or a SCSI device of that address, removed.
bool IsUnitRemoval(const char* action, const char* subsystem, const char* sysname,
                   const std::string& sgNode, const std::string& hctl);
