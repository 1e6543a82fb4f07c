#include "tests/support/test_files.h"

#include <gtest/gtest.h>

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
