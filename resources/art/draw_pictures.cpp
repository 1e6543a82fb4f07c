// Writes the program's pictures into a folder (resources/pictures/ in the repository):
//   kv_draw_pictures <folder>
#include <cstdio>
#include <string>
#include <vector>

#include "resources/art/pictures.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    for (const PictureFile& picture : PICTURE_FILES) {
        const std::string path = std::string(argv[1]) + "/" + picture.fileName;
        const std::vector<uint8_t> bytes = EncodePicture(picture);
        std::FILE* file = std::fopen(path.c_str(), "wb");
        const bool written =
            file != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
        if (file == nullptr || std::fclose(file) != 0 || !written) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
