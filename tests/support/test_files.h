#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Files the tests write and read back.

// A path in the temporary folder for the file `name` of this test run.
std::string TempPath(const std::string& name);

// The whole file as text; empty when it cannot be read.
std::string ReadText(const std::string& path);

// A picture whose every pixel tells where it came from (red: the column, green: the row, blue:
// their high bits), written as PPM for the capture library to replay; its red, green, blue
// bytes are returned.
std::vector<uint8_t> WriteCapturedPicture(const std::string& path, int width, int height);
