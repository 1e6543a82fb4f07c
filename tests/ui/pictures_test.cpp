#include "resources/art/pictures.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "resources/resource.h"

namespace {

std::vector<uint8_t> ReadCommitted(const char* fileName) {
    std::ifstream file(std::string(KV_RESOURCES_DIR) + "/pictures/" + fileName, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

uint32_t Read32(const std::vector<uint8_t>& bytes, size_t offset) {
    return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
           static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

const PictureFile& Picture(uint16_t id) {
    for (const PictureFile& picture : PICTURE_FILES) {
        if (picture.resourceId == id) {
            return picture;
        }
    }
    ADD_FAILURE() << "no picture " << id;
    return PICTURE_FILES[0];
}

// Pixels of a picture that are clearly the accent blue.
int AccentPixels(uint16_t id) {
    const std::vector<uint8_t> bgra = Picture(id).draw().Bgra();
    int count = 0;
    for (size_t i = 0; i < bgra.size(); i += 4) {
        count += bgra[i] > 180 && bgra[i + 1] < 150 && bgra[i + 2] < 60;
    }
    return count;
}

}  // namespace

TEST(Pictures, CommittedFilesAreWhatTheDrawingsGive) {
    for (const PictureFile& picture : PICTURE_FILES) {
        EXPECT_EQ(ReadCommitted(picture.fileName), EncodePicture(picture))
            << picture.fileName << " is stale: run kv_draw_pictures resources/pictures";
    }
}

TEST(Pictures, MenuPicturesAre18AndDialogPictures32PixelsAt32Bits) {
    for (const PictureFile& picture : PICTURE_FILES) {
        const std::vector<uint8_t> bytes = EncodePicture(picture);
        const size_t header = picture.isIcon ? 22 : 14;  // icon directory or file header
        const bool dialogPicture = picture.isIcon || picture.resourceId == IDB_ABOUT_PICTURE ||
                                   picture.resourceId == IDB_WARNING_PICTURE;
        const uint32_t side = dialogPicture ? 32 : 18;
        ASSERT_GE(bytes.size(), header + 40) << picture.fileName;
        EXPECT_EQ(Read32(bytes, header + 4), side) << picture.fileName;
        EXPECT_EQ(Read32(bytes, header + 8), picture.isIcon ? 2 * side : side) << picture.fileName;
        EXPECT_EQ(bytes[header + 14], 32) << picture.fileName;
    }
}

TEST(Pictures, OnPicturesAreFilledWithTheAccentOffPicturesHaveNone) {
    std::vector<uint16_t> offs;
    for (uint16_t off = IDB_MIRROR_OFF; off <= IDB_POWER_ECO_OFF; off += 2) {
        offs.push_back(off);
    }
    for (uint16_t off = IDB_FREEZE_OFF; off <= IDB_ONE_WINDOW_OFF; off += 2) {
        offs.push_back(off);
    }
    for (uint16_t off : offs) {
        EXPECT_EQ(AccentPixels(off), 0) << off;
        EXPECT_GT(AccentPixels(off + 1), 18 * 18 / 3) << off + 1;
    }
}

TEST(Pictures, TheIconIsTransparentAroundTheProjector) {
    const std::vector<uint8_t> bgra = Picture(IDI_KVUSB).draw().Bgra();
    EXPECT_EQ(bgra[3], 0);                         // top-left corner
    EXPECT_EQ(bgra[(16 * 32 + 16) * 4 + 3], 255);  // the middle
}
