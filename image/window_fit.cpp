#include "image/window_fit.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kFramePixelBytes = 3;
constexpr size_t kDesktopPixelBytes = 4;

// a x b / c rounded half up, for sizes that are not negative.
int64_t ScaleRounded(int64_t a, int64_t b, int64_t c) {
    return (2 * a * b + c) / (2 * c);
}

// One axis of the fit: the window's span [from, from + length) on a desktop of `desktop`
// pixels, shown `fitted` pixels long from `offset` on in a frame of `frame` pixels. Sets the
// visible span in `cut` and its place in `placed` (x and width); false when nothing shows.
bool FitAxis(int64_t from, int64_t length, int desktop, int64_t fitted, int64_t offset, int frame,
             bool mirrored, int* cutFrom, int* cutLength, int* placedFrom, int* placedLength) {
    int64_t begin = std::clamp<int64_t>(from, 0, desktop);
    int64_t end = std::clamp<int64_t>(from + length, 0, desktop);
    int64_t placedBegin = offset + ScaleRounded(begin - from, fitted, length);
    int64_t placedEnd = offset + ScaleRounded(end - from, fitted, length);
    if (end <= begin || placedEnd <= placedBegin) {
        return false;
    }
    *cutFrom = static_cast<int>(begin);
    *cutLength = static_cast<int>(end - begin);
    *placedFrom = static_cast<int>(mirrored ? frame - placedEnd : placedBegin);
    *placedLength = static_cast<int>(placedEnd - placedBegin);
    return true;
}

}  // namespace

WindowFit FitWindow(int desktopWidth, int desktopHeight, PixelRect window, int frameWidth,
                    int frameHeight, int flip) {
    WindowFit fit;
    if (window.width < 1 || window.height < 1 || frameWidth < 1 || frameHeight < 1) {
        return fit;
    }
    // The side that meets the frame's edges takes its whole length; the other its share,
    // at least one pixel.
    int64_t fittedWidth = frameWidth;
    int64_t fittedHeight = frameHeight;
    if (int64_t{window.width} * frameHeight >= int64_t{window.height} * frameWidth) {
        fittedHeight = std::clamp<int64_t>(ScaleRounded(window.height, frameWidth, window.width), 1,
                                           frameHeight);
    } else {
        fittedWidth = std::clamp<int64_t>(ScaleRounded(window.width, frameHeight, window.height), 1,
                                          frameWidth);
    }
    WindowFit shown;
    if (FitAxis(window.x, window.width, desktopWidth, fittedWidth, (frameWidth - fittedWidth) / 2,
                frameWidth, (flip & FLIP_HORIZONTAL) != 0, &shown.cut.x, &shown.cut.width,
                &shown.placed.x, &shown.placed.width) &&
        FitAxis(window.y, window.height, desktopHeight, fittedHeight,
                (frameHeight - fittedHeight) / 2, frameHeight, (flip & FLIP_VERTICAL) != 0,
                &shown.cut.y, &shown.cut.height, &shown.placed.y, &shown.placed.height)) {
        fit = shown;
    }
    return fit;
}

bool WindowScaler::Place(int desktopWidth, int desktopHeight, PixelRect window) {
    WindowFit fit =
        FitWindow(desktopWidth, desktopHeight, window, m_frameWidth, m_frameHeight, m_flip);
    bool sameSizes = m_scaler != nullptr && fit.cut.width == m_fit.cut.width &&
                     fit.cut.height == m_fit.cut.height && fit.placed.width == m_fit.placed.width &&
                     fit.placed.height == m_fit.placed.height;
    m_fit = fit;
    if (sameSizes) {
        return true;
    }
    m_scaler.reset();
    if (fit.cut.width < 1) {
        return false;
    }
    auto scaler = std::make_unique<AreaScaler>(fit.cut.width, fit.cut.height, fit.placed.width,
                                               fit.placed.height);
    if (!scaler->Ready()) {
        m_fit = {};
        return false;
    }
    scaler->SetFlip(m_flip);
    scaler->SetOutputStride(static_cast<size_t>(m_frameWidth) * kFramePixelBytes);
    m_scaler = std::move(scaler);
    return true;
}

uint8_t* WindowScaler::PlacedOrigin(uint8_t* bgr) const {
    return bgr +
           (static_cast<size_t>(m_fit.placed.y) * m_frameWidth + m_fit.placed.x) * kFramePixelBytes;
}

void WindowScaler::PaintBars(uint8_t* bgr) const {
    const size_t rowBytes = static_cast<size_t>(m_frameWidth) * kFramePixelBytes;
    if (m_scaler == nullptr) {
        std::memset(bgr, 0, rowBytes * m_frameHeight);
        return;
    }
    const PixelRect& placed = m_fit.placed;
    std::memset(bgr, 0, rowBytes * placed.y);
    const size_t leftBytes = static_cast<size_t>(placed.x) * kFramePixelBytes;
    const size_t rightFrom = leftBytes + static_cast<size_t>(placed.width) * kFramePixelBytes;
    for (int y = placed.y; y < placed.y + placed.height; ++y) {
        uint8_t* row = bgr + rowBytes * y;
        std::memset(row, 0, leftBytes);
        std::memset(row + rightFrom, 0, rowBytes - rightFrom);
    }
    const int below = placed.y + placed.height;
    std::memset(bgr + rowBytes * below, 0, rowBytes * (m_frameHeight - below));
}

void WindowScaler::Scale(const uint8_t* cut, size_t stride, PixelLayout layout, uint8_t* bgr) {
    PaintBars(bgr);
    if (m_scaler != nullptr) {
        m_scaler->Scale(cut, stride, layout, PlacedOrigin(bgr));
    }
}

bool WindowScaler::ScaleFromDesktop(const uint8_t* desktop, int desktopWidth, int desktopHeight,
                                    size_t stride, PixelLayout layout, PixelRect window,
                                    uint8_t* bgr) {
    bool placed = Place(desktopWidth, desktopHeight, window);
    const uint8_t* cut =
        desktop + static_cast<size_t>(m_fit.cut.y) * stride + m_fit.cut.x * kDesktopPixelBytes;
    Scale(cut, stride, layout, bgr);
    return placed;
}
