#include "common/array.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

TEST(Array, StartsEmptyWithoutStorage) {
    Array<int> a;
    EXPECT_EQ(a.Data, nullptr);
    EXPECT_EQ(a.Count, 0u);
    EXPECT_EQ(a.Capacity, 0u);

    a.Extend(0);
    EXPECT_EQ(a.Data, nullptr);
    EXPECT_EQ(a.Count, 0u);
    EXPECT_EQ(a.Capacity, 0u);
}

TEST(Array, GrowsByAQuarterPlus32WhenAppendingOneByOne) {
    Array<uint32_t> a;
    std::vector<uint32_t> capacities;
    for (uint32_t i = 0; i < 360; i++) {
        a.Append(i * 7);
        if (capacities.empty() || capacities.back() != a.Capacity)
            capacities.push_back(a.Capacity);
    }
    EXPECT_EQ(capacities, (std::vector<uint32_t>{32, 72, 122, 184, 262, 359, 480}));
    ASSERT_EQ(a.Count, 360u);
    // Every reallocation must have carried the earlier elements along.
    for (uint32_t i = 0; i < a.Count; i++)
        ASSERT_EQ(a[i], i * 7) << i;
}

TEST(Array, ConstructionWithACount) {
    Array<uint8_t> small(5);
    EXPECT_EQ(small.Count, 5u);
    EXPECT_EQ(small.Capacity, 32u);
    EXPECT_NE(small.Data, nullptr);

    Array<uint8_t> big(4096);
    EXPECT_EQ(big.Count, 4096u);
    EXPECT_EQ(big.Capacity, 4096u);
    big.Append(1);
    EXPECT_EQ(big.Count, 4097u);
    EXPECT_EQ(big.Capacity, 5152u);
    EXPECT_EQ(big[4096], 1);
}

TEST(Array, LargeExtendAllocatesExactlyTheRequest) {
    Array<wchar_t> a;
    a.Extend(10000);
    EXPECT_EQ(a.Count, 10000u);
    EXPECT_EQ(a.Capacity, 10000u);
    a.Extend(5);
    EXPECT_EQ(a.Count, 10005u);
    EXPECT_EQ(a.Capacity, 10000u + 2500u + 32u);
}

TEST(Array, ResizeDownAndBackUpKeepsTheStorage) {
    Array<int32_t> a(100);
    for (uint32_t i = 0; i < a.Count; i++)
        a[i] = int32_t(i);
    int32_t* storage = a.Data;
    uint32_t capacity = a.Capacity;

    a.Resize(10);
    EXPECT_EQ(a.Count, 10u);
    EXPECT_EQ(a.Capacity, capacity);
    EXPECT_EQ(a.Data, storage);

    a.Resize(100);
    EXPECT_EQ(a.Count, 100u);
    EXPECT_EQ(a.Capacity, capacity);
    EXPECT_EQ(a.Data, storage);
    EXPECT_EQ(a[9], 9);
    EXPECT_EQ(a[99], 99);
}

TEST(Array, ResizeBeyondTheCapacityGrows) {
    Array<int32_t> a;
    a.Append(11);
    a.Resize(33);
    EXPECT_EQ(a.Count, 33u);
    EXPECT_EQ(a.Capacity, 72u);
    EXPECT_EQ(a[0], 11);

    a.Resize(1000);
    EXPECT_EQ(a.Count, 1000u);
    EXPECT_EQ(a.Capacity, 1000u);
    EXPECT_EQ(a[0], 11);
}

TEST(Array, AppendingOwnElementAcrossAReallocation) {
    // Large enough for the heap to hand out (and on reallocation return) a block of its own, so
    // that reading the appended value from the old storage would fault or read garbage.
    Array<uint64_t> a(200000);
    for (uint32_t i = 0; i < a.Count; i++)
        a[i] = 0x0123456789ABCDEFull + i;
    ASSERT_EQ(a.Count, a.Capacity); // the next append moves the storage
    a.Append(a[5]);
    EXPECT_EQ(a.Count, 200001u);
    EXPECT_EQ(a[200000], 0x0123456789ABCDEFull + 5);
    EXPECT_EQ(a[199999], 0x0123456789ABCDEFull + 199999);
}

struct Entry {
    uint32_t number;
    const char* narrow;
    const wchar_t* wide;
};

TEST(Array, HoldsPlainRecords) {
    Array<Entry> a;
    for (uint32_t i = 0; i < 100; i++)
        a.Append(Entry{i, "text", L"text"});
    EXPECT_EQ(a.Count, 100u);
    EXPECT_EQ(a[77].number, 77u);
    EXPECT_STREQ(a[99].narrow, "text");
    EXPECT_STREQ(a[0].wide, L"text");
}

TEST(MemoryExit, ThrowsNoMemory) {
    try {
        MemoryExit();
        FAIL() << "MemoryExit returned";
    } catch (BDL_EXIT code) {
        EXPECT_EQ(code, BDL_EXIT_NO_MEMORY);
        EXPECT_EQ(int(code), 8);
    }
}

TEST(Array, CountOverflowRaisesNoMemoryAndKeepsTheArray) {
    Array<uint16_t> a;
    a.Append(42);
    EXPECT_THROW(a.Extend(UINT32_MAX), BDL_EXIT);
    EXPECT_EQ(a.Count, 1u);
    EXPECT_EQ(a.Capacity, 32u);
    EXPECT_EQ(a[0], 42);
}

} // namespace
