#include "kvcap/capture_source_check.h"

#include "image/image_file.h"
#include "kvcap/capture_source.h"
#include "kvcap/capture_source_choice.h"

bool CheckCaptureSource(const char* text, std::string* problem) {
    const std::string name = text != nullptr ? text : "";
    CaptureSourceChoice choice;
    if (!ParseCaptureSourceChoice(name, &choice)) {
        *problem = std::string(kCaptureSourceVariable) + "=\"" + name +
                   "\" names no capture source: use desktop, gdi, synthetic, "
                   "synthetic:png=FILE[;FILE...] or synthetic:ppm=FILE[;FILE...]";
        return false;
    }
    if (!IsSyntheticSource(choice)) {
        if (!DesktopSourceAvailable(choice.kind)) {
            *problem = std::string("this build cannot capture the desktop; set ") +
                       kCaptureSourceVariable + "=synthetic";
            return false;
        }
        return true;
    }
    for (const std::string& path : choice.imagePaths) {
        Image image;
        std::string error;
        if (!ReadImageAs(path, choice.imageFormat, &image, &error)) {
            *problem = "the capture source cannot replay \"" + path + "\": " + error;
            return false;
        }
    }
    return true;
}
