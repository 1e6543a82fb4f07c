#include "platform/desktop_xrandr_linux.h"

#include <algorithm>

#include "platform/debug_print.h"
#include "platform/x11_display_linux.h"

namespace {

struct Size {
    int width;
    int height;
};

const XRRModeInfo* FindModeInfo(XRRScreenResources* resources, RRMode mode) {
    for (int i = 0; i < resources->nmode; ++i) {
        if (resources->modes[i].id == mode) {
            return &resources->modes[i];
        }
    }
    return nullptr;
}

double RefreshRate(const XRRModeInfo& mode) {
    double dots = static_cast<double>(mode.hTotal) * mode.vTotal;
    return dots > 0 ? mode.dotClock / dots : 0;
}

// The size a mode gives the CRTC, turned when the CRTC is.
Size ModeSize(const XRRModeInfo& mode, Rotation rotation) {
    bool turned = (rotation & (RR_Rotate_90 | RR_Rotate_270)) != 0;
    int width = static_cast<int>(mode.width);
    int height = static_cast<int>(mode.height);
    return turned ? Size{height, width} : Size{width, height};
}

// The output's mode of that size with the highest refresh rate, or None.
RRMode FindMode(Display* display, XRRScreenResources* resources, RROutput output, Rotation rotation,
                int width, int height) {
    XRROutputInfo* info = XRRGetOutputInfo(display, resources, output);
    if (info == nullptr) {
        return None;
    }
    RRMode best = None;
    double bestRate = -1;
    for (int i = 0; i < info->nmode; ++i) {
        const XRRModeInfo* mode = FindModeInfo(resources, info->modes[i]);
        if (mode == nullptr) {
            continue;
        }
        Size size = ModeSize(*mode, rotation);
        if (size.width == width && size.height == height && RefreshRate(*mode) > bestRate) {
            best = mode->id;
            bestRate = RefreshRate(*mode);
        }
    }
    XRRFreeOutputInfo(info);
    return best;
}

// The screen that holds every active CRTC, with `crtc` given `size`.
Size ScreenFor(Display* display, XRRScreenResources* resources, RRCrtc crtc, Size size) {
    Size screen = {0, 0};
    for (int i = 0; i < resources->ncrtc; ++i) {
        XRRCrtcInfo* info = XRRGetCrtcInfo(display, resources, resources->crtcs[i]);
        if (info == nullptr) {
            continue;
        }
        if (info->mode != None) {
            bool changed = resources->crtcs[i] == crtc;
            int right = info->x + (changed ? size.width : static_cast<int>(info->width));
            int bottom = info->y + (changed ? size.height : static_cast<int>(info->height));
            screen = {std::max(screen.width, right), std::max(screen.height, bottom)};
        }
        XRRFreeCrtcInfo(info);
    }
    return screen;
}

}  // namespace

XRandrDesktop* XRandrDesktop::Open(const char* name) {
    TrapX11Errors();
    Display* display = XOpenDisplay(name);
    if (display == nullptr) {
        return nullptr;
    }
    int eventBase = -1;
    int errorBase = 0;
    if (HasRandrMonitors(display) && XRRQueryExtension(display, &eventBase, &errorBase)) {
        XRRSelectInput(display, DefaultRootWindow(display),
                       RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask);
    } else {
        eventBase = -1;
    }
    return new XRandrDesktop(display, eventBase);
}

XRandrDesktop::~XRandrDesktop() {
    XCloseDisplay(m_display);
}

int XRandrDesktop::Width() {
    std::lock_guard<std::mutex> hold(m_lock);
    return PrimaryMonitorArea(m_display).width;
}

int XRandrDesktop::Height() {
    std::lock_guard<std::mutex> hold(m_lock);
    return PrimaryMonitorArea(m_display).height;
}

bool XRandrDesktop::ChangeSize(int width, int height) {
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_eventBase < 0) {
        DebugPrint("XRandrDesktop: the display has no RandR 1.2 to change its size\n");
        return false;
    }
    XGrabServer(m_display);
    bool changed = ChangeSizeLocked(width, height);
    XUngrabServer(m_display);
    XSync(m_display, False);
    int error = TakeX11Error();
    if (error != 0) {
        DebugPrint("XRandrDesktop: changing to %dx%d failed, X error %d\n", width, height, error);
    }
    return changed && error == 0;
}

bool XRandrDesktop::ChangeSizeLocked(int width, int height) {
    XRRScreenResources* resources =
        XRRGetScreenResourcesCurrent(m_display, DefaultRootWindow(m_display));
    if (resources == nullptr) {
        return false;
    }
    PrimaryMonitor monitor = FindPrimaryMonitor(m_display, resources);
    XRRCrtcInfo* crtc =
        monitor.crtc != None ? XRRGetCrtcInfo(m_display, resources, monitor.crtc) : nullptr;
    bool changed = false;
    if (crtc != nullptr) {
        auto original = m_originalModes.find(monitor.crtc);
        const XRRModeInfo* originalInfo =
            original != m_originalModes.end() ? FindModeInfo(resources, original->second) : nullptr;
        RRMode mode = None;
        if (originalInfo != nullptr && ModeSize(*originalInfo, crtc->rotation).width == width &&
            ModeSize(*originalInfo, crtc->rotation).height == height) {
            mode = originalInfo->id;
        } else {
            mode = FindMode(m_display, resources, monitor.output, crtc->rotation, width, height);
        }
        if (mode == None) {
            DebugPrint("XRandrDesktop: the primary monitor has no %dx%d mode\n", width, height);
        } else if (mode == crtc->mode) {
            changed = true;
        } else {
            MonitorArea whole = WholeScreenArea(m_display);
            Size current = {whole.width, whole.height};
            if (m_originalModes.empty()) {
                int screen = DefaultScreen(m_display);
                m_screenWidth = current.width;
                m_screenHeight = current.height;
                m_screenWidthMm = DisplayWidthMM(m_display, screen);
                m_screenHeightMm = DisplayHeightMM(m_display, screen);
            }
            m_originalModes.emplace(monitor.crtc, crtc->mode);
            Size screen = ScreenFor(m_display, resources, monitor.crtc, {width, height});
            // The screen must hold the CRTC at every step: grow it first, shrink it last.
            Size larger = {std::max(current.width, screen.width),
                           std::max(current.height, screen.height)};
            if (larger.width != current.width || larger.height != current.height) {
                SetScreenSize(larger.width, larger.height);
            }
            changed = XRRSetCrtcConfig(m_display, resources, monitor.crtc, CurrentTime, crtc->x,
                                       crtc->y, mode, crtc->rotation, crtc->outputs,
                                       crtc->noutput) == RRSetConfigSuccess;
            if (changed) {
                SetScreenSize(screen.width, screen.height);
            }
        }
        XRRFreeCrtcInfo(crtc);
    }
    XRRFreeScreenResources(resources);
    return changed;
}

// Keeps the screen's physical size in step with its pixels, so that its DPI stays.
void XRandrDesktop::SetScreenSize(int width, int height) {
    int widthMm = std::max(1, width * m_screenWidthMm / std::max(m_screenWidth, 1));
    int heightMm = std::max(1, height * m_screenHeightMm / std::max(m_screenHeight, 1));
    XRRSetScreenSize(m_display, DefaultRootWindow(m_display), width, height, widthMm, heightMm);
}

bool XRandrDesktop::TakeScreenChange() {
    std::lock_guard<std::mutex> hold(m_lock);
    bool changed = false;
    while (XPending(m_display) > 0) {
        XEvent event;
        XNextEvent(m_display, &event);
        // Keeps Xlib's idea of the screen size (DisplayWidth and the like) up to date.
        XRRUpdateConfiguration(&event);
        changed =
            changed || (m_eventBase >= 0 && (event.type == m_eventBase + RRScreenChangeNotify ||
                                             event.type == m_eventBase + RRNotify));
    }
    return changed;
}
