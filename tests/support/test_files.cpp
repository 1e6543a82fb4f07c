#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

std::string TempPath(const std::string& name) {
    const std::string run =
        std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" + name;
    return (std::filesystem::temp_directory_path() / ("vorn_kvusb_test_" + run)).string();
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> WriteCapturedPicture(const std::string& path, int width, int height) {
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* pixel = &rgb[(static_cast<size_t>(y) * width + x) * 3];
            pixel[0] = static_cast<uint8_t>(x);
            pixel[1] = static_cast<uint8_t>(y);
            pixel[2] = static_cast<uint8_t>((x >> 8) | (y >> 8) << 4);
        }
    }
    FILE* file = std::fopen(path.c_str(), "wb");
    std::fprintf(file, "P6\n%d %d\n255\n", width, height);
    std::fwrite(rgb.data(), 1, rgb.size(), file);
    std::fclose(file);
    return rgb;
}
