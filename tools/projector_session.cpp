#include "tools/projector_session.h"

#include <cstdlib>

#include "app/device_selection.h"
#include "device/device_discovery.h"
#include "device/unit_access.h"
#include "emulator/device_request.h"
#include "emulator/virtual_config.h"
#include "image/image_file.h"

ProjectorSession::~ProjectorSession() {
    if (g_pDeviceBackend == nullptr) {
        return;
    }
    for (DeviceHandle* unit : {&g_hDisk1, &g_hDisk2}) {
        if (*unit != nullptr) {
            g_pDeviceBackend->CloseUnit(*unit);
            *unit = nullptr;
        }
    }
    // A command ends with its session: the virtual projector writes its files as it goes.
    delete g_pDeviceBackend;
    g_pDeviceBackend = nullptr;
}

bool ProjectorSession::Open(bool useVirtual, const std::string& imagePath, std::string* error) {
    std::string reason;
    if (!imagePath.empty() && !ImageFormatSupported(imagePath, &reason)) {
        *error = imagePath + ": " + reason;
        return false;
    }
    std::string request;
    if (!emu::ComposeDeviceRequest({"", std::getenv(emu::kDeviceEnvVar), useVirtual, imagePath},
                                   &request, error)) {
        return false;
    }
    if (!SelectDeviceBackend(request.c_str(), emu::MakeVirtualProjector)) {
        *error = m_traces.Last();
        return false;
    }
    m_virtual = dynamic_cast<emu::VirtualProjector*>(g_pDeviceBackend);
    if (!CheckProjectorUnits(g_pDeviceBackend, "kvusbtool", error)) {
        return false;
    }
    int opened = OpenDriverlessDevice();
    if (opened == DEVICE_NONE) {
        *error = "no projector with a working USB link found";
        return false;
    }
    if (opened != DEVICE_OPENED) {
        *error = "the projector's units could not be opened (" + m_traces.Last() + ")";
        return false;
    }
    return true;
}

bool ProjectorSession::Finish(std::string* error) {
    if (m_virtual == nullptr) {
        return true;
    }
    if (!m_virtual->Flush(error)) {
        return false;
    }
    emu::EmulatorReport report = m_virtual->Report();
    if (report.protocolErrorCount > 0) {
        *error = "the virtual projector saw " + std::to_string(report.protocolErrorCount) +
                 " protocol errors, the first: " + report.protocolErrors.front();
        return false;
    }
    return true;
}

std::string ProjectorSession::LastTrace() const {
    return m_traces.Last();
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
