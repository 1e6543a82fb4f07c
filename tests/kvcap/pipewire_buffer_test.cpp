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
    void AddCrop(spa_meta_region region) {
        crop = region;
        metas.push_back({SPA_META_VideoCrop, sizeof crop, &crop});
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
    spa_meta_region crop{};
    std::vector<spa_meta> metas;
    spa_buffer buffer{};
};

spa_meta_region Region(int32_t x, int32_t y, uint32_t width, uint32_t height) {
    return {SPA_REGION(x, y, width, height)};
}

constexpr PixelRect kWhole{0, 0, 2, 2};

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

// A window streamed at the screen's size comes with its part marked: that part, and only it,
// is the picture. A crop reaching past the picture is clipped to it, never read beyond it.
TEST(ScreenCastBuffer, TheCropIsThePictureClippedToTheBuffer) {
    TestBuffer buffer(64);  // 4 x 4 pixels whose first byte is their index
    buffer.data.maxsize = 64;
    buffer.chunk.stride = 16;
    for (size_t i = 0; i < buffer.pixels.size(); ++i) {
        buffer.pixels[i] = static_cast<uint8_t>(i % 4 == 0 ? i / 4 : 0);
    }
    auto shown = [&buffer] {
        std::vector<uint8_t> copy;
        PixelRect crop = PictureCrop(&buffer.buffer, 4, 4);
        EXPECT_TRUE(CopyPicture(buffer.data, 4, 4, crop, &copy));
        std::vector<int> indexes;
        for (size_t i = 0; i < copy.size(); i += 4) {
            indexes.push_back(copy[i]);
        }
        return indexes;
    };
    EXPECT_EQ(shown().size(), 16u);  // no crop: the whole picture
    buffer.AddCrop(Region(1, 2, 2, 1));
    EXPECT_EQ(shown(), (std::vector<int>{9, 10}));
    buffer.crop = Region(2, 2, 1000, 1000);  // past the right and bottom edges
    EXPECT_EQ(shown(), (std::vector<int>{10, 11, 14, 15}));
    buffer.crop = Region(-3, -1, 4, 2);  // from above and left of the picture
    EXPECT_EQ(shown(), (std::vector<int>{0}));
    buffer.crop = Region(INT32_MAX, 1, UINT32_MAX, 1);  // an end that would wrap in 32 bits
    EXPECT_EQ(shown().size(), 16u);
    for (spa_meta_region none : {Region(4, 0, 2, 2), Region(0, -2, 4, 2), Region(1, 1, 0, 3)}) {
        buffer.crop = none;  // no pixel in the picture, or no area: the whole picture
        EXPECT_EQ(shown().size(), 16u);
    }

    std::vector<uint8_t> copy;
    for (PixelRect outside : {PixelRect{3, 0, 2, 1}, PixelRect{-1, 0, 1, 1}, PixelRect{0, 0, 0, 1},
                              PixelRect{0, INT32_MAX, 1, 2}}) {
        EXPECT_FALSE(CopyPicture(buffer.data, 4, 4, outside, &copy));
    }
}

// The rows a chunk states are copied only when all of them lie in the plane's memory: a
// compositor's stride or offset is no reason to read past it.
TEST(ScreenCastBuffer, APictureIsCopiedOnlyFromWithinItsPlane) {
    TestBuffer buffer(64);
    buffer.data.maxsize = 64;
    for (size_t i = 0; i < buffer.pixels.size(); ++i) {
        buffer.pixels[i] = static_cast<uint8_t>(i);
    }
    std::vector<uint8_t> copy;
    buffer.chunk.stride = 12;      // 2 x 2 pixels, rows of 8 bytes 12 apart
    buffer.chunk.offset = 64 + 4;  // taken modulo the plane's size
    ASSERT_TRUE(CopyPicture(buffer.data, 2, 2, kWhole, &copy));
    EXPECT_EQ(copy,
              (std::vector<uint8_t>{4, 5, 6, 7, 8, 9, 10, 11, 16, 17, 18, 19, 20, 21, 22, 23}));

    const std::vector<uint8_t> kept = copy;
    const struct {
        int32_t stride;
        uint32_t offset;
    } outside[] = {
        {-8, 40},        // rows going up: the second one before the plane
        {INT32_MIN, 0},  // a stride whose product with the rows wraps
        {4, 0},          // rows overlapping: shorter than a row
        {12, 45},        // the last row's end one byte past the plane
        {32, 25},        // the same with a longer stride
    };
    for (const auto& c : outside) {
        buffer.chunk.stride = c.stride;
        buffer.chunk.offset = c.offset;
        EXPECT_FALSE(CopyPicture(buffer.data, 2, 2, kWhole, &copy)) << c.stride << " " << c.offset;
        EXPECT_EQ(copy, kept);
    }
    buffer.chunk.stride = 8;
    buffer.chunk.offset = 48;  // the last row's end on the plane's
    EXPECT_TRUE(CopyPicture(buffer.data, 2, 2, kWhole, &copy));
    buffer.data.maxsize = 0;
    EXPECT_FALSE(CopyPicture(buffer.data, 2, 2, kWhole, &copy));
}

}  // namespace
