#include "device/device_backend.h"
#include "device/service_channel.h"

#include <windows.h>

#include <cstring>
#include <mutex>

#include "platform/debug_print.h"

// The agent's backend: the tray program in a user's session has no right to the projector's
// units; the device service owns them and takes the projector's own requests over a local
// pipe. The engine above sees the units as the service names them, and each request's result
// as the unit gave it. A service that is gone is a projector that is gone.

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
        }
    }

    uint32_t SendScsi(DeviceHandle unit, const ScsiRequest& request) override {
        const auto unitId = reinterpret_cast<uintptr_t>(unit);
        std::lock_guard<std::mutex> hold(m_lock);
        if (m_pipe == INVALID_HANDLE_VALUE || unitId == 0 || unitId > UNIT_COUNT) {
            return ERROR_DEVICE_NOT_CONNECTED;
        }
        uint8_t record[SERVICE_REQUEST_BYTES];
        EncodeServiceRequest(ToServiceRequest(static_cast<uint8_t>(unitId), request), record);
        const bool dataOut = request.dataIn == SCSI_IOCTL_DATA_OUT;
        const uint32_t length = request.dataTransferLength;
        uint8_t answer[SERVICE_REPLY_BYTES];
        if (!WriteAll(m_pipe, record, sizeof record) ||
            (dataOut && length > 0 && !WriteAll(m_pipe, request.dataBuffer, length)) ||
            !ReadAll(m_pipe, answer, sizeof answer)) {
            return ChannelLost();
        }
        ServiceReply reply = DecodeServiceReply(answer);
        if (reply.error == 0 && !dataOut && length > 0 &&
            !ReadAll(m_pipe, request.dataBuffer, length)) {
            return ChannelLost();
        }
        if ((reply.flags & SERVICE_FLAG_CLOSE) != 0 && !m_closePosted) {
            m_closePosted = true;
            DebugPrint("vorn_kvusb: the device service asks this session's program to close\n");
            CloseTarget target{GetCurrentProcessId(), m_windowClass};
            EnumWindows(PostCloseToOwnWindow, reinterpret_cast<LPARAM>(&target));
        }
        return reply.error;
    }

    // The service's two units, disk unit first, are the whole interface list.
    InterfaceLookup GetDiskInterface(uint32_t index, std::string* path, uint32_t* error) override {
        std::lock_guard<std::mutex> hold(m_lock);
        if (!Connect(error)) {
            return InterfaceLookup::ListFailed;
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
    // Once: the pipe, and the service's welcome with the units' paths. A busy or absent
    // service leaves the list empty, and the program ends as with no projector.
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
        uint8_t hello[SERVICE_HELLO_BYTES] = {};
        if (!ReadAll(pipe, hello, sizeof hello)) {
            *error = GetLastError();
            CloseHandle(pipe);
            return false;
        }
        uint32_t word = DecodeServiceHello(hello, &m_paths[0], &m_paths[1]);
        if (word != SERVICE_WELCOME) {
            DebugPrint(word == SERVICE_BUSY
                           ? "vorn_kvusb: the device service drives the projector for another "
                             "program already\n"
                           : "vorn_kvusb: the device service refused this session\n");
            *error = ERROR_BUSY;
            CloseHandle(pipe);
            return false;
        }
        m_pipe = pipe;
        return true;
    }

    uint32_t ChannelLost() {
        DebugPrint("vorn_kvusb: the device service is gone\n");
        CloseHandle(m_pipe);
        m_pipe = INVALID_HANDLE_VALUE;
        return ERROR_DEVICE_NOT_CONNECTED;
    }

    const wchar_t* const m_windowClass;
    std::mutex m_lock;
    HANDLE m_pipe = INVALID_HANDLE_VALUE;
    std::string m_paths[UNIT_COUNT];
    bool m_closePosted = false;
};

}  // namespace

DeviceBackend* CreateServiceDeviceBackend(const wchar_t* windowClass) {
    return new ServiceDeviceBackend(windowClass);
}
