#include "tests/mirror/xvfb_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <sstream>

namespace {

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

// The display number the server writes when it is ready; empty when it ends first or does
// not write it in time.
std::string ReadDisplayNumber(int fd) {
    std::string number;
    auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd readable{fd, POLLIN, 0};
        char c = 0;
        if (left.count() <= 0 || poll(&readable, 1, static_cast<int>(left.count())) <= 0 ||
            read(fd, &c, 1) != 1) {
            return "";
        }
        if (c == '\n') {
            return number;
        }
        number += c;
    }
}

}  // namespace

bool XvfbServer::Installed() {
    return !FindProgram("Xvfb").empty();
}

std::unique_ptr<XvfbServer> XvfbServer::Start(int width, int height,
                                              const std::vector<std::string>& extraArguments) {
    std::string program = FindProgram("Xvfb");
    int ready[2];
    if (program.empty() || pipe2(ready, O_CLOEXEC) != 0) {
        return nullptr;
    }
    // The server takes a free display number itself and writes it to descriptor 3 once it
    // accepts connections. Numbers picked here could be picked by a test running alongside,
    // whose server a check by number would then find as if it were ours.
    std::vector<std::string> arguments = {
        program,     "-displayfd", "3",
        "-screen",   "0",          std::to_string(width) + "x" + std::to_string(height) + "x24",
        "-nolisten", "tcp",        "-br",
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
        if (ready[1] == 3) {
            fcntl(3, F_SETFD, 0);
        } else {
            dup2(ready[1], 3);
        }
        int null = open("/dev/null", O_RDWR);
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(ready[1]);
    std::string number = pid > 0 ? ReadDisplayNumber(ready[0]) : "";
    close(ready[0]);
    if (pid < 0) {
        return nullptr;
    }
    if (number.empty()) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return nullptr;
    }
    std::string name = ":" + number;
    const char* previous = std::getenv("DISPLAY");
    setenv("DISPLAY", name.c_str(), 1);
    return std::unique_ptr<XvfbServer>(
        new XvfbServer(pid, name, previous != nullptr ? previous : "", previous != nullptr));
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
