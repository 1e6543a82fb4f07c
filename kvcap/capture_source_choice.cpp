#include "kvcap/capture_source_choice.h"

#include <utility>

namespace {

constexpr std::string_view kSyntheticPrefix = "synthetic:";

bool ParsePathList(std::string_view list, std::vector<std::string>* paths) {
    std::vector<std::string> parsed;
    for (;;) {
        size_t end = list.find(';');
        std::string_view path = list.substr(0, end);
        if (path.empty()) {
            return false;
        }
        parsed.emplace_back(path);
        if (end == std::string_view::npos) {
            break;
        }
        list.remove_prefix(end + 1);
    }
    *paths = std::move(parsed);
    return true;
}

}  // namespace

bool ParseCaptureSourceChoice(std::string_view text, CaptureSourceChoice* choice) {
    CaptureSourceChoice parsed;
    if (text.empty() || text == "desktop") {
        parsed.kind = CaptureSourceKind::Desktop;
    } else if (text == "gdi") {
        parsed.kind = CaptureSourceKind::Gdi;
    } else if (text == "synthetic") {
        parsed.kind = CaptureSourceKind::Pattern;
    } else if (text.starts_with(kSyntheticPrefix)) {
        std::string_view option = text.substr(kSyntheticPrefix.size());
        if (option.starts_with("png=")) {
            parsed.imageFormat = ImageFormat::Png;
        } else if (option.starts_with("ppm=")) {
            parsed.imageFormat = ImageFormat::Ppm;
        } else {
            return false;
        }
        parsed.kind = CaptureSourceKind::Replay;
        if (!ParsePathList(option.substr(4), &parsed.imagePaths)) {
            return false;
        }
    } else {
        return false;
    }
    *choice = std::move(parsed);
    return true;
}
