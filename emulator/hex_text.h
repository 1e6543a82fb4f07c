#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace emu {

// "FB 14 00 ...": bytes in upper-case hex, separated by blanks.
std::string HexBytes(const uint8_t* bytes, size_t count);

}  // namespace emu
