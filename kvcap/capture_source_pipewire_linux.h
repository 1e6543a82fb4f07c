#pragma once

#include <memory>

#include "kvcap/capture_source.h"
#include "kvcap/desktop_target_linux.h"

// The frames of a PipeWire stream that a screen-cast portal granted (a PipeWireStream
// target), scaled to the session's size; nullptr when the stream cannot be connected.
std::unique_ptr<CaptureSource> OpenPipeWireSource(const DesktopTarget& target,
                                                  const CaptureGeometry& geometry);
