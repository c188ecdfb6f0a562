#include "platform/alloc_hooks.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace mau {
namespace {

MemoryCounters Delta(const MemoryCounters& before) {
  const MemoryCounters now = ReadMemoryCounters();
  MemoryCounters d;
  d.bytesAllocated = now.bytesAllocated - before.bytesAllocated;
  d.allocationCount = now.allocationCount - before.allocationCount;
  d.bytesReleased = now.bytesReleased - before.bytesReleased;
  d.releaseCount = now.releaseCount - before.releaseCount;
  return d;
}

TEST(AllocationHooks, AllocateAndReleaseCountUsableSizes) {
  const MemoryCounters before = ReadMemoryCounters();
  void* block = HookAllocate(10);
  ASSERT_NE(block, nullptr);
  const size_t usable = HookSizeOf(block);
  EXPECT_GE(usable, 10u);
  const MemoryCounters afterAllocate = ReadMemoryCounters();
  HookRelease(block);
  const MemoryCounters d = Delta(before);
  EXPECT_EQ(d.bytesAllocated, usable);
  EXPECT_EQ(d.bytesReleased, usable);
  EXPECT_EQ(d.allocationCount, 1u);
  EXPECT_EQ(d.releaseCount, 1u);
  EXPECT_GE(afterAllocate.peakBytesInUse,
            afterAllocate.bytesAllocated - afterAllocate.bytesReleased);
  EXPECT_GE(afterAllocate.blocksInUseAtPeak, 1u);
}

TEST(AllocationHooks, PeakFollowsTheLargestUse) {
  const size_t big = size_t{64} << 20;
  void* block = HookAllocate(big);
  ASSERT_NE(block, nullptr);
  const MemoryCounters during = ReadMemoryCounters();
  HookRelease(block);
  const MemoryCounters after = ReadMemoryCounters();
  EXPECT_GE(during.peakBytesInUse, big);
  EXPECT_EQ(after.peakBytesInUse, during.peakBytesInUse) << "a release never lowers the peak";
}

TEST(AllocationHooks, ReallocateCountsAReleaseAndAnAllocation) {
  struct Case {
    const char* name;
    bool startWithBlock;
  };
  for (const Case& c : {Case{"null pointer", false}, Case{"existing block", true}}) {
    SCOPED_TRACE(c.name);
    void* block = c.startWithBlock ? HookAllocate(16) : nullptr;
    const size_t oldSize = HookSizeOf(block);
    const MemoryCounters before = ReadMemoryCounters();
    void* grown = HookReallocate(block, 100);
    ASSERT_NE(grown, nullptr);
    const MemoryCounters d = Delta(before);
    EXPECT_EQ(d.releaseCount, 1u);
    EXPECT_EQ(d.bytesReleased, oldSize);
    EXPECT_EQ(d.allocationCount, 1u);
    EXPECT_EQ(d.bytesAllocated, HookSizeOf(grown));
    HookRelease(grown);
  }
}

TEST(AllocationHooks, ReleasingNullCountsNothing) {
  const MemoryCounters before = ReadMemoryCounters();
  HookRelease(nullptr);
  EXPECT_EQ(Delta(before).releaseCount, 0u);
}

TEST(AllocationHooks, DuplicateTextCountsTheCopyAndAFailedCopyAsZeroBytes) {
  MemoryCounters before = ReadMemoryCounters();
  char* copy = HookDuplicateText("hello");
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy, "hello");
  EXPECT_EQ(Delta(before).bytesAllocated, HookSizeOf(copy));
  HookRelease(copy);

  before = ReadMemoryCounters();
  EXPECT_EQ(HookDuplicateText(nullptr), nullptr);
  EXPECT_EQ(Delta(before).bytesAllocated, 0u);
}

TEST(AllocationHooks, StandardContainersGoThroughTheHooks) {
  const MemoryCounters before = ReadMemoryCounters();
  {
    std::vector<int> v(1000);
    v[999] = 1;
  }
  const MemoryCounters d = Delta(before);
  EXPECT_GE(d.allocationCount, 1u);
  EXPECT_EQ(d.allocationCount, d.releaseCount);
}

// Hooks set by the embedder stay in place: installing them counts as the installation.
void* FailingAllocate(size_t, void*) { return nullptr; }

TEST(AllocationHooks, CustomHooksReplaceAllFiveAtOnce) {
  const AllocationHooks saved = CurrentAllocationHooks();
  ASSERT_TRUE(SetAllocationHooks(FailingAllocate, nullptr, nullptr, nullptr, nullptr, nullptr));
  void* block = HookAllocate(8);
  char* copy = HookDuplicateText("x");  // falls back to the runtime
  SetAllocationHooks(saved.allocate, saved.release, saved.reallocate, saved.duplicateText,
                     saved.sizeOf, saved.context);
  EXPECT_EQ(block, nullptr);
  ASSERT_NE(copy, nullptr);
  std::free(copy);
}

}  // namespace
}  // namespace mau
