#pragma once

#include <string>

// Files the tests write and read back.

// A path in the temporary folder for the file `name` of this test run.
std::string TempPath(const std::string& name);

// The whole file as text; empty when it cannot be read.
std::string ReadText(const std::string& path);
