#include "bench/projector_process.h"

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "device/device_discovery.h"
#include "emulator/sg_nodes/sg_node_forward.h"
#include "emulator/virtual_projector.h"

namespace {

// A request as it crosses: the unit as this process knows it, then the request record (its
// buffer address meaningless on the other side), then the data it sends, if any. The answer:
// the result, then the data it reads, if any.
struct RequestHeader {
    DeviceHandle unit;
    ScsiRequest request;
};

bool SendsData(const ScsiRequest& request) {
    return request.dataIn == SCSI_IOCTL_DATA_OUT && request.dataTransferLength > 0;
}
bool ReadsData(const ScsiRequest& request) {
    return request.dataIn == SCSI_IOCTL_DATA_IN && request.dataTransferLength > 0;
}

// The child: opens its own projector's units as the program did, and answers requests for the
// program's units with them until the program hangs up.
[[noreturn]] void Serve(int socket, const emu::VirtualConfig& config) {
    const DeviceHandle programOptical = g_hDisk1;
    const DeviceHandle programDisk = g_hDisk2;
    emu::VirtualProjector projector(config);
    g_pDeviceBackend = &projector;
    g_uOpticalSearchIndex = 0;
    g_uDiskSearchIndex = 0;
    if (OpenDriverlessDevice() != 1) {
        std::_Exit(2);
    }
    std::vector<uint8_t> data;
    RequestHeader header{};
    while (emu::ReceiveAll(socket, &header, sizeof header)) {
        data.resize(header.request.dataTransferLength);
        if (SendsData(header.request) && !emu::ReceiveAll(socket, data.data(), data.size())) {
            break;
        }
        // The address means nothing here, but whether there is one does: a command without data
        // must reach the projector without a buffer, as it left the program.
        if (header.request.dataBuffer != nullptr) {
            header.request.dataBuffer = data.data();
        }
        DeviceHandle unit = header.unit == programOptical ? g_hDisk1
                            : header.unit == programDisk  ? g_hDisk2
                                                          : header.unit;
        uint32_t result = projector.SendScsi(unit, header.request);
        if (!emu::SendAll(socket, &result, sizeof result) ||
            (ReadsData(header.request) && !emu::SendAll(socket, data.data(), data.size()))) {
            break;
        }
    }
    std::_Exit(projector.Report().protocolErrorCount == 0 ? 0 : 1);
}

}  // namespace

std::unique_ptr<ProjectorProcess> ProjectorProcess::Start(const emu::VirtualConfig& config) {
    std::unique_ptr<ProjectorProcess> process(new ProjectorProcess);
    {
        emu::VirtualProjector searched(config);
        g_pDeviceBackend = &searched;
        if (OpenDriverlessDevice() != 1) {
            std::fprintf(stderr, "the virtual projector did not open\n");
            g_pDeviceBackend = nullptr;
            return nullptr;
        }
        int sockets[2];
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, sockets) != 0) {
            std::perror("socketpair");
            return nullptr;
        }
        pid_t child = fork();
        if (child == 0) {
            close(sockets[0]);
            Serve(sockets[1], config);
        }
        close(sockets[1]);
        process->m_socket = sockets[0];
        process->m_child = child;
    }
    g_pDeviceBackend = process.get();
    return process->m_child > 0 ? std::move(process) : nullptr;
}

bool ProjectorProcess::Finish() {
    if (m_child <= 0) {
        return false;
    }
    close(m_socket);
    m_socket = -1;
    int status = 0;
    waitpid(m_child, &status, 0);
    m_child = -1;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

ProjectorProcess::~ProjectorProcess() {
    Finish();
}

uint32_t ProjectorProcess::SendScsi(DeviceHandle unit, const ScsiRequest& request) {
    RequestHeader header{unit, request};
    uint32_t result = ERROR_DEVICE_NOT_CONNECTED;
    bool answered = emu::SendAll(m_socket, &header, sizeof header) &&
                    (!SendsData(request) ||
                     emu::SendAll(m_socket, request.dataBuffer, request.dataTransferLength)) &&
                    emu::ReceiveAll(m_socket, &result, sizeof result) &&
                    (!ReadsData(request) ||
                     emu::ReceiveAll(m_socket, request.dataBuffer, request.dataTransferLength));
    return answered ? result : ERROR_DEVICE_NOT_CONNECTED;
}

// Found and opened before the child started; nothing asks again.
InterfaceLookup ProjectorProcess::GetDiskInterface(uint32_t, std::string*, uint32_t* error) {
    *error = ERROR_NO_MORE_ITEMS;
    return InterfaceLookup::EnumFailed;
}
DeviceHandle ProjectorProcess::OpenUnit(const std::string&, uint32_t* error) {
    *error = ERROR_DEVICE_NOT_CONNECTED;
    return nullptr;
}
void ProjectorProcess::CloseUnit(DeviceHandle) {}
std::vector<VolumeInfo> ProjectorProcess::ListVolumes() {
    return {};
}
void ProjectorProcess::RemoveMountPoint(const std::string&) {}
std::string ProjectorProcess::SystemErrorText(uint32_t) {
    return "";
}
