#include "device/device_backend.h"
#include "device/pass_through_record.h"

#include <windows.h>

#include <ntddscsi.h>
#include <setupapi.h>
#include <winioctl.h>

#include <algorithm>
#include <cstddef>

// The Windows backend: SCSI pass-through (direct) through DeviceIoControl, the disk
// interfaces through SetupAPI, the volumes through their drive letters.

namespace {

static_assert(IOCTL_SCSI_PASS_THROUGH_DIRECT == 0x4D014);

// The portable record must be the system's structure, field for field.
using NativeDirect = PassThroughDirect<uintptr_t>;
static_assert(sizeof(NativeDirect) == sizeof(SCSI_PASS_THROUGH_DIRECT));
#define KV_SAME_OFFSET(field) \
    static_assert(offsetof(NativeDirect, field) == offsetof(SCSI_PASS_THROUGH_DIRECT, field))
KV_SAME_OFFSET(Length);
KV_SAME_OFFSET(TargetId);
KV_SAME_OFFSET(CdbLength);
KV_SAME_OFFSET(SenseInfoLength);
KV_SAME_OFFSET(DataIn);
KV_SAME_OFFSET(DataTransferLength);
KV_SAME_OFFSET(TimeOutValue);
KV_SAME_OFFSET(DataBuffer);
KV_SAME_OFFSET(SenseInfoOffset);
KV_SAME_OFFSET(Cdb);
#undef KV_SAME_OFFSET

// {53F56307-B6BF-11D0-94F2-00A0C91EFB8B}
constexpr GUID DISK_INTERFACE_CLASS = {
    0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

constexpr DWORD DRIVE_LIST_CHARS = 260;
constexpr DWORD VOLUME_NAME_CHARS = 260;

std::string WideToUtf8(const wchar_t* text) {
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1) {
        return "";
    }
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), bytes, nullptr, nullptr);
    utf8.resize(static_cast<size_t>(bytes - 1));
    return utf8;
}

std::wstring Utf8ToWide(const std::string& text) {
    int chars = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    if (chars <= 1) {
        return L"";
    }
    std::wstring wide(static_cast<size_t>(chars), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), chars);
    wide.resize(static_cast<size_t>(chars - 1));
    return wide;
}

// GetLastError after a failed call; never 0, which would read as success.
uint32_t LastError() {
    DWORD error = GetLastError();
    return error != 0 ? error : ERROR_GEN_FAILURE;
}

// The path of interface `index` in an open interface list.
InterfaceLookup ReadInterfacePath(HDEVINFO list, DWORD index, std::string* path, uint32_t* error) {
    SP_DEVICE_INTERFACE_DATA entry = {};
    entry.cbSize = sizeof entry;
    if (!SetupDiEnumDeviceInterfaces(list, nullptr, &DISK_INTERFACE_CLASS, index, &entry)) {
        *error = LastError();
        return InterfaceLookup::EnumFailed;
    }
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailW(list, &entry, nullptr, 0, &required, nullptr);
    // Never smaller than the record whose size field is set below.
    required = std::max<DWORD>(required, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W));
    auto* detail =
        static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(LocalAlloc(LMEM_FIXED, required));
    if (detail == nullptr) {
        *error = LastError();
        return InterfaceLookup::NoMemory;
    }
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    InterfaceLookup outcome = InterfaceLookup::Found;
    if (SetupDiGetDeviceInterfaceDetailW(list, &entry, detail, required, nullptr, nullptr)) {
        *path = WideToUtf8(detail->DevicePath);
    } else {
        *error = LastError();
        outcome = InterfaceLookup::DetailFailed;
    }
    LocalFree(detail);
    return outcome;
}

class Win32DeviceBackend : public DeviceBackend {
  public:
    uint32_t SendScsi(DeviceHandle unit, const ScsiRequest& request) override {
        NativePassThroughRecord record = BuildPassThroughRecord<uintptr_t>(request);
        DWORD returned = 0;
        if (DeviceIoControl(unit, IOCTL_SCSI_PASS_THROUGH_DIRECT, &record, sizeof record, &record,
                            sizeof record, &returned, nullptr)) {
            return 0;
        }
        return LastError();
    }

    InterfaceLookup GetDiskInterface(uint32_t index, std::string* path, uint32_t* error) override {
        HDEVINFO list = SetupDiGetClassDevsW(&DISK_INTERFACE_CLASS, nullptr, nullptr,
                                             DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (list == INVALID_HANDLE_VALUE) {
            *error = LastError();
            return InterfaceLookup::ListFailed;
        }
        InterfaceLookup outcome = ReadInterfacePath(list, index, path, error);
        SetupDiDestroyDeviceInfoList(list);
        return outcome;
    }

    DeviceHandle OpenUnit(const std::string& path, uint32_t* error) override {
        HANDLE unit =
            CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (unit == INVALID_HANDLE_VALUE) {
            *error = LastError();
            return nullptr;
        }
        return unit;
    }

    void CloseUnit(DeviceHandle unit) override { CloseHandle(unit); }

    std::vector<VolumeInfo> ListVolumes() override {
        wchar_t drives[DRIVE_LIST_CHARS] = {};
        GetLogicalDriveStringsW(DRIVE_LIST_CHARS, drives);
        std::vector<VolumeInfo> volumes;
        for (const wchar_t* root = drives; *root != L'\0'; root += wcslen(root) + 1) {
            VolumeInfo volume{WideToUtf8(root), GetDriveTypeW(root) == DRIVE_REMOVABLE, false, ""};
            if (volume.removable) {
                wchar_t name[VOLUME_NAME_CHARS] = {};
                wchar_t fileSystem[VOLUME_NAME_CHARS] = {};
                DWORD serial = 0;
                DWORD maxComponent = 0;
                DWORD flags = 0;
                volume.labelRead =
                    GetVolumeInformationW(root, name, VOLUME_NAME_CHARS, &serial, &maxComponent,
                                          &flags, fileSystem, VOLUME_NAME_CHARS) != 0;
                volume.label = WideToUtf8(name);
            }
            volumes.push_back(std::move(volume));
        }
        return volumes;
    }

    void RemoveMountPoint(const std::string& root) override {
        DeleteVolumeMountPointW(Utf8ToWide(root).c_str());
    }

    // STORAGE_ADAPTER_DESCRIPTOR, asked of the unit's own handle.
    bool GetTransferLimits(DeviceHandle unit, TransferLimits* limits) override {
        STORAGE_PROPERTY_QUERY query{};
        query.PropertyId = StorageAdapterProperty;
        query.QueryType = PropertyStandardQuery;
        STORAGE_ADAPTER_DESCRIPTOR adapter{};
        DWORD returned = 0;
        if (!DeviceIoControl(unit, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, &adapter,
                             sizeof adapter, &returned, nullptr) ||
            returned < offsetof(STORAGE_ADAPTER_DESCRIPTOR, AdapterUsesPio)) {
            return false;
        }
        limits->alignmentMask = adapter.AlignmentMask;
        limits->maximumTransferLength = adapter.MaximumTransferLength;
        limits->maximumPhysicalPages = adapter.MaximumPhysicalPages;
        return true;
    }

    std::string SystemErrorText(uint32_t code) override { return Win32SystemErrorText(code); }
};

}  // namespace

std::string Win32SystemErrorText(uint32_t code) {
    wchar_t* message = nullptr;
    DWORD chars = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    if (chars == 0 || message == nullptr) {
        return "";
    }
    std::string text = WideToUtf8(message);
    LocalFree(message);
    return text;
}

DeviceBackend* CreateSystemDeviceBackend() {
    return new Win32DeviceBackend;
}
