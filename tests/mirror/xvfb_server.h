#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

// A private X server for one test: Xvfb on a display number it finds free itself, with
// DISPLAY pointing at it while it runs. Tests skip where Xvfb is not installed.
class XvfbServer {
  public:
    // nullptr when Xvfb is missing or no server would start. `extraArguments` go to Xvfb
    // ("-extension", "MIT-SHM" to take shared memory away).
    static std::unique_ptr<XvfbServer> Start(int width, int height,
                                             const std::vector<std::string>& extraArguments = {});
    static bool Installed();
    ~XvfbServer();  // ends the server and puts DISPLAY back

    const std::string& Name() const { return m_name; }

  private:
    XvfbServer(pid_t pid, std::string name, std::string previousDisplay, bool hadDisplay)
        : m_pid(pid),
          m_name(std::move(name)),
          m_previousDisplay(std::move(previousDisplay)),
          m_hadDisplay(hadDisplay) {}

    pid_t m_pid;
    std::string m_name;
    std::string m_previousDisplay;
    bool m_hadDisplay;
};
