#include "service/unit_server_win32.h"

#include <sddl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "device/device_discovery.h"
#include "device/frame_transfer.h"
#include "device/scsi_commands.h"
#include "device/service_channel.h"
#include "platform/debug_print.h"

namespace {

constexpr DWORD PIPE_INSTANCES = 2;  // the agent's, and one to tell a second client no
constexpr DWORD PIPE_BUFFER_BYTES = 64 * 1024;

// System full access; interactive users (those signed in at this machine) read and write;
// network logons denied. PIPE_REJECT_REMOTE_CLIENTS refuses other machines besides.
constexpr wchar_t PIPE_SECURITY[] = L"D:P(D;;GA;;;NU)(A;;GA;;;SY)(A;;GRGW;;;IU)";

// One overlapped transfer of exactly `length` bytes; false when the pipe broke or the
// service stops.
bool Transfer(UnitServer* server, HANDLE pipe, bool write, void* buffer, uint32_t length) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    bool ok = overlapped.hEvent != nullptr;
    while (ok && length > 0) {
        ResetEvent(overlapped.hEvent);
        DWORD moved = 0;
        BOOL done = write ? WriteFile(pipe, bytes, length, &moved, &overlapped)
                          : ReadFile(pipe, bytes, length, &moved, &overlapped);
        if (!done && GetLastError() == ERROR_IO_PENDING) {
            HANDLE waits[] = {overlapped.hEvent, server->stopEvent};
            if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
                CancelIo(pipe);
            }
            done = GetOverlappedResult(pipe, &overlapped, &moved, TRUE);
        }
        ok = done && moved > 0;
        bytes += moved;
        length -= moved;
    }
    if (overlapped.hEvent != nullptr) {
        CloseHandle(overlapped.hEvent);
    }
    return ok;
}

std::string CdbText(const uint8_t* cdb) {
    std::string text;
    char hex[4];
    for (int i = 0; i < 16; ++i) {
        std::snprintf(hex, sizeof hex, i == 0 ? "%02X" : " %02X", cdb[i]);
        text += hex;
    }
    return text;
}

// Serves one request; false when the connection is done.
bool ServeRequest(UnitServer* server, HANDLE pipe) {
    uint8_t record[SERVICE_REQUEST_BYTES];
    if (!Transfer(server, pipe, false, record, sizeof record)) {
        return false;
    }
    const ServiceRequest request = DecodeServiceRequest(record);
    const char* reason = nullptr;
    const bool allowed = IsProjectorRequest(request, &reason);
    const bool dataOut = request.dataIn == SCSI_IOCTL_DATA_OUT;
    // A write's data follows whatever the verdict; a refused one's is read and dropped, so
    // that the next request is read from its start.
    for (uint32_t left = dataOut ? request.dataTransferLength : 0; left > 0;) {
        uint32_t part = std::min(left, TRANSFER_BUFFER_BYTES);
        if (!Transfer(server, pipe, false, server->buffer, part)) {
            return false;
        }
        left -= part;
    }
    ServiceReply reply{SERVICE_REFUSED, server->closeAsked ? SERVICE_FLAG_CLOSE : 0};
    if (allowed) {
        std::lock_guard<std::mutex> hold(server->unitLock);
        if (!dataOut) {
            std::memset(server->buffer, 0, request.dataTransferLength);
        }
        reply.error = server->backend->SendScsi(server->units[request.unit],
                                                ToScsiRequest(request, server->buffer));
    } else {
        DebugPrint("vorn_kvusb_service: refused a request, %s: unit %u, CDB %s, %u bytes\n", reason,
                   request.unit, CdbText(request.cdb).c_str(), request.dataTransferLength);
    }
    uint8_t answer[SERVICE_REPLY_BYTES];
    EncodeServiceReply(reply, answer);
    if (!Transfer(server, pipe, true, answer, sizeof answer)) {
        return false;
    }
    if (allowed && !dataOut && reply.error == 0 && request.dataTransferLength > 0) {
        return Transfer(server, pipe, true, server->buffer, request.dataTransferLength);
    }
    return true;
}

struct Connection {
    UnitServer* server;
    HANDLE pipe;
};

DWORD WINAPI ServeAgent(void* context) {
    auto* connection = static_cast<Connection*>(context);
    UnitServer* server = connection->server;
    DebugPrint("vorn_kvusb_service: an agent connected\n");
    while (ServeRequest(server, connection->pipe)) {
    }
    DebugPrint("vorn_kvusb_service: the agent is gone\n");
    DisconnectNamedPipe(connection->pipe);
    CloseHandle(connection->pipe);
    delete connection;
    server->serving = false;
    return 0;
}

// The answer to a client that is not served: its word, and no paths.
void Turn(UnitServer* server, HANDLE pipe, uint32_t word) {
    uint8_t hello[SERVICE_HELLO_BYTES];
    EncodeServiceHello(word, "", "", hello);
    Transfer(server, pipe, true, hello, sizeof hello);
    FlushFileBuffers(pipe);
    DisconnectNamedPipe(pipe);
    CloseHandle(pipe);
}

// Who may be served: one program at a time, from the agent's session.
void Admit(UnitServer* server, HANDLE pipe) {
    ULONG session = NO_SESSION;
    if (!GetNamedPipeClientSessionId(pipe, &session) || session != server->clientSession) {
        DebugPrint("vorn_kvusb_service: refused a program of session %d, the agent's is %d\n",
                   static_cast<int>(session), static_cast<int>(server->clientSession.load()));
        Turn(server, pipe, SERVICE_REFUSED_SESSION);
        return;
    }
    if (server->serving) {
        DebugPrint("vorn_kvusb_service: refused a second agent\n");
        Turn(server, pipe, SERVICE_BUSY);
        return;
    }
    uint8_t hello[SERVICE_HELLO_BYTES];
    EncodeServiceHello(SERVICE_WELCOME, server->paths[SERVICE_UNIT_DISK],
                       server->paths[SERVICE_UNIT_OPTICAL], hello);
    if (!Transfer(server, pipe, true, hello, sizeof hello)) {
        CloseHandle(pipe);
        return;
    }
    server->serving = true;
    HANDLE thread = CreateThread(nullptr, 0, ServeAgent, new Connection{server, pipe}, 0, nullptr);
    if (thread == nullptr) {
        server->serving = false;
        CloseHandle(pipe);
        return;
    }
    CloseHandle(thread);
}

DWORD WINAPI Listen(void* context) {
    auto* server = static_cast<UnitServer*>(context);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(PIPE_SECURITY, SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        DebugPrint("vorn_kvusb_service: no security descriptor for the pipe (%lu)\n",
                   GetLastError());
        return 1;
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    while (WaitForSingleObject(server->stopEvent, 0) != WAIT_OBJECT_0) {
        HANDLE pipe = CreateNamedPipeA(
            SERVICE_PIPE_NAME, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
            PIPE_INSTANCES, PIPE_BUFFER_BYTES, PIPE_BUFFER_BYTES, 0, &attributes);
        if (pipe == INVALID_HANDLE_VALUE) {
            DebugPrint("vorn_kvusb_service: CreateNamedPipe failed (%lu)\n", GetLastError());
            WaitForSingleObject(server->stopEvent, 1000);
            continue;
        }
        SetEvent(server->listening);
        OVERLAPPED overlapped{};
        overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        bool connected =
            ConnectNamedPipe(pipe, &overlapped) != 0 || GetLastError() == ERROR_PIPE_CONNECTED;
        if (!connected && GetLastError() == ERROR_IO_PENDING) {
            HANDLE waits[] = {overlapped.hEvent, server->stopEvent};
            if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
                CancelIo(pipe);
            }
            DWORD unused = 0;
            connected = GetOverlappedResult(pipe, &overlapped, &unused, TRUE) != 0;
        }
        CloseHandle(overlapped.hEvent);
        if (connected) {
            Admit(server, pipe);
        } else {
            CloseHandle(pipe);
        }
    }
    LocalFree(descriptor);
    return 0;
}

bool FindUnitPaths(UnitServer* server) {
    for (uint32_t index = 0;; ++index) {
        std::string path;
        uint32_t error = 0;
        InterfaceLookup lookup = server->backend->GetDiskInterface(index, &path, &error);
        if (lookup == InterfaceLookup::ListFailed || lookup == InterfaceLookup::EnumFailed) {
            break;
        }
        if (lookup != InterfaceLookup::Found) {
            continue;
        }
        if (server->paths[SERVICE_UNIT_DISK].empty() &&
            PathContainsText(path, DISK_UNIT_SEARCH_TEXT)) {
            server->paths[SERVICE_UNIT_DISK] = path;
        } else if (server->paths[SERVICE_UNIT_OPTICAL].empty() &&
                   PathContainsText(path, OPTICAL_UNIT_SEARCH_TEXT)) {
            server->paths[SERVICE_UNIT_OPTICAL] = path;
        }
    }
    return !server->paths[SERVICE_UNIT_DISK].empty() &&
           !server->paths[SERVICE_UNIT_OPTICAL].empty();
}

}  // namespace

bool OpenProjectorUnits(UnitServer* server) {
    if (!FindUnitPaths(server)) {
        DebugPrint("vorn_kvusb_service: no projector among the disk interfaces\n");
        return false;
    }
    for (uint8_t unit : {SERVICE_UNIT_DISK, SERVICE_UNIT_OPTICAL}) {
        uint32_t error = 0;
        server->units[unit] = server->backend->OpenUnit(server->paths[unit], &error);
        if (server->units[unit] == nullptr) {
            DebugPrint("vorn_kvusb_service: cannot open %s (%d)\n", server->paths[unit].c_str(),
                       static_cast<int>(error));
            CloseProjectorUnits(server);
            return false;
        }
        DebugPrint("vorn_kvusb_service: opened %s\n", server->paths[unit].c_str());
    }
    server->buffer = static_cast<uint8_t*>(
        VirtualAlloc(nullptr, TRANSFER_BUFFER_BYTES, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (server->buffer == nullptr) {
        CloseProjectorUnits(server);
        return false;
    }
    // The command layer's own reads (the probe) and the volume search go through the same
    // backend and unit.
    g_pDeviceBackend = server->backend;
    g_hDisk2 = server->units[SERVICE_UNIT_DISK];
    HideDisk();
    return true;
}

void CloseProjectorUnits(UnitServer* server) {
    std::lock_guard<std::mutex> hold(server->unitLock);
    for (DeviceHandle& unit : server->units) {
        if (unit != nullptr) {
            server->backend->CloseUnit(unit);
            unit = nullptr;
        }
    }
}

bool ProjectorAnswers(UnitServer* server) {
    std::lock_guard<std::mutex> hold(server->unitLock);
    return scsi_cmd_read_link_speed() == 0;
}

bool StartUnitServer(UnitServer* server) {
    constexpr DWORD LISTEN_WAIT_MS = 5000;
    server->listening = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    server->listener = CreateThread(nullptr, 0, Listen, server, 0, nullptr);
    // The agent is started next, and must find the pipe.
    return server->listener != nullptr &&
           WaitForSingleObject(server->listening, LISTEN_WAIT_MS) == WAIT_OBJECT_0;
}

void StopUnitServer(UnitServer* server) {
    SetEvent(server->stopEvent);
    if (server->listener != nullptr) {
        WaitForSingleObject(server->listener, INFINITE);
        CloseHandle(server->listener);
        server->listener = nullptr;
    }
    if (server->listening != nullptr) {
        CloseHandle(server->listening);
        server->listening = nullptr;
    }
    // The agent's thread sees the stop in its transfer and lets go of the pipe.
    for (int waited = 0; server->serving && waited < 50; ++waited) {
        Sleep(20);
    }
}
