#include "platform/x11_display_linux.h"

#include <mutex>

namespace {

thread_local int t_nLastX11Error = 0;

int KeepX11Error(Display*, XErrorEvent* error) {
    t_nLastX11Error = error->error_code;
    return 0;
}

// The CRTC's area, or false when it drives nothing.
bool ActiveCrtcArea(Display* display, XRRScreenResources* resources, RRCrtc crtc,
                    MonitorArea* area) {
    XRRCrtcInfo* info = XRRGetCrtcInfo(display, resources, crtc);
    if (info == nullptr) {
        return false;
    }
    bool active = info->mode != None && info->width > 0 && info->height > 0;
    *area = {info->x, info->y, static_cast<int>(info->width), static_cast<int>(info->height)};
    XRRFreeCrtcInfo(info);
    return active;
}

RRCrtc CrtcOfOutput(Display* display, XRRScreenResources* resources, RROutput output) {
    XRROutputInfo* info = XRRGetOutputInfo(display, resources, output);
    if (info == nullptr) {
        return 0;
    }
    RRCrtc crtc = info->crtc;
    XRRFreeOutputInfo(info);
    return crtc;
}

}  // namespace

void TrapX11Errors() {
    static std::once_flag installed;
    std::call_once(installed, [] { XSetErrorHandler(KeepX11Error); });
}

int TakeX11Error() {
    int error = t_nLastX11Error;
    t_nLastX11Error = 0;
    return error;
}

MonitorArea WholeScreenArea(Display* display) {
    Window root = 0;
    int x = 0;
    int y = 0;
    unsigned width = 0;
    unsigned height = 0;
    unsigned border = 0;
    unsigned depth = 0;
    XGetGeometry(display, DefaultRootWindow(display), &root, &x, &y, &width, &height, &border,
                 &depth);
    return {0, 0, static_cast<int>(width), static_cast<int>(height)};
}

bool HasRandrMonitors(Display* display) {
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    return XRRQueryExtension(display, &eventBase, &errorBase) &&
           XRRQueryVersion(display, &major, &minor) && (major > 1 || (major == 1 && minor >= 2));
}

PrimaryMonitor FindPrimaryMonitor(Display* display, XRRScreenResources* resources) {
    PrimaryMonitor monitor;
    if (resources != nullptr) {
        RROutput primary = XRRGetOutputPrimary(display, DefaultRootWindow(display));
        RRCrtc crtc = primary != None ? CrtcOfOutput(display, resources, primary) : None;
        if (crtc != None && ActiveCrtcArea(display, resources, crtc, &monitor.area)) {
            monitor.crtc = crtc;
            monitor.output = primary;
            return monitor;
        }
        for (int i = 0; i < resources->ncrtc; ++i) {
            XRRCrtcInfo* info = XRRGetCrtcInfo(display, resources, resources->crtcs[i]);
            bool found = info != nullptr && info->mode != None && info->noutput > 0;
            if (found) {
                monitor = {resources->crtcs[i],
                           info->outputs[0],
                           {info->x, info->y, static_cast<int>(info->width),
                            static_cast<int>(info->height)}};
            }
            if (info != nullptr) {
                XRRFreeCrtcInfo(info);
            }
            if (found) {
                return monitor;
            }
        }
    }
    monitor.area = WholeScreenArea(display);
    return monitor;
}

MonitorArea PrimaryMonitorArea(Display* display) {
    XRRScreenResources* resources =
        HasRandrMonitors(display)
            ? XRRGetScreenResourcesCurrent(display, DefaultRootWindow(display))
            : nullptr;
    PrimaryMonitor monitor = FindPrimaryMonitor(display, resources);
    if (resources != nullptr) {
        XRRFreeScreenResources(resources);
    }
    return monitor.area;
}

bool NamedMonitorArea(Display* display, const char* name, MonitorArea* area) {
    Atom wanted = XInternAtom(display, name, True);
    int count = 0;
    XRRMonitorInfo* monitors =
        wanted != None ? XRRGetMonitors(display, DefaultRootWindow(display), True, &count)
                       : nullptr;
    bool found = false;
    for (int i = 0; i < count && !found; ++i) {
        if (monitors[i].name == wanted) {
            *area = {monitors[i].x, monitors[i].y, monitors[i].width, monitors[i].height};
            found = true;
        }
    }
    if (monitors != nullptr) {
        XRRFreeMonitors(monitors);
    }
    return found;
}
