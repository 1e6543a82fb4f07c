#pragma once

#include <string>

#include "emulator/virtual_projector.h"
#include "tools/trace_keeper.h"

// The projector a kvusbtool command talks to, opened the way the program opens it at start-up:
// the virtual projector when the command asks for it or VORN_KVUSB_DEVICE selects it, else the
// system's units (SG_IO on Linux). Failures come back as one line for the user.
class ProjectorSession final {
  public:
    ProjectorSession() = default;
    ~ProjectorSession();  // closes the units, ends the backend and gives the traces back

    ProjectorSession(const ProjectorSession&) = delete;
    ProjectorSession& operator=(const ProjectorSession&) = delete;

    // `imagePath`: where the virtual projector writes what it shows ("" for nowhere).
    bool Open(bool useVirtual, const std::string& imagePath, std::string* error);

    // For the virtual projector: waits for it to show what it was sent, writes its files, and
    // fails on any protocol error it saw. Always true for a real projector.
    bool Finish(std::string* error);

    // The device layer's last trace, which tells why a command failed.
    std::string LastTrace() const;

    // "USB 3.0", "USB 2.0", "USB 1.1" or "no link", from g_USB3_0.
    static const char* LinkName();

  private:
    TraceKeeper m_traces;
    emu::VirtualProjector* m_virtual = nullptr;  // when it is the device
};
