#pragma once

#include <cstdint>
#include <string>

// Which screen the library's desktop source shows on Linux, chosen by the program before it
// initialises the library: the X display's primary monitor (the default), a RandR monitor of
// the X display by name (the projector's area beside the other screens), or the PipeWire
// stream a screen-cast portal granted (a Wayland session).
enum class DesktopTargetKind { PrimaryMonitor, X11Monitor, PipeWireStream };

struct DesktopTarget {
    DesktopTargetKind kind = DesktopTargetKind::PrimaryMonitor;
    std::string monitorName;  // X11Monitor
    // PipeWireStream: the portal's remote, still the program's own (each session connects
    // through a copy), and the stream's node on it.
    int pipewireFd = -1;
    uint32_t node = 0;
    // PipeWireStream: a virtual screen takes the size its consumer asks for, this one;
    // 0 for a stream of a screen that has its own.
    int width = 0;
    int height = 0;
    // PipeWireStream: the stream is one window's, fitted to the frames between black bars.
    bool window = false;
};

// Before KVCapAPI_Initialize.
void SetDesktopTarget(const DesktopTarget& target);

// Readable once the stream of a PipeWireStream target has ended for good: the user stopped the
// screen cast, or the portal or the compositor went away. It stays readable from then on, for
// the program's loop to wait on.
int ScreenCastEndedFd();
