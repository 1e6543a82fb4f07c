#pragma once

#include <memory>
#include <string>

#include "kvcap/capture_source.h"

// The X display's screen: its primary monitor, or the RandR monitor named `monitorName` when
// that is not empty (capture_source_x11.cpp).
ScreenSize X11ScreenSize(const std::string& monitorName);
std::unique_ptr<CaptureSource> OpenX11Source(const std::string& monitorName,
                                             const CaptureGeometry& geometry);
