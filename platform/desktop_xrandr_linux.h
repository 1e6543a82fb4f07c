#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <map>
#include <mutex>
#include <string>

#include "platform/desktop.h"

// The primary monitor of an X display as the program's desktop: its size, and a change of
// size through XRandR to one of the modes its output offers. The mode in use before the first
// change is remembered, so that asking for the original size again brings back that very mode
// (refresh rate included). Other monitors keep their place; the screen is made to fit them all.
class XRandrDesktop final : public Desktop {
  public:
    // nullptr when the display cannot be opened. `name` as for XOpenDisplay (nullptr: $DISPLAY).
    static XRandrDesktop* Open(const char* name);
    ~XRandrDesktop() override;

    int Width() override;
    int Height() override;
    // Called from the main thread and from the sender thread's shutdowns.
    bool ChangeSize(int width, int height) override;

    // For the program's event loop: the connection's descriptor, and whether the screen's
    // configuration changed since the last call (reads the events that have arrived).
    int ConnectionFd() const { return ConnectionNumber(m_display); }
    bool TakeScreenChange();
    std::string DisplayName() const { return DisplayString(m_display); }

  private:
    XRandrDesktop(Display* display, int eventBase) : m_display(display), m_eventBase(eventBase) {}

    bool ChangeSizeLocked(int width, int height);
    void SetScreenSize(int width, int height);

    std::mutex m_lock;  // the connection is shared by the main thread and a shutdown
    Display* const m_display;
    const int m_eventBase;                     // RandR's first event code, -1 without RandR 1.2
    std::map<RRCrtc, RRMode> m_originalModes;  // the mode of each CRTC before our first change
    // The screen before the first change, in pixels and millimetres: sizes in millimetres are
    // worked out from it, so that going back gives the very same ones.
    int m_screenWidth = 0;
    int m_screenHeight = 0;
    int m_screenWidthMm = 0;
    int m_screenHeightMm = 0;
};
