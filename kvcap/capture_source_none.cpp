#include "kvcap/capture_source.h"

// This platform has no desktop source yet; only the synthetic ones are there.

bool DesktopSourceAvailable(CaptureSourceKind) {
    return false;
}

ScreenSize DesktopScreenSize() {
    return {};
}

std::unique_ptr<CaptureSource> OpenDesktopSource(const CaptureSourceChoice&,
                                                 const CaptureGeometry&) {
    return nullptr;
}
