#pragma once

#include <cstdint>

#include "codec/bit_writer.h"
#include "codec/code_tables.h"
#include "codec/encode_request.h"

// The planar and 8-bit paths' segments: an 8-bit length field (the body's byte count, low 8
// bits), then the codes of one channel's differences, then zero bits to a byte boundary.
// Each works with the packed writer and the byte writer.

// Zero runs: each nonzero value is coded with the run of zeros before it; sixteen zeros
// are ZRL; zeros at the end are EOB.
template <class Writer>
void PutRunLengthSegment(Writer& w, const CodeTables& t, const int16_t* values, int count);

// One ValueCodes code per value.
template <class Writer>
void PutValueSegment(Writer& w, const CodeTables& t, const int16_t* values, int count);

// The same codes as PutValueSegment, one PairCodes lookup per two values.
template <class Writer>
void PutPairSegment(Writer& w, const CodeTables& t, const int16_t* values, int count);

inline constexpr int kBlockSamples = 64;
inline constexpr int kBlockStep = 4;

// One channel of 64 pixels read straight from the source, 4 bytes apart, starting at the
// channel's byte of the first pixel: the first predicted from 128, each other from the one
// before it, coded in pairs.
template <class Writer>
void PutBlockSegment(Writer& w, const CodeTables& t, const uint8_t* firstSample);

// The segment of the coder the flags chose.
template <class Writer>
void PutChannelSegment(Writer& w, const CodeTables& t, ChannelCoder coder, const int16_t* values,
                       int count);
