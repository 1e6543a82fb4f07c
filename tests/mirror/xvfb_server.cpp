#include "tests/mirror/xvfb_server.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

namespace {

constexpr int kFirstDisplay = 110;
constexpr int kLastDisplay = 199;
constexpr auto kStartTimeout = std::chrono::seconds(10);

std::string FindProgram(const char* name) {
    const char* path = std::getenv("PATH");
    std::stringstream folders(path != nullptr ? path : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        std::string candidate = folder + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return "";
}

// Waits until the server answers; false when it ended first (the number was taken meanwhile)
// or did not answer in time.
bool WaitUntilServing(pid_t pid, const std::string& name) {
    auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            return false;
        }
        if (Display* display = XOpenDisplay(name.c_str())) {
            XCloseDisplay(display);
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return false;
}

}  // namespace

bool XvfbServer::Installed() {
    return !FindProgram("Xvfb").empty();
}

std::unique_ptr<XvfbServer> XvfbServer::Start(int width, int height,
                                              const std::vector<std::string>& extraArguments) {
    std::string program = FindProgram("Xvfb");
    if (program.empty()) {
        return nullptr;
    }
    for (int number = kFirstDisplay; number <= kLastDisplay; ++number) {
        std::string lock = "/tmp/.X" + std::to_string(number) + "-lock";
        if (std::filesystem::exists(lock)) {
            continue;
        }
        std::string name = ":" + std::to_string(number);
        std::vector<std::string> arguments = {
            program,
            name,
            "-screen",
            "0",
            std::to_string(width) + "x" + std::to_string(height) + "x24",
            "-nolisten",
            "tcp",
            "-br",
            "-noreset"};
        arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
        pid_t pid = fork();
        if (pid == 0) {
            std::vector<char*> argv;
            for (std::string& argument : arguments) {
                argv.push_back(argument.data());
            }
            argv.push_back(nullptr);
            // The server ends with the test, and must not hold its output open meanwhile.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            int null = open("/dev/null", O_RDWR);
            dup2(null, STDIN_FILENO);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        if (pid < 0) {
            return nullptr;
        }
        if (!WaitUntilServing(pid, name)) {
            continue;
        }
        const char* previous = std::getenv("DISPLAY");
        setenv("DISPLAY", name.c_str(), 1);
        return std::unique_ptr<XvfbServer>(
            new XvfbServer(pid, name, previous != nullptr ? previous : "", previous != nullptr));
    }
    return nullptr;
}

XvfbServer::~XvfbServer() {
    kill(m_pid, SIGTERM);
    waitpid(m_pid, nullptr, 0);
    if (m_hadDisplay) {
        setenv("DISPLAY", m_previousDisplay.c_str(), 1);
    } else {
        unsetenv("DISPLAY");
    }
}
