#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

// The segment coder's bit writer: bits most significant first, bytes in stream order. Each
// call stores the accumulator's top eight bytes at the first unfinished byte and moves on
// by the bytes it finished, so there is no branch on the code's length and one call can
// take up to 56 bits: a pair of pairs, or a run of zero codes and the code after it.
// Writes up to kStreamWriterReach bytes beyond the bytes it finished.

inline constexpr unsigned kMaxPutBits = 56;
inline constexpr unsigned kMaxZeroBits = 512;  // the most PutZeros takes at once
inline constexpr int kStreamWriterReach = 8 + kMaxZeroBits / 8;

inline void StoreBigEndian64(uint8_t* at, uint64_t value) {
    if constexpr (std::endian::native == std::endian::little)
        value = __builtin_bswap64(value);
    std::memcpy(at, &value, sizeof value);
}

struct StreamWriter {
    uint8_t* at;           // the first byte not yet finished
    uint64_t pending = 0;  // its bits are the low `count` bits; the bits above do not matter
    unsigned count = 0;    // 0 to 7 between calls

    // Appends the `length` (1 to kMaxPutBits) low bits of `code`, which has no bits above.
    void Put(unsigned length, uint64_t code) {
        pending = pending << length | code;
        count += length;
        StoreBigEndian64(at, pending << (64 - count));
        at += count >> 3;
        count &= 7;
    }

    // Appends `length` (0 to kMaxZeroBits) zero bits.
    void PutZeros(unsigned length) {
        StoreBigEndian64(at, pending << (63 - count) << 1);  // the pending bits, then zeros
        std::memset(at + 8, 0, kMaxZeroBits / 8);
        pending = length < 64 ? pending << length : 0;
        count += length;
        at += count >> 3;
        count &= 7;
    }

    // Zero bits up to the next byte boundary; returns the end of the bytes written.
    uint8_t* AlignToByte() {
        StoreBigEndian64(at, pending << (63 - count) << 1);
        at += (count + 7) >> 3;
        count = 0;
        return at;
    }
};
