#include "tests/device/fake_device_backend.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

DeviceHandle FakeDeviceBackend::HandleOf(size_t index) {
    return reinterpret_cast<DeviceHandle>(uintptr_t{0x1000} + index);
}

uint32_t FakeDeviceBackend::SendScsi(DeviceHandle unit, const ScsiRequest& request) {
    RecordedCommand command{unit, request, {}};
    bool dataIn = request.dataIn == SCSI_IOCTL_DATA_IN;
    if (!dataIn && request.dataTransferLength != 0) {
        const auto* data = static_cast<const uint8_t*>(request.dataBuffer);
        command.dataOut.assign(data, data + request.dataTransferLength);
    }
    commands.push_back(std::move(command));
    if (responder) {
        return responder(request);
    }
    if (auto failure = failCommand.find(commands.size() - 1); failure != failCommand.end()) {
        return failure->second;
    }
    if (auto failure = failUnit.find(unit); failure != failUnit.end()) {
        return failure->second;
    }
    if (auto reply = replies.find(unit); dataIn && reply != replies.end()) {
        size_t length = std::min<size_t>(reply->second.size(), request.dataTransferLength);
        std::memcpy(request.dataBuffer, reply->second.data(), length);
    }
    return 0;
}

InterfaceLookup FakeDeviceBackend::GetDiskInterface(uint32_t index, std::string* path,
                                                    uint32_t* error) {
    if (auto failure = lookupFailures.find(index); failure != lookupFailures.end()) {
        *error = failure->second.second;
        return failure->second.first;
    }
    if (index >= interfaces.size()) {
        *error = ERROR_NO_MORE_ITEMS;
        return InterfaceLookup::EnumFailed;
    }
    *path = interfaces[index];
    return InterfaceLookup::Found;
}

DeviceHandle FakeDeviceBackend::OpenUnit(const std::string& path, uint32_t* error) {
    if (auto failure = openErrors.find(path); failure != openErrors.end()) {
        *error = failure->second;
        return nullptr;
    }
    auto entry = std::find(interfaces.begin(), interfaces.end(), path);
    return HandleOf(static_cast<size_t>(entry - interfaces.begin()));
}

std::string FakeDeviceBackend::SystemErrorText(uint32_t code) {
    auto text = errorTexts.find(code);
    return text != errorTexts.end() ? text->second : "";
}

std::vector<uint8_t> Bytes(const char* hex) {
    std::vector<uint8_t> bytes;
    char* end = nullptr;
    for (const char* at = hex; *at != '\0'; at = end) {
        unsigned long value = std::strtoul(at, &end, 16);
        if (end == at) {
            break;
        }
        bytes.push_back(static_cast<uint8_t>(value));
    }
    return bytes;
}

std::vector<uint8_t> CdbOf(const RecordedCommand& command) {
    return {command.request.cdb, command.request.cdb + sizeof command.request.cdb};
}

bool FakeDeviceBackend::GetTransferLimits(DeviceHandle unit, TransferLimits* limits) {
    auto stated = adapterLimits.find(unit);
    if (stated == adapterLimits.end()) {
        return false;
    }
    *limits = stated->second;
    return true;
}
