#include "device/linux_volumes.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

constexpr char DEV_PREFIX[] = "/dev/";

int DigitValue(char c, int base) {
    int value = 99;
    if (c >= '0' && c <= '9') {
        value = c - '0';
    } else if (std::isalpha(static_cast<unsigned char>(c))) {
        value = std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
    }
    return value < base ? value : -1;
}

// Decodes every `lead` followed by `digits` digits in `base` into the byte they give.
std::string DecodeEscapes(const std::string& text, const std::string& lead, size_t digits,
                          int base) {
    std::string decoded;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, lead.size(), lead) == 0 && i + lead.size() + digits <= text.size()) {
            int value = 0;
            size_t d = 0;
            for (; d < digits; ++d) {
                int digit = DigitValue(text[i + lead.size() + d], base);
                if (digit < 0) {
                    break;
                }
                value = value * base + digit;
            }
            if (d == digits) {
                decoded += static_cast<char>(value);
                i += lead.size() + digits - 1;
                continue;
            }
        }
        decoded += text[i];
    }
    return decoded;
}

// The whole disk that holds block device `name` ("sdb" for "sdb1"), "" when sysfs has neither.
std::string DiskOf(const fs::path& sysBlock, const std::string& name) {
    std::error_code ec;
    if (fs::exists(sysBlock / name, ec)) {
        return name;
    }
    for (fs::directory_iterator it(sysBlock, ec), end; !ec && it != end; it.increment(ec)) {
        if (fs::exists(it->path() / name, ec)) {
            return it->path().filename().string();
        }
    }
    return "";
}

bool IsRemovable(const fs::path& sysBlock, const std::string& name) {
    std::string disk = DiskOf(sysBlock, name);
    if (disk.empty()) {
        return false;
    }
    std::ifstream in(sysBlock / disk / "removable");
    char flag = 0;
    return in.get(flag) && flag == '1';
}

// The label whose by-label link leads to `device`; false when there is none.
bool FindLabel(const fs::path& byLabel, const fs::path& device, std::string* label) {
    std::error_code ec;
    for (fs::directory_iterator it(byLabel, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code linkError;
        if (fs::canonical(it->path(), linkError) == device && !linkError) {
            *label = DecodeLabelLinkName(it->path().filename().string());
            return true;
        }
    }
    return false;
}

}  // namespace

std::string DecodeMountField(const std::string& field) {
    return DecodeEscapes(field, "\\", 3, 8);
}

std::string DecodeLabelLinkName(const std::string& name) {
    return DecodeEscapes(name, "\\x", 2, 16);
}

std::vector<VolumeInfo> ListMountedVolumes(const std::string& sysfsRoot, const std::string& devRoot,
                                           const std::string& mountsFile) {
    const fs::path sysBlock = fs::path(sysfsRoot) / "block";
    const fs::path byLabel = fs::path(devRoot) / "disk/by-label";
    std::vector<VolumeInfo> volumes;
    std::ifstream mounts(mountsFile);
    std::string line;
    while (std::getline(mounts, line)) {
        std::istringstream fields(line);
        std::string source;
        std::string mountPoint;
        if (!(fields >> source >> mountPoint) || source.rfind(DEV_PREFIX, 0) != 0) {
            continue;
        }
        source = DecodeMountField(source);
        std::error_code ec;
        fs::path device =
            fs::canonical(fs::path(devRoot) / source.substr(sizeof DEV_PREFIX - 1), ec);
        if (ec) {
            continue;
        }
        VolumeInfo volume;
        volume.root = DecodeMountField(mountPoint);
        volume.removable = IsRemovable(sysBlock, device.filename().string());
        volume.labelRead = FindLabel(byLabel, device, &volume.label);
        volumes.push_back(std::move(volume));
    }
    return volumes;
}
