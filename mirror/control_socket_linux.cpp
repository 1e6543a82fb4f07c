#include "mirror/control_socket_linux.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/capture_session.h"
#include "app/display_mode.h"
#include "app/frame_pipeline.h"
#include "mirror/control_command.h"
#include "mirror/mirror_options.h"
#include "mirror/runtime_directory_linux.h"
#include "mirror/x11_window_linux.h"
#include "platform/debug_print.h"

namespace {

constexpr char kSocketName[] = "/control";
constexpr char kRefused[] = "error: refused\n";
constexpr char kErrorPrefix[] = "error: ";
constexpr size_t kMaxReply = 4096;
// A client has this long to send its line, or to read the answer: the loop waits meanwhile.
constexpr timeval kPeerTimeout = {1, 0};
constexpr timeval kClientTimeout = {5, 0};
constexpr int kBacklog = 4;

bool MakeAddress(const std::string& path, sockaddr_un* address) {
    *address = {};
    address->sun_family = AF_UNIX;
    if (path.size() >= sizeof address->sun_path) {
        return false;
    }
    std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
    return true;
}

// One line, without its newline; false when none came whole in time.
bool ReadLine(int fd, std::string* line) {
    char buffer[kMaxControlLine];
    size_t length = 0;
    while (length < sizeof buffer) {
        ssize_t got = recv(fd, buffer + length, sizeof buffer - length, 0);
        if (got <= 0) {
            return false;
        }
        length += static_cast<size_t>(got);
        const void* newline = std::memchr(buffer, '\n', length);
        if (newline != nullptr) {
            line->assign(buffer, static_cast<const char*>(newline) - buffer);
            return true;
        }
    }
    return false;
}

void SendAll(int fd, const std::string& text) {
    for (size_t sent = 0; sent < text.size();) {
        ssize_t wrote = send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (wrote <= 0) {
            return;
        }
        sent += static_cast<size_t>(wrote);
    }
}

// A window for the wall, or why not; empty once it is shown.
std::string ShowWindow(const WindowChoice& window, ControlWindows windows) {
    if (windows != ControlWindows::X11) {
        return "on Wayland the portal's dialog chooses the window, at the start (--window)";
    }
    if (window.pick) {
        return "the window to pick is picked by the client";
    }
    if (window.id != 0 && !X11WindowExists(window.id)) {
        return "no such window on the display";
    }
    SetCaptureWindow(window.id);
    return "";
}

std::string Apply(const std::string& line, ControlWindows windows) {
    std::optional<ControlCommand> command = ParseControlCommand(line);
    if (!command) {
        return std::string(kErrorPrefix) + "unknown command\n";
    }
    SetWallHold(ControlledWallHold(*command, g_nWallHold.load()));
    if (command->verb == ControlVerb::Flip) {
        SelectFlip(command->flip);
    }
    if (command->verb == ControlVerb::Window) {
        std::string refused = ShowWindow(command->window, windows);
        if (!refused.empty()) {
            return kErrorPrefix + refused + "\n";
        }
    }
    uint64_t window =
        windows == ControlWindows::PortalWindow ? kPortalWindow : g_nCaptureWindow.load();
    return ControlStateText(g_nWallHold.load(), FlipMode.load(), window);
}

}  // namespace

std::string ControlSocketPath() {
    std::string directory = MirrorRuntimePath();
    return directory.empty() ? "" : directory + kSocketName;
}

ControlSocket::~ControlSocket() {
    Close();
}

void ControlSocket::Close() {
    if (m_fd >= 0) {
        close(m_fd);
        unlink(m_path.c_str());
        m_fd = -1;
    }
}

bool ControlSocket::Open(ControlWindows windows) {
    m_windows = windows;
    std::string directory = OwnMirrorRuntimeDirectory();
    sockaddr_un address{};
    if (directory.empty() || !MakeAddress(directory + kSocketName, &address)) {
        DebugPrint("ControlSocket: no private directory in XDG_RUNTIME_DIR, no --control\n");
        return false;
    }
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    // One instance of the user's runs at a time, so a socket left there is a crashed run's.
    unlink(address.sun_path);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        chmod(address.sun_path, 0600) != 0 || listen(fd, kBacklog) != 0) {
        DebugPrint("ControlSocket: cannot listen at %s: %s\n", address.sun_path,
                   std::strerror(errno));
        if (fd >= 0) {
            close(fd);
        }
        return false;
    }
    m_fd = fd;
    m_path = address.sun_path;
    return true;
}

void ControlSocket::Serve() {
    int peer = accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (peer < 0) {
        return;  // gone again before it was taken
    }
    ucred credentials{};
    socklen_t size = sizeof credentials;
    std::string line;
    if (getsockopt(peer, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 ||
        credentials.uid != getuid()) {
        DebugPrint("ControlSocket: refused a peer of user %u\n", credentials.uid);
        SendAll(peer, kRefused);
    } else if (setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, &kPeerTimeout, sizeof kPeerTimeout) == 0 &&
               setsockopt(peer, SOL_SOCKET, SO_SNDTIMEO, &kPeerTimeout, sizeof kPeerTimeout) == 0 &&
               ReadLine(peer, &line)) {
        DebugPrint("ControlSocket: %s\n", line.c_str());
        SendAll(peer, Apply(line, m_windows));
    }
    close(peer);
}

int SendControlCommand(const std::string& command, std::string* reply, std::string* error) {
    sockaddr_un address{};
    std::string path = ControlSocketPath();
    if (path.empty() || !MakeAddress(path, &address)) {
        *error = "XDG_RUNTIME_DIR is not set to a usable directory";
        return MIRROR_EXIT_USAGE;
    }
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = std::string("no socket: ") + std::strerror(errno);
        return MIRROR_EXIT_USAGE;
    }
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        int code = errno;
        close(fd);
        if (code == ENOENT || code == ECONNREFUSED) {
            *error = "not running";
            return MIRROR_EXIT_NOT_RUNNING;
        }
        *error = path + ": " + std::strerror(code);
        return MIRROR_EXIT_USAGE;
    }
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &kClientTimeout, sizeof kClientTimeout);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &kClientTimeout, sizeof kClientTimeout);
    SendAll(fd, command + "\n");
    reply->clear();
    char buffer[512];
    ssize_t got = 0;
    while (reply->size() < kMaxReply && (got = recv(fd, buffer, sizeof buffer, 0)) > 0) {
        reply->append(buffer, static_cast<size_t>(got));
    }
    close(fd);
    if (reply->empty()) {
        *error = "no answer";
        return MIRROR_EXIT_USAGE;
    }
    if (reply->compare(0, sizeof kErrorPrefix - 1, kErrorPrefix) == 0) {
        *error = reply->substr(sizeof kErrorPrefix - 1);
        while (!error->empty() && error->back() == '\n') {
            error->pop_back();
        }
        reply->clear();
        return MIRROR_EXIT_USAGE;
    }
    return 0;
}
