#pragma once

#include <cstdint>
#include <functional>
#include <vector>

// A small antialiased raster for the program's pictures. Shapes are inside tests on the
// plane (pixel x covers [x, x + 1)); each pixel's coverage is the share of an 8 x 8 grid of
// samples inside the shape. Everything is exact, repeatable double arithmetic, so the same
// source always gives the same bytes.

struct Colour {
    uint8_t r;
    uint8_t g;
    uint8_t b;
};

using Shape = std::function<bool(double x, double y)>;

class Canvas {
  public:
    Canvas(int width, int height);                     // transparent
    Canvas(int width, int height, Colour background);  // opaque

    // Paints colour over the shape, scaled by its coverage of each pixel.
    void Fill(const Shape& shape, Colour colour);

    int Width() const { return width_; }
    int Height() const { return height_; }

    // Straight-alpha blue, green, red, alpha bytes, rows from the top.
    std::vector<uint8_t> Bgra() const;

  private:
    struct Premultiplied {
        double r, g, b, a;
    };
    int width_;
    int height_;
    std::vector<Premultiplied> pixels_;
};
