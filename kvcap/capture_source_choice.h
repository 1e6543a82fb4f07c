#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "image/image_file.h"

// Which source the library captures from, as a program names it with KVCapSetSource before
// the library is initialised (the simulator, kvusb-mirror and kvusbtool pass on the
// environment variable VORN_KVUSB_CAPTURE; the shipped program names none):
//
//   (none or empty) | "desktop"    the desktop (Windows: desktop duplication, GDI fallback)
//   "gdi"                          the desktop through GDI only
//   "synthetic"                    a moving test pattern, every frame predictable from its
//                                  index (kvcap/synthetic_pattern.h)
//   "synthetic:png=" paths         the images replayed in turn, one a frame, each scaled to
//   "synthetic:ppm=" paths         the session's size; paths are separated by ';' and none
//                                  may be empty
//
// Names are lower case and exact; anything else is refused.
inline constexpr const char* kCaptureSourceVariable = "VORN_KVUSB_CAPTURE";

enum class CaptureSourceKind { Desktop, Gdi, Pattern, Replay };

struct CaptureSourceChoice {
    CaptureSourceKind kind = CaptureSourceKind::Desktop;
    ImageFormat imageFormat = ImageFormat::Ppm;  // Replay only
    std::vector<std::string> imagePaths;         // Replay only
};

inline bool IsSyntheticSource(const CaptureSourceChoice& choice) {
    return choice.kind == CaptureSourceKind::Pattern || choice.kind == CaptureSourceKind::Replay;
}

// False when `text` does not follow the grammar above; `choice` is then left alone.
bool ParseCaptureSourceChoice(std::string_view text, CaptureSourceChoice* choice);
