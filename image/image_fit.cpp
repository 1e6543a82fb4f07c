#include "image/image_fit.h"

#include <algorithm>
#include <cmath>

namespace {

// The source samples, and their weights, that make one output sample along one axis.
struct Taps {
    int first = 0;
    std::vector<float> weights;
};

std::vector<Taps> BuildTaps(int sourceLength, int targetLength) {
    std::vector<Taps> taps(static_cast<size_t>(targetLength));
    double scale = static_cast<double>(sourceLength) / targetLength;
    for (int out = 0; out < targetLength; ++out) {
        Taps& tap = taps[static_cast<size_t>(out)];
        if (scale > 1.0) {
            // Shrinking: the mean over the source span the output sample covers.
            double low = out * scale;
            double high = std::min(low + scale, static_cast<double>(sourceLength));
            tap.first = static_cast<int>(low);
            for (int i = tap.first; i < high; ++i) {
                double covered = std::min(high, i + 1.0) - std::max(low, static_cast<double>(i));
                tap.weights.push_back(static_cast<float>(covered / scale));
            }
        } else {
            // Enlarging (or same size): linear between the two nearest source centres.
            double centre = std::clamp((out + 0.5) * scale - 0.5, 0.0, sourceLength - 1.0);
            tap.first = static_cast<int>(centre);
            float fraction = static_cast<float>(centre - tap.first);
            tap.weights.push_back(1.0f - fraction);
            if (tap.first + 1 < sourceLength) {
                tap.weights.push_back(fraction);
            }
        }
    }
    return taps;
}

}  // namespace

Image ScaleImage(const Image& source, int width, int height) {
    Image scaled{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 3)};
    // Rows first, into a float picture of the scaled width and the source height.
    std::vector<Taps> columns = BuildTaps(source.width, width);
    std::vector<float> rows(static_cast<size_t>(width) * source.height * 3);
    for (int y = 0; y < source.height; ++y) {
        const uint8_t* in = &source.bgr[static_cast<size_t>(y) * source.width * 3];
        float* out = &rows[static_cast<size_t>(y) * width * 3];
        for (int x = 0; x < width; ++x) {
            const Taps& tap = columns[static_cast<size_t>(x)];
            for (int c = 0; c < 3; ++c) {
                float sum = 0;
                for (size_t i = 0; i < tap.weights.size(); ++i) {
                    sum += tap.weights[i] * in[(static_cast<size_t>(tap.first) + i) * 3 + c];
                }
                out[x * 3 + c] = sum;
            }
        }
    }
    // Then columns.
    std::vector<Taps> lines = BuildTaps(source.height, height);
    for (int y = 0; y < height; ++y) {
        const Taps& tap = lines[static_cast<size_t>(y)];
        uint8_t* out = &scaled.bgr[static_cast<size_t>(y) * width * 3];
        for (int x = 0; x < width * 3; ++x) {
            float sum = 0;
            for (size_t i = 0; i < tap.weights.size(); ++i) {
                sum += tap.weights[i] * rows[(tap.first + i) * width * 3 + x];
            }
            out[x] = static_cast<uint8_t>(std::clamp(std::lround(sum), 0L, 255L));
        }
    }
    return scaled;
}

Image FitImage(const Image& source, int width, int height) {
    Image fitted{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 3)};
    if (source.width < 1 || source.height < 1) {
        return fitted;
    }
    double scale = std::min(static_cast<double>(width) / source.width,
                            static_cast<double>(height) / source.height);
    int scaledWidth = std::clamp(static_cast<int>(std::lround(source.width * scale)), 1, width);
    int scaledHeight = std::clamp(static_cast<int>(std::lround(source.height * scale)), 1, height);
    int left = (width - scaledWidth) / 2;
    int top = (height - scaledHeight) / 2;
    Image scaled = ScaleImage(source, scaledWidth, scaledHeight);
    const size_t rowBytes = static_cast<size_t>(scaledWidth) * 3;
    for (int y = 0; y < scaledHeight; ++y) {
        std::copy_n(&scaled.bgr[y * rowBytes], rowBytes,
                    &fitted.bgr[(static_cast<size_t>(top + y) * width + left) * 3]);
    }
    return fitted;
}
