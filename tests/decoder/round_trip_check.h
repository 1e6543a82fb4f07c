#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "codec/frame_codec.h"
#include "codec/frame_decoder.h"

// One unit through the real encoder and the decoder, checked against the source. Shared by
// the decoder tests and the encoder fuzz target.

enum class RoundTripOutcome {
    kMatched,          // decoded exactly to the region's pixels
    kEncoderRejected,  // EncodeFrame (or MaxEncodedLength) refuses the parameters
    kNotDecodable,     // DecodeFrame does not cover the variant (DECODE_UNSUPPORTED)
    kFailed,           // anything else: see the message
};

struct RoundTripReport {
    RoundTripOutcome outcome;
    std::string message;
};

// The row stride of a source image: rows padded to a multiple of 4 bytes.
size_t SourceStride(int imageWidth, int bitsPerPixel);

// What the decoder should give for the region: per pixel the channels it carries (see
// codec/frame_decoder.h), read from the source as the encoder reads them.
std::vector<uint8_t> ExpectedRegion(const FrameCodecParams& params, const uint8_t* source);

// The options that tell the decoder what the header does not.
DecodeOptions DecodeOptionsFor(const FrameCodecParams& params, bool blankRegion);

// Encodes `source` (null: a blank region) into a buffer of exactly MaxEncodedLength bytes,
// checks the unit's length and padding, decodes it and compares.
RoundTripReport RunRoundTrip(FrameCodecParams params, const uint8_t* source);

std::string DescribeParams(const FrameCodecParams& params);
