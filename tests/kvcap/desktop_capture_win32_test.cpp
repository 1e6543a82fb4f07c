#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

#include "kvcap/kvcap_api.h"
#include "tests/kvcap/test_support.h"
#include "tests/support/trace_recorder.h"

// The desktop sources against a real desktop: a window of a known colour is put on the
// screen, captured at the projector's size, and looked for in the frame.

namespace {

constexpr int kWidth = 854;
constexpr int kHeight = 480;
constexpr BYTE kRed = 0x20, kGreen = 0xC0, kBlue = 0x60;
constexpr int kColourTolerance = 6;
constexpr int kEdgeTolerance = 3;  // pixels; scaling blends the window's edges

bool UnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

void PumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// A borderless topmost window filled with the test colour over the second quarter of the
// screen, both ways.
class ColourWindow {
  public:
    ColourWindow() {
        m_brush = CreateSolidBrush(RGB(kRed, kGreen, kBlue));
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hbrBackground = m_brush;
        windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        windowClass.lpszClassName = L"KvcapColourWindow";
        RegisterClassW(&windowClass);
        int screenWidth = GetSystemMetrics(SM_CXSCREEN);
        int screenHeight = GetSystemMetrics(SM_CYSCREEN);
        area = {screenWidth / 4, screenHeight / 4, screenWidth / 2, screenHeight / 2};
        m_window = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, windowClass.lpszClassName, L"",
                                   WS_POPUP | WS_VISIBLE, area.left, area.top,
                                   area.right - area.left, area.bottom - area.top, nullptr, nullptr,
                                   windowClass.hInstance, nullptr);
        UpdateWindow(m_window);
        for (int i = 0; i < 30; ++i) {
            PumpMessages();
            Sleep(10);
        }
    }
    ~ColourWindow() {
        DestroyWindow(m_window);
        UnregisterClassW(L"KvcapColourWindow", GetModuleHandleW(nullptr));
        DeleteObject(m_brush);
    }
    bool Shown() const { return m_window != nullptr; }

    RECT area{};

  private:
    HBRUSH m_brush = nullptr;
    HWND m_window = nullptr;
};

// Captures one frame through the library at the projector's size, pumping the window's
// messages while the capture thread works.
std::vector<uint8_t> CaptureFrame(const char* source, int cursorMode = 1) {
    KVCapSetSource(source);
    FrameRecorder recorder;
    g_Recorder = &recorder;
    KVCapHandle handle = 0;
    EXPECT_EQ(KVCapAPI_Initialize(1, 0, 1), KVCAP_OK);
    EXPECT_EQ(KVCapAPI_Create(&handle), KVCAP_OK);
    recorder.handle = handle;
    EXPECT_EQ(KVCapAPI_SetCursorMode(handle, cursorMode), KVCAP_OK);
    EXPECT_EQ(KVCapAPI_SetMaxFPS(handle, 30), KVCAP_OK);
    EXPECT_EQ(KVCapAPI_Open(handle, RecordFrame, 0, kWidth, kHeight), KVCAP_OK);
    EXPECT_EQ(KVCapAPI_Start(handle), KVCAP_OK);
    // The first frames may predate the window's last paint.
    for (int i = 0; i < 1000 && recorder.FrameCount() < 3; ++i) {
        PumpMessages();
        Sleep(10);
    }
    EXPECT_EQ(KVCapAPI_Uninitialize(), KVCAP_OK);
    g_Recorder = nullptr;
    EXPECT_GE(recorder.frames.size(), 3u);
    if (recorder.frames.size() < 3) {
        return {};
    }
    EXPECT_EQ(recorder.frames[2].status, KVCAP_OK);
    EXPECT_EQ(recorder.frames[2].copyResult, KVCAP_OK);
    return std::move(recorder.frames[2].pixels);
}

bool IsTestColour(const uint8_t* pixel) {
    return std::abs(pixel[0] - kBlue) <= kColourTolerance &&
           std::abs(pixel[1] - kGreen) <= kColourTolerance &&
           std::abs(pixel[2] - kRed) <= kColourTolerance;
}

void ExpectWindowInFrame(const std::vector<uint8_t>& frame, const RECT& area) {
    ASSERT_EQ(frame.size(), static_cast<size_t>(kWidth) * kHeight * 3);
    RECT found = {kWidth, kHeight, -1, -1};
    int count = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            if (IsTestColour(frame.data() + (static_cast<size_t>(y) * kWidth + x) * 3)) {
                found = {std::min<LONG>(found.left, x), std::min<LONG>(found.top, y),
                         std::max<LONG>(found.right, x + 1), std::max<LONG>(found.bottom, y + 1)};
                ++count;
            }
        }
    }
    int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    RECT expected = {
        MulDiv(area.left, kWidth, screenWidth), MulDiv(area.top, kHeight, screenHeight),
        MulDiv(area.right, kWidth, screenWidth), MulDiv(area.bottom, kHeight, screenHeight)};
    EXPECT_NEAR(found.left, expected.left, kEdgeTolerance);
    EXPECT_NEAR(found.top, expected.top, kEdgeTolerance);
    EXPECT_NEAR(found.right, expected.right, kEdgeTolerance);
    EXPECT_NEAR(found.bottom, expected.bottom, kEdgeTolerance);
    // Nearly all of it: only the cursor may cover a little.
    int expectedCount = (expected.right - expected.left) * (expected.bottom - expected.top);
    EXPECT_GE(count, expectedCount * 9 / 10);
}

// Pixels in the box of `size` frame pixels right of and below (x, y) that are not the
// window's colour: where an arrow cursor with its hotspot at (x, y) is drawn.
int CountCovered(const std::vector<uint8_t>& frame, int x, int y, int size) {
    int covered = 0;
    for (int row = y; row < y + size; ++row) {
        for (int column = x; column < x + size; ++column) {
            covered += IsTestColour(frame.data() + (static_cast<size_t>(row) * kWidth + column) * 3)
                           ? 0
                           : 1;
        }
    }
    return covered;
}

class DesktopCaptureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* display = std::getenv("DISPLAY");
        if (UnderWine() && (display == nullptr || *display == '\0')) {
            GTEST_SKIP() << "no X display for Wine (start Xvfb and set DISPLAY)";
        }
        window = std::make_unique<ColourWindow>();
        // Wine's desktop belongs to the prefix's first process: one started without a display
        // leaves none to later ones.
        if (!window->Shown() && UnderWine()) {
            GTEST_SKIP() << "Wine has no desktop window here (is the prefix shared with a "
                            "process started without DISPLAY?)";
        }
        ASSERT_TRUE(window->Shown());
    }

    std::unique_ptr<ColourWindow> window;
};

TEST_F(DesktopCaptureTest, GdiCapturesTheScreenAtTheSessionSize) {
    int width = 0, height = 0;
    KVCapSetSource("gdi");
    ASSERT_EQ(KVCapAPI_Initialize(1, 0, 1), KVCAP_OK);
    KVCapHandle handle = 0;
    ASSERT_EQ(KVCapAPI_Create(&handle), KVCAP_OK);
    EXPECT_EQ(KVCapAPI_GetScreenSize(handle, &width, &height, nullptr), KVCAP_OK);
    EXPECT_EQ(width, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(height, GetSystemMetrics(SM_CYSCREEN));
    ASSERT_EQ(KVCapAPI_Uninitialize(), KVCAP_OK);

    ExpectWindowInFrame(CaptureFrame("gdi"), window->area);
}

TEST_F(DesktopCaptureTest, GdiDrawsTheCursorOnlyWhenAsked) {
    POINT centre = {(window->area.left + window->area.right) / 2,
                    (window->area.top + window->area.bottom) / 2};
    SetCursorPos(centre.x, centre.y);
    PumpMessages();
    int x = MulDiv(centre.x, kWidth, GetSystemMetrics(SM_CXSCREEN));
    int y = MulDiv(centre.y, kHeight, GetSystemMetrics(SM_CYSCREEN));
    std::vector<uint8_t> without = CaptureFrame("gdi", 0);
    std::vector<uint8_t> with = CaptureFrame("gdi", 1);
    ASSERT_FALSE(without.empty());
    ASSERT_FALSE(with.empty());
    constexpr int kBox = 8;
    EXPECT_EQ(CountCovered(without, x, y, kBox), 0);
    EXPECT_GE(CountCovered(with, x, y, kBox), kBox);
}

TEST_F(DesktopCaptureTest, DesktopSourceFindsTheWindowAndTracesItsChoice) {
    TraceRecorder traces;
    std::vector<uint8_t> frame = CaptureFrame("desktop");
    const std::string text = traces.Text();
    ExpectWindowInFrame(frame, window->area);
    if (UnderWine()) {
        EXPECT_NE(text.find("desktop duplication unavailable, falling back to GDI"),
                  std::string::npos)
            << text;
    } else {
        EXPECT_NE(text.find("854x480 from "), std::string::npos) << text;
    }
}

}  // namespace
