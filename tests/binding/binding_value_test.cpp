#include "binding/binding_value.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "binding/binding_result.h"
#include "binding/page_source.h"
#include "support/test_support.h"

namespace mau {
namespace {

enum class Phase : int32_t { Draft = 4 };

const uint8_t kBytes[] = {1, 2, 3};

std::vector<std::string> MemberNames(const BindingValue& value) {
  std::vector<std::string> names;
  for (const BindingMember member : value.Members()) names.emplace_back(member.name);
  return names;
}

BindingValue Collection(std::initializer_list<int> numbers) {
  BindingValue value;
  value.EnsureCollection();
  for (int n : numbers) value.AppendElement() = n;
  return value;
}

TEST(BindingValue, KindsSizesAndNames) {
  BindingValue structure;
  structure.MemberForWriting("a") = 1;
  structure.MemberForWriting("b") = 2;
  struct Case {
    BindingValue value;
    BindingValueKind kind;
    size_t size;
    const char* name;
  };
  const Case cases[] = {
      {BindingValue(), BindingValueKind::Empty, 0, "empty"},
      {BindingValue(true), BindingValueKind::Bool, 1, "bool"},
      {BindingValue(-5), BindingValueKind::Signed, 1, "signed"},
      {BindingValue(uint16_t{5}), BindingValueKind::Unsigned, 1, "unsigned"},
      {BindingValue(2.5), BindingValueKind::Float, 1, "float"},
      {BindingValue("four"), BindingValueKind::String, 4, "string"},
      {BindingValue(std::span<const uint8_t>(kBytes)), BindingValueKind::Blob, 3, "blob"},
      {BindingValue(BindingEnumPair{4, &StaticTypeKeyOf<Phase>()}), BindingValueKind::Enum, 1,
       "enum"},
      {Collection({1, 2, 3}), BindingValueKind::Collection, 3, "collection"},
      {structure, BindingValueKind::Structure, 2, "structure"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.value.kind(), c.kind);
    EXPECT_EQ(c.value.size(), c.size);
    EXPECT_EQ(BindingValueKindName(c.kind), c.name);
  }
  EXPECT_EQ(BindingValueKindName(static_cast<BindingValueKind>(10)), "");
}

TEST(BindingValue, TypedReadsNeverConvert) {
  const BindingValue number(7);
  EXPECT_EQ(number.AsSigned(), 7);
  EXPECT_EQ(number.AsUnsigned(99), 99u);
  EXPECT_EQ(number.AsDouble(1.5), 1.5);
  EXPECT_TRUE(number.AsBool(true));
  EXPECT_EQ(number.AsString(), "");
  EXPECT_STREQ(number.AsCString(), "");
  EXPECT_TRUE(number.AsBlob().empty());
  EXPECT_EQ(number.AsEnum().value, 0);
  EXPECT_EQ(number.AsEnum().type, nullptr);
  const BindingValue text("7");
  EXPECT_EQ(text.AsSigned(-1), -1);
  EXPECT_EQ(text.AsString(), "7");
  const BindingValue phase(BindingEnumPair{4, &StaticTypeKeyOf<Phase>()});
  EXPECT_EQ(phase.AsEnum().value, 4);
  EXPECT_EQ(phase.AsEnum().type, &StaticTypeKeyOf<Phase>());
}

TEST(BindingValue, LenientUInt64Read) {
  struct Case {
    const char* name;
    BindingValue value;
    uint64_t expected;
  };
  const uint64_t kDefault = 42;
  const Case cases[] = {
      {"true", BindingValue(true), 1},
      {"false", BindingValue(false), 0},
      {"signed -1", BindingValue(-1), UINT64_MAX},
      {"unsigned max", BindingValue(UINT64_MAX), UINT64_MAX},
      {"float 3.9", BindingValue(3.9), 3},
      {"float -2.5", BindingValue(-2.5), static_cast<uint64_t>(int64_t{-2})},
      {"float 1e19", BindingValue(1e19), 10000000000000000000u},
      {"float 1e30", BindingValue(1e30), kDefault},
      {"float NaN", BindingValue(std::nan("")), kDefault},
      {"decimal text", BindingValue("1234"), 1234},
      {"hexadecimal text", BindingValue("0x10"), 16},
      {"octal text", BindingValue("010"), 8},
      {"trailing text", BindingValue("12abc"), 12},
      {"no number", BindingValue("abc"), 0},
      {"enum", BindingValue(BindingEnumPair{-1, &StaticTypeKeyOf<Phase>()}), UINT64_MAX},
      {"empty", BindingValue(), kDefault},
      {"collection", Collection({1}), kDefault},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.value.ReadUInt64Lenient(kDefault), c.expected);
  }
}

TEST(BindingValue, ElementsReadWithoutGrowingAndWriteByGrowing) {
  BindingValue list = Collection({10, 20});
  EXPECT_EQ(&list.Element(5), &SharedEmptyValue());
  EXPECT_EQ(list.size(), 2u);
  EXPECT_EQ(list.Element(1).AsSigned(), 20);

  list.ElementForWriting(5) = "six";
  ASSERT_EQ(list.size(), 6u);
  EXPECT_EQ(list.Element(0).AsSigned(), 10) << "earlier elements survive the growth";
  EXPECT_TRUE(list.Element(3).is_empty());
  EXPECT_EQ(list.Element(5).AsString(), "six");
  EXPECT_EQ(list.Element(5).context(), list.context()) << "elements share the tree's context";
  EXPECT_FALSE(list.Element(5).owns_context());

  BindingValue text("not a list");
  text.ElementForWriting(0) = 1;
  EXPECT_EQ(text.kind(), BindingValueKind::Collection);
  EXPECT_EQ(text.size(), 1u);
  EXPECT_EQ(&BindingValue(3).Element(0), &SharedEmptyValue());
}

TEST(BindingValue, CollectionsAboveTheElementLimitRaiseLengthError) {
  BindingValue list;
  EXPECT_THROW(list.Reserve(0x10000000), std::length_error);
  EXPECT_THROW(list.ElementForWriting(0x0FFFFFFF), std::length_error);
  list.Reserve(3);
  EXPECT_EQ(list.kind(), BindingValueKind::Collection);
  EXPECT_EQ(list.size(), 0u);
}

TEST(BindingValue, MembersAreOrderedByUnsignedBytes) {
  BindingValue value;
  for (const char* name : {"b", "a", "c", "\xC3\xA9t\xC3\xA9", "Z", ""}) {
    value.MemberForWriting(name) = name;
  }
  EXPECT_EQ(MemberNames(value),
            (std::vector<std::string>{"", "Z", "a", "b", "c", "\xC3\xA9t\xC3\xA9"}));
  EXPECT_TRUE(value.HasMember("a"));
  EXPECT_FALSE(value.HasMember("d"));
  EXPECT_EQ(&value.Member("d"), &SharedEmptyValue());
  EXPECT_FALSE(value.HasMember("d")) << "reading never inserts";

  value.MemberForWriting("a") = 5;  // an existing member is reused
  EXPECT_EQ(value.size(), 6u);
  EXPECT_EQ(value.Member("a").AsSigned(), 5);
  EXPECT_TRUE(value.RemoveMember("a"));
  EXPECT_FALSE(value.RemoveMember("a"));
  EXPECT_EQ(value.size(), 5u);

  BindingValue number(1);
  EXPECT_FALSE(number.HasMember("x"));
  number.MemberForWriting("x") = true;
  EXPECT_EQ(number.kind(), BindingValueKind::Structure);
}

// Large structures filled out of order keep a second sorted run that merges into the
// first; every order of insertion must read, iterate and remove like a sorted map.
TEST(BindingValue, LargeStructuresInAnyInsertionOrder) {
  constexpr int kCount = 3000;
  const auto name = [](int i) {
    std::string text = std::to_string(i);
    return std::string(4 - text.size(), '0') + text;  // sorts like the number
  };
  const struct {
    const char* label;
    int (*order)(int);
  } orders[] = {
      {"ascending", [](int i) { return i; }},
      {"descending", [](int i) { return kCount - 1 - i; }},
      {"scattered", [](int i) { return (i * 1237) % kCount; }},
      {"ascending with a late tail", [](int i) { return i < 2000 ? i + 1000 : i - 2000; }},
      {"descending, then ascending past the end", [](int i) { return i < 1500 ? 1499 - i : i; }},
  };
  for (const auto& order : orders) {
    SCOPED_TRACE(order.label);
    BindingValue value;
    const BindingValue* first = nullptr;
    for (int i = 0; i < kCount; ++i) {
      BindingValue& member = value.MemberForWriting(name(order.order(i)));
      member = order.order(i);
      if (i == 0) first = &member;
      // An existing member, in either run, is found and not inserted again.
      ASSERT_EQ(value.MemberForWriting(name(order.order(i / 2))).AsSigned(), order.order(i / 2));
    }
    EXPECT_EQ(&value.Member(name(order.order(0))), first) << "members stay in place";
    ASSERT_EQ(value.size(), size_t{kCount});
    int expected = 0;
    for (const BindingMember member : value.Members()) {
      ASSERT_EQ(member.name, name(expected));
      ASSERT_EQ(member.value.AsSigned(), expected);
      ++expected;
    }
    EXPECT_EQ(expected, kCount);
    for (int i = 0; i < kCount; i += 7) EXPECT_EQ(value.Member(name(i)).AsSigned(), i);

    BindingValue copy = value;
    EXPECT_EQ(copy, value);
    for (int i = 0; i < kCount; i += 3) ASSERT_TRUE(value.RemoveMember(name(i)));
    EXPECT_NE(copy, value);
    EXPECT_FALSE(value.HasMember(name(0)));
    EXPECT_TRUE(value.HasMember(name(1)));
    value.MemberForWriting(name(0)) = 0;
    std::vector<std::string> names = MemberNames(value);
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    EXPECT_EQ(names.size(), 2001u);
  }
}

TEST(BindingValue, EnsureKeepsAContainerOfTheSameKind) {
  BindingValue list = Collection({1, 2});
  list.EnsureCollection();
  EXPECT_EQ(list.size(), 2u);
  list.EnsureStructure();
  EXPECT_EQ(list.kind(), BindingValueKind::Structure);
  EXPECT_EQ(list.size(), 0u);
}

TEST(BindingValue, AssigningAnElementDeepCopiesIntoTheTargetContext) {
  BindingValue tree;
  BindingValue& child = tree.MemberForWriting("child");
  child.MemberForWriting("name") = "Sable";
  child.MemberForWriting("roles").AppendElement() = "mage";

  BindingValue copy;
  copy = tree.Member("child");
  EXPECT_TRUE(copy.owns_context());
  EXPECT_NE(copy.context(), tree.context());
  EXPECT_EQ(copy, tree.Member("child"));
  EXPECT_EQ(copy.context()->string_count(), 4u) << "name, roles, Sable, mage interned here";

  tree.MemberForWriting("child").MemberForWriting("name") = "Changed";
  EXPECT_EQ(copy.Member("name").AsString(), "Sable");
}

TEST(BindingValue, AssigningFromInsideItsOwnTree) {
  BindingValue tree;
  tree.MemberForWriting("inner").MemberForWriting("leaf") = "kept";
  tree.MemberForWriting("other") = 1;
  tree = tree.Member("inner");
  EXPECT_EQ(MemberNames(tree), std::vector<std::string>{"leaf"});
  EXPECT_EQ(tree.Member("leaf").AsString(), "kept");

  BindingValue text("abcdef");
  text = text.AsString().substr(2);
  EXPECT_EQ(text.AsString(), "cdef");
  text.MemberForWriting(text.AsString()) = 1;  // the name outlives the text it came from
  EXPECT_EQ(MemberNames(text), std::vector<std::string>{"cdef"});
}

TEST(BindingValue, MovingBetweenFreeStandingValuesSwapsWithoutCopying) {
  BindingValue a;
  a.MemberForWriting("who") = "a";
  BindingValue b = Collection({1, 2, 3});
  const BindingValueContext* contextA = a.context();
  const BindingValueContext* contextB = b.context();

  test::AllocationProbe probe;
  a.Swap(b);
  EXPECT_EQ(probe.Blocks(), 0u);
  EXPECT_EQ(a.context(), contextB);
  EXPECT_EQ(b.context(), contextA);
  EXPECT_EQ(a.size(), 3u);
  EXPECT_EQ(b.Member("who").AsString(), "a");

  BindingValue c(std::move(a));
  EXPECT_EQ(c.context(), contextB);
  EXPECT_TRUE(a.is_empty());
  EXPECT_EQ(a.context(), nullptr);
  EXPECT_EQ(probe.Blocks(), 0u);
}

TEST(BindingValue, MovingIntoOrOutOfATreeCopiesAndResetsTheSource) {
  BindingValue tree;
  BindingValue loose("loose");
  tree.MemberForWriting("slot") = std::move(loose);
  EXPECT_EQ(tree.Member("slot").AsString(), "loose");
  EXPECT_TRUE(loose.is_empty());

  BindingValue out;
  out = std::move(tree.MemberForWriting("slot"));
  EXPECT_EQ(out.AsString(), "loose");
  EXPECT_TRUE(tree.Member("slot").is_empty());
  EXPECT_NE(out.context(), tree.context());

  // Within one tree the payload moves as it is.
  tree.MemberForWriting("a") = Collection({7});
  tree.MemberForWriting("b") = std::move(tree.MemberForWriting("a"));
  EXPECT_TRUE(tree.Member("a").is_empty());
  EXPECT_EQ(tree.Member("b").Element(0).AsSigned(), 7);
}

TEST(BindingValue, SwapOfAnElementAndAFreeStandingValue) {
  BindingValue tree = Collection({1});
  BindingValue loose("x");
  loose.Swap(tree.ElementForWriting(0));
  EXPECT_EQ(loose.AsSigned(), 1);
  EXPECT_EQ(tree.Element(0).AsString(), "x");
}

TEST(BindingValue, StringTableInternsOnceAndShrinksWhenEmpty) {
  BindingValue tree;
  tree.EnsureCollection();
  for (int i = 0; i < 3; ++i) tree.AppendElement() = "same";
  EXPECT_EQ(tree.context()->string_count(), 1u);

  for (int i = 0; i < 100; ++i) tree.AppendElement() = "text " + std::to_string(i);
  EXPECT_EQ(tree.context()->string_count(), 101u);
  EXPECT_GE(tree.context()->bucket_count(), 101u) << "load factor at most 1";

  tree.Reset();
  EXPECT_EQ(tree.context()->string_count(), 0u);
  EXPECT_EQ(tree.context()->bucket_count(), BindingValueContext::kInitialBuckets);
  EXPECT_EQ(tree.context()->page_count(), 0u) << "every pooled page went back";
}

// The context remembers recently interned texts in front of its table: a text released
// to its last reference must be interned afresh later, as a value or as a member name.
TEST(BindingValue, TextsAreInternedAfreshAfterTheirRelease) {
  const auto text = [](int i) {
    return std::to_string(i) + std::string(static_cast<size_t>(i % 50), 'a' + i % 26);
  };
  BindingValue tree;
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    for (int i = 0; i < 600; ++i) tree.MemberForWriting(text(i)) = text(i);
    EXPECT_EQ(tree.context()->string_count(), 600u) << "name and value share an entry";
    for (int i = 0; i < 600; i += 2) EXPECT_TRUE(tree.RemoveMember(text(i)));
    EXPECT_EQ(tree.context()->string_count(), 300u);
    for (int i = 0; i < 600; i += 2) tree.MemberForWriting(text(i)) = text(i + 1);
    for (int i = 0; i < 600; ++i) {
      ASSERT_EQ(tree.Member(text(i)).AsString(), text(i % 2 == 0 ? i + 1 : i)) << i;
    }
    EXPECT_EQ(tree.context()->string_count(), 600u);
    tree.Reset();
    EXPECT_EQ(tree.context()->string_count(), 0u);
  }
}

// A tree is released value by value (Reset) or dropped whole with its context (the
// destructor of its root); both must give back every slot page and heap block.
TEST(BindingValue, ReleasingATreeLeavesNoHeapBlocks) {
  for (const bool resetFirst : {false, true}) {
    SCOPED_TRACE(resetFirst ? "reset, then destroyed" : "destroyed");
    const std::vector<uint8_t> mediumBlob(200, 7);
    const std::vector<uint8_t> largeBlob(3000, 9);
    const PageSourceStats regionsBefore = ReadPageSourceStats();
    const MemoryCounters before = ReadMemoryCounters();
    {
      BindingValue tree;
      for (int i = 0; i < 300; ++i) {
        BindingValue& item = tree.AppendElement();
        item.MemberForWriting("id") = i;
        // Texts and blobs of small slots, medium slots and heap blocks.
        item.MemberForWriting("name") = std::string(i % 3 == 0 ? 1500 + i : i % 90, 'n');
        const std::span<const uint8_t> blobs[] = {kBytes, mediumBlob, largeBlob};
        item.MemberForWriting("blob").SetBlob(blobs[i % 3]);
        item.MemberForWriting("phase").SetEnum({4, &StaticTypeKeyOf<Phase>()});
        for (int m = 0; m < i % 40; ++m) item.MemberForWriting("m" + std::to_string(m)) = m;
      }
      BindingValue copy = tree;
      EXPECT_EQ(copy, tree);
      if (resetFirst) {
        tree.Reset();
        copy.Reset();
      }
    }
    const MemoryCounters after = ReadMemoryCounters();
    // The page source's bookkeeping keeps one block per region it holds in reserve.
    const PageSourceStats regionsAfter = ReadPageSourceStats();
    EXPECT_EQ(
        after.allocationCount - before.allocationCount,
        after.releaseCount - before.releaseCount + regionsAfter.regions - regionsBefore.regions);
    EXPECT_EQ(regionsAfter.regions - regionsAfter.emptyRegions,
              regionsBefore.regions - regionsBefore.emptyRegions);
  }
}

// A copy that runs out of memory part way throws and leaves no block behind: the new
// value's context goes with the exception.
TEST(BindingValue, FailedCopyLeavesNothingBehind) {
  BindingValue tree;
  tree.MemberForWriting("a") = "text";
  tree.MemberForWriting("b").SetBlob(std::vector<uint8_t>(5000, 1));
  static AllocationHooks saved;
  HookRelease(HookAllocate(1));  // the counting hooks are in place before they are saved
  saved = CurrentAllocationHooks();
  const PageSourceStats regionsBefore = ReadPageSourceStats();
  const MemoryCounters before = ReadMemoryCounters();
  SetAllocationHooks(
      [](size_t size, void* context) -> void* {
        return size > 5000 && size < 6000 ? nullptr : saved.allocate(size, context);
      },
      saved.release, saved.reallocate, saved.duplicateText, saved.sizeOf, saved.context);
  EXPECT_THROW(BindingValue copy(tree), std::bad_alloc);
  SetAllocationHooks(saved.allocate, saved.release, saved.reallocate, saved.duplicateText,
                     saved.sizeOf, saved.context);
  const MemoryCounters after = ReadMemoryCounters();
  const PageSourceStats regionsAfter = ReadPageSourceStats();
  EXPECT_EQ(
      after.allocationCount - before.allocationCount,
      after.releaseCount - before.releaseCount + regionsAfter.regions - regionsBefore.regions);
}

TEST(BindingValue, DeepTreesAreDestroyedCopiedAndComparedSafely) {
  // Destruction walks without recursion, whatever the depth.
  {
    BindingValue deep;
    BindingValue* node = &deep;
    for (int i = 0; i < 200000; ++i)
      node = &(i % 2 == 0 ? node->AppendElement() : node->MemberForWriting("n"));
    *node = "bottom";
  }
  // Copy and comparison recurse: 512 levels, the readers' limit, are well within the stack.
  BindingValue deep;
  BindingValue* node = &deep;
  for (int i = 0; i < 512; ++i) node = &node->MemberForWriting("n");
  *node = 1;
  const BindingValue copy = deep;
  EXPECT_EQ(copy, deep);
}

TEST(BindingValue, EqualityComparesKindsAndContents) {
  EXPECT_EQ(BindingValue(1), BindingValue(1));
  EXPECT_NE(BindingValue(1), BindingValue(1u)) << "signed and unsigned are different kinds";
  EXPECT_NE(BindingValue("a"), BindingValue("b"));
  EXPECT_NE(Collection({1, 2}), Collection({1}));
  EXPECT_NE(BindingValue(BindingEnumPair{4, &StaticTypeKeyOf<Phase>()}),
            BindingValue(BindingEnumPair{4, &StaticTypeKeyOf<int>()}));
}

TEST(BindingResult, FailStoresTheFirstMessageAsMemberError) {
  BindingResult result;
  EXPECT_TRUE(result.ok());
  EXPECT_EQ(result.ErrorText(), "");
  result.value() = 5;
  result.Fail("first");
  result.Fail("second");
  EXPECT_FALSE(result.ok());
  EXPECT_EQ(result.ErrorText(), "first");
  EXPECT_EQ(result.value().kind(), BindingValueKind::Structure);
  EXPECT_EQ(result.value().size(), 1u);
  EXPECT_EQ(result.value().Member("error").AsString(), "first");

  result.value().MemberForWriting("error") = 3;
  EXPECT_EQ(result.ErrorText(), "") << "a non-string error member reads as the empty text";

  BindingResult self;
  self.value() = "message from the value itself";
  self.Fail(self.value().AsString());
  EXPECT_EQ(self.ErrorText(), "message from the value itself");
}

}  // namespace
}  // namespace mau
