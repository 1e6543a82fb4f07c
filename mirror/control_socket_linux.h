#pragma once

#include <string>

// The control socket of the running kvusb-mirror, so that a desktop's own keyboard shortcuts
// can call `kvusb-mirror --control ...` (mirror/control_command.h): a Unix socket at
// $XDG_RUNTIME_DIR/kvusb-mirror/control, mode 0600, in a directory of mode 0700 that must be
// the user's own. A peer of another user (root passes the file modes) is refused by the
// credentials the kernel gives for it.

// Empty when XDG_RUNTIME_DIR is not set to an absolute path.
std::string ControlSocketPath();

// Which windows the desktop lets a command name: X windows by ID; none through the portal,
// whose window, if one is shown, its dialog chose.
enum class ControlWindows { X11, Portal, PortalWindow };

class ControlSocket {
  public:
    ControlSocket() = default;
    ControlSocket(const ControlSocket&) = delete;
    ControlSocket& operator=(const ControlSocket&) = delete;
    // Stops listening and removes the socket.
    ~ControlSocket();

    // Listens; false, traced, when it cannot (the program runs on without it).
    bool Open(ControlWindows windows);
    // Stops listening and removes the socket; the destructor does it too.
    void Close();
    int Fd() const { return m_fd; }
    // Answers one waiting client: its command applied and the state it leaves told, or the
    // client refused.
    void Serve();

  private:
    int m_fd = -1;
    std::string m_path;
    ControlWindows m_windows = ControlWindows::X11;
};

// The client's side: `command` sent to the running instance. 0 with its answer in *reply;
// MIRROR_EXIT_NOT_RUNNING when none listens, MIRROR_EXIT_USAGE when the command was refused or
// the socket cannot be reached, with the reason in *error.
int SendControlCommand(const std::string& command, std::string* reply, std::string* error);
