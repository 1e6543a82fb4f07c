#include "gadget/configfs_gadget.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace gadget {
namespace {

namespace fs = std::filesystem;

constexpr char LANGUAGE[] = "0x409";
constexpr char CONFIGURATION[] = "c.1";

std::string GadgetDir(const std::string& root, const std::string& name) {
    return root + "/usb_gadget/" + name;
}

std::string Hex16(uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

// configfs attributes take one write each.
bool WriteAttribute(const std::string& path, const std::string& value, std::string* error) {
    FILE* file = std::fopen(path.c_str(), "w");
    bool written = file != nullptr && std::fputs(value.c_str(), file) >= 0;
    if (file != nullptr && std::fclose(file) != 0) {
        written = false;
    }
    if (!written && error != nullptr) {
        *error = path + ": " + std::strerror(errno);
    }
    return written;
}

bool MakeDir(const std::string& path, std::string* error) {
    if (mkdir(path.c_str(), 0755) == 0) {
        return true;
    }
    *error = path + ": " + std::strerror(errno);
    return false;
}

std::string ReadLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

}  // namespace

bool CreateGadget(const std::string& root, const GadgetIdentity& id, std::string* error) {
    const std::string dir = GadgetDir(root, id.name);
    const std::string function = "ffs." + id.name;
    const std::string config = dir + "/configs/" + CONFIGURATION;
    if (!fs::is_directory(root + "/usb_gadget")) {
        *error = root + "/usb_gadget is missing: is configfs mounted and libcomposite loaded?";
        return false;
    }
    if (fs::exists(dir)) {
        *error = dir + " exists already: another gadget of that name is set up";
        return false;
    }
    bool made =
        MakeDir(dir, error) && WriteAttribute(dir + "/idVendor", Hex16(id.vendorId), error) &&
        WriteAttribute(dir + "/idProduct", Hex16(id.productId), error) &&
        WriteAttribute(dir + "/bcdDevice", Hex16(id.deviceRelease), error) &&
        MakeDir(dir + "/strings/" + LANGUAGE, error) &&
        WriteAttribute(dir + "/strings/" + LANGUAGE + "/manufacturer", id.manufacturer, error) &&
        WriteAttribute(dir + "/strings/" + LANGUAGE + "/product", id.product, error) &&
        WriteAttribute(dir + "/strings/" + LANGUAGE + "/serialnumber", id.serial, error) &&
        MakeDir(config, error) &&
        WriteAttribute(config + "/MaxPower", std::to_string(id.maxPowerMilliamps), error) &&
        MakeDir(config + "/strings/" + LANGUAGE, error) &&
        WriteAttribute(config + "/strings/" + LANGUAGE + "/configuration", id.product, error) &&
        MakeDir(dir + "/functions/" + function, error);
    if (made &&
        symlink((dir + "/functions/" + function).c_str(), (config + "/" + function).c_str()) != 0) {
        *error = config + "/" + function + ": " + std::strerror(errno);
        made = false;
    }
    if (!made) {
        RemoveGadget(root, id.name);
    }
    return made;
}

bool BindGadget(const std::string& root, const std::string& name, const std::string& udc,
                std::string* error) {
    return WriteAttribute(GadgetDir(root, name) + "/UDC", udc, error);
}

void UnbindGadget(const std::string& root, const std::string& name) {
    WriteAttribute(GadgetDir(root, name) + "/UDC", "\n", nullptr);
}

void RemoveGadget(const std::string& root, const std::string& name) {
    const std::string dir = GadgetDir(root, name);
    const std::string function = "ffs." + name;
    const std::string config = dir + "/configs/" + CONFIGURATION;
    // Each step may find nothing to remove after a creation that stopped half way.
    unlink((config + "/" + function).c_str());
    rmdir((config + "/strings/" + LANGUAGE).c_str());
    rmdir(config.c_str());
    rmdir((dir + "/functions/" + function).c_str());
    rmdir((dir + "/strings/" + LANGUAGE).c_str());
    rmdir(dir.c_str());
}

std::string FirstController(const std::string& classRoot) {
    std::error_code ec;
    std::string first;
    for (fs::directory_iterator it(classRoot, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (first.empty() || name < first) {
            first = name;
        }
    }
    return first;
}

std::string ControllerSpeed(const std::string& classRoot, const std::string& udc) {
    return ReadLine(classRoot + "/" + udc + "/current_speed");
}

}  // namespace gadget
