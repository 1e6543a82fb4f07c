#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

// A known picture on a desktop of the projector's size, and what the projector below the
// program made of it: the pixel-for-pixel check of the tests with the projector below.

inline constexpr int kProjectorWidth = 854;
inline constexpr int kProjectorHeight = 480;

// A picture shown over the whole desktop, topmost, with no cursor over it.
class PictureWindow {
  public:
    explicit PictureWindow(std::vector<uint8_t> bgr);
    ~PictureWindow();

    // Another picture, drawn before this returns, the window raised over every other topmost
    // one (a balloon, a message box) so that the desktop shows nothing but the picture.
    void Show(const std::vector<uint8_t>& bgr);

  private:
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void Paint(HDC dc) const;
    void Run();

    std::vector<uint8_t> bgr_;  // replaced on the window's thread only
    std::thread thread_;
    HWND volatile window_ = nullptr;
};

// Gradients, hard edges and fine detail, so that a pixel out of place shows.
std::vector<uint8_t> TestPicture();

// The projector's last frame as B, G, R bytes, empty while there is none.
std::vector<uint8_t> ProjectorFrame(const std::string& path);

int DifferingPixels(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);
