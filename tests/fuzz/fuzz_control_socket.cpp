// Whatever a local client writes on the running kvusb-mirror's control socket, served by the
// real socket: one line of any bytes, cut or not, then the client's end. The answer is always
// an error line or the whole state (no X display here: only the desktop can be shown).
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/capture_session.h"
#include "app/display_mode.h"
#include "app/frame_pipeline.h"
#include "image/image_flip.h"
#include "mirror/control_socket_linux.h"
#include "platform/debug_print.h"

namespace {

ControlSocket* Listening() {
    static ControlSocket* listening = [] {
        char directory[] = "/tmp/fuzz_control_XXXXXX";
        if (mkdtemp(directory) == nullptr || setenv("XDG_RUNTIME_DIR", directory, 1) != 0) {
            std::abort();
        }
        static std::string made = directory;
        auto* opened = new ControlSocket;
        if (!opened->Open(ControlWindows::X11)) {
            std::abort();
        }
        std::atexit([] {
            delete listening;  // removes the socket file
            rmdir((made + "/kvusb-mirror").c_str());
            rmdir(made.c_str());
        });
        return opened;
    }();
    return listening;
}

bool IsStateAnswer(const std::string& answer) {
    for (const char* wall : {"live", "frozen", "blank"}) {
        for (const char* flip : {"none", "horizontal", "vertical", "both"}) {
            if (answer ==
                std::string("wall: ") + wall + "\nflip: " + flip + "\nwindow: desktop\n") {
                return true;
            }
        }
    }
    return false;
}

// A refusal is one line: an unknown command, or a window that cannot be shown.
bool IsErrorLine(const std::string& answer) {
    return answer.rfind("error: ", 0) == 0 && answer.find('\n') == answer.size() - 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static DroppedTraces dropped;
    SetTraceSink(&dropped);
    ControlSocket* server = Listening();
    SetWallHold(WALL_LIVE);
    SelectFlip(FLIP_NONE);
    SetCaptureWindow(0);

    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = ControlSocketPath();
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int client = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (client < 0 || connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        send(client, data, size, MSG_NOSIGNAL) != static_cast<ssize_t>(size) ||
        shutdown(client, SHUT_WR) != 0) {
        std::abort();
    }
    server->Serve();
    std::string answer;
    char buffer[512];
    for (ssize_t got; (got = recv(client, buffer, sizeof buffer, 0)) > 0;) {
        answer.append(buffer, static_cast<size_t>(got));
    }
    close(client);
    // No answer only when no whole line came.
    if (!answer.empty() && !IsErrorLine(answer) && !IsStateAnswer(answer)) {
        std::abort();
    }
    if (answer.empty() && std::memchr(data, '\n', std::min<size_t>(size, 64)) != nullptr) {
        std::abort();
    }
    return 0;
}
