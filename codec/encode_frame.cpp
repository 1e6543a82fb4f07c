#include "codec/encode_paths.h"
#include "codec/segment_kernels.h"

int FinishBytes(FrameCodecParams* p, uint8_t* output, uint8_t* payloadEnd) {
    p->payloadSize = static_cast<int32_t>(payloadEnd - (output + p->headerSize));
    for (; (payloadEnd - output) % 4 != 0; ++payloadEnd)
        *payloadEnd = 0;
    WriteFrameHeader(p, output);
    return static_cast<int>(payloadEnd - output);
}

int FinishPaddedPayload(FrameCodecParams* p, uint8_t* output, size_t size) {
    p->payloadSize = static_cast<int32_t>(size);
    WriteFrameHeader(p, output);
    return static_cast<int>(p->headerSize + (size + 3) / 4 * 4);
}

bool EncodeFrame(FrameCodecParams* params, const uint8_t* source, uint8_t* output, int* outLength) {
    return EncodeFrameWith(FastestSegmentKernel(), params, source, output, outLength);
}

bool EncodeFrameWith(const SegmentKernel& kernel, FrameCodecParams* params, const uint8_t* source,
                     uint8_t* output, int* outLength) {
    EncodeRequest r;
    if (params == nullptr || output == nullptr || outLength == nullptr ||
        !ClassifyRequest(*params, source != nullptr, &r)) {
        return false;
    }
    const SourceImage image = MakeSourceImage(*params, source);
    switch (r.path) {
        case EncodePath::kCopyPixels3:
            *outLength = CopyPixels3(params, image, output);
            break;
        case EncodePath::kCopyRows:
            *outLength = CopyRows(params, image, output);
            break;
        case EncodePath::kSamples8:
            *outLength = EncodeSamples8(params, r, image, output);
            break;
        case EncodePath::kBlank:
            *outLength = EncodeBlank(params, r, output);
            break;
        case EncodePath::kSegments:
            *outLength = EncodeSegments(params, r, image, output, kernel);
            break;
        case EncodePath::kPlanar:
            *outLength = EncodePlanar(params, r, image, output);
            break;
    }
    return true;
}

size_t MaxEncodedLength(const FrameCodecParams& params, bool withSource) {
    EncodeRequest r;
    return ClassifyRequest(params, withSource, &r) ? r.maxLength : 0;
}
