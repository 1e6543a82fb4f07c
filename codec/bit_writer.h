#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

// The planar and 8-bit paths' bit writer: a stream most significant bit first. Bits gather
// in a 64-bit accumulator and leave it a whole 32-bit word at a time. How a word lands in
// memory is the writer's type:
// - kWordsLittleEndian: the packed word writer; each word is stored least significant byte
//   first, so the stream's first byte of a word is the word's fourth byte in memory.
// - kStreamOrder: the stream's bytes appear in memory in stream order. This is the byte
//   writer, and also the packed writer followed by a byte reversal of every word.
enum class ByteOrder { kWordsLittleEndian, kStreamOrder };

template <ByteOrder kOrder>
class BitWriter {
  public:
    explicit BitWriter(uint8_t* start) : start_(start), next_(start) {}

    // Appends the `length` (0 to 32) low bits of `code`; `code` has no bits above them.
    void Put(unsigned length, uint32_t code) {
        pending_ = (pending_ << length) | code;
        pendingBits_ += length;
        if (pendingBits_ >= 32) {
            pendingBits_ -= 32;
            StoreWord(static_cast<uint32_t>(pending_ >> pendingBits_));
        }
    }

    // Zero bits up to the next byte boundary.
    void AlignToByte() { Put((8 - pendingBits_ % 8) % 8, 0); }

    size_t BitPosition() const { return StoredBytes() * 8 + pendingBits_; }
    size_t BytePosition() const { return BitPosition() / 8; }  // when aligned

    // Sets the stream byte at `offset` (so far a zero placeholder) to `value`, whether it
    // has been stored already or still waits in the accumulator.
    void SetByte(size_t offset, uint8_t value) {
        const size_t stored = StoredBytes();
        if (offset < stored) {
            start_[MemoryIndex(offset)] = value;
        } else {
            const unsigned shift = pendingBits_ - 8 * static_cast<unsigned>(offset - stored + 1);
            pending_ |= uint64_t{value} << shift;
        }
    }

    // Packed close: pads to a byte, stores the last partial word (its unused bytes zero) and
    // returns the payload bytes, padding not counted. End() is then a whole word.
    size_t CloseWords() {
        AlignToByte();
        const size_t payload = BytePosition();
        if (pendingBits_ > 0)
            Put(32 - pendingBits_, 0);
        return payload;
    }

    // Byte close: pads to a byte and stores only the used bytes; returns the payload bytes.
    size_t CloseBytes() {
        static_assert(kOrder == ByteOrder::kStreamOrder, "bytes are stored in stream order");
        AlignToByte();
        for (; pendingBits_ > 0; pendingBits_ -= 8) {
            start_[MemoryIndex(StoredBytes())] =
                static_cast<uint8_t>(pending_ >> (pendingBits_ - 8));
            ++next_;
        }
        return StoredBytes();
    }

    uint8_t* End() const { return next_; }

  private:
    size_t StoredBytes() const { return static_cast<size_t>(next_ - start_); }

    static size_t MemoryIndex(size_t offset) {
        return kOrder == ByteOrder::kStreamOrder ? offset
                                                 : (offset & ~size_t{3}) + 3 - (offset & 3);
    }

    void StoreWord(uint32_t word) {
        const bool swap =
            (kOrder == ByteOrder::kStreamOrder) == (std::endian::native == std::endian::little);
        if (swap)
            word = __builtin_bswap32(word);
        std::memcpy(next_, &word, 4);
        next_ += 4;
    }

    uint8_t* start_;
    uint8_t* next_;
    uint64_t pending_ = 0;      // the last pendingBits_ bits are the unstored stream
    unsigned pendingBits_ = 0;  // 0 to 31 between calls
};

using PackedWriter = BitWriter<ByteOrder::kWordsLittleEndian>;
using ByteWriter = BitWriter<ByteOrder::kStreamOrder>;
