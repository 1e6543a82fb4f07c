#include "device/transfer_limits.h"

#include <gtest/gtest.h>

#include "device/frame_transfer.h"

namespace {

TEST(PagesSpanned, CountsEveryPageTouched) {
    EXPECT_EQ(PagesSpanned(0x10000, 0), 0u);
    EXPECT_EQ(PagesSpanned(0x10000, 1), 1u);
    EXPECT_EQ(PagesSpanned(0x10000, PAGE_BYTES), 1u);
    EXPECT_EQ(PagesSpanned(0x10000, PAGE_BYTES + 1), 2u);
    EXPECT_EQ(PagesSpanned(0x10FFF, 2), 2u);  // one byte each side of a page boundary
    // A slice write: 16 pages from a page start, 17 from anywhere else.
    EXPECT_EQ(PagesSpanned(0x10000, SLICE_WRITE_BYTES), 16u);
    EXPECT_EQ(PagesSpanned(0x10F00, SLICE_WRITE_BYTES), 17u);
}

// A USB mass-storage adapter: 64 KiB in one request, 16 pages, 512-byte alignment.
constexpr TransferLimits kUsbAdapter{511, 65536, 16};

TEST(AdapterTakes, EachLimitRefusesOnItsOwn) {
    EXPECT_TRUE(AdapterTakes(kUsbAdapter, 0x10000, SLICE_WRITE_BYTES));
    EXPECT_FALSE(AdapterTakes(kUsbAdapter, 0x10000 + 64, 4));      // misaligned
    EXPECT_FALSE(AdapterTakes(kUsbAdapter, 0x10000, 65537));       // too long
    EXPECT_FALSE(AdapterTakes({0, 0x20000, 16}, 0x10000, 65537));  // 17 pages
    EXPECT_FALSE(AdapterTakes({0, 32768, 0}, 0x10000, SLICE_WRITE_BYTES));
}

TEST(AdapterTakes, LimitsNotStatedHoldNothingBack) {
    EXPECT_TRUE(AdapterTakes({}, 0x10003, SLICE_WRITE_BYTES));
    EXPECT_TRUE(AdapterTakes({3, 0, 0}, 0x10000, 0x100000));
}

TEST(AdapterTakes, TheStagingBufferTakesAWholeSliceOnAUsbAdapter) {
    const auto staging = reinterpret_cast<uintptr_t>(g_TransferBuffer);
    EXPECT_EQ(staging % PAGE_BYTES, 0u);
    EXPECT_TRUE(AdapterTakes(kUsbAdapter, staging, SLICE_WRITE_BYTES));
    // The compressed sender's last write starts after the lead-in.
    EXPECT_TRUE(AdapterTakes({63, 65536, 16}, staging + LEAD_IN_BYTES, 4096));
}

}  // namespace
