#include "codec/code_tables.h"

#include <memory>

const ValueEscape ValueEscapes[3] = {
    {128, 8, 2, 0},
    {127, 8, 2, 2},
    {0, 0, 0, 0},
};

namespace {

// The low `category` bits of v, one's complement for negative v (the JPEG convention).
uint32_t ExtraBits(int v, int category) {
    const uint32_t mask = (1u << category) - 1;
    return static_cast<uint32_t>(v < 0 ? v - 1 : v) & mask;
}

// Difference of two 8-bit samples, taken modulo 256 into -127..128.
int WrapDifference(int v) {
    if (v > 128)
        v -= 256;
    if (v <= -128)
        v += 256;
    return v;
}

uint32_t BuildValueCode(const CodeTables& t, int v) {
    for (const ValueEscape* e = ValueEscapes; e->magnitude != 0; ++e) {
        if (v != e->magnitude && v != -e->magnitude)
            continue;
        const uint32_t extra = e->base + (v == e->magnitude && e->magnitude != 128 ? 1 : 0);
        return PackCode824(t.category.length[e->symbol] + e->extraBits,
                           (uint32_t{t.category.code[e->symbol]} << e->extraBits) | extra);
    }
    const int w = WrapDifference(v);
    const int c = t.Category(w);
    return PackCode824(t.category.length[c] + c,
                       (uint32_t{t.category.code[c]} << c) | ExtraBits(w, c));
}

uint32_t BuildRunValueCode(const CodeTables& t, int run, int v) {
    const int c = t.Category(v);
    const int symbol = run * 16 + c;
    return PackCode824(t.runLength.length[symbol] + c,
                       (uint32_t{t.runLength.code[symbol]} << c) | ExtraBits(v, c));
}

uint32_t BuildPairCode(const CodeTables& t, int a, int b) {
    if (a == kNoValue)
        return PackCode626(0, 0);
    const uint32_t first = t.ValueCode(a);
    if (b == kNoValue)
        return PackCode626(CodeLength824(first), CodeBits824(first));
    const uint32_t second = t.ValueCode(b);
    const unsigned secondLength = CodeLength824(second);
    return PackCode626(CodeLength824(first) + secondLength,
                       (CodeBits824(first) << secondLength) | CodeBits824(second));
}

}  // namespace

void BuildCodeTables(CodeTables* t) {
    BuildHuffmanTable(CategoryHuffman.counts, CategoryHuffman.symbols, &t->category);
    BuildHuffmanTable(RunLengthHuffman.counts, RunLengthHuffman.symbols, &t->runLength);
    for (int v = kMinDifference; v <= kMaxDifference; ++v) {
        int magnitude = v < 0 ? -v : v;
        int category = 0;
        for (; magnitude != 0; magnitude >>= 1)
            ++category;
        t->categoryOf[v - kMinDifference] = static_cast<uint8_t>(category);
    }
    for (int run = 0; run < kRunRows; ++run) {
        for (int v = kMinDifference; v <= kMaxDifference; ++v) {
            t->runValueCodes[run][v - kMinDifference] = v == 0 ? 0 : BuildRunValueCode(*t, run, v);
        }
        t->runValueCodes[run][kPairSide - 1] = 0;
    }
    for (int v = kMinDifference; v <= kMaxDifference; ++v) {
        t->valueCodes[v - kMinDifference] = BuildValueCode(*t, v);
        t->valueLengths[v - kMinDifference] =
            static_cast<uint8_t>(CodeLength824(t->valueCodes[v - kMinDifference]));
    }
    for (int a = kMinDifference; a <= kNoValue; ++a) {
        for (int b = kMinDifference; b <= kNoValue; ++b) {
            t->pairCodes[(a - kMinDifference) * kPairRowStride + b - kMinDifference] =
                BuildPairCode(*t, a, b);
        }
    }
    CategoryRows& rows = t->categoryRows;
    for (int n = 0; n < 16; ++n) {
        int bits = 0;
        for (int m = n; m != 0; m >>= 1)
            ++bits;
        rows.bitsOfLowNibble[n] = static_cast<uint8_t>(bits);
        rows.bitsOfHighNibble[n] = static_cast<uint8_t>(n == 0 ? 0 : 4 + bits);
    }
    for (int c = 0; c < 16; ++c) {
        const bool category = c <= 8;
        const unsigned code = category ? unsigned{t->category.code[c]} << c : 0;
        rows.codeLow[c] = static_cast<uint8_t>(code);
        rows.codeHigh[c] = static_cast<uint8_t>(code >> 8);
        rows.length[c] = static_cast<uint8_t>(category ? t->category.length[c] + c : 0);
        rows.extraMask[c] = static_cast<uint8_t>(category ? (1u << c) - 1 : 0);
    }
    t->eobCode = PackCode824(t->runLength.length[EOB], t->runLength.code[EOB]);
    t->zrlCode = PackCode824(t->runLength.length[ZRL], t->runLength.code[ZRL]);
}

const CodeTables& GetCodeTables() {
    // About 1 MiB: on the heap rather than in every program's zero-initialised data.
    static const std::unique_ptr<CodeTables> tables = [] {
        auto built = std::make_unique<CodeTables>();
        BuildCodeTables(built.get());
        return built;
    }();
    return *tables;
}
