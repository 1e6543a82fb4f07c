#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Whole files in and out, with a one-line reason ("cannot open PATH: ...") on failure.

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error);

bool WriteWholeFile(const std::string& path, const void* bytes, size_t length, std::string* error);

// Writes to a temporary file beside `path` and renames it over `path`, so that a reader never
// sees half a file.
bool WriteFileAtomically(const std::string& path, const void* bytes, size_t length,
                         std::string* error);
