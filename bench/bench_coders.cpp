#include "bench/bench_coders.h"

#include <lz4.h>
#include <qoi.h>
#include <zstd.h>

#include <cstdlib>
#include <vector>

#include "bench/bench_frames.h"
#include "codec/frame_codec.h"
#include "device/frame_transfer.h"

namespace {

constexpr size_t kFullSlices = kBenchFrameBytes / SLICE_BYTES;  // 19

class ProjectorCoder : public BenchCoder {
  public:
    ProjectorCoder() : params_(CompressedSliceParams()) {
        output_.resize(MaxEncodedLength(params_));
    }
    const char* Name() const override { return "codec"; }
    size_t Encode(const uint8_t* frame) override {
        size_t total = kBenchFrameBytes - kFullSlices * SLICE_BYTES;
        for (size_t s = 0; s < kFullSlices; ++s) {
            FrameCodecParams p = params_;
            int length = 0;
            if (!EncodeFrame(&p, frame + s * SLICE_BYTES, output_.data(), &length))
                return 0;
            total += static_cast<size_t>(length);
        }
        return total;
    }

  private:
    FrameCodecParams params_;
    std::vector<uint8_t> output_;
};

class Lz4Coder : public BenchCoder {
  public:
    Lz4Coder() : output_(LZ4_compressBound(static_cast<int>(kBenchFrameBytes))) {}
    const char* Name() const override { return "LZ4"; }
    size_t Encode(const uint8_t* frame) override {
        return static_cast<size_t>(LZ4_compress_default(
            reinterpret_cast<const char*>(frame), output_.data(),
            static_cast<int>(kBenchFrameBytes), static_cast<int>(output_.size())));
    }

  private:
    std::vector<char> output_;
};

class ZstdCoder : public BenchCoder {
  public:
    ZstdCoder() : context_(ZSTD_createCCtx()), output_(ZSTD_compressBound(kBenchFrameBytes)) {}
    ~ZstdCoder() override { ZSTD_freeCCtx(context_); }
    const char* Name() const override { return "zstd-1"; }
    size_t Encode(const uint8_t* frame) override {
        const size_t size =
            ZSTD_compressCCtx(context_, output_.data(), output_.size(), frame, kBenchFrameBytes, 1);
        return ZSTD_isError(size) ? 0 : size;
    }

  private:
    ZSTD_CCtx* context_;
    std::vector<uint8_t> output_;
};

class QoiCoder : public BenchCoder {
  public:
    const char* Name() const override { return "QOI"; }
    size_t Encode(const uint8_t* frame) override {
        const qoi_desc desc = {kBenchFrameWidth, kBenchFrameHeight, 3, QOI_SRGB};
        int length = 0;
        void* encoded = qoi_encode(frame, &desc, &length);
        std::free(encoded);
        return encoded != nullptr ? static_cast<size_t>(length) : 0;
    }
};

}  // namespace

std::unique_ptr<BenchCoder> MakeProjectorCoder() {
    return std::make_unique<ProjectorCoder>();
}
std::unique_ptr<BenchCoder> MakeLz4Coder() {
    return std::make_unique<Lz4Coder>();
}
std::unique_ptr<BenchCoder> MakeZstdCoder() {
    return std::make_unique<ZstdCoder>();
}
std::unique_ptr<BenchCoder> MakeQoiCoder() {
    return std::make_unique<QoiCoder>();
}
