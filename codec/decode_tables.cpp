#include "codec/decode_tables.h"

#include "codec/huffman.h"

namespace {

// Category 8 only appears as an escape for the differences that wrap to the edge of the
// 8-bit range: two extra bits, 00 for 128 (either sign), 11 for 127, 10 for -127. 01 is
// never written.
constexpr int kEscapeCategory = 8;
constexpr int kEscapeBits = 2;
constexpr int kEscapeValues[4] = {128, -1, -127, 127};  // -1: no code

// Fills every lookahead entry that begins with the `length`-bit `code`.
template <int kBits>
void FillPrefix(uint16_t* entries, uint32_t code, int length, uint16_t entry) {
    const uint32_t first = code << (kBits - length);
    const uint32_t count = 1u << (kBits - length);
    for (uint32_t i = 0; i < count; ++i)
        entries[first + i] = entry;
}

uint16_t ValueEntry(int length, int value) {
    return static_cast<uint16_t>(length << 8 | (value & 0xFF));
}

void BuildValueDecoding(ValueDecodeTable* table) {
    HuffmanTable category;
    BuildHuffmanTable(CategoryHuffman.counts, CategoryHuffman.symbols, &category);
    for (int symbol = 0; symbol <= kEscapeCategory; ++symbol) {
        const int codeLength = category.length[symbol];
        if (codeLength == 0)
            continue;
        const int extraBits = symbol == kEscapeCategory ? kEscapeBits : symbol;
        for (uint32_t extra = 0; extra < (1u << extraBits); ++extra) {
            const int value =
                symbol == kEscapeCategory ? kEscapeValues[extra] : ExtraBitsValue(extra, extraBits);
            if (symbol == kEscapeCategory && value == -1)
                continue;
            const int length = codeLength + extraBits;
            const uint32_t code = static_cast<uint32_t>(category.code[symbol]) << extraBits | extra;
            FillPrefix<kValueLookupBits>(table->entry, code, length, ValueEntry(length, value));
        }
    }
    constexpr uint32_t kWindowMask = (1u << kValueLookupBits) - 1;
    for (uint32_t window = 0; window <= kWindowMask; ++window) {
        uint32_t group = 0;
        int used = 0;
        for (int n = 0; n < kMaxGroupValues; ++n) {
            // The bits past `used` are known up to the window's end only.
            const uint16_t entry = table->entry[(window << used) & kWindowMask];
            const int length = entry >> 8;
            if (entry == 0 || used + length > kValueLookupBits)
                break;
            group |= static_cast<uint32_t>(entry & 0xFF) << (8 * n);
            group = (group & 0x00FFFFFF) | static_cast<uint32_t>(n + 1) << 24;
            used += length;
        }
        table->group[window] = used == 0 ? 0 : group | static_cast<uint32_t>(used) << 28;
    }
}

void BuildRunLengthDecoding(RunLengthDecodeTable* table) {
    HuffmanTable runLength;
    BuildHuffmanTable(RunLengthHuffman.counts, RunLengthHuffman.symbols, &runLength);
    for (int symbol = 0; symbol < 256; ++symbol) {
        const int length = runLength.length[symbol];
        if (length == 0)
            continue;
        FillPrefix<kRunLengthLookupBits>(table->entry, runLength.code[symbol], length,
                                         static_cast<uint16_t>(length << 8 | symbol));
    }
}

}  // namespace

// The tables live in zero-initialised static storage and are filled in place (the larger
// is 128 KiB, too much for a thread's stack); the guarded initialisation of `built` makes
// the fill happen once and be visible to every thread that gets past it.
const ValueDecodeTable& ValueDecoding() {
    static ValueDecodeTable table;
    static const bool built = (BuildValueDecoding(&table), true);
    (void)built;
    return table;
}

const RunLengthDecodeTable& RunLengthDecoding() {
    static RunLengthDecodeTable table;
    static const bool built = (BuildRunLengthDecoding(&table), true);
    (void)built;
    return table;
}
