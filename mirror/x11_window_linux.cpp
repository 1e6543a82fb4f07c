#include "mirror/x11_window_linux.h"

// Before Xlib, whose Status macro would meet the control commands' names.
#include "mirror/mirror_options.h"
#include "mirror/mirror_process_linux.h"

#include <X11/Xlib.h>
#include <X11/cursorfont.h>
#include <X11/keysym.h>
#include <poll.h>

#include <cstdio>

#include "platform/x11_display_linux.h"

namespace {

constexpr int kPollMilliseconds = 100;  // how soon a stop signal is seen

bool HasProperty(Display* display, Window window, Atom property) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    XGetWindowProperty(display, window, property, 0, 0, False, AnyPropertyType, &type, &format,
                       &count, &after, &data);
    if (data != nullptr) {
        XFree(data);
    }
    return type != None;
}

// The first window at or below `window`, topmost first, that a window manager manages (it has
// WM_STATE); 0 when there is none.
Window FindManaged(Display* display, Window window, Atom wmState) {
    if (HasProperty(display, window, wmState)) {
        return window;
    }
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    Window found = 0;
    if (XQueryTree(display, window, &root, &parent, &children, &count) != 0) {
        for (unsigned int i = count; i-- > 0 && found == 0;) {
            found = FindManaged(display, children[i], wmState);
        }
        XFree(children);
    }
    return found;
}

// The application's window inside the frame that was clicked; the clicked one without a window
// manager.
Window ClientWindow(Display* display, Window clicked) {
    Atom wmState = XInternAtom(display, "WM_STATE", True);
    Window client = wmState != None ? FindManaged(display, clicked, wmState) : 0;
    return client != 0 ? client : clicked;
}

// Waits for the click; 0 when the user cancelled.
Window AwaitClick(Display* display) {
    pollfd connection = {ConnectionNumber(display), POLLIN, 0};
    while (!StopSignalPending()) {
        if (XPending(display) == 0) {
            poll(&connection, 1, kPollMilliseconds);
            continue;
        }
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == ButtonPress) {
            return event.xbutton.button == Button1 ? event.xbutton.subwindow : 0;
        }
        if (event.type == KeyPress && XLookupKeysym(&event.xkey, 0) == XK_Escape) {
            return 0;
        }
    }
    return 0;
}

}  // namespace

bool X11WindowExists(uint64_t id) {
    TrapX11Errors();
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return false;
    }
    XWindowAttributes attributes;
    bool exists = id != 0 && id <= UINT32_MAX &&
                  XGetWindowAttributes(display, static_cast<Window>(id), &attributes) != 0;
    TakeX11Error();
    XCloseDisplay(display);
    return exists;
}

int PickX11Window(uint64_t* id, std::string* error) {
    TrapX11Errors();
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        *error = "no X display to pick a window on";
        return MIRROR_EXIT_USAGE;
    }
    Window root = DefaultRootWindow(display);
    Cursor crosshair = XCreateFontCursor(display, XC_crosshair);
    int grabbed = XGrabPointer(display, root, False, ButtonPressMask, GrabModeAsync, GrabModeAsync,
                               root, crosshair, CurrentTime);
    Window picked = 0;
    if (grabbed == GrabSuccess) {
        // Esc cancels where the keyboard can be had; the click works without it.
        XGrabKeyboard(display, root, False, GrabModeAsync, GrabModeAsync, CurrentTime);
        std::fprintf(stderr,
                     "%s: click the window to show on the projector (Esc or another button "
                     "cancels)\n",
                     MIRROR_PROGRAM_NAME);
        picked = AwaitClick(display);
        XUngrabKeyboard(display, CurrentTime);
        XUngrabPointer(display, CurrentTime);
    }
    *id = picked != 0 ? ClientWindow(display, picked) : 0;
    XFreeCursor(display, crosshair);
    XCloseDisplay(display);
    if (grabbed != GrabSuccess) {
        *error = "cannot take the pointer to pick a window: another program holds it";
        return MIRROR_EXIT_USAGE;
    }
    if (*id == 0) {
        *error = "no window was picked";
        return MIRROR_EXIT_USAGE;
    }
    return 0;
}
