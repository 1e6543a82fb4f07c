#include "service/unit_server_win32.h"

#include <sddl.h>

#include "device/channel_deadlines.h"
#include "device/device_discovery.h"
#include "device/frame_transfer.h"
#include "device/pipe_io_win32.h"
#include "device/scsi_commands.h"
#include "device/service_channel.h"
#include "platform/debug_print.h"
#include "service/client_admission.h"
#include "service/device_service_win32.h"

namespace {

constexpr DWORD PIPE_BUFFER_BYTES = 64 * 1024;
// Clients at once, each on a thread of its own; one is served, the others are told no within
// their deadlines. More wait for a thread to end, the name held meanwhile.
constexpr int MAX_CONNECTIONS = 8;
constexpr DWORD RETRY_MS = 1000;
// How long the agent's connection waits for the program it takes the place of to be gone.
constexpr ULONGLONG PREEMPT_MS = 2000;
constexpr DWORD POLL_MS = 20;

// The service full access (its own SID where Windows gives it one, else the system's);
// interactive users (those signed in at this machine) read, write data and wait, and nothing
// more: FILE_GENERIC_WRITE would let them create instances of the pipe. Network logons denied.
// PIPE_REJECT_REMOTE_CLIENTS refuses other machines besides.
constexpr wchar_t PIPE_SECURITY[] = L"D:P(D;;GA;;;NU)(A;;GA;;;%ls)(A;;0x12008b;;;IU)";
static_assert((FILE_GENERIC_READ | FILE_WRITE_DATA) == 0x12008b);

// Only the service: the section is unnamed, and the agent's handle to it is made for it.
constexpr wchar_t SECTION_SECURITY[] = L"D:P(A;;GA;;;%ls)";

// The service's own SID as SDDL text when its token carries it (an unrestricted service SID),
// else the system's.
const std::wstring& ServiceSidText() {
    static const std::wstring text = [] {
        std::wstring account = std::wstring(L"NT SERVICE\\") + SERVICE_NAME;
        BYTE sid[SECURITY_MAX_SID_SIZE];
        DWORD sidBytes = sizeof sid;
        wchar_t domain[256];
        DWORD domainChars = 256;
        SID_NAME_USE use{};
        BOOL member = FALSE;
        wchar_t* converted = nullptr;
        if (!LookupAccountNameW(nullptr, account.c_str(), sid, &sidBytes, domain, &domainChars,
                                &use) ||
            !CheckTokenMembership(nullptr, sid, &member) || !member ||
            !ConvertSidToStringSidW(sid, &converted)) {
            DebugPrint("vorn_kvusb_service: no service SID in its token, the system's is used\n");
            return std::wstring(L"SY");
        }
        std::wstring own(converted);
        LocalFree(converted);
        return own;
    }();
    return text;
}

// A descriptor from one of the templates above; freed with LocalFree.
PSECURITY_DESCRIPTOR OwnDescriptor(const wchar_t* format) {
    wchar_t text[256];
    swprintf(text, 256, format, ServiceSidText().c_str());
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text, SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
        DebugPrint("vorn_kvusb_service: no security descriptor (%lu)\n", GetLastError());
        return nullptr;
    }
    return descriptor;
}

bool Stopping(UnitServer* server, DWORD waitMs) {
    return WaitForSingleObject(server->stopEvent, waitMs) == WAIT_OBJECT_0;
}

// One client's connection: its pipe, the events its transfers wait on and that drops it, and
// once served the section its writes' data comes in.
struct Connection {
    UnitServer* server;
    HANDLE pipe;
    HANDLE event;
    HANDLE drop;
    uint8_t* section;  // SERVICE_SECTION_BYTES
};

bool Transfer(const Connection& connection, bool write, void* buffer, uint32_t length,
              ChannelWait wait) {
    PipeWaits waits{connection.event, ChannelDeadline(wait, GetTickCount64()),
                    connection.server->stopEvent, connection.drop};
    return MovePipeBytes(connection.pipe, write, buffer, length, waits);
}

// Serves one batch; false when the connection is done. A batch that does not fit the section
// cannot be read past, and ends the connection; so does a client silent longer than the
// agent ever is, or slow to send a batch it began or to take its answer.
bool ServeBatch(Connection* connection) {
    UnitServer* server = connection->server;
    uint8_t header[SERVICE_BATCH_HEADER_BYTES];
    if (!Transfer(*connection, false, header, sizeof header, ChannelWait::NextBatch)) {
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
    if (!Transfer(*connection, false, records, count * SERVICE_REQUEST_BYTES,
                  ChannelWait::RestOfBatch)) {
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
    return Transfer(*connection, true, answer, answerBytes, ChannelWait::Answer);
}

// A section of SERVICE_SECTION_BYTES mapped here, and a handle to it in the process at the
// pipe's other end with the right to map it and nothing more; 0 when any step fails.
uint64_t ShareSection(HANDLE pipe, uint8_t** view) {
    PSECURITY_DESCRIPTOR descriptor = OwnDescriptor(SECTION_SECURITY);
    if (descriptor == nullptr) {
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

// The user SID of a token, or nothing.
std::vector<uint8_t> TokenUserSid(HANDLE token) {
    DWORD needed = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &needed);
    std::vector<uint8_t> buffer(needed);
    if (needed == 0 || !GetTokenInformation(token, TokenUser, buffer.data(), needed, &needed)) {
        return {};
    }
    PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    const auto* bytes = static_cast<const uint8_t*>(sid);
    return std::vector<uint8_t>(bytes, bytes + GetLengthSid(sid));
}

// The client's user, from the identification-level token its greeting came with; nothing
// when it cannot be had. A thread that cannot stop impersonating ends the process rather
// than serve anyone as someone else.
std::vector<uint8_t> ClientUser(HANDLE pipe) {
    if (!ImpersonateNamedPipeClient(pipe)) {
        DebugPrint("vorn_kvusb_service: ImpersonateNamedPipeClient failed (%lu)\n", GetLastError());
        return {};
    }
    HANDLE token = nullptr;
    const bool opened = OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token) != 0;
    if (!RevertToSelf()) {
        DebugPrint("vorn_kvusb_service: RevertToSelf failed (%lu)\n", GetLastError());
        ExitProcess(1);
    }
    if (!opened) {
        return {};
    }
    std::vector<uint8_t> user = TokenUserSid(token);
    CloseHandle(token);
    return user;
}

// Whether the client is the console user's program in the agent's session, and nobody is
// served: then it is, from now on, and its drop event is the one a user switch sets. The
// agent the service started takes the place of any other program served before it.
Admission Admit(const Connection& connection) {
    UnitServer* server = connection.server;
    uint8_t greeting[4] = {};
    PipeClient client{NO_SESSION, false, false, false};
    std::vector<uint8_t> user;
    if (Transfer(connection, false, greeting, sizeof greeting, ChannelWait::Greeting) &&
        GetServiceWord(greeting) == SERVICE_GREETING) {
        ULONG session = NO_SESSION;
        client.session =
            GetNamedPipeClientSessionId(connection.pipe, &session) ? session : NO_SESSION;
        user = ClientUser(connection.pipe);
        client.identified = !user.empty();
    }
    ULONG process = 0;
    GetNamedPipeClientProcessId(connection.pipe, &process);
    for (ULONGLONG waited = 0;; waited += POLL_MS) {
        std::unique_lock<std::mutex> hold(server->clientLock);
        client.consoleUser = client.identified && user == server->consoleUser;
        client.agent = process != 0 && process == server->agentProcessId;
        const bool agentAwaited = server->agentProcessId != 0 && !server->agentServed;
        const Admission admission =
            AdmitClient(client, server->clientSession, server->serving, agentAwaited);
        if (admission == Admission::Busy && client.agent && agentAwaited && waited < PREEMPT_MS &&
            !Stopping(server, 0)) {
            if (waited == 0) {
                DebugPrint("vorn_kvusb_service: the agent takes the place of the program served\n");
                SetEvent(server->servedDrop);
            }
            hold.unlock();
            Sleep(POLL_MS);
            continue;
        }
        if (admission == Admission::Serve) {
            server->serving = true;
            server->servedUser = user;
            server->servedDrop = connection.drop;
            server->agentServed = server->agentServed || client.agent;
        } else {
            DebugPrint("vorn_kvusb_service: refused process %lu of session %d: %s\n", process,
                       static_cast<int>(client.session),
                       admission == Admission::Busy ? "busy"
                       : !client.identified         ? "no user known"
                       : client.consoleUser         ? "not the agent's session"
                                                    : "not the console's user");
        }
        return admission;
    }
}

// The hello of a client that is served, with its section; false when it could not be made
// or sent.
bool Welcome(Connection* connection) {
    UnitServer* server = connection->server;
    ServiceHello hello;
    hello.word = SERVICE_WELCOME;
    for (uint8_t unit : {SERVICE_UNIT_DISK, SERVICE_UNIT_OPTICAL}) {
        hello.paths[unit - 1] = server->paths[unit];
        hello.limitsStated[unit - 1] = server->limitsStated[unit];
        hello.limits[unit - 1] = server->limits[unit];
    }
    hello.section = ShareSection(connection->pipe, &connection->section);
    if (hello.section == 0) {
        DebugPrint("vorn_kvusb_service: no data section for the agent (%lu)\n", GetLastError());
        return false;
    }
    uint8_t bytes[SERVICE_HELLO_BYTES];
    EncodeServiceHello(hello, bytes);
    return Transfer(*connection, true, bytes, sizeof bytes, ChannelWait::Reply);
}

// The answer to a client that is not served: its word, and no paths. It goes into the pipe's
// buffer, and the handle is closed without waiting for the client to read it: closed rather
// than disconnected, the instance keeps the word for the client until it closes its end.
void Turn(const Connection& connection, uint32_t word) {
    ServiceHello hello;
    hello.word = word;
    uint8_t bytes[SERVICE_HELLO_BYTES];
    EncodeServiceHello(hello, bytes);
    Transfer(connection, true, bytes, sizeof bytes, ChannelWait::Reply);
}

DWORD WINAPI ServeClient(void* context) {
    auto* connection = static_cast<Connection*>(context);
    UnitServer* server = connection->server;
    const Admission admission = Admit(*connection);
    if (admission == Admission::Serve) {
        DebugPrint("vorn_kvusb_service: an agent connected\n");
        if (Welcome(connection)) {
            while (ServeBatch(connection)) {
            }
        }
        DebugPrint("vorn_kvusb_service: the agent is gone\n");
    } else {
        Turn(*connection, admission == Admission::Busy ? SERVICE_BUSY : SERVICE_REFUSED_SESSION);
    }
    CloseHandle(connection->pipe);
    if (connection->section != nullptr) {
        UnmapViewOfFile(connection->section);
    }
    if (admission == Admission::Serve) {
        std::lock_guard<std::mutex> hold(server->clientLock);
        server->servedDrop = nullptr;
        server->servedUser.clear();
        server->serving = false;
        SetEvent(server->pipeChanged);
    }
    CloseHandle(connection->event);
    CloseHandle(connection->drop);
    delete connection;
    --server->connections;  // the last use of the server
    return 0;
}

// A thread of its own for a connected client; the pipe is closed when none can be had.
void HandOff(UnitServer* server, HANDLE pipe) {
    auto* connection = new Connection{server, pipe, CreateEventW(nullptr, TRUE, FALSE, nullptr),
                                      CreateEventW(nullptr, TRUE, FALSE, nullptr), nullptr};
    ++server->connections;
    HANDLE thread = connection->event != nullptr && connection->drop != nullptr
                        ? CreateThread(nullptr, 0, ServeClient, connection, 0, nullptr)
                        : nullptr;
    if (thread == nullptr) {
        DebugPrint("vorn_kvusb_service: no thread for a client (%lu)\n", GetLastError());
        CloseHandle(pipe);
        for (HANDLE event : {connection->event, connection->drop}) {
            if (event != nullptr) {
                CloseHandle(event);
            }
        }
        delete connection;
        --server->connections;
        return;
    }
    CloseHandle(thread);
}

// An instance of the pipe. The first must be the name's first: a process that took the name
// before the service would otherwise be given the service's clients. Later ones are made
// while one of the service's own is open, so the name is never free in between.
HANDLE CreateInstance(SECURITY_ATTRIBUTES* attributes, bool first) {
    return CreateNamedPipeA(
        SERVICE_PIPE_NAME,
        PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
        PIPE_UNLIMITED_INSTANCES, PIPE_BUFFER_BYTES, PIPE_BUFFER_BYTES, 0, attributes);
}

// Waits for a client on `pipe`; false when the service stops first or the connection failed.
bool AwaitClient(UnitServer* server, HANDLE pipe, HANDLE event) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    if (ConnectNamedPipe(pipe, &overlapped) || GetLastError() == ERROR_PIPE_CONNECTED) {
        return true;
    }
    if (GetLastError() != ERROR_IO_PENDING) {
        return false;
    }
    HANDLE waits[] = {event, server->stopEvent};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
        CancelIoEx(pipe, &overlapped);
    }
    DWORD unused = 0;
    return GetOverlappedResult(pipe, &overlapped, &unused, TRUE) != 0;
}

DWORD WINAPI Listen(void* context) {
    auto* server = static_cast<UnitServer*>(context);
    PSECURITY_DESCRIPTOR descriptor = OwnDescriptor(PIPE_SECURITY);
    if (descriptor == nullptr) {
        return 1;
    }
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) {
        LocalFree(descriptor);
        return 1;
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    HANDLE pending = INVALID_HANDLE_VALUE;
    DWORD lastError = NO_ERROR;
    while (!Stopping(server, 0)) {
        if (pending == INVALID_HANDLE_VALUE) {
            pending = CreateInstance(&attributes, server->connections == 0);
            if (pending == INVALID_HANDLE_VALUE) {
                // Traced at every try: a name held by another process is an attack.
                lastError = GetLastError();
                DebugPrint(lastError == ERROR_ACCESS_DENIED
                               ? "vorn_kvusb_service: another process holds the pipe's name, "
                                 "trying again in a second (%lu)\n"
                               : "vorn_kvusb_service: CreateNamedPipe failed (%lu)\n",
                           lastError);
                Stopping(server, RETRY_MS);
                continue;
            }
            if (lastError != NO_ERROR ||
                WaitForSingleObject(server->listening, 0) != WAIT_OBJECT_0) {
                DebugPrint("vorn_kvusb_service: the pipe is the service's\n");
                SetEvent(server->listening);
                SetEvent(server->pipeChanged);
            }
            lastError = NO_ERROR;
        }
        if (server->connections >= MAX_CONNECTIONS) {
            Stopping(server, 50);
            continue;
        }
        if (!AwaitClient(server, pending, event)) {
            CloseHandle(pending);
            pending = INVALID_HANDLE_VALUE;
            continue;
        }
        HANDLE connected = pending;
        pending = CreateInstance(&attributes, false);
        HandOff(server, connected);
    }
    if (pending != INVALID_HANDLE_VALUE) {
        CloseHandle(pending);
    }
    CloseHandle(event);
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
    server->listening = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    server->pipeChanged = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    server->listener = server->listening != nullptr && server->pipeChanged != nullptr
                           ? CreateThread(nullptr, 0, Listen, server, 0, nullptr)
                           : nullptr;
    return server->listener != nullptr;
}

void StopUnitServer(UnitServer* server) {
    SetEvent(server->stopEvent);
    if (server->listener != nullptr) {
        WaitForSingleObject(server->listener, INFINITE);
        CloseHandle(server->listener);
        server->listener = nullptr;
    }
    // Every client thread sees the stop in its next wait; a batch on the units ends within
    // its requests' own timeouts. Until then the units, the page and the sections are theirs.
    while (server->connections > 0) {
        Sleep(POLL_MS);
    }
    for (HANDLE* event : {&server->listening, &server->pipeChanged}) {
        if (*event != nullptr) {
            CloseHandle(*event);
            *event = nullptr;
        }
    }
}

void SetServedUser(UnitServer* server, uint32_t session, HANDLE userToken) {
    std::vector<uint8_t> user =
        userToken != nullptr ? TokenUserSid(userToken) : std::vector<uint8_t>();
    std::lock_guard<std::mutex> hold(server->clientLock);
    server->clientSession = session;
    server->consoleUser = user;
    if (server->servedDrop != nullptr && (session == NO_SESSION || server->servedUser != user)) {
        DebugPrint("vorn_kvusb_service: the served program is not the console user's, dropped\n");
        SetEvent(server->servedDrop);
    }
}
