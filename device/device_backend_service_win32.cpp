#include "device/channel_deadlines.h"
#include "device/device_backend.h"
#include "device/pipe_io_win32.h"
#include "device/service_batch.h"
#include "device/service_channel.h"

#include <windows.h>

#include <cstring>
#include <mutex>

#include "platform/debug_print.h"

// The agent's backend: the tray program in a user's session has no right to the projector's
// units; the device service owns them and takes the projector's own requests over a local
// pipe, with the writes' data in a section it shares with this process alone. The engine above
// sees the units as the service names them, and each request's result as the unit gave it. A
// service that is gone is a projector that is gone.

namespace {

constexpr DWORD PIPE_WAIT_MS = 2000;
constexpr uintptr_t UNIT_COUNT = 2;

// The process running the device service, 0 when it does not run or cannot be asked.
DWORD ServiceProcessId() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager != nullptr
                            ? OpenServiceW(manager, DEVICE_SERVICE_NAME, SERVICE_QUERY_STATUS)
                            : nullptr;
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (service == nullptr ||
        !QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                              sizeof status, &needed) ||
        status.dwCurrentState != SERVICE_RUNNING) {
        status.dwProcessId = 0;
    }
    if (service != nullptr) {
        CloseServiceHandle(service);
    }
    if (manager != nullptr) {
        CloseServiceHandle(manager);
    }
    return status.dwProcessId;
}

// Whether the pipe's server is the device service (or this process itself, as in the
// benchmark): anyone may take a free pipe name, and no byte of another server's is to be
// trusted.
bool ServedByTheService(HANDLE pipe) {
    ULONG server = 0;
    const DWORD service = ServiceProcessId();
    if (!GetNamedPipeServerProcessId(pipe, &server) ||
        (server != GetCurrentProcessId() && (service == 0 || server != service))) {
        DebugPrint(
            "vorn_kvusb: the pipe's server (process %lu) is not the device service "
            "(process %lu)\n",
            server, service);
        return false;
    }
    return true;
}

struct CloseTarget {
    DWORD process;
    const wchar_t* windowClass;
};

BOOL CALLBACK PostCloseToOwnWindow(HWND window, LPARAM context) {
    const auto* target = reinterpret_cast<const CloseTarget*>(context);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t name[64] = {};
    if (process == target->process && GetClassNameW(window, name, 64) > 0 &&
        wcscmp(name, target->windowClass) == 0) {
        PostMessageW(window, WM_CLOSE, 0, 0);
    }
    return TRUE;
}

class ServiceDeviceBackend : public DeviceBackend {
  public:
    explicit ServiceDeviceBackend(const wchar_t* windowClass) : m_windowClass(windowClass) {}
    ~ServiceDeviceBackend() override {
        if (m_pipe != INVALID_HANDLE_VALUE) {
            CloseHandle(m_pipe);
            UnmapViewOfFile(m_section);
        }
        if (m_event != nullptr) {
            CloseHandle(m_event);
        }
    }

    uint32_t SendScsi(DeviceHandle unit, const ScsiRequest& request) override {
        const auto unitId = reinterpret_cast<uintptr_t>(unit);
        std::lock_guard<std::mutex> hold(m_lock);
        if (m_pipe == INVALID_HANDLE_VALUE || unitId == 0 || unitId > UNIT_COUNT) {
            return ERROR_DEVICE_NOT_CONNECTED;
        }
        bool lost = false;
        const uint32_t result = SendThroughBatch(
            &m_held, m_section, ToServiceRequest(static_cast<uint8_t>(unitId), request), request,
            ExchangeThrough, this, &lost);
        return lost ? ChannelLost() : result;
    }

    void BeginFrame() override {
        std::lock_guard<std::mutex> hold(m_lock);
        BeginHeldFrame(&m_held);
    }

    void EndFrame() override {
        std::lock_guard<std::mutex> hold(m_lock);
        EndHeldFrame(&m_held);
    }

    // The limits of the adapter behind the service's unit, as the service found them.
    bool GetTransferLimits(DeviceHandle unit, TransferLimits* limits) override {
        const auto unitId = reinterpret_cast<uintptr_t>(unit);
        std::lock_guard<std::mutex> hold(m_lock);
        if (unitId == 0 || unitId > UNIT_COUNT || !m_limitsStated[unitId - 1]) {
            return false;
        }
        *limits = m_limits[unitId - 1];
        return true;
    }

    // The service's two units, disk unit first, are the whole interface list.
    InterfaceLookup GetDiskInterface(uint32_t index, std::string* path, uint32_t* error) override {
        std::lock_guard<std::mutex> hold(m_lock);
        if (!Connect(error)) {
            return InterfaceLookup::EnumFailed;  // ends the program as with no projector
        }
        if (index >= UNIT_COUNT) {
            *error = ERROR_NO_MORE_ITEMS;
            return InterfaceLookup::EnumFailed;
        }
        *path = m_paths[index];
        return InterfaceLookup::Found;
    }

    DeviceHandle OpenUnit(const std::string& path, uint32_t* error) override {
        std::lock_guard<std::mutex> hold(m_lock);
        for (uintptr_t unit = 1; unit <= UNIT_COUNT; ++unit) {
            if (m_pipe != INVALID_HANDLE_VALUE && path == m_paths[unit - 1]) {
                return reinterpret_cast<DeviceHandle>(unit);
            }
        }
        *error = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }

    // The units stay open in the service.
    void CloseUnit(DeviceHandle) override {}

    // The service has hidden the projector's volume.
    std::vector<VolumeInfo> ListVolumes() override { return {}; }
    void RemoveMountPoint(const std::string&) override {}

    std::string SystemErrorText(uint32_t code) override { return Win32SystemErrorText(code); }

  private:
    static bool ExchangeThrough(void* context, const ServiceRequest* requests, uint32_t first,
                                uint32_t count, void* readInto, uint32_t* errors) {
        return static_cast<ServiceDeviceBackend*>(context)->Exchange(requests, first, count,
                                                                     readInto, errors);
    }

    // One batch through the pipe (see BatchExchange).
    bool Exchange(const ServiceRequest* requests, uint32_t first, uint32_t count, void* readInto,
                  uint32_t* errors) {
        uint8_t message[SERVICE_BATCH_HEADER_BYTES + SERVICE_BATCH_MAX * SERVICE_REQUEST_BYTES];
        PutServiceWord(message, count);
        PutServiceWord(message + 4, first);
        for (uint32_t i = 0; i < count; ++i) {
            EncodeServiceRequest(requests[i],
                                 message + SERVICE_BATCH_HEADER_BYTES + i * SERVICE_REQUEST_BYTES);
        }
        uint8_t answer[4 + SERVICE_BATCH_MAX * 4];
        const uint64_t deadline = ChannelDeadline(ChannelWait::BatchAnswer, GetTickCount64());
        if (!Move(m_pipe, true, message, SERVICE_BATCH_HEADER_BYTES + count * SERVICE_REQUEST_BYTES,
                  deadline) ||
            !Move(m_pipe, false, answer, 4 + count * 4, deadline)) {
            return false;
        }
        for (uint32_t i = 0; i < count; ++i) {
            errors[i] = GetServiceWord(answer + 4 + i * 4);
            const uint32_t length = requests[i].dataTransferLength;
            if (errors[i] != 0 || requests[i].dataIn != SCSI_IOCTL_DATA_IN || length == 0) {
                continue;
            }
            uint8_t unused[SERVICE_READ_MAX_BYTES];
            const bool mine = i + 1 == count && readInto != nullptr;
            if (length > SERVICE_READ_MAX_BYTES ||
                !Move(m_pipe, false, mine ? readInto : unused, length, deadline)) {
                return false;
            }
        }
        if ((GetServiceWord(answer) & SERVICE_FLAG_CLOSE) != 0 && !m_closePosted) {
            m_closePosted = true;
            DebugPrint("vorn_kvusb: the device service asks this session's program to close\n");
            CloseTarget target{GetCurrentProcessId(), m_windowClass};
            EnumWindows(PostCloseToOwnWindow, reinterpret_cast<LPARAM>(&target));
        }
        return true;
    }

    bool Move(HANDLE pipe, bool write, void* buffer, uint32_t length, uint64_t deadline) {
        return MovePipeBytes(pipe, write, buffer, length, {m_event, deadline, nullptr, nullptr});
    }

    // Once: the pipe, made sure of as the service's, the greeting that tells the service who
    // this is, and the service's welcome with the units' paths and the data section. A busy,
    // absent, silent or foreign server leaves the list empty, and the program ends as with no
    // projector.
    bool Connect(uint32_t* error) {
        if (m_pipe != INVALID_HANDLE_VALUE) {
            return true;
        }
        if (m_event == nullptr &&
            (m_event = CreateEventW(nullptr, TRUE, FALSE, nullptr)) == nullptr) {
            *error = GetLastError();
            return false;
        }
        // Read, write data and wait: the service grants its clients nothing more.
        HANDLE pipe = INVALID_HANDLE_VALUE;
        for (int attempt = 0; attempt < 2 && pipe == INVALID_HANDLE_VALUE; ++attempt) {
            pipe = CreateFileA(
                SERVICE_PIPE_NAME, GENERIC_READ | FILE_WRITE_DATA, 0, nullptr, OPEN_EXISTING,
                FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
            if (pipe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PIPE_BUSY) {
                WaitNamedPipeA(SERVICE_PIPE_NAME, PIPE_WAIT_MS);
            }
        }
        if (pipe == INVALID_HANDLE_VALUE) {
            *error = GetLastError();
            DebugPrint("vorn_kvusb: no device service to reach (%d)\n", static_cast<int>(*error));
            return false;
        }
        uint8_t greeting[4];
        PutServiceWord(greeting, SERVICE_GREETING);
        uint8_t bytes[SERVICE_HELLO_BYTES] = {};
        if (!ServedByTheService(pipe) ||
            !Move(pipe, true, greeting, sizeof greeting,
                  ChannelDeadline(ChannelWait::Greeting, GetTickCount64())) ||
            !Move(pipe, false, bytes, sizeof bytes,
                  ChannelDeadline(ChannelWait::ServiceHello, GetTickCount64()))) {
            *error = ERROR_DEVICE_NOT_CONNECTED;
            DebugPrint("vorn_kvusb: the device service did not answer (%lu)\n", GetLastError());
            CloseHandle(pipe);
            return false;
        }
        const ServiceHello hello = DecodeServiceHello(bytes);
        if (hello.word != SERVICE_WELCOME) {
            DebugPrint(hello.word == SERVICE_BUSY
                           ? "vorn_kvusb: the device service drives the projector for another "
                             "program already\n"
                           : "vorn_kvusb: the device service refused this session\n");
            *error = ERROR_BUSY;
            CloseHandle(pipe);
            return false;
        }
        auto section = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(hello.section));
        m_section = static_cast<uint8_t*>(
            MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, SERVICE_SECTION_BYTES));
        CloseHandle(section);
        if (m_section == nullptr) {
            *error = GetLastError();
            DebugPrint("vorn_kvusb: the device service's data section does not map (%d)\n",
                       static_cast<int>(*error));
            CloseHandle(pipe);
            return false;
        }
        for (int unit = 0; unit < 2; ++unit) {
            m_paths[unit] = hello.paths[unit];
            m_limitsStated[unit] = hello.limitsStated[unit];
            m_limits[unit] = hello.limits[unit];
        }
        m_pipe = pipe;
        return true;
    }

    uint32_t ChannelLost() {
        DebugPrint("vorn_kvusb: the device service is gone\n");
        CloseHandle(m_pipe);
        m_pipe = INVALID_HANDLE_VALUE;
        UnmapViewOfFile(m_section);
        m_section = nullptr;
        m_held = HeldWrites{};
        return ERROR_DEVICE_NOT_CONNECTED;
    }

    const wchar_t* const m_windowClass;
    std::mutex m_lock;
    HANDLE m_pipe = INVALID_HANDLE_VALUE;
    std::string m_paths[UNIT_COUNT];
    bool m_limitsStated[UNIT_COUNT] = {};
    TransferLimits m_limits[UNIT_COUNT];
    uint8_t* m_section = nullptr;  // SERVICE_SECTION_BYTES, shared with the service
    HANDLE m_event = nullptr;      // the pipe's transfers wait on it
    HeldWrites m_held;
    bool m_closePosted = false;
};

}  // namespace

DeviceBackend* CreateServiceDeviceBackend(const wchar_t* windowClass) {
    return new ServiceDeviceBackend(windowClass);
}
