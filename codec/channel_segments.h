#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/bit_writer.h"
#include "codec/code_tables.h"
#include "codec/encode_request.h"

// The planar and 8-bit paths' segments: an 8-bit length field (the body's byte count, low 8
// bits), then the codes of one channel's differences, then zero bits to a byte boundary.
// They work with either writer.

template <class Writer>
size_t BeginChannelSegment(Writer& w) {
    const size_t field = w.BytePosition();
    w.Put(8, 0);
    return field;
}

template <class Writer>
void EndChannelSegment(Writer& w, size_t field) {
    w.AlignToByte();
    w.SetByte(field, static_cast<uint8_t>(w.BytePosition() - field - 1));
}

template <class Writer>
void PutCode824(Writer& w, uint32_t code) {
    w.Put(CodeLength824(code), CodeBits824(code));
}

// Zero runs: each nonzero value is coded with the run of zeros before it; sixteen zeros
// are ZRL; zeros at the end are EOB.
template <class Writer>
void PutRunLengthSegment(Writer& w, const CodeTables& t, const int16_t* values, int count) {
    const size_t field = BeginChannelSegment(w);
    int run = 0;
    for (int i = 0; i < count; ++i) {
        if (values[i] == 0) {
            if (++run == 16) {
                PutCode824(w, t.zrlCode);
                run = 0;
            }
            continue;
        }
        PutCode824(w, t.RunValueCode(run, values[i]));
        run = 0;
    }
    if (run > 0)
        PutCode824(w, t.eobCode);
    EndChannelSegment(w, field);
}

// The run-length segment through the byte writer.
inline void PutRunLengthBytes(ByteWriter& w, const CodeTables& t, const int16_t* values,
                              int count) {
    PutRunLengthSegment(w, t, values, count);
}

template <class Writer>
void PutValueSegment(Writer& w, const CodeTables& t, const int16_t* values, int count) {
    const size_t field = BeginChannelSegment(w);
    for (int i = 0; i < count; ++i)
        PutCode824(w, t.ValueCode(values[i]));
    EndChannelSegment(w, field);
}

// The same codes as PutValueSegment, one lookup per two values.
template <class Writer>
void PutPairSegment(Writer& w, const CodeTables& t, const int16_t* values, int count) {
    const size_t field = BeginChannelSegment(w);
    for (int i = 0; i < count; i += 2) {
        const uint32_t code = t.PairCode(values[i], i + 1 < count ? values[i + 1] : kNoValue);
        w.Put(CodeLength626(code), CodeBits626(code));
    }
    EndChannelSegment(w, field);
}

inline constexpr int kBlockSamples = 64;
inline constexpr int kBlockStep = 4;

// One channel of 64 pixels read straight from the source, 4 bytes apart, starting at the
// channel's byte of the first pixel: the first predicted from 128, each other from the one
// before it, coded in pairs.
template <class Writer>
void PutBlockSegment(Writer& w, const CodeTables& t, const uint8_t* firstSample) {
    int16_t values[kBlockSamples];
    int previous = 128;
    for (int k = 0; k < kBlockSamples; ++k) {
        const int sample = firstSample[kBlockStep * k];
        values[k] = static_cast<int16_t>(sample - previous);
        previous = sample;
    }
    PutPairSegment(w, t, values, kBlockSamples);
}

template <class Writer>
void PutChannelSegment(Writer& w, const CodeTables& t, ChannelCoder coder, const int16_t* values,
                       int count) {
    switch (coder) {
        case ChannelCoder::kRunLength:
            PutRunLengthSegment(w, t, values, count);
            break;
        case ChannelCoder::kValue:
            PutValueSegment(w, t, values, count);
            break;
        case ChannelCoder::kPair:
            PutPairSegment(w, t, values, count);
            break;
    }
}
