#include "resources/art/canvas.h"

#include <cmath>

namespace {

constexpr int SAMPLES_PER_AXIS = 8;

uint8_t ToByte(double value) {
    const double clamped = value < 0 ? 0 : (value > 255 ? 255 : value);
    return static_cast<uint8_t>(std::lround(clamped));
}

}  // namespace

Canvas::Canvas(int width, int height)
    : width_(width), height_(height), pixels_(static_cast<size_t>(width) * height) {}

Canvas::Canvas(int width, int height, Colour background) : Canvas(width, height) {
    for (Premultiplied& p : pixels_) {
        p = {background.r / 255.0, background.g / 255.0, background.b / 255.0, 1.0};
    }
}

void Canvas::Fill(const Shape& shape, Colour colour) {
    const Premultiplied source{colour.r / 255.0, colour.g / 255.0, colour.b / 255.0, 1.0};
    for (int y = 0; y < height_; ++y) {
        for (int x = 0; x < width_; ++x) {
            int inside = 0;
            for (int sy = 0; sy < SAMPLES_PER_AXIS; ++sy) {
                for (int sx = 0; sx < SAMPLES_PER_AXIS; ++sx) {
                    inside +=
                        shape(x + (sx + 0.5) / SAMPLES_PER_AXIS, y + (sy + 0.5) / SAMPLES_PER_AXIS);
                }
            }
            if (inside == 0) {
                continue;
            }
            const double coverage =
                static_cast<double>(inside) / (SAMPLES_PER_AXIS * SAMPLES_PER_AXIS);
            Premultiplied& p = pixels_[static_cast<size_t>(y) * width_ + x];
            const double keep = 1.0 - coverage;
            p = {source.r * coverage + p.r * keep, source.g * coverage + p.g * keep,
                 source.b * coverage + p.b * keep, coverage + p.a * keep};
        }
    }
}

std::vector<uint8_t> Canvas::Bgra() const {
    std::vector<uint8_t> bytes;
    bytes.reserve(pixels_.size() * 4);
    for (const Premultiplied& p : pixels_) {
        const double scale = p.a > 0 ? 255.0 / p.a : 0;
        bytes.push_back(ToByte(p.b * scale));
        bytes.push_back(ToByte(p.g * scale));
        bytes.push_back(ToByte(p.r * scale));
        bytes.push_back(ToByte(p.a * 255.0));
    }
    return bytes;
}
