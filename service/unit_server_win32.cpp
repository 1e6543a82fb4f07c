#include "service/unit_server_win32.h"

#include <sddl.h>

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

// Only the service: the section is unnamed, and the agent's handle to it is made for it.
constexpr wchar_t SECTION_SECURITY[] = L"D:P(A;;GA;;;SY)";

// One agent's connection: its pipe, the section its writes' data comes in, and the event its
// transfers wait on.
struct Connection {
    UnitServer* server;
    HANDLE pipe;
    uint8_t* section;  // SERVICE_SECTION_BYTES
    HANDLE event;
};

// One overlapped transfer of exactly `length` bytes; false when the pipe broke or the
// service stops.
bool Transfer(const Connection& connection, bool write, void* buffer, uint32_t length) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    bool ok = true;
    while (ok && length > 0) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = connection.event;
        DWORD moved = 0;
        BOOL done = write ? WriteFile(connection.pipe, bytes, length, &moved, &overlapped)
                          : ReadFile(connection.pipe, bytes, length, &moved, &overlapped);
        if (!done && GetLastError() == ERROR_IO_PENDING) {
            HANDLE waits[] = {connection.event, connection.server->stopEvent};
            if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
                CancelIo(connection.pipe);
            }
            done = GetOverlappedResult(connection.pipe, &overlapped, &moved, TRUE);
        }
        ok = done && moved > 0;
        bytes += moved;
        length -= moved;
    }
    return ok;
}

// Serves one batch; false when the connection is done. A batch that does not fit the section
// cannot be read past, and ends the connection.
bool ServeBatch(Connection* connection) {
    UnitServer* server = connection->server;
    uint8_t header[SERVICE_BATCH_HEADER_BYTES];
    if (!Transfer(*connection, false, header, sizeof header)) {
        return false;
    }
    const uint32_t count = GetServiceWord(header);
    const uint32_t first = GetServiceWord(header + 4);
    if (!BatchFitsSection(count, first)) {
        DebugPrint("vorn_kvusb_service: refused a batch of %u requests from slot %u\n", count,
                   first);
        return false;
    }
    uint8_t records[SERVICE_BATCH_MAX * SERVICE_REQUEST_BYTES];
    if (!Transfer(*connection, false, records, count * SERVICE_REQUEST_BYTES)) {
        return false;
    }
    ServedUnits served;
    served.backend = server->backend;
    for (int unit = 0; unit < 3; ++unit) {
        served.units[unit] = server->units[unit];
        served.limitsStated[unit] = server->limitsStated[unit];
        served.limits[unit] = server->limits[unit];
    }
    served.readBuffer = server->buffer;
    served.lock = &server->unitLock;
    uint8_t answer[SERVICE_ANSWER_MAX_BYTES];
    const uint32_t answerBytes =
        RunServiceBatch(served, records, count, first, connection->section,
                        server->closeAsked ? SERVICE_FLAG_CLOSE : 0, answer);
    return Transfer(*connection, true, answer, answerBytes);
}

DWORD WINAPI ServeAgent(void* context) {
    auto* connection = static_cast<Connection*>(context);
    UnitServer* server = connection->server;
    DebugPrint("vorn_kvusb_service: an agent connected\n");
    while (ServeBatch(connection)) {
    }
    DebugPrint("vorn_kvusb_service: the agent is gone\n");
    DisconnectNamedPipe(connection->pipe);
    CloseHandle(connection->pipe);
    UnmapViewOfFile(connection->section);
    CloseHandle(connection->event);
    delete connection;
    server->serving = false;
    return 0;
}

// A section of SERVICE_SECTION_BYTES mapped here, and a handle to it in the process at the
// pipe's other end with the right to map it and nothing more; 0 when any step fails.
uint64_t ShareSection(HANDLE pipe, uint8_t** view) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(SECTION_SECURITY, SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        return 0;
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    HANDLE section = CreateFileMappingW(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0,
                                        SERVICE_SECTION_BYTES, nullptr);
    LocalFree(descriptor);
    if (section == nullptr) {
        return 0;
    }
    *view =
        static_cast<uint8_t*>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, SERVICE_SECTION_BYTES));
    ULONG clientId = 0;
    HANDLE client = nullptr;
    HANDLE remote = nullptr;
    if (*view != nullptr && GetNamedPipeClientProcessId(pipe, &clientId) &&
        (client = OpenProcess(PROCESS_DUP_HANDLE, FALSE, clientId)) != nullptr) {
        DuplicateHandle(GetCurrentProcess(), section, client, &remote,
                        FILE_MAP_READ | FILE_MAP_WRITE, FALSE, 0);
        CloseHandle(client);
    }
    CloseHandle(section);
    if (remote == nullptr && *view != nullptr) {
        UnmapViewOfFile(*view);
        *view = nullptr;
    }
    return reinterpret_cast<uintptr_t>(remote);
}

// The answer to a client that is not served: its word, and no paths.
void Turn(const Connection& connection, uint32_t word) {
    ServiceHello hello;
    hello.word = word;
    uint8_t bytes[SERVICE_HELLO_BYTES];
    EncodeServiceHello(hello, bytes);
    Transfer(connection, true, bytes, sizeof bytes);
    HANDLE pipe = connection.pipe;
    FlushFileBuffers(pipe);
    DisconnectNamedPipe(pipe);
    CloseHandle(pipe);
}

// Who may be served: one program at a time, from the agent's session.
void Admit(UnitServer* server, HANDLE pipe, HANDLE event) {
    Connection connection{server, pipe, nullptr, event};
    ULONG session = NO_SESSION;
    if (!GetNamedPipeClientSessionId(pipe, &session) || session != server->clientSession) {
        DebugPrint("vorn_kvusb_service: refused a program of session %d, the agent's is %d\n",
                   static_cast<int>(session), static_cast<int>(server->clientSession.load()));
        Turn(connection, SERVICE_REFUSED_SESSION);
        return;
    }
    if (server->serving) {
        DebugPrint("vorn_kvusb_service: refused a second agent\n");
        Turn(connection, SERVICE_BUSY);
        return;
    }
    ServiceHello hello;
    hello.word = SERVICE_WELCOME;
    for (uint8_t unit : {SERVICE_UNIT_DISK, SERVICE_UNIT_OPTICAL}) {
        hello.paths[unit - 1] = server->paths[unit];
        hello.limitsStated[unit - 1] = server->limitsStated[unit];
        hello.limits[unit - 1] = server->limits[unit];
    }
    hello.section = ShareSection(pipe, &connection.section);
    if (hello.section == 0) {
        DebugPrint("vorn_kvusb_service: no data section for the agent (%lu)\n", GetLastError());
        CloseHandle(pipe);
        return;
    }
    uint8_t bytes[SERVICE_HELLO_BYTES];
    EncodeServiceHello(hello, bytes);
    HANDLE ownEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (ownEvent == nullptr || !Transfer(connection, true, bytes, sizeof bytes)) {
        UnmapViewOfFile(connection.section);
        CloseHandle(pipe);
        if (ownEvent != nullptr) {
            CloseHandle(ownEvent);
        }
        return;
    }
    connection.event = ownEvent;
    server->serving = true;
    auto* served = new Connection(connection);
    HANDLE thread = CreateThread(nullptr, 0, ServeAgent, served, 0, nullptr);
    if (thread == nullptr) {
        server->serving = false;
        UnmapViewOfFile(connection.section);
        CloseHandle(ownEvent);
        CloseHandle(pipe);
        delete served;
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
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    while (event != nullptr && WaitForSingleObject(server->stopEvent, 0) != WAIT_OBJECT_0) {
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
        overlapped.hEvent = event;
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
        if (connected) {
            Admit(server, pipe, event);
        } else {
            CloseHandle(pipe);
        }
    }
    if (event != nullptr) {
        CloseHandle(event);
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
        server->limitsStated[unit] =
            server->backend->GetTransferLimits(server->units[unit], &server->limits[unit]);
        if (server->limitsStated[unit]) {
            const TransferLimits& limits = server->limits[unit];
            DebugPrint(
                "vorn_kvusb_service: its adapter: AlignmentMask 0x%x, MaximumTransferLength %u, "
                "MaximumPhysicalPages %u\n",
                limits.alignmentMask, limits.maximumTransferLength, limits.maximumPhysicalPages);
        }
    }
    server->buffer = static_cast<uint8_t*>(
        VirtualAlloc(nullptr, PAGE_BYTES, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (server->buffer == nullptr) {
        CloseProjectorUnits(server);
        return false;
    }
    // A slice is written from a section slot, page-aligned as this buffer. The agent's own
    // start-up refuses such an adapter, as the in-process program does; the service refuses
    // the writes.
    if (server->limitsStated[SERVICE_UNIT_OPTICAL] &&
        !AdapterTakes(server->limits[SERVICE_UNIT_OPTICAL],
                      reinterpret_cast<uintptr_t>(server->buffer), SLICE_WRITE_BYTES)) {
        DebugPrint(
            "vorn_kvusb_service: the optical unit's adapter cannot take a %u-byte frame slice "
            "in one request\n",
            SLICE_WRITE_BYTES);
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
    if (server->buffer != nullptr) {
        VirtualFree(server->buffer, 0, MEM_RELEASE);
        server->buffer = nullptr;
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
