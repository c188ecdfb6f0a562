#include "binding/slot_pool.h"

#include <algorithm>
#include <cstdint>
#include <gtest/gtest.h>
#include <set>
#include <vector>

#include "binding/page_source.h"

namespace mau {
namespace {

// The page header: two links and four 16-bit words, padded like a pointer.
constexpr size_t kHeaderBytes =
    (2 * sizeof(void*) + 8 + sizeof(void*) - 1) / sizeof(void*) * sizeof(void*);

// A first page without room for a slot besides its header is never used.
size_t UsableSlots(size_t pageSize, size_t slotSize) {
  const size_t headerSlots = (kHeaderBytes + slotSize - 1) / slotSize;
  return pageSize / slotSize > headerSlots ? pageSize / slotSize - headerSlots : 0;
}

// Every region in use before is still there; empty ones stay in reserve up to a limit.
void ExpectRegionsAsBefore(const PageSourceStats& before) {
  const PageSourceStats after = ReadPageSourceStats();
  EXPECT_EQ(after.regions - after.emptyRegions, before.regions - before.emptyRegions);
  EXPECT_EQ(after.freePages - after.emptyRegions * kPagesPerRegion,
            before.freePages - before.emptyRegions * kPagesPerRegion);
  EXPECT_LE(after.emptyRegions, kReservedPageRegions);
}

bool Inside(const void* p, const void* begin, size_t size) {
  const auto* b = static_cast<const unsigned char*>(begin);
  const auto* q = static_cast<const unsigned char*>(p);
  return q >= b && q < b + size;
}

TEST(SlotPool, FirstPageThenPagesFromTheSource) {
  for (const uint32_t slotSize : {4u, 8u, 12u, 40u, 72u, 96u, 1024u}) {
    SCOPED_TRACE(slotSize);
    alignas(8) unsigned char firstPage[SlotPool::kFirstPageSize];
    auto pool = std::make_unique<SlotPool>();
    pool->SetSlotSize(slotSize, firstPage);
    const PageSourceStats before = ReadPageSourceStats();

    // The first page is the lent memory and needs no page source.
    std::vector<void*> first;
    for (size_t i = 0; i < UsableSlots(SlotPool::kFirstPageSize, slotSize); ++i) {
      first.push_back(pool->Take());
      ASSERT_TRUE(Inside(first.back(), firstPage, sizeof firstPage));
    }
    EXPECT_EQ(pool->page_count(), 0u);

    // Then whole 4096-byte pages, every slot within one aligned page.
    std::vector<void*> paged;
    const size_t perPage = UsableSlots(kSlotPageSize, slotSize);
    for (size_t i = 0; i < perPage + 1; ++i) paged.push_back(pool->Take());
    EXPECT_EQ(pool->page_count(), 2u);
    std::set<uintptr_t> pages;
    for (void* slot : paged) {
      const auto address = reinterpret_cast<uintptr_t>(slot);
      pages.insert(address & ~uintptr_t{kSlotPageSize - 1});
      EXPECT_EQ(address % (slotSize % 8 == 0 ? 8 : 4), 0u);
      EXPECT_GE(address % kSlotPageSize, kHeaderBytes) << "slots never overlap the header";
    }
    EXPECT_EQ(pages.size(), 2u);
    EXPECT_EQ(std::set<void*>(paged.begin(), paged.end()).size(), paged.size());

    // A returned slot is the next one handed out.
    pool->Give(paged[3]);
    EXPECT_EQ(pool->Take(), paged[3]);

    // Emptying a page sends it back to the source; the regions follow their pages.
    for (void* slot : paged) pool->Give(slot);
    EXPECT_EQ(pool->page_count(), 0u);
    ExpectRegionsAsBefore(before);
    for (void* slot : first) pool->Give(slot);
  }
}

TEST(SlotPools, RequestsAreRoundedToTheirSizeClass) {
  SlotPools pools;
  // 5 and 8 bytes share the 8-byte class: a slot given back as 5 bytes returns as 8.
  void* a = pools.Take(5);
  pools.Give(a, 8);
  EXPECT_EQ(pools.Take(7), a);
  void* b = pools.Take(72);
  EXPECT_NE(b, nullptr);
  pools.Give(b, 72);
  // Above 72 bytes the medium classes: 73 and 96 bytes share one.
  void* c = pools.Take(73);
  pools.Give(c, 96);
  EXPECT_EQ(pools.Take(90), c);
  void* d = pools.Take(SlotPools::kLargestSlot);
  EXPECT_NE(d, nullptr);
  EXPECT_NE(d, c);
  pools.Give(d, SlotPools::kLargestSlot);
  pools.Give(c, 80);
  pools.Give(a, 8);
  EXPECT_EQ(pools.page_count(), 0u);
}

TEST(PageSource, PartlyUsedRegionsFirstThenTheReserveThenNewRegions) {
  const PageSourceStats before = ReadPageSourceStats();
  const size_t wanted = 2 * kPagesPerRegion + 1;
  std::vector<void*> pages;
  for (size_t i = 0; i < wanted; ++i) {
    void* page = TakeSlotPage();
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(page) % kSlotPageSize, 0u);
    pages.push_back(page);
  }
  EXPECT_EQ(std::set<void*>(pages.begin(), pages.end()).size(), pages.size());

  const size_t inPartlyUsed = before.freePages - before.emptyRegions * kPagesPerRegion;
  const size_t beyond = wanted > inPartlyUsed ? wanted - inPartlyUsed : 0;
  const size_t regionsNeeded = (beyond + kPagesPerRegion - 1) / kPagesPerRegion;
  const size_t fromReserve = std::min(regionsNeeded, before.emptyRegions);
  const PageSourceStats during = ReadPageSourceStats();
  EXPECT_EQ(during.emptyRegions, before.emptyRegions - fromReserve);
  EXPECT_EQ(during.regions, before.regions + regionsNeeded - fromReserve);

  for (void* page : pages) GiveSlotPage(page);
  ExpectRegionsAsBefore(before);
}

}  // namespace
}  // namespace mau
