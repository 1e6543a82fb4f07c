#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// The compressors the benchmarks compare on one whole frame: the projector codec as the
// compressed sender runs it, and three general references.

class BenchCoder {
  public:
    virtual ~BenchCoder() = default;
    virtual const char* Name() const = 0;
    // Compresses one frame of kBenchFrameBytes; returns the compressed size in bytes.
    virtual size_t Encode(const uint8_t* frame) = 0;
};

// The sender's codec work: the 19 full slices of 1024 x 21 pixels (64,512 bytes each)
// encoded with the sender's parameters. The size counts the 19 units and the 4,032 bytes
// of the last slice, which is always sent raw.
std::unique_ptr<BenchCoder> MakeProjectorCoder();
std::unique_ptr<BenchCoder> MakeLz4Coder();   // LZ4_compress_default
std::unique_ptr<BenchCoder> MakeZstdCoder();  // level 1, one reused context
std::unique_ptr<BenchCoder> MakeQoiCoder();   // 854 x 480, 3 channels
