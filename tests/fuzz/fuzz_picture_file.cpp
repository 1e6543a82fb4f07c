// A picture file as given to kvusbtool show or to the replay source: byte 0 picks PNG or PPM,
// the rest is the file. A picture read is fitted and scaled as both do, to an eighth of the
// frame each way: the same paths of shrinking and enlarging, at a pace that lets the fuzzer
// try more files (the whole frame takes a second a picture under the sanitizers).
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "image/image_file.h"
#include "image/image_fit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    std::vector<uint8_t> file(data + 1, data + size);
    Image image;
    std::string error;
    if (!DecodeImage(file, data[0] & 1 ? ImageFormat::Ppm : ImageFormat::Png, &image, &error)) {
        return 0;
    }
    if (image.bgr.size() != size_t{3} * image.width * image.height) {
        std::abort();
    }
    FitImage(image, 854 / 8, 480 / 8);
    ScaleImage(image, 854 / 8, 480 / 8);
    return 0;
}
