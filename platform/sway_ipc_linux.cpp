#include "platform/sway_ipc_linux.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <json-c/json.h>

#include <cstring>

namespace {

constexpr char kMagic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr size_t kHeaderSize = sizeof kMagic + 2 * sizeof(uint32_t);
constexpr int kReplyMilliseconds = 5000;
constexpr uint32_t kMaxReply = 1 << 24;

// A connected socket, or -1. System calls only.
int ConnectTo(const char* path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (std::strlen(path) >= sizeof address.sun_path) {
        return -1;
    }
    std::strcpy(address.sun_path, path);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool WriteAll(int fd, const char* bytes, size_t size) {
    while (size > 0) {
        ssize_t written = send(fd, bytes, size, MSG_NOSIGNAL);
        if (written <= 0) {
            return false;
        }
        bytes += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// Reads exactly `size` bytes, each wait bounded. System calls only.
bool ReadAll(int fd, char* bytes, size_t size) {
    while (size > 0) {
        pollfd wait = {fd, POLLIN, 0};
        if (poll(&wait, 1, kReplyMilliseconds) != 1) {
            return false;
        }
        ssize_t got = read(fd, bytes, size);
        if (got <= 0) {
            return false;
        }
        bytes += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

// The parsed reply, or null when it is not one whole JSON value. json-c stops at a value's
// end, so text after it is refused here rather than read as a second value.
json_object* ParseReply(std::string_view json) {
    json_tokener* tokener = json_tokener_new();
    if (tokener == nullptr || json.size() > kMaxReply) {
        json_tokener_free(tokener);
        return nullptr;
    }
    json_object* value = json_tokener_parse_ex(tokener, json.data(), static_cast<int>(json.size()));
    bool whole = value != nullptr && json_tokener_get_error(tokener) == json_tokener_success &&
                 json.find_first_not_of(" \t\r\n", json_tokener_get_parse_end(tokener)) ==
                     std::string_view::npos;
    json_tokener_free(tokener);
    if (!whole) {
        json_object_put(value);
        return nullptr;
    }
    return value;
}

// The member `key` of an object when it has `type`; null otherwise.
json_object* Member(json_object* object, const char* key, json_type type) {
    json_object* value = nullptr;
    if (!json_object_is_type(object, json_type_object) ||
        !json_object_object_get_ex(object, key, &value) || !json_object_is_type(value, type)) {
        return nullptr;
    }
    return value;
}

bool IntMember(json_object* object, const char* key, int* number) {
    json_object* value = Member(object, key, json_type_int);
    if (value == nullptr) {
        return false;
    }
    *number = json_object_get_int(value);
    return true;
}

bool TrueMember(json_object* object, const char* key) {
    json_object* value = Member(object, key, json_type_boolean);
    return value != nullptr && json_object_get_boolean(value);
}

}  // namespace

std::string SwayIpcMessage(uint32_t type, std::string_view payload) {
    std::string message(kMagic, sizeof kMagic);
    auto length = static_cast<uint32_t>(payload.size());
    message.append(reinterpret_cast<const char*>(&length), sizeof length);
    message.append(reinterpret_cast<const char*>(&type), sizeof type);
    message += payload;
    return message;
}

bool SwayIpcExchange(const std::string& socketPath, uint32_t type, std::string_view payload,
                     std::string* reply) {
    int fd = ConnectTo(socketPath.c_str());
    if (fd < 0) {
        return false;
    }
    std::string message = SwayIpcMessage(type, payload);
    char header[kHeaderSize];
    bool answered = WriteAll(fd, message.data(), message.size()) &&
                    ReadAll(fd, header, sizeof header) &&
                    std::memcmp(header, kMagic, sizeof kMagic) == 0;
    uint32_t length = 0;
    if (answered) {
        std::memcpy(&length, header + sizeof kMagic, sizeof length);
        answered = length <= kMaxReply;
    }
    if (answered) {
        reply->assign(length, '\0');
        answered = ReadAll(fd, reply->data(), length);
    }
    close(fd);
    return answered;
}

void SwayIpcSendFromSignalHandler(const char* socketPath, const std::string& message) {
    int fd = ConnectTo(socketPath);
    if (fd < 0) {
        return;
    }
    char header[kHeaderSize];
    // The reply is waited for so that the command has run before the process dies.
    if (WriteAll(fd, message.data(), message.size())) {
        ReadAll(fd, header, sizeof header);
    }
    close(fd);
}

std::vector<SwayOutput> ParseSwayOutputs(std::string_view json) {
    std::vector<SwayOutput> outputs;
    json_object* reply = ParseReply(json);
    if (json_object_is_type(reply, json_type_array)) {
        for (size_t i = 0; i < json_object_array_length(reply); ++i) {
            json_object* element = json_object_array_get_idx(reply, i);
            if (!json_object_is_type(element, json_type_object)) {
                continue;
            }
            SwayOutput output;
            if (json_object* name = Member(element, "name", json_type_string)) {
                output.name = json_object_get_string(name);
            }
            output.active = TrueMember(element, "active");
            if (json_object* rect = Member(element, "rect", json_type_object)) {
                IntMember(rect, "x", &output.x);
                IntMember(rect, "y", &output.y);
                IntMember(rect, "width", &output.width);
                IntMember(rect, "height", &output.height);
            }
            outputs.push_back(output);
        }
    }
    json_object_put(reply);
    return outputs;
}

bool SwayCommandsSucceeded(std::string_view json) {
    json_object* reply = ParseReply(json);
    bool all = json_object_is_type(reply, json_type_array) && json_object_array_length(reply) > 0;
    for (size_t i = 0; all && i < json_object_array_length(reply); ++i) {
        all = TrueMember(json_object_array_get_idx(reply, i), "success");
    }
    json_object_put(reply);
    return all;
}

bool ParseSwayVersion(std::string_view json, int* major, int* minor) {
    json_object* reply = ParseReply(json);
    int readMajor = 0;
    int readMinor = 0;
    bool found = IntMember(reply, "major", &readMajor) && IntMember(reply, "minor", &readMinor);
    json_object_put(reply);
    if (found) {
        *major = readMajor;
        *minor = readMinor;
    }
    return found;
}
