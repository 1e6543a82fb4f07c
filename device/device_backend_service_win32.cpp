#include "device/device_backend.h"
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

// All bytes of `buffer` through the pipe, or false.
bool WriteAll(HANDLE pipe, const void* buffer, uint32_t length) {
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    while (length > 0) {
        DWORD written = 0;
        if (!WriteFile(pipe, bytes, length, &written, nullptr) || written == 0) {
            return false;
        }
        bytes += written;
        length -= written;
    }
    return true;
}

bool ReadAll(HANDLE pipe, void* buffer, uint32_t length) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    while (length > 0) {
        DWORD read = 0;
        if (!ReadFile(pipe, bytes, length, &read, nullptr) || read == 0) {
            return false;
        }
        bytes += read;
        length -= read;
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
        if (!WriteAll(m_pipe, message,
                      SERVICE_BATCH_HEADER_BYTES + count * SERVICE_REQUEST_BYTES) ||
            !ReadAll(m_pipe, answer, 4 + count * 4)) {
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
                !ReadAll(m_pipe, mine ? readInto : unused, length)) {
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

    // Once: the pipe, and the service's welcome with the units' paths and the data section.
    // A busy or absent service leaves the list empty, and the program ends as with no
    // projector.
    bool Connect(uint32_t* error) {
        if (m_pipe != INVALID_HANDLE_VALUE) {
            return true;
        }
        HANDLE pipe = INVALID_HANDLE_VALUE;
        for (int attempt = 0; attempt < 2 && pipe == INVALID_HANDLE_VALUE; ++attempt) {
            pipe = CreateFileA(SERVICE_PIPE_NAME, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                               nullptr);
            if (pipe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PIPE_BUSY) {
                WaitNamedPipeA(SERVICE_PIPE_NAME, PIPE_WAIT_MS);
            }
        }
        if (pipe == INVALID_HANDLE_VALUE) {
            *error = GetLastError();
            DebugPrint("vorn_kvusb: no device service to reach (%d)\n", static_cast<int>(*error));
            return false;
        }
        uint8_t bytes[SERVICE_HELLO_BYTES] = {};
        if (!ReadAll(pipe, bytes, sizeof bytes)) {
            *error = GetLastError();
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
    HeldWrites m_held;
    bool m_closePosted = false;
};

}  // namespace

DeviceBackend* CreateServiceDeviceBackend(const wchar_t* windowClass) {
    return new ServiceDeviceBackend(windowClass);
}
