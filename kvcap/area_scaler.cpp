#include "kvcap/area_scaler.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <numeric>

namespace {
constexpr int kSourcePixelBytes = 4;
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
constexpr int kReciprocalShift = 56;
constexpr uint32_t kMaxDivisor = uint32_t{1} << 24;
}  // namespace

AreaScaler::Axis AreaScaler::BuildAxis(int srcSize, int dstSize) {
    // An output pixel spans srcSize / gcd units, a source pixel dstSize / gcd.
    uint32_t common = std::gcd(static_cast<uint32_t>(srcSize), static_cast<uint32_t>(dstSize));
    uint32_t outputUnits = static_cast<uint32_t>(srcSize) / common;
    uint32_t sourceUnits = static_cast<uint32_t>(dstSize) / common;
    Axis axis;
    axis.unitsPerOutput = outputUnits;
    // The widest cover: a partial pixel at each end around the whole ones.
    axis.taps = std::min<uint32_t>((outputUnits + sourceUnits - 1) / sourceUnits + 1, srcSize);
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

AreaScaler::AreaScaler(int srcWidth, int srcHeight, int dstWidth, int dstHeight) {
    m_columns = BuildAxis(srcWidth, dstWidth);
    m_rows = BuildAxis(srcHeight, dstHeight);
    uint64_t divisor = uint64_t{m_columns.unitsPerOutput} * m_rows.unitsPerOutput;
    m_ready = divisor < kMaxDivisor;
    if (!m_ready) {
        return;
    }
    m_divisor = static_cast<uint32_t>(divisor);
    // With sums below 256 x divisor and divisor below 2^24 the rounded-up reciprocal is off
    // by less than 1 / divisor, so the quotient is exact.
    m_reciprocal = ((uint64_t{1} << kReciprocalShift) + m_divisor - 1) / m_divisor;
    // Room for the zero-weight taps that may reach past the last column.
    size_t sumCount = (static_cast<size_t>(srcWidth) + m_columns.taps) * kSourcePixelBytes;
    if (255u * m_rows.unitsPerOutput <= std::numeric_limits<uint16_t>::max()) {
        m_rowSums16.assign(sumCount, 0);
    } else {
        m_rowSums32.assign(sumCount, 0);
    }
}

void AreaScaler::Scale(const uint8_t* src, size_t srcStride, PixelLayout layout, uint8_t* bgr) {
    if (!m_rowSums16.empty()) {
        ScaleWith(m_rowSums16, src, srcStride, layout, bgr);
    } else {
        ScaleWith(m_rowSums32, src, srcStride, layout, bgr);
    }
}

template <typename RowSum>
void AreaScaler::ScaleWith(std::vector<RowSum>& sumBuffer, const uint8_t* src, size_t srcStride,
                           PixelLayout layout, uint8_t* bgr) {
    const size_t rowBytes = sumBuffer.size() - size_t{m_columns.taps} * kSourcePixelBytes;
    const uint32_t half = m_divisor / 2;
    const int channels[3] = {layout.blue, layout.green, layout.red};
    const size_t outputColumns = m_columns.first.size();
    RowSum* __restrict sums = sumBuffer.data();
    for (size_t y = 0; y < m_rows.first.size(); ++y) {
        // Rows: each byte of the covered rows times the row's weight.
        const uint32_t* rowWeights = m_rows.weights.data() + y * m_rows.taps;
        const uint8_t* row = src + m_rows.first[y] * srcStride;
        const auto firstWeight = static_cast<RowSum>(rowWeights[0]);
        for (size_t i = 0; i < rowBytes; ++i) {
            sums[i] = static_cast<RowSum>(row[i] * firstWeight);
        }
        for (uint32_t tap = 1; tap < m_rows.taps && rowWeights[tap] != 0; ++tap) {
            row += srcStride;
            const auto weight = static_cast<RowSum>(rowWeights[tap]);
            for (size_t i = 0; i < rowBytes; ++i) {
                sums[i] = static_cast<RowSum>(sums[i] + row[i] * weight);
            }
        }
        // Columns: the four sums of each covered pixel times the column's weight.
        for (size_t x = 0; x < outputColumns; ++x) {
            const RowSum* pixel = sums + size_t{m_columns.first[x]} * kSourcePixelBytes;
            const uint32_t* weights = m_columns.weights.data() + x * m_columns.taps;
            Lanes total = {};
            for (uint32_t tap = 0; tap < m_columns.taps; ++tap) {
                typename RowSumLanes<RowSum>::Type four;
                std::memcpy(&four, pixel + tap * kSourcePixelBytes, sizeof four);
                total += __builtin_convertvector(four, Lanes) * weights[tap];
            }
            for (int channel : channels) {
                *bgr++ = static_cast<uint8_t>((uint64_t{total[channel] + half} * m_reciprocal) >>
                                              kReciprocalShift);
            }
        }
    }
}
