#pragma once

// The size of the primary desktop, and changing it as the user's stored setting. On Windows
// the real display; elsewhere a recorded desktop (desktop_recorded.h).
class Desktop {
  public:
    virtual ~Desktop() = default;

    virtual int Width() = 0;   // GetSystemMetrics(SM_CXSCREEN)
    virtual int Height() = 0;  // GetSystemMetrics(SM_CYSCREEN)
    // Width and height only, depth and refresh rate left to the system, stored as the user's
    // setting. True when the system reports success.
    virtual bool ChangeSize(int width, int height) = 0;
};

// The desktop in use: the platform's own unless a test installs another.
extern Desktop* g_pDesktop;
