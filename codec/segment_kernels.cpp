#include "codec/segment_kernels.h"

#include <cstring>

#include "codec/pixel_segment.h"

namespace {

// Every call in a kernel is compiled inline, for the kernel's instruction set.
#if defined(__GNUC__)
#define KV_FLATTEN __attribute__((flatten))
#else
#define KV_FLATTEN
#endif

template <class Tier>
size_t EncodeSegmentPayload(const SegmentJob& job) {
    const FrameCodecParams& p = *job.params;
    const CodeTables& tables = GetCodeTables();
    // The pixel-pair variant keeps an odd last segment as it is; otherwise a padding pixel
    // makes it even. Padding emits no code, and is stored as zeros when the segment is raw.
    const bool padLast = (p.flags & FLAG_PIXEL_PAIRS) == 0;
    uint8_t* at = job.payload;
    bool lastRaw = false;  // noisy segments come in runs
    ForEachSegment(*job.image, p, job.channels, job.step, [&](SegmentPixels& s) {
        int rawPixels = s.pixels;
        if (padLast && s.pixels < p.segmentPixels && s.pixels % 2 != 0) {
            std::memset(s.PixelBytes(s.pixels), 0, static_cast<size_t>(s.channels));
            ++rawPixels;
        }
        at = PutPixelSegmentBefore<Tier>(job.limit, at, tables, s.values, s.channels,
                                         s.pixels * s.channels, rawPixels * s.channels, lastRaw,
                                         &lastRaw);
    });
    return CloseSegmentPayload<Tier>(job.payload, at, p.flags);
}

KV_FLATTEN size_t EncodeBaseline(const SegmentJob& job) {
    return EncodeSegmentPayload<BaseTier>(job);
}

#if defined(__SSE2__) && defined(__GNUC__)
#define KV_HAVE_TIERS 1

KV_TARGET_SSE41 KV_FLATTEN size_t EncodeSse41(const SegmentJob& job) {
    return EncodeSegmentPayload<Sse41Tier>(job);
}

KV_TARGET_AVX2 KV_FLATTEN size_t EncodeAvx2(const SegmentJob& job) {
    return EncodeSegmentPayload<Avx2Tier>(job);
}
#endif

std::vector<SegmentKernel> FindRunnableKernels() {
    std::vector<SegmentKernel> kernels;
#if defined(KV_HAVE_TIERS)
    __builtin_cpu_init();  // may run before the constructors that would do it
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
        __builtin_cpu_supports("bmi2")) {
        kernels.push_back({"avx2", EncodeAvx2});
    }
    if (__builtin_cpu_supports("sse4.1"))
        kernels.push_back({"sse4.1", EncodeSse41});
    kernels.push_back({"sse2", EncodeBaseline});
#else
    kernels.push_back({"portable", EncodeBaseline});
#endif
    return kernels;
}

}  // namespace

const std::vector<SegmentKernel>& RunnableSegmentKernels() {
    static const std::vector<SegmentKernel> kernels = FindRunnableKernels();
    return kernels;
}
