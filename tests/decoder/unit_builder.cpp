#include "tests/decoder/unit_builder.h"

std::vector<uint8_t> MakeUnit(const UnitFields& f, uint32_t payloadSize,
                              const std::vector<uint8_t>& stored) {
    std::vector<uint8_t> unit(f.headerSize, 0);
    const auto put16 = [&](int at, unsigned value) {
        unit[at] = static_cast<uint8_t>(value);
        unit[at + 1] = static_cast<uint8_t>(value >> 8);
    };
    unit[0] = 0xFB;
    unit[1] = f.headerSize;
    put16(2, static_cast<unsigned>(f.type) << 12);
    put16(4, f.x);
    put16(6, f.y);
    put16(8, static_cast<unsigned>(f.widthAttr) << 13 | f.width);
    put16(10, f.height);
    put16(12, payloadSize & 0xFFFF);
    put16(14, payloadSize >> 16);
    unit[16] = f.flags;
    unit[18] = f.hdrByte18;
    uint8_t sum = 0;
    for (int i = 0; i < 19; ++i)
        sum = static_cast<uint8_t>(sum + unit[i]);
    unit[19] = static_cast<uint8_t>(-sum);
    unit.insert(unit.end(), stored.begin(), stored.end());
    return unit;
}

std::vector<uint8_t> BitsToBytes(const std::string& bits) {
    std::vector<uint8_t> bytes;
    int used = 0;
    for (char c : bits) {
        if (c != '0' && c != '1')
            continue;
        if (used % 8 == 0)
            bytes.push_back(0);
        if (c == '1')
            bytes.back() |= static_cast<uint8_t>(0x80 >> (used % 8));
        ++used;
    }
    return bytes;
}

std::vector<uint8_t> AsStoredWords(const std::vector<uint8_t>& stream) {
    std::vector<uint8_t> stored((stream.size() + 3) / 4 * 4, 0);
    for (size_t i = 0; i < stream.size(); ++i)
        stored[(i & ~size_t{3}) + 3 - (i & 3)] = stream[i];
    return stored;
}
