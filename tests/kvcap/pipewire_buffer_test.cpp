#include "kvcap/pipewire_buffer_linux.h"

#include <gtest/gtest.h>
#include <spa/buffer/meta.h>

#include <vector>

// What the screen-cast source reads of a buffer before it copies it: whether a picture is in
// it, and whether the compositor says it changed anything.

namespace {

// A buffer as PipeWire hands it over: one data plane and the metadata asked for.
struct TestBuffer {
    explicit TestBuffer(uint32_t chunkSize) {
        chunk.size = chunkSize;
        data.data = pixels.data();
        data.chunk = &chunk;
        buffer.n_datas = 1;
        buffer.datas = &data;
    }
    void AddHeader(uint32_t flags) {
        header.flags = flags;
        metas.push_back({SPA_META_Header, sizeof header, &header});
        Attach();
    }
    void AddDamage(std::vector<spa_meta_region> list) {
        regions = std::move(list);
        metas.push_back({SPA_META_VideoDamage,
                         static_cast<uint32_t>(regions.size() * sizeof(spa_meta_region)),
                         regions.data()});
        Attach();
    }
    void Attach() {
        buffer.n_metas = static_cast<uint32_t>(metas.size());
        buffer.metas = metas.data();
    }

    std::vector<uint8_t> pixels = std::vector<uint8_t>(64);
    spa_chunk chunk{};
    spa_data data{};
    spa_meta_header header{};
    std::vector<spa_meta_region> regions;
    std::vector<spa_meta> metas;
    spa_buffer buffer{};
};

spa_meta_region Region(int32_t x, int32_t y, uint32_t width, uint32_t height) {
    return {SPA_REGION(x, y, width, height)};
}

TEST(ScreenCastBuffer, APictureIsThereUnlessMarkedBrokenOrEmpty) {
    TestBuffer plain(64);
    EXPECT_TRUE(BufferHoldsPicture(&plain.buffer));
    TestBuffer cursorOnly(0);  // a compositor's buffer for a pointer that moved alone
    EXPECT_FALSE(BufferHoldsPicture(&cursorOnly.buffer));
    TestBuffer corrupted(64);
    corrupted.AddHeader(SPA_META_HEADER_FLAG_CORRUPTED);
    EXPECT_FALSE(BufferHoldsPicture(&corrupted.buffer));
    TestBuffer badChunk(64);
    badChunk.chunk.flags = SPA_CHUNK_FLAG_CORRUPTED;
    EXPECT_FALSE(BufferHoldsPicture(&badChunk.buffer));
    TestBuffer unmapped(64);
    unmapped.data.data = nullptr;  // a DMA-BUF the stream could not map
    EXPECT_FALSE(BufferHoldsPicture(&unmapped.buffer));
    TestBuffer noPlanes(64);
    noPlanes.buffer.n_datas = 0;
    EXPECT_FALSE(BufferHoldsPicture(&noPlanes.buffer));
}

TEST(ScreenCastBuffer, OnlyAnEmptyDamageListMeansNothingChanged) {
    TestBuffer noList(64);
    EXPECT_TRUE(BufferShowsChange(&noList.buffer));
    TestBuffer changed(64);
    changed.AddDamage({Region(10, 20, 30, 40), Region(0, 0, 0, 0)});
    EXPECT_TRUE(BufferShowsChange(&changed.buffer));
    TestBuffer unchanged(64);
    unchanged.AddDamage({Region(0, 0, 0, 0), Region(5, 5, 5, 5)});  // ends at the first
    EXPECT_FALSE(BufferShowsChange(&unchanged.buffer));
    TestBuffer emptyList(64);
    emptyList.AddDamage({});
    EXPECT_FALSE(BufferShowsChange(&emptyList.buffer));
    TestBuffer flatRegion(64);
    flatRegion.AddDamage({Region(3, 3, 100, 0)});  // no height: no area
    EXPECT_FALSE(BufferShowsChange(&flatRegion.buffer));
}

}  // namespace
