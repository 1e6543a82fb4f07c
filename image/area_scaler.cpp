#include "image/area_scaler.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstring>
#include <limits>
#include <numeric>

namespace {

constexpr int kSourcePixelBytes = 4;
constexpr uint64_t kMaxDivisor = uint64_t{1} << 23;
constexpr uint32_t kLargestSample = 255;
constexpr uint32_t kInt16Limit = 1u << 15;  // the multiply-add takes signed 16-bit factors

// A source pixel's four bytes, or their sums, side by side in one vector register.
using Lanes = uint32_t __attribute__((vector_size(kSourcePixelBytes * sizeof(uint32_t))));
template <typename RowSum>
struct RowSumLanes;
template <>
struct RowSumLanes<uint16_t> {
    using Type = uint16_t __attribute__((vector_size(kSourcePixelBytes * sizeof(uint16_t))));
};
template <>
struct RowSumLanes<uint32_t> {
    using Type = Lanes;
};

// The output's three bytes from the four means of a source pixel's bytes, in source order.
void PutPixel(uint32_t means, PixelLayout layout, uint8_t* bgr) {
    bgr[0] = static_cast<uint8_t>(means >> (8 * layout.blue));
    bgr[1] = static_cast<uint8_t>(means >> (8 * layout.green));
    bgr[2] = static_cast<uint8_t>(means >> (8 * layout.red));
}

}  // namespace

AreaScaler::Axis AreaScaler::BuildAxis(int srcSize, int dstSize, uint32_t tapMultiple) {
    // An output pixel spans srcSize / gcd units, a source pixel dstSize / gcd.
    uint32_t common = std::gcd(static_cast<uint32_t>(srcSize), static_cast<uint32_t>(dstSize));
    uint32_t outputUnits = static_cast<uint32_t>(srcSize) / common;
    uint32_t sourceUnits = static_cast<uint32_t>(dstSize) / common;
    Axis axis;
    axis.unitsPerOutput = outputUnits;
    // The widest cover: a partial pixel at each end around the whole ones.
    axis.taps = std::min<uint32_t>((outputUnits + sourceUnits - 1) / sourceUnits + 1, srcSize);
    axis.taps = (axis.taps + tapMultiple - 1) / tapMultiple * tapMultiple;
    for (uint32_t i = 0; i < static_cast<uint32_t>(dstSize); ++i) {
        uint64_t begin = uint64_t{i} * outputUnits;
        uint64_t end = begin + outputUnits;
        uint64_t pixel = begin / sourceUnits;
        axis.first.push_back(static_cast<uint32_t>(pixel));
        for (uint32_t tap = 0; tap < axis.taps; ++tap, ++pixel) {
            uint64_t from = std::max(begin, pixel * sourceUnits);
            uint64_t to = std::min(end, (pixel + 1) * sourceUnits);
            axis.weights.push_back(to > from ? static_cast<uint32_t>(to - from) : 0);
        }
    }
    return axis;
}

AreaScaler::AreaScaler(int srcWidth, int srcHeight, int dstWidth, int dstHeight)
    : m_sourceHeight(srcHeight), m_outputStride(static_cast<size_t>(std::max(dstWidth, 0)) * 3) {
    // An empty picture (a monitor taken away) has no areas to average, and its axes no weights.
    if (srcWidth < 1 || srcHeight < 1 || dstWidth < 1 || dstHeight < 1) {
        return;
    }
    m_rows = BuildAxis(srcHeight, dstHeight, 1);
    bool sums16 = kLargestSample * m_rows.unitsPerOutput <= std::numeric_limits<uint16_t>::max();
    m_columns = BuildAxis(srcWidth, dstWidth, 1);
    uint64_t divisor = uint64_t{m_columns.unitsPerOutput} * m_rows.unitsPerOutput;
    m_ready = divisor < kMaxDivisor;
    if (!m_ready) {
        return;
    }
#if defined(__SSE2__)
    uint32_t widest = *std::max_element(m_columns.weights.begin(), m_columns.weights.end());
    if (sums16 && widest < kInt16Limit) {
        m_columns = BuildAxis(srcWidth, dstWidth, 2);
        for (size_t i = 0; i < m_columns.weights.size(); i += 2) {
            m_weightPairs.push_back(m_columns.weights[i] | m_columns.weights[i + 1] << 16);
        }
    }
#endif
    m_half = static_cast<uint32_t>(divisor / 2);
    m_shift = 8;
    while ((uint64_t{1} << m_shift) < 256 * divisor * divisor) {
        ++m_shift;
    }
    m_reciprocal = ((uint64_t{1} << m_shift) + divisor - 1) / divisor;
    // Room for the zero-weight taps that may reach past the last column.
    size_t sumCount = (static_cast<size_t>(srcWidth) + m_columns.taps) * kSourcePixelBytes;
    if (sums16) {
        m_rowSums16.assign(sumCount, 0);
    } else {
        m_rowSums32.assign(sumCount, 0);
    }
}

void AreaScaler::Scale(const uint8_t* src, size_t srcStride, PixelLayout layout, uint8_t* bgr) {
    ScaleBand(0, src, 0, m_sourceHeight, srcStride, layout, bgr);
}

int AreaScaler::ScaleBand(int row, const uint8_t* band, int bandTop, int bandRows, size_t srcStride,
                          PixelLayout layout, uint8_t* bgr) {
    if (!m_rowSums16.empty()) {
        return ScaleWith(m_rowSums16, row, band, bandTop, bandRows, srcStride, layout, bgr);
    }
    return ScaleWith(m_rowSums32, row, band, bandTop, bandRows, srcStride, layout, bgr);
}

template <typename RowSum>
int AreaScaler::ScaleWith(std::vector<RowSum>& sumBuffer, int fromRow, const uint8_t* band,
                          int bandTop, int bandRows, size_t srcStride, PixelLayout layout,
                          uint8_t* bgr) {
    const size_t rowBytes = sumBuffer.size() - size_t{m_columns.taps} * kSourcePixelBytes;
    RowSum* __restrict sums = sumBuffer.data();
    const auto bandEnd = static_cast<uint32_t>(bandTop + bandRows);
    size_t y = static_cast<size_t>(fromRow);
    for (; y < m_rows.first.size(); ++y) {
        const uint32_t* rowWeights = m_rows.weights.data() + y * m_rows.taps;
        uint32_t covered = 1;
        while (covered < m_rows.taps && rowWeights[covered] != 0) {
            ++covered;
        }
        if (m_rows.first[y] < static_cast<uint32_t>(bandTop) ||
            m_rows.first[y] + covered > bandEnd) {
            break;
        }
        // Rows: each byte of the covered rows times the row's weight.
        const uint8_t* row = band + (m_rows.first[y] - bandTop) * srcStride;
        const auto firstWeight = static_cast<RowSum>(rowWeights[0]);
        for (size_t i = 0; i < rowBytes; ++i) {
            sums[i] = static_cast<RowSum>(row[i] * firstWeight);
        }
        for (uint32_t tap = 1; tap < covered; ++tap) {
            row += srcStride;
            const auto weight = static_cast<RowSum>(rowWeights[tap]);
            for (size_t i = 0; i < rowBytes; ++i) {
                sums[i] = static_cast<RowSum>(sums[i] + row[i] * weight);
            }
        }
        ptrdiff_t pixelStep = 0;
        uint8_t* out = OutputRow(bgr, y, &pixelStep);
#if defined(__SSE2__)
        if constexpr (sizeof(RowSum) == sizeof(uint16_t)) {
            if (!m_weightPairs.empty()) {
                ScaleColumnPairs(sums, layout, out, pixelStep);
                continue;
            }
        }
#endif
        ScaleColumns(sums, layout, out, pixelStep);
    }
    return static_cast<int>(y);
}

uint8_t* AreaScaler::OutputRow(uint8_t* bgr, size_t y, ptrdiff_t* pixelStep) const {
    const size_t width = m_columns.first.size();
    const size_t height = m_rows.first.size();
    const size_t row = (m_flip & FLIP_VERTICAL) != 0 ? height - 1 - y : y;
    uint8_t* out = bgr + row * m_outputStride;
    if ((m_flip & FLIP_HORIZONTAL) != 0) {
        *pixelStep = -3;
        return out + (width - 1) * 3;
    }
    *pixelStep = 3;
    return out;
}

// Columns: the four sums of each covered pixel times the column's weight.
template <typename RowSum>
void AreaScaler::ScaleColumns(const RowSum* sums, PixelLayout layout, uint8_t* bgr,
                              ptrdiff_t pixelStep) const {
    for (size_t x = 0; x < m_columns.first.size(); ++x, bgr += pixelStep) {
        const RowSum* pixel = sums + size_t{m_columns.first[x]} * kSourcePixelBytes;
        const uint32_t* weights = m_columns.weights.data() + x * m_columns.taps;
        Lanes total = {};
        for (uint32_t tap = 0; tap < m_columns.taps; ++tap) {
            typename RowSumLanes<RowSum>::Type four;
            std::memcpy(&four, pixel + tap * kSourcePixelBytes, sizeof four);
            total += __builtin_convertvector(four, Lanes) * weights[tap];
        }
        uint32_t means = 0;
        for (int b = 0; b < kSourcePixelBytes; ++b) {
            means |= uint32_t{Mean(total[b])} << (8 * b);
        }
        PutPixel(means, layout, bgr);
    }
}

#if defined(__SSE2__)
// The same, two covered pixels at a time: their sums interleaved, each pair of 16-bit
// products added into 32 bits in one step; the division in 64-bit lanes. The multiply-add
// takes signed factors, so the sums go in less 2^15 (their top bit flipped), and 2^15 times
// the weights' total, which is the same for every output pixel, comes back with the rounding.
void AreaScaler::ScaleColumnPairs(const uint16_t* sums, PixelLayout layout, uint8_t* bgr,
                                  ptrdiff_t pixelStep) const {
    const uint32_t pairs = m_columns.taps / 2;
    const __m128i signBits = _mm_set1_epi16(static_cast<int16_t>(0x8000));
    const __m128i half =
        _mm_set1_epi32(static_cast<int>(m_half + kInt16Limit * m_columns.unitsPerOutput));
    const __m128i reciprocal = _mm_set1_epi32(static_cast<int>(m_reciprocal));
    const __m128i lowHalves = _mm_set1_epi64x(0xFFFFFFFF);
    for (size_t x = 0; x < m_columns.first.size(); ++x, bgr += pixelStep) {
        const uint16_t* pixel = sums + size_t{m_columns.first[x]} * kSourcePixelBytes;
        const uint32_t* weightPairs = m_weightPairs.data() + x * pairs;
        __m128i total = _mm_setzero_si128();
        for (uint32_t pair = 0; pair < pairs; ++pair, pixel += 2 * kSourcePixelBytes) {
            __m128i first = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pixel));
            __m128i second =
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pixel + kSourcePixelBytes));
            __m128i weights = _mm_set1_epi32(static_cast<int>(weightPairs[pair]));
            __m128i signedSums = _mm_xor_si128(_mm_unpacklo_epi16(first, second), signBits);
            total = _mm_add_epi32(total, _mm_madd_epi16(signedSums, weights));
        }
        total = _mm_add_epi32(total, half);
        __m128i even = _mm_srli_epi64(_mm_mul_epu32(total, reciprocal), m_shift);
        __m128i odd = _mm_srli_epi64(_mm_mul_epu32(_mm_srli_epi64(total, 32), reciprocal), m_shift);
        __m128i means = _mm_or_si128(_mm_and_si128(even, lowHalves), _mm_slli_epi64(odd, 32));
        means = _mm_packs_epi32(means, means);
        means = _mm_packus_epi16(means, means);
        PutPixel(static_cast<uint32_t>(_mm_cvtsi128_si32(means)), layout, bgr);
    }
}
#endif
