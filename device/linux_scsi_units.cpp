#include "device/linux_scsi_units.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace {

constexpr char BLANKS[] = " \t\r\n";

std::string ReadAttribute(const fs::path& file) {
    std::ifstream in(file);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return text;
}

// Trims the blank padding of an inquiry field; inner blanks become '_' as in the system's
// interface names.
std::string InterfaceField(const std::string& text) {
    size_t first = text.find_first_not_of(BLANKS);
    if (first == std::string::npos) {
        return "";
    }
    std::string field = text.substr(first, text.find_last_not_of(BLANKS) - first + 1);
    std::replace(field.begin(), field.end(), ' ', '_');
    return field;
}

// "h:c:t:l" as four numbers; false for the hosts and targets that share the directory.
bool ParseHctl(const std::string& name, std::array<unsigned long, 4>* hctl) {
    char rest = 0;
    return std::sscanf(name.c_str(), "%lu:%lu:%lu:%lu%c", &(*hctl)[0], &(*hctl)[1], &(*hctl)[2],
                       &(*hctl)[3], &rest) == 4;
}

bool ParseType(const std::string& text, int* type) {
    return std::sscanf(text.c_str(), "%d", type) == 1;
}

// A unit has at most one sg node; none when the sg driver is not loaded.
std::string SgNodeOfUnit(const fs::path& unit) {
    std::error_code ec;
    fs::directory_iterator it(unit / "scsi_generic", ec);
    return !ec && it != fs::directory_iterator() ? it->path().filename().string() : "";
}

bool IsSgNodeName(const std::string& name) {
    return name.size() > 2 && name.compare(0, 2, "sg") == 0 &&
           std::all_of(name.begin() + 2, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::string BuildUnitInterfacePath(int type, const std::string& vendor, const std::string& model,
                                   const std::string& rev, const std::string& hctl,
                                   const std::string& sgNode) {
    const char* kind = nullptr;
    if (type == SCSI_TYPE_DISK) {
        kind = "Disk";
    } else if (type == SCSI_TYPE_CDROM || type == SCSI_TYPE_OPTICAL) {
        kind = "Optical";
    } else {
        return "";
    }
    return std::string("USBSTOR#") + kind + "&Ven_" + InterfaceField(vendor) + "&Prod_" +
           InterfaceField(model) + "&Rev_" + InterfaceField(rev) + "#" + hctl + "#" + sgNode;
}

std::vector<std::string> ListScsiUnitPaths(const std::string& sysfsRoot) {
    struct Unit {
        std::array<unsigned long, 4> hctl;
        std::string path;
    };
    std::vector<Unit> units;
    std::error_code ec;
    for (fs::directory_iterator it(fs::path(sysfsRoot) / "bus/scsi/devices", ec), end;
         !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        Unit unit;
        int type = 0;
        if (!ParseHctl(name, &unit.hctl) || !ParseType(ReadAttribute(it->path() / "type"), &type)) {
            continue;
        }
        unit.path = BuildUnitInterfacePath(
            type, ReadAttribute(it->path() / "vendor"), ReadAttribute(it->path() / "model"),
            ReadAttribute(it->path() / "rev"), name, SgNodeOfUnit(it->path()));
        if (!unit.path.empty()) {
            units.push_back(std::move(unit));
        }
    }
    std::sort(units.begin(), units.end(),
              [](const Unit& a, const Unit& b) { return a.hctl < b.hctl; });
    std::vector<std::string> paths;
    for (Unit& unit : units) {
        paths.push_back(std::move(unit.path));
    }
    return paths;
}

std::string SgNodeOfUnitPath(const std::string& path) {
    size_t hash = path.rfind('#');
    std::string node = hash == std::string::npos ? "" : path.substr(hash + 1);
    return IsSgNodeName(node) ? node : "";
}
