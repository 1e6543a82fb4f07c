#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Hand-made units for decoder tests, independent of the encoder.

struct UnitFields {
    uint8_t headerSize = 20;
    uint8_t type = 1;
    uint16_t x = 0;
    uint16_t y = 0;
    uint16_t width = 0;
    uint8_t widthAttr = 0;
    uint16_t height = 1;
    uint8_t flags = 0x31;
    uint8_t hdrByte18 = 0;
};

// Header (checksum included, extra header bytes zero), then `stored` as the payload bytes;
// the header carries `payloadSize`.
std::vector<uint8_t> MakeUnit(const UnitFields& fields, uint32_t payloadSize,
                              const std::vector<uint8_t>& stored);

// Bytes from a string of '0' and '1' (other characters ignored), zero bits to the end.
std::vector<uint8_t> BitsToBytes(const std::string& bits);

// Stream-order bytes as the packed writer stores them: 32-bit words, least significant
// byte first, the last word filled with zeros.
std::vector<uint8_t> AsStoredWords(const std::vector<uint8_t>& stream);
