#include "tools/projector_session.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "device/device_discovery.h"
#include "emulator/image_file.h"
#include "platform/debug_print.h"
#include "platform/process_exit.h"

#if !defined(_WIN32)
#include "device/linux_scsi_units.h"
#endif

namespace {

// The device layer's traces are for the program's log, not for the tool's user; the last one
// explains a failure.
std::string g_LastTrace;
const char* g_ToolCommand = "";

void KeepLastTrace(const char* text) {
    g_LastTrace = text;
}

// The device search ends the process when no unit with a link is left.
void ExitWithoutProjector(int code) {
    std::fprintf(stderr, "kvusbtool %s: no projector with a working USB link found\n",
                 g_ToolCommand);
    std::exit(code);
}

bool ContainsIgnoringCase(const std::string& text, const char* part) {
    auto same = [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    };
    return std::search(text.begin(), text.end(), part, part + std::strlen(part), same) !=
           text.end();
}

std::string Trimmed(std::string text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.pop_back();
    }
    return text;
}

std::string OpenFailure(DeviceBackend* backend, const std::string& path, uint32_t code) {
#if defined(_WIN32)
    if (code == 5) {  // ERROR_ACCESS_DENIED
        return "access denied on " + path + ": run kvusbtool as administrator";
    }
#else
    std::string node = SgNodeOfUnitPath(path);
    if (node.empty()) {
        return "the projector unit " + path + " has no sg node: load the sg driver (modprobe sg)";
    }
    if (code == EACCES || code == EPERM) {
        return "permission denied on /dev/" + node +
               ": allow access with a udev rule such as SUBSYSTEM==\"scsi_generic\", "
               "ATTRS{vendor}==\"KVUSB*\", MODE=\"0660\", GROUP=\"plugdev\" in "
               "/etc/udev/rules.d/70-kvusb.rules, or run kvusbtool with sudo";
    }
#endif
    return "cannot open " + path + ": " + Trimmed(backend->SystemErrorText(code));
}

// Looks at the projector's units before the start-up code does, to name what stands in the
// way: no unit at all, or one that cannot be opened.
bool CheckUnits(DeviceBackend* backend, std::string* error) {
    bool disk = false;
    bool optical = false;
    std::string path;
    uint32_t code = 0;
    for (uint32_t i = 0; backend->GetDiskInterface(i, &path, &code) == InterfaceLookup::Found;
         ++i) {
        bool isDisk = ContainsIgnoringCase(path, DISK_UNIT_SEARCH_TEXT);
        bool isOptical = ContainsIgnoringCase(path, OPTICAL_UNIT_SEARCH_TEXT);
        if (!isDisk && !isOptical) {
            continue;
        }
        DeviceHandle unit = backend->OpenUnit(path, &code);
        if (unit == nullptr) {
            *error = OpenFailure(backend, path, code);
            return false;
        }
        backend->CloseUnit(unit);
        disk = disk || isDisk;
        optical = optical || isOptical;
    }
    if (!disk || !optical) {
        *error = "no projector found (no KVUSB TR40W17B6 units among the disk interfaces)";
        return false;
    }
    return true;
}

}  // namespace

ProjectorSession::ProjectorSession(const char* command) {
    g_ToolCommand = command;
    SetTraceSink(KeepLastTrace);
    SetExitHandler(ExitWithoutProjector);
}

ProjectorSession::~ProjectorSession() {
    SetExitHandler(nullptr);
    SetTraceSink(nullptr);
    if (g_pDeviceBackend == backend_.get() && backend_) {
        for (DeviceHandle* unit : {&g_hDisk1, &g_hDisk2}) {
            if (*unit != nullptr) {
                backend_->CloseUnit(*unit);
                *unit = nullptr;
            }
        }
        g_pDeviceBackend = nullptr;
    }
}

bool ProjectorSession::Open(bool useVirtual, const std::string& imagePath, std::string* error) {
    const char* selection = std::getenv(emu::kDeviceEnvVar);
    if (useVirtual || (selection != nullptr && emu::SelectsVirtualProjector(selection))) {
        emu::VirtualConfig config;
        if (selection != nullptr && emu::SelectsVirtualProjector(selection) &&
            !emu::ParseVirtualConfig(selection, &config, error)) {
            *error = std::string(emu::kDeviceEnvVar) + ": " + *error;
            return false;
        }
        if (!imagePath.empty()) {
            std::string reason;
            if (!emu::ImageFormatSupported(imagePath, &reason)) {
                *error = imagePath + ": " + reason;
                return false;
            }
            config.imagePath = imagePath;
        }
        auto projector = std::make_unique<emu::VirtualProjector>(config);
        virtual_ = projector.get();
        backend_ = std::move(projector);
    } else {
#if defined(_WIN32)
        backend_.reset(CreateWin32DeviceBackend());
#else
        backend_.reset(CreateLinuxDeviceBackend());
#endif
    }
    g_pDeviceBackend = backend_.get();
    if (!CheckUnits(backend_.get(), error)) {
        return false;
    }
    if (OpenDriverlessDevice() != 1) {
        *error = "the projector's units could not be opened (" + Trimmed(g_LastTrace) + ")";
        return false;
    }
    return true;
}

bool ProjectorSession::Finish(std::string* error) {
    if (virtual_ == nullptr) {
        return true;
    }
    if (!virtual_->Flush(error)) {
        return false;
    }
    emu::EmulatorReport report = virtual_->Report();
    if (report.protocolErrorCount > 0) {
        *error = "the virtual projector saw " + std::to_string(report.protocolErrorCount) +
                 " protocol errors, the first: " + report.protocolErrors.front();
        return false;
    }
    return true;
}

std::string ProjectorSession::LastTrace() {
    return Trimmed(g_LastTrace);
}

const char* ProjectorSession::LinkName() {
    switch (g_USB3_0 & LINK_SPEED_MASK) {
        case LINK_USB3_0:
            return "USB 3.0";
        case LINK_USB2_0:
            return "USB 2.0";
        case LINK_USB1_1:
            return "USB 1.1";
        default:
            return "no link";
    }
}
