#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/image_flip.h"

// Scales a picture of 4-byte pixels to packed blue-green-red by area averaging: each output
// pixel is the mean of the source area it covers, partly covered source pixels counted by the
// part that lies in it. All in integers: with an output pixel's width counted in units of
// 1 / gcd(source width, output width) pixels, and its height likewise, every covered part is a
// whole number of units and the mean an exact fraction, rounded half up.
//
// Two passes per output row: the covered source rows summed with their weights (whole rows,
// every byte, a loop the compiler vectorises), then the covered columns of that sum with
// theirs, a pixel's four sums side by side. Where the row sums fit 16 bits and the column
// weights 15 (the usual desktop sizes) and the processor has SSE2, the columns go two at a time
// through its multiply-add of 16-bit pairs.

// Where blue, green and red lie in a source pixel's four bytes.
struct PixelLayout {
    int blue = 0;
    int green = 1;
    int red = 2;
};

class AreaScaler {
  public:
    // Ready() is false for a size below 1, and when the sizes share so few factors that an
    // output pixel's weight (units across times units down) reaches 2^23, past which the
    // division below would need more than 32-bit factors; any source below 8.3 million pixels
    // is fine.
    AreaScaler(int srcWidth, int srcHeight, int dstWidth, int dstHeight);
    bool Ready() const { return m_ready; }
    // Mirrors the output as it is written (FLIP_*): rows and pixels go to their mirrored
    // places, which costs nothing more than writing them in order.
    void SetFlip(int flip) { m_flip = flip; }
    // Bytes from one output row to the next, dstWidth x 3 unless set: the output may be a
    // part of a larger picture (a window fitted with bars around it).
    void SetOutputStride(size_t bytes) { m_outputStride = bytes; }

    // `src` has srcHeight rows of srcWidth pixels, `srcStride` bytes apart; `bgr` receives
    // dstHeight rows of dstWidth x 3 bytes.
    void Scale(const uint8_t* src, size_t srcStride, PixelLayout layout, uint8_t* bgr);

    // The same for a source read in bands of rows, so that it need not be held whole. `band`
    // holds source rows bandTop to bandTop + bandRows - 1; output rows from `row` on are made
    // while the source rows they cover lie in the band, into their place in `bgr` (the whole
    // output). Returns the first output row not made. A band of SourceRowsPerOutputRow() rows
    // from FirstSourceRow(row) on always makes row `row`.
    int ScaleBand(int row, const uint8_t* band, int bandTop, int bandRows, size_t srcStride,
                  PixelLayout layout, uint8_t* bgr);
    int FirstSourceRow(int row) const { return static_cast<int>(m_rows.first[row]); }
    int SourceRowsPerOutputRow() const { return static_cast<int>(m_rows.taps); }

  private:
    // The source pixels each output pixel of one axis covers: from first[i] on, with the
    // weights at i x taps, as many as the widest cover needs (rounded up to `tapMultiple`),
    // padded with zero weights.
    struct Axis {
        std::vector<uint32_t> first;
        std::vector<uint32_t> weights;
        uint32_t taps = 0;
        uint32_t unitsPerOutput = 0;  // an output pixel's whole weight
    };
    static Axis BuildAxis(int srcSize, int dstSize, uint32_t tapMultiple);

    // RowSum holds the weighted sum of the covered rows: 16 bits when it fits, twice as fast.
    template <typename RowSum>
    int ScaleWith(std::vector<RowSum>& sums, int fromRow, const uint8_t* band, int bandTop,
                  int bandRows, size_t srcStride, PixelLayout layout, uint8_t* bgr);
    template <typename RowSum>
    void ScaleColumns(const RowSum* sums, PixelLayout layout, uint8_t* bgr,
                      ptrdiff_t pixelStep) const;
#if defined(__SSE2__)
    void ScaleColumnPairs(const uint16_t* sums, PixelLayout layout, uint8_t* bgr,
                          ptrdiff_t pixelStep) const;
#endif
    // Where output row `y` begins its pixels, and the step from one to the next.
    uint8_t* OutputRow(uint8_t* bgr, size_t y, ptrdiff_t* pixelStep) const;
    // A weighted sum divided by the output pixel's weight, rounded half up.
    uint8_t Mean(uint32_t total) const {
        return static_cast<uint8_t>((uint64_t{total + m_half} * m_reciprocal) >> m_shift);
    }

    int m_sourceHeight;
    Axis m_columns;
    Axis m_rows;
    // Dividing by an output pixel's weight D, as (n x m_reciprocal) >> m_shift with
    // 2^m_shift >= 256 D^2: exact for every n below 256 D, and a product of two 32-bit numbers.
    uint32_t m_half = 0;  // D / 2, for rounding
    uint64_t m_reciprocal = 0;
    int m_shift = 0;
    std::vector<uint16_t> m_rowSums16;
    std::vector<uint32_t> m_rowSums32;
    // For the paired columns: each output pixel's weights two to a 32-bit word, the first in
    // the low half; empty where the pairs are not used.
    std::vector<uint32_t> m_weightPairs;
    int m_flip = FLIP_NONE;
    size_t m_outputStride = 0;
    bool m_ready = false;
};
