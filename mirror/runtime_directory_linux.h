#pragma once

#include <string>

// kvusb-mirror's directory in the user's runtime directory, $XDG_RUNTIME_DIR/kvusb-mirror:
// its control socket and its instance lock live there. The runtime directory is the user's
// own and per user, so what lives there is the user's alone.

// The path; empty when XDG_RUNTIME_DIR is not set to an absolute path.
std::string MirrorRuntimePath();

// The same, made when missing with mode 0700; empty when there is none or it is anything but
// the user's own directory of that mode.
std::string OwnMirrorRuntimeDirectory();
