// kvusbtool show IMAGE [--virtual OUT.png]: fits a picture to 854 x 480 (scaled, aspect kept,
// black bars) and sends it as one frame, raw or compressed as the link asks, to the first
// projector found, or to the virtual projector, which writes what it shows to OUT.
#include <cstdio>
#include <cstring>
#include <string>

#include "device/device_discovery.h"
#include "device/frame_transfer.h"
#include "image/image_file.h"
#include "image/image_fit.h"
#include "tools/projector_session.h"
#include "tools/tool_command.h"

namespace {

constexpr const char* kCommand = "show";
constexpr int kFrameWidth = 854;
constexpr int kFrameHeight = 480;

}  // namespace

int RunShowCommand(int argc, char** argv) {
    std::string imagePath;
    std::string virtualOut;
    bool useVirtual = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--virtual") == 0 && i + 1 < argc) {
            useVirtual = true;
            virtualOut = argv[++i];
        } else if (argv[i][0] != '-' && imagePath.empty()) {
            imagePath = argv[i];
        } else {
            return ToolError(kCommand, kToolMisused,
                             "usage: kvusbtool show IMAGE [--virtual OUT.png]");
        }
    }
    if (imagePath.empty()) {
        return ToolError(kCommand, kToolMisused, "usage: kvusbtool show IMAGE [--virtual OUT.png]");
    }
    Image picture;
    std::string error;
    if (!ReadImage(imagePath, &picture, &error)) {
        return ToolError(kCommand, kToolFailed, error);
    }
    Image frame = FitImage(picture, kFrameWidth, kFrameHeight);

    ProjectorSession session;
    if (!session.Open(useVirtual, virtualOut, &error)) {
        return ToolError(kCommand, kToolFailed, error);
    }
    bool raw = (g_USB3_0 & LINK_SPEED_MASK) == LINK_USB3_0;
    int result = raw ? SendFrameRaw(frame.bgr.data()) : SendFrameCompressed(frame.bgr.data());
    if (result == static_cast<int>(ERROR_DEVICE_NOT_CONNECTED)) {
        return ToolError(kCommand, kToolFailed, "the projector was unplugged during the frame");
    }
    if (result != 0) {
        return ToolError(kCommand, kToolFailed,
                         "the frame transfer failed (" + session.LastTrace() + ")");
    }
    if (!session.Finish(&error)) {
        return ToolError(kCommand, kToolFailed, error);
    }
    std::printf("%s (%d x %d) shown as a %s frame over %s%s%s\n", imagePath.c_str(), picture.width,
                picture.height, raw ? "raw" : "compressed", ProjectorSession::LinkName(),
                useVirtual ? ", written to " : "", virtualOut.c_str());
    return 0;
}
