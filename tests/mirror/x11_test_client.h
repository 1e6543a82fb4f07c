#pragma once

#include <cstdint>

struct _XDisplay;

// A client of the tests' own on their X server: windows of a known colour, the pointer, and
// modes for the screen's output. What it creates lives as long as it does.
class X11TestClient {
  public:
    X11TestClient();  // on $DISPLAY
    ~X11TestClient();
    X11TestClient(const X11TestClient&) = delete;
    X11TestClient& operator=(const X11TestClient&) = delete;

    bool Connected() const { return m_display != nullptr; }

    // A borderless window over (x, y, width, height) in a 24-bit TrueColor pixel value; its id.
    unsigned long ShowColour(unsigned long pixel, int x, int y, int width, int height);
    void MoveWindow(unsigned long window, int x, int y);
    void ResizeWindow(unsigned long window, int width, int height);
    void DestroyWindow(unsigned long window);
    // A borderless window for pictures, with no pointer drawn over it; its id.
    unsigned long ShowPictureWindow(int x, int y, int width, int height);
    // B, G, R bytes, top-down, into the window's top-left corner, in one request.
    void PutPicture(unsigned long window, const uint8_t* bgr, int width, int height);
    void MovePointer(int x, int y);
    // Gives the first output a mode of that size, as a monitor that offers it would.
    void OfferMode(int width, int height);

  private:
    _XDisplay* m_display;
};
