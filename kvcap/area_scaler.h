#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Scales a picture of 4-byte pixels to packed blue-green-red by area averaging: each output
// pixel is the mean of the source area it covers, partly covered source pixels counted by the
// part that lies in it. All in integers: with an output pixel's width counted in units of
// 1 / gcd(source width, output width) pixels, and its height likewise, every covered part is a
// whole number of units and the mean an exact fraction, rounded half up.
//
// Two passes per output row: the covered source rows summed with their weights (whole rows,
// every byte, a loop the compiler vectorises), then the covered columns of that sum with
// theirs, a pixel's four bytes side by side.

// Where blue, green and red lie in a source pixel's four bytes.
struct PixelLayout {
    int blue = 0;
    int green = 1;
    int red = 2;
};

class AreaScaler {
  public:
    // Sizes from 1. Ready() is false when the sizes share so few factors that an output
    // pixel's weight (units across times units down) reaches 2^24, where 32-bit sums of a
    // white area would overflow; any source below 16.7 million pixels is fine.
    AreaScaler(int srcWidth, int srcHeight, int dstWidth, int dstHeight);
    bool Ready() const { return m_ready; }

    // `src` has srcHeight rows of srcWidth pixels, `srcStride` bytes apart; `bgr` receives
    // dstWidth x dstHeight x 3 bytes.
    void Scale(const uint8_t* src, size_t srcStride, PixelLayout layout, uint8_t* bgr);

  private:
    // The source pixels each output pixel of one axis covers: from first[i] on, with the
    // weights at i x taps, as many as the widest cover needs, padded with zero weights.
    struct Axis {
        std::vector<uint32_t> first;
        std::vector<uint32_t> weights;
        uint32_t taps = 0;
        uint32_t unitsPerOutput = 0;  // an output pixel's whole weight
    };
    static Axis BuildAxis(int srcSize, int dstSize);

    // RowSum holds the weighted sum of the covered rows: 16 bits when it fits, twice as fast.
    template <typename RowSum>
    void ScaleWith(std::vector<RowSum>& sums, const uint8_t* src, size_t srcStride,
                   PixelLayout layout, uint8_t* bgr);

    Axis m_columns;
    Axis m_rows;
    uint32_t m_divisor = 1;     // an output pixel's weight: column units times row units
    uint64_t m_reciprocal = 0;  // 2^56 / m_divisor rounded up: a division as a multiplication
    std::vector<uint16_t> m_rowSums16;
    std::vector<uint32_t> m_rowSums32;
    bool m_ready = false;
};
