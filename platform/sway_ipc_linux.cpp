#include "platform/sway_ipc_linux.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
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

// Where the JSON value that starts at `at` ends; text.size() when it does not.
size_t SkipValue(std::string_view text, size_t at) {
    if (at >= text.size()) {
        return text.size();
    }
    if (text[at] == '"') {
        for (size_t i = at + 1; i < text.size(); ++i) {
            if (text[i] == '\\') {
                ++i;
            } else if (text[i] == '"') {
                return i + 1;
            }
        }
        return text.size();
    }
    if (text[at] == '{' || text[at] == '[') {
        int depth = 0;
        for (size_t i = at; i < text.size(); ++i) {
            if (text[i] == '"') {
                i = SkipValue(text, i) - 1;
            } else if (text[i] == '{' || text[i] == '[') {
                ++depth;
            } else if ((text[i] == '}' || text[i] == ']') && --depth == 0) {
                return i + 1;
            }
        }
        return text.size();
    }
    size_t end = text.find_first_of(",}] \t\r\n", at);
    return end == std::string_view::npos ? text.size() : end;
}

size_t SkipBlanks(std::string_view text, size_t at) {
    size_t next = text.find_first_not_of(" \t\r\n", at);
    return next == std::string_view::npos ? text.size() : next;
}

// The text of a JSON string without its quotes, with \" and \\ undone.
std::string StringValue(std::string_view value) {
    std::string text;
    for (size_t i = 1; i + 1 < value.size(); ++i) {
        if (value[i] == '\\' && i + 2 < value.size()) {
            ++i;
        }
        text += value[i];
    }
    return text;
}

int NumberValue(std::string_view value) {
    return std::atoi(std::string(value).c_str());
}

// Calls take(key, value) for each member of a JSON object, or take("", element) for each
// element of an array.
template <typename Take>
void ForEachItem(std::string_view container, Take take) {
    size_t at = SkipBlanks(container, 1);
    while (at < container.size() && container[at] != '}' && container[at] != ']') {
        std::string key;
        if (container.front() == '{') {
            size_t keyEnd = SkipValue(container, at);
            key = StringValue(container.substr(at, keyEnd - at));
            at = SkipBlanks(container, container.find(':', keyEnd) + 1);
        }
        size_t end = SkipValue(container, at);
        take(key, container.substr(at, end - at));
        at = SkipBlanks(container, end);
        if (at < container.size() && container[at] == ',') {
            at = SkipBlanks(container, at + 1);
        }
    }
}

std::string_view Trimmed(std::string_view json) {
    size_t first = SkipBlanks(json, 0);
    return json.substr(first == json.size() ? 0 : first);
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
    json = Trimmed(json);
    if (json.empty() || json.front() != '[') {
        return outputs;
    }
    ForEachItem(json, [&outputs](const std::string&, std::string_view element) {
        if (element.empty() || element.front() != '{') {
            return;
        }
        SwayOutput output;
        ForEachItem(element, [&output](const std::string& key, std::string_view value) {
            if (key == "name") {
                output.name = StringValue(value);
            } else if (key == "active") {
                output.active = value == "true";
            } else if (key == "rect" && !value.empty() && value.front() == '{') {
                ForEachItem(value, [&output](const std::string& field, std::string_view number) {
                    int* target = field == "x"        ? &output.x
                                  : field == "y"      ? &output.y
                                  : field == "width"  ? &output.width
                                  : field == "height" ? &output.height
                                                      : nullptr;
                    if (target != nullptr) {
                        *target = NumberValue(number);
                    }
                });
            }
        });
        outputs.push_back(output);
    });
    return outputs;
}

bool SwayCommandsSucceeded(std::string_view json) {
    json = Trimmed(json);
    if (json.empty() || json.front() != '[') {
        return false;
    }
    bool all = true;
    int count = 0;
    ForEachItem(json, [&](const std::string&, std::string_view result) {
        ++count;
        bool success = false;
        if (!result.empty() && result.front() == '{') {
            ForEachItem(result, [&success](const std::string& key, std::string_view value) {
                success = success || (key == "success" && value == "true");
            });
        }
        all = all && success;
    });
    return all && count > 0;
}

bool ParseSwayVersion(std::string_view json, int* major, int* minor) {
    json = Trimmed(json);
    if (json.empty() || json.front() != '{') {
        return false;
    }
    int found = 0;
    ForEachItem(json, [&](const std::string& key, std::string_view value) {
        if (key == "major") {
            *major = NumberValue(value);
            ++found;
        } else if (key == "minor") {
            *minor = NumberValue(value);
            ++found;
        }
    });
    return found == 2;
}
