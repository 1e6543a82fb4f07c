#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "image/area_scaler.h"

// One window on the wall instead of the whole desktop: the window cut from a picture of the
// desktop and scaled by the area scaler, its aspect ratio kept, to fit the frame, centred
// between black bars. A window that reaches past the desktop's edges (dragged partly off the
// screen, or a maximised window's borders) keeps the scale it has on the screen and its part
// off the screen stays black, so the picture does not jump while the window is dragged.

// A rectangle in pixels; x and y may be negative.
struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

struct WindowFit {
    PixelRect cut;     // the window's part on the desktop, in the desktop's pixels
    PixelRect placed;  // where that part goes in the frame, mirrored by the flip
};

// The fit of `window` on a desktop of desktopWidth x desktopHeight into a frame of
// frameWidth x frameHeight, mirrored by `flip` (FLIP_*). Both rectangles are empty when
// nothing of the window shows: an empty window, one wholly off the desktop, or a sliver of
// one too thin to reach a pixel of the frame.
WindowFit FitWindow(int desktopWidth, int desktopHeight, PixelRect window, int frameWidth,
                    int frameHeight, int flip);

// Cuts and fits one window frame after frame. The scaler is kept while the cut and its place
// keep their sizes, so following a move costs nothing to set up.
class WindowScaler {
  public:
    WindowScaler(int frameWidth, int frameHeight, int flip)
        : m_frameWidth(frameWidth), m_frameHeight(frameHeight), m_flip(flip) {}

    // Fits `window` on the desktop: false when nothing of it shows or its cut is too large
    // for the scaler; the frame is then all black.
    bool Place(int desktopWidth, int desktopHeight, PixelRect window);
    const WindowFit& Fit() const { return m_fit; }
    // Scales the cut, given at its top-left pixel with rows `stride` bytes apart, into its
    // place in `bgr` (the frame) and makes the rest of the frame black. Once placed.
    void Scale(const uint8_t* cut, size_t stride, PixelLayout layout, uint8_t* bgr);
    // The same in bands of the cut's rows, as AreaScaler::ScaleBand, rows and the band's top
    // counted from the cut's top; the bars are made black by PaintBars.
    AreaScaler& Scaler() { return *m_scaler; }
    uint8_t* PlacedOrigin(uint8_t* bgr) const;
    // Everything of the frame but the placed cut black; all of it when nothing is placed.
    void PaintBars(uint8_t* bgr) const;

    // Place, then Scale from a whole picture of the desktop of 4-byte pixels.
    bool ScaleFromDesktop(const uint8_t* desktop, int desktopWidth, int desktopHeight,
                          size_t stride, PixelLayout layout, PixelRect window, uint8_t* bgr);

  private:
    const int m_frameWidth;
    const int m_frameHeight;
    const int m_flip;
    WindowFit m_fit;
    std::unique_ptr<AreaScaler> m_scaler;  // null while nothing is placed
};
