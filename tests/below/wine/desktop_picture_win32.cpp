#include "tests/below/wine/desktop_picture_win32.h"

#include <algorithm>
#include <fstream>
#include <utility>

#include "tests/e2e/program_run_win32.h"

namespace {
constexpr UINT kShowMessage = WM_APP + 1;  // lParam: the picture
}  // namespace

PictureWindow::PictureWindow(std::vector<uint8_t> bgr) : bgr_(std::move(bgr)) {
    thread_ = std::thread([this] { Run(); });
    WaitFor([this] { return window_ != nullptr; }, 10000);
}

PictureWindow::~PictureWindow() {
    PostMessageW(window_, WM_CLOSE, 0, 0);
    thread_.join();
}

void PictureWindow::Show(const std::vector<uint8_t>& bgr) {
    SendMessageW(window_, kShowMessage, 0, reinterpret_cast<LPARAM>(&bgr));
}

LRESULT CALLBACK PictureWindow::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<PictureWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (message) {
        case WM_SETCURSOR:
            SetCursor(nullptr);
            return TRUE;
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(hwnd, &paint);
            self->Paint(dc);
            EndPaint(hwnd, &paint);
            return 0;
        }
        case kShowMessage: {
            self->bgr_ = *reinterpret_cast<const std::vector<uint8_t>*>(lParam);
            SetWindowPos(hwnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
            HDC dc = GetDC(hwnd);
            self->Paint(dc);
            ReleaseDC(hwnd, dc);
            return 0;
        }
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

void PictureWindow::Paint(HDC dc) const {
    // DIB rows are padded to four bytes.
    const int stride = (kProjectorWidth * 3 + 3) & ~3;
    std::vector<uint8_t> rows(static_cast<size_t>(stride) * kProjectorHeight);
    for (int y = 0; y < kProjectorHeight; ++y) {
        std::copy_n(&bgr_[static_cast<size_t>(y) * kProjectorWidth * 3], kProjectorWidth * 3,
                    &rows[static_cast<size_t>(y) * stride]);
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = kProjectorWidth;
    info.bmiHeader.biHeight = -kProjectorHeight;  // rows top first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    SetDIBitsToDevice(dc, 0, 0, kProjectorWidth, kProjectorHeight, 0, 0, 0, kProjectorHeight,
                      rows.data(), &info, DIB_RGB_COLORS);
}

void PictureWindow::Run() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"KvusbBelowPicture";
    RegisterClassW(&windowClass);
    HWND hwnd = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, windowClass.lpszClassName, L"",
                                WS_POPUP, 0, 0, kProjectorWidth, kProjectorHeight, nullptr, nullptr,
                                windowClass.hInstance, nullptr);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ShowWindow(hwnd, SW_SHOWNOACTIVATE);
    UpdateWindow(hwnd);
    // The pointer over the picture, where it is hidden, in a corner where no window of the
    // program comes: a warning box, centred, would show its arrow until the pointer moved.
    SetCursorPos(0, 0);
    window_ = hwnd;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchMessageW(&message);
    }
}

std::vector<uint8_t> TestPicture() {
    std::vector<uint8_t> bgr(static_cast<size_t>(kProjectorWidth) * kProjectorHeight * 3);
    for (int y = 0; y < kProjectorHeight; ++y) {
        for (int x = 0; x < kProjectorWidth; ++x) {
            uint8_t* pixel = &bgr[(static_cast<size_t>(y) * kProjectorWidth + x) * 3];
            pixel[0] = static_cast<uint8_t>(x * 255 / (kProjectorWidth - 1));
            pixel[1] = static_cast<uint8_t>(y * 255 / (kProjectorHeight - 1));
            pixel[2] = static_cast<uint8_t>(x > 600 ? (x ^ y) * 37 : (x / 40 + y / 40) % 2 * 255);
        }
    }
    return bgr;
}

std::vector<uint8_t> ProjectorFrame(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::string magic;
    int width = 0;
    int height = 0;
    int maximum = 0;
    if (!(file >> magic >> width >> height >> maximum) || magic != "P6" ||
        width != kProjectorWidth || height != kProjectorHeight || file.get() != '\n') {
        return {};
    }
    std::vector<uint8_t> bgr(static_cast<size_t>(kProjectorWidth) * kProjectorHeight * 3);
    if (!file.read(reinterpret_cast<char*>(bgr.data()), static_cast<std::streamsize>(bgr.size()))) {
        return {};
    }
    for (size_t i = 0; i < bgr.size(); i += 3) {
        std::swap(bgr[i], bgr[i + 2]);
    }
    return bgr;
}

int DifferingPixels(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size()) {
        return kProjectorWidth * kProjectorHeight;
    }
    int differing = 0;
    for (size_t i = 0; i < a.size(); i += 3) {
        differing += a[i] != b[i] || a[i + 1] != b[i + 1] || a[i + 2] != b[i + 2] ? 1 : 0;
    }
    return differing;
}
