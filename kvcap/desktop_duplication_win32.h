#pragma once

#include <memory>

#include "kvcap/capture_source.h"

// The primary screen through desktop duplication, scaled on the GPU. nullptr, with the
// reason traced, where duplication is not available (remote sessions, older systems, Wine).
std::unique_ptr<CaptureSource> OpenDuplicationSource(const CaptureGeometry& geometry);
