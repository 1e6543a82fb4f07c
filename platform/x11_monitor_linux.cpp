#include "platform/x11_monitor_linux.h"

#include <algorithm>

namespace {

constexpr double kMillimetresPerInch = 25.4;
constexpr double kFallbackDpi = 96;

bool HasRandrMonitorObjects(Display* display) {
    int major = 0;
    int minor = 0;
    return HasRandrMonitors(display) && XRRQueryVersion(display, &major, &minor) &&
           (major > 1 || minor >= 5);
}

// Millimetres for `pixels` at the screen's present density (96 dpi when it has none).
int Millimetres(int pixels, int screenPixels, int screenMm) {
    double perPixel = screenMm > 0 && screenPixels > 0
                          ? static_cast<double>(screenMm) / screenPixels
                          : kMillimetresPerInch / kFallbackDpi;
    return std::max(1, static_cast<int>(pixels * perPixel + 0.5));
}

}  // namespace

bool AddX11Monitor(Display* display, const char* name, int width, int height, AddedMonitor* added,
                   std::string* why) {
    if (!HasRandrMonitorObjects(display)) {
        *why = "the X server has no RandR 1.5 monitors";
        return false;
    }
    Window root = DefaultRootWindow(display);
    int screen = DefaultScreen(display);
    MonitorArea whole = WholeScreenArea(display);
    AddedMonitor monitor;
    monitor.name = name;
    monitor.screenWidth = whole.width;
    monitor.screenHeight = whole.height;
    monitor.screenWidthMm = DisplayWidthMM(display, screen);
    monitor.screenHeightMm = DisplayHeightMM(display, screen);
    monitor.area = {whole.width, 0, width, height};
    int newWidth = whole.width + width;
    int newHeight = std::max(whole.height, height);
    int minWidth = 0;
    int minHeight = 0;
    int maxWidth = 0;
    int maxHeight = 0;
    XRRGetScreenSizeRange(display, root, &minWidth, &minHeight, &maxWidth, &maxHeight);
    if (newWidth > maxWidth || newHeight > maxHeight) {
        *why = "the X screen cannot grow to " + std::to_string(newWidth) + "x" +
               std::to_string(newHeight) + " (at most " + std::to_string(maxWidth) + "x" +
               std::to_string(maxHeight) + ")";
        return false;
    }
    TrapX11Errors();
    TakeX11Error();
    XRRSetScreenSize(display, root, newWidth, newHeight,
                     Millimetres(newWidth, whole.width, monitor.screenWidthMm),
                     Millimetres(newHeight, whole.height, monitor.screenHeightMm));
    XRRMonitorInfo* info = XRRAllocateMonitor(display, 0);
    info->name = XInternAtom(display, name, False);
    info->primary = False;
    info->automatic = False;
    info->x = monitor.area.x;
    info->y = monitor.area.y;
    info->width = width;
    info->height = height;
    info->mwidth = Millimetres(width, whole.width, monitor.screenWidthMm);
    info->mheight = Millimetres(height, whole.height, monitor.screenHeightMm);
    XRRSetMonitor(display, root, info);
    XRRFreeMonitors(info);
    XSync(display, False);
    int error = TakeX11Error();
    if (error != 0) {
        *why = "the X server refused the monitor (X error " + std::to_string(error) + ")";
        RemoveX11Monitor(display, monitor);
        return false;
    }
    *added = monitor;
    return true;
}

void RemoveX11Monitor(Display* display, const AddedMonitor& added) {
    Atom name = XInternAtom(display, added.name.c_str(), True);
    if (name != None) {
        XRRDeleteMonitor(display, DefaultRootWindow(display), name);
    }
    XRRSetScreenSize(display, DefaultRootWindow(display), added.screenWidth, added.screenHeight,
                     added.screenWidthMm, added.screenHeightMm);
    XSync(display, False);
    TakeX11Error();
}
