#include "codec/encode_paths.h"
#include "codec/segment_kernels.h"

int EncodeSegments(FrameCodecParams* p, const EncodeRequest& r, const SourceImage& image,
                   uint8_t* output, const SegmentKernel& kernel) {
    const SegmentJob job = {
        p, &image, r.channels, r.step, output + p->headerSize, output + r.maxLength};
    return FinishPaddedPayload(p, output, kernel.encodePayload(job));
}
