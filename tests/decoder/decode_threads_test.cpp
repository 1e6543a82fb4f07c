// The decoding tables are built on first use; several threads meeting there must each get
// whole tables. (CTest runs every case in a process of its own, so this case is the first
// use; the thread-sanitizer build checks the build for races.)
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "codec/frame_decoder.h"
#include "tests/decoder/unit_builder.h"

namespace {

TEST(DecodeThreads, FirstUseFromManyThreadsAtOnce) {
    const std::vector<uint8_t> valueCoded = {
        0xFB, 0x14, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x02, 0x40, 0x01, 0x00, 0x08, 0x00,
        0x00, 0x00, 0x31, 0x00, 0x04, 0x61, 0x9F, 0xF0, 0x00, 0x06, 0x00, 0xD0, 0xF1, 0x13};
    // Run-length codes (the other table): differences 5, 0, 0, -1 and 60 zeros.
    UnitFields fields;
    fields.width = 64;
    fields.flags = 0x00;
    std::vector<uint8_t> stream =
        BitsToBytes("00000111 100101 111000 11111111001 11111111001 11111111001 1010");
    const std::vector<uint8_t> runLengthCoded = MakeUnit(fields, 8, stream);

    constexpr int kThreads = 8;
    std::vector<int> results(kThreads * 2, -1);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            DecodedRegion region;
            results[2 * t] = DecodeFrame(valueCoded.data(), valueCoded.size(), {}, &region);
            results[2 * t + 1] =
                DecodeFrame(runLengthCoded.data(), runLengthCoded.size(), {8, 64, false}, &region);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (int result : results)
        EXPECT_EQ(result, DECODE_OK);
}

}  // namespace
