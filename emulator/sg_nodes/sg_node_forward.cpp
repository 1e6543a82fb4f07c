#include "emulator/sg_nodes/sg_node_forward.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace emu {
namespace {

// One connection a thread, so that the program's threads wait on each other no longer than
// they would on the projector itself.
struct Connection {
    int socket = -1;
    ~Connection() {
        if (socket >= 0) {
            close(socket);
        }
    }
};

int Connect(const char* path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (std::strlen(path) >= sizeof address.sun_path) {
        return -1;
    }
    std::strcpy(address.sun_path, path);
    int connection = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connection >= 0 &&
        connect(connection, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(connection);
        connection = -1;
    }
    return connection;
}

}  // namespace

bool SendAll(int socket, const void* bytes, size_t length) {
    const auto* at = static_cast<const uint8_t*>(bytes);
    while (length > 0) {
        ssize_t done = send(socket, at, length, MSG_NOSIGNAL);
        if (done <= 0) {
            return false;
        }
        at += done;
        length -= static_cast<size_t>(done);
    }
    return true;
}

bool ReceiveAll(int socket, void* bytes, size_t length) {
    auto* at = static_cast<uint8_t*>(bytes);
    while (length > 0) {
        ssize_t done = recv(socket, at, length, 0);
        if (done <= 0) {
            return false;
        }
        at += done;
        length -= static_cast<size_t>(done);
    }
    return true;
}

int ForwardSgRequest(const char* socket, int node, sg_io_hdr* header) {
    thread_local Connection connection;
    if (connection.socket < 0) {
        connection.socket = Connect(socket);
    }
    ForwardedRequest request{node, *header};
    ForwardedAnswer answer{};
    if (connection.socket < 0 || !SendAll(connection.socket, &request, sizeof request) ||
        !ReceiveAll(connection.socket, &answer, sizeof answer)) {
        errno = ENODEV;
        return -1;
    }
    *header = answer.header;
    if (answer.result < 0) {
        errno = answer.error;
    }
    return answer.result;
}

}  // namespace emu
