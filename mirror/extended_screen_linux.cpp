#include "mirror/extended_screen_linux.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "mirror/mirror_options.h"
#include "mirror/mirror_screen_linux.h"
#include "platform/debug_print.h"
#include "platform/sway_ipc_linux.h"
#include "platform/x11_monitor_linux.h"

namespace {

// sway 1.8 took the unplug command, which removes a headless output; before it, the output
// can only be disabled, which takes it out of the layout all the same.
constexpr int kUnplugMinor = 8;

enum class Added { Nothing, X11Monitor, SwayOutput };

// Written once, before the session starts; read by whichever end comes first.
struct ExtendedScreen {
    Added added = Added::Nothing;
    Display* display = nullptr;  // X11Monitor
    AddedMonitor monitor;
    // SwayOutput: the socket, the output, and the removing message made up front.
    std::string swaySocket;
    std::string outputName;
    std::string removeMessage;
};

ExtendedScreen g_ExtendedScreen;
std::atomic<bool> g_bExtendedScreenTaken{false};

bool RunSwayCommand(const std::string& socketPath, const std::string& command, std::string* why) {
    std::string reply;
    if (!SwayIpcExchange(socketPath, SWAY_IPC_RUN_COMMAND, command, &reply)) {
        *why = "sway does not answer on " + socketPath;
        return false;
    }
    if (!SwayCommandsSucceeded(reply)) {
        *why = "sway refused \"" + command + "\": " + reply;
        return false;
    }
    return true;
}

bool SwayOutputs(const std::string& socketPath, std::vector<SwayOutput>* outputs,
                 std::string* why) {
    std::string reply;
    if (!SwayIpcExchange(socketPath, SWAY_IPC_GET_OUTPUTS, "", &reply)) {
        *why = "sway does not answer on " + socketPath;
        return false;
    }
    *outputs = ParseSwayOutputs(reply);
    return true;
}

const SwayOutput* FindOutput(const std::vector<SwayOutput>& outputs, const std::string& name) {
    auto found = std::find_if(outputs.begin(), outputs.end(),
                              [&name](const SwayOutput& output) { return output.name == name; });
    return found != outputs.end() ? &*found : nullptr;
}

std::string RemoveCommand(const std::string& socketPath, const std::string& name) {
    std::string reply;
    int major = 0;
    int minor = 0;
    bool unplugs = SwayIpcExchange(socketPath, SWAY_IPC_GET_VERSION, "", &reply) &&
                   ParseSwayVersion(reply, &major, &minor) &&
                   (major > 1 || (major == 1 && minor >= kUnplugMinor));
    return "output " + name + (unplugs ? " unplug" : " disable");
}

// Sends the removal; false when there was nothing to remove.
bool SendRemoval() {
    if (g_bExtendedScreenTaken.exchange(true)) {
        return false;
    }
    switch (g_ExtendedScreen.added) {
        case Added::X11Monitor:
            RemoveX11Monitor(g_ExtendedScreen.display, g_ExtendedScreen.monitor);
            return true;
        case Added::SwayOutput:
            SwayIpcSendFromSignalHandler(g_ExtendedScreen.swaySocket.c_str(),
                                         g_ExtendedScreen.removeMessage);
            return true;
        case Added::Nothing:
            break;
    }
    return false;
}

}  // namespace

bool ExtendX11Screen(int width, int height, MonitorArea* area, std::string* why) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        *why = "cannot open the X display";
        return false;
    }
    AddedMonitor monitor;
    if (!AddX11Monitor(display, EXTENDED_MONITOR_NAME, width, height, &monitor, why)) {
        XCloseDisplay(display);
        return false;
    }
    g_ExtendedScreen.display = display;
    g_ExtendedScreen.monitor = monitor;
    g_ExtendedScreen.added = Added::X11Monitor;
    *area = monitor.area;
    DebugPrint("ExtendX11Screen: monitor %s at %d,%d, the screen %dx%d before\n",
               EXTENDED_MONITOR_NAME, area->x, area->y, monitor.screenWidth, monitor.screenHeight);
    return true;
}

bool ExtendSwayScreen(const std::string& socketPath, int width, int height, std::string* name,
                      MonitorArea* area, std::string* why) {
    std::vector<SwayOutput> before;
    std::vector<SwayOutput> after;
    if (!SwayOutputs(socketPath, &before, why) ||
        !RunSwayCommand(socketPath, "create_output", why) ||
        !SwayOutputs(socketPath, &after, why)) {
        return false;
    }
    const SwayOutput* created = nullptr;
    for (const SwayOutput& output : after) {
        if (FindOutput(before, output.name) == nullptr) {
            created = &output;
        }
    }
    if (created == nullptr) {
        *why = "sway made no new output";
        return false;
    }
    *name = created->name;
    g_ExtendedScreen.swaySocket = socketPath;
    g_ExtendedScreen.outputName = *name;
    g_ExtendedScreen.removeMessage =
        SwayIpcMessage(SWAY_IPC_RUN_COMMAND, RemoveCommand(socketPath, *name));
    g_ExtendedScreen.added = Added::SwayOutput;
    int right = 0;
    for (const SwayOutput& output : before) {
        if (output.active) {
            right = std::max(right, output.x + output.width);
        }
    }
    std::string command = "output " + *name + " mode " + std::to_string(width) + "x" +
                          std::to_string(height) + " position " + std::to_string(right) + " 0";
    if (!RunSwayCommand(socketPath, command, why) || !SwayOutputs(socketPath, &after, why)) {
        RemoveExtendedScreen();
        return false;
    }
    const SwayOutput* placed = FindOutput(after, *name);
    if (placed == nullptr || placed->width != width || placed->height != height) {
        *why = "sway did not give " + *name + " the projector's size";
        RemoveExtendedScreen();
        return false;
    }
    *area = {placed->x, placed->y, placed->width, placed->height};
    DebugPrint("ExtendSwayScreen: output %s at %d,%d\n", name->c_str(), area->x, area->y);
    return true;
}

void RemoveExtendedScreen() {
    if (!SendRemoval() || g_ExtendedScreen.added != Added::SwayOutput) {
        return;
    }
    std::vector<SwayOutput> outputs;
    std::string why;
    const SwayOutput* left = SwayOutputs(g_ExtendedScreen.swaySocket, &outputs, &why)
                                 ? FindOutput(outputs, g_ExtendedScreen.outputName)
                                 : nullptr;
    if (left != nullptr && left->active) {
        std::fprintf(stderr,
                     "%s: warning: this sway cannot take %s away; it stays until sway "
                     "restarts (sway 1.8 can)\n",
                     MIRROR_PROGRAM_NAME, g_ExtendedScreen.outputName.c_str());
    }
}

void RemoveExtendedScreenAfterCrash() {
    SendRemoval();
}

void AbandonExtendedScreen() {
    g_bExtendedScreenTaken.store(true);
}
