#include "codec/channel_segments.h"

#include <cstddef>

namespace {

template <class Writer>
size_t BeginSegment(Writer& w) {
    const size_t field = w.BytePosition();
    w.Put(8, 0);
    return field;
}

template <class Writer>
void EndSegment(Writer& w, size_t field) {
    w.AlignToByte();
    w.SetByte(field, static_cast<uint8_t>(w.BytePosition() - field - 1));
}

template <class Writer>
void PutCode824(Writer& w, uint32_t code) {
    w.Put(CodeLength824(code), CodeBits824(code));
}

}  // namespace

template <class Writer>
void PutRunLengthSegment(Writer& w, const CodeTables& t, const int16_t* values, int count) {
    const size_t field = BeginSegment(w);
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
    EndSegment(w, field);
}

template <class Writer>
void PutValueSegment(Writer& w, const CodeTables& t, const int16_t* values, int count) {
    const size_t field = BeginSegment(w);
    for (int i = 0; i < count; ++i)
        PutCode824(w, t.ValueCode(values[i]));
    EndSegment(w, field);
}

template <class Writer>
void PutPairSegment(Writer& w, const CodeTables& t, const int16_t* values, int count) {
    const size_t field = BeginSegment(w);
    for (int i = 0; i < count; i += 2) {
        const uint32_t code = t.PairCode(values[i], i + 1 < count ? values[i + 1] : kNoValue);
        w.Put(CodeLength626(code), CodeBits626(code));
    }
    EndSegment(w, field);
}

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

template void PutChannelSegment(PackedWriter&, const CodeTables&, ChannelCoder, const int16_t*,
                                int);
template void PutChannelSegment(ByteWriter&, const CodeTables&, ChannelCoder, const int16_t*, int);
template void PutBlockSegment(PackedWriter&, const CodeTables&, const uint8_t*);
template void PutBlockSegment(ByteWriter&, const CodeTables&, const uint8_t*);
