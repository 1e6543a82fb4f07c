#include "kvcap/capture_source_pipewire_linux.h"
#include "kvcap/capture_source_x11.h"
#include "kvcap/desktop_target_linux.h"

// The desktop on Linux: the screen the program chose, through the X display or through the
// stream a screen-cast portal granted.

namespace {
DesktopTarget g_DesktopTarget;
}

void SetDesktopTarget(const DesktopTarget& target) {
    g_DesktopTarget = target;
}

bool DesktopSourceAvailable(CaptureSourceKind kind) {
    return kind == CaptureSourceKind::Desktop;
}

ScreenSize DesktopScreenSize() {
    switch (g_DesktopTarget.kind) {
        case DesktopTargetKind::PipeWireStream:
            return {};  // the stream says its size with its first frame
        case DesktopTargetKind::X11Monitor:
            return X11ScreenSize(g_DesktopTarget.monitorName);
        case DesktopTargetKind::PrimaryMonitor:
            break;
    }
    return X11ScreenSize("");
}

std::unique_ptr<CaptureSource> OpenDesktopSource(const CaptureSourceChoice&,
                                                 const CaptureGeometry& geometry) {
    switch (g_DesktopTarget.kind) {
        case DesktopTargetKind::PipeWireStream:
            return OpenPipeWireSource(g_DesktopTarget, geometry);
        case DesktopTargetKind::X11Monitor:
            return OpenX11Source(g_DesktopTarget.monitorName, geometry);
        case DesktopTargetKind::PrimaryMonitor:
            break;
    }
    return OpenX11Source("", geometry);
}
