#include "binding/host_value.h"

#include <cstddef>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "binding/binding_result.h"
#include "binding_test_records.h"
#include "mau/plugin_abi.h"
#include "platform/alloc_hooks.h"

namespace mau {
namespace {

// Packed fields are read by value: a reference to one may be misaligned.
template <typename T>
T Read(T value) {
  return value;
}

HostValue Scalar(uint32_t type) {
  HostValue v{};
  v.type = type;
  return v;
}

HostValue Text(const char* text, uint32_t type = MAU_HOST_VALUE_STRING_BORROWED) {
  HostValue v = Scalar(type);
  v.payload.string.text = text;
  v.payload.string.length = text != nullptr ? static_cast<uint32_t>(std::strlen(text)) : 0;
  return v;
}

TEST(HostValueToBinding, EveryTypeCode) {
  const uint8_t bytes[] = {7, 8, 9};
  HostValue items[2] = {Text("x"), Scalar(MAU_HOST_VALUE_EMPTY)};
  items[1].type = MAU_HOST_VALUE_SIGNED;
  items[1].payload.signedValue = -3;
  HostStructureEntry entries[3] = {};
  entries[0].name = "b";
  entries[0].value = Text("first");
  entries[1].name = "a";
  entries[1].value.type = MAU_HOST_VALUE_BOOL;
  entries[1].value.payload.boolean = 1;
  entries[2].name = "b";  // a later duplicate overwrites
  entries[2].value = Text("second");

  struct Case {
    const char* name;
    HostValue in;
    BindingValue expected;
  };
  std::vector<Case> cases;
  cases.push_back({"empty", Scalar(MAU_HOST_VALUE_EMPTY), BindingValue()});
  HostValue b = Scalar(MAU_HOST_VALUE_BOOL);
  b.payload.boolean = 1;
  cases.push_back({"bool", b, BindingValue(true)});
  HostValue s = Scalar(MAU_HOST_VALUE_SIGNED);
  s.payload.signedValue = INT64_MIN;
  cases.push_back({"signed", s, BindingValue(INT64_MIN)});
  HostValue u = Scalar(MAU_HOST_VALUE_UNSIGNED);
  u.payload.unsignedValue = UINT64_MAX;
  cases.push_back({"unsigned", u, BindingValue(UINT64_MAX)});
  HostValue f = Scalar(MAU_HOST_VALUE_FLOAT);
  f.payload.floatValue = -0.25;
  cases.push_back({"float", f, BindingValue(-0.25)});
  cases.push_back({"borrowed string", Text("mau"), BindingValue("mau")});
  cases.push_back({"owned string", Text("mau", MAU_HOST_VALUE_STRING_OWNED), BindingValue("mau")});
  cases.push_back({"string up to its NUL", Text("ab\0cd"), BindingValue("ab")});
  cases.push_back({"NULL string", Text(nullptr), BindingValue("")});
  for (const uint32_t type :
       {uint32_t{MAU_HOST_VALUE_BLOB_BORROWED}, uint32_t{MAU_HOST_VALUE_BLOB_OWNED}}) {
    HostValue blob = Scalar(type);
    blob.payload.blob.bytes = bytes;
    blob.payload.blob.length = 3;
    cases.push_back({"blob", blob, BindingValue(std::span<const uint8_t>(bytes))});
  }
  HostValue list = Scalar(MAU_HOST_VALUE_COLLECTION);
  list.payload.collection.items = items;
  list.payload.collection.count = 2;
  BindingValue expectedList;
  expectedList.AppendElement() = "x";
  expectedList.AppendElement() = -3;
  cases.push_back({"collection", list, expectedList});
  HostValue structure = Scalar(MAU_HOST_VALUE_STRUCTURE);
  structure.payload.structure.entries = entries;
  structure.payload.structure.count = 3;
  BindingValue expectedStructure;
  expectedStructure.MemberForWriting("a") = true;
  expectedStructure.MemberForWriting("b") = "second";
  cases.push_back({"structure", structure, expectedStructure});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BindingResult result;
    ASSERT_TRUE(HostValueToBinding(result, c.in, "<result>")) << result.ErrorText();
    EXPECT_EQ(result.value(), c.expected);
  }
}

TEST(HostValueToBinding, UnknownTypeCodesAndExcessiveNestingFail) {
  HostStructureEntry entries[2] = {};
  entries[0].name = "fine";
  entries[0].value = Text("ok");
  entries[1].name = "odd";
  entries[1].value.type = 11;
  HostValue structure = Scalar(MAU_HOST_VALUE_STRUCTURE);
  structure.payload.structure.entries = entries;
  structure.payload.structure.count = 2;

  BindingResult result;
  EXPECT_FALSE(HostValueToBinding(result, structure, "<result>"));
  EXPECT_EQ(result.ErrorText(),
            "Couldn't assign value to '<result>' of type object because the input is of an "
            "incompatible type ''.");
  EXPECT_EQ(result.value().size(), 1u) << "the partial value is discarded";

  // 512 nested collections convert; one more fails.
  std::vector<HostValue> chain(514);
  for (size_t i = 0; i + 1 < chain.size(); ++i) {
    chain[i].type = MAU_HOST_VALUE_COLLECTION;
    chain[i].payload.collection.items = &chain[i + 1];
    chain[i].payload.collection.count = 1;
  }
  BindingResult deepest;
  EXPECT_TRUE(HostValueToBinding(deepest, chain[1], "<result>")) << deepest.ErrorText();
  HostValue roundTrip{};
  EXPECT_TRUE(BindingToHostValue(deepest.value(), roundTrip, nullptr));
  ClearHostValue(roundTrip);

  BindingValue target("kept?");
  BindingResult status;
  EXPECT_FALSE(HostValueToBinding(chain[0], target, "arg", status));
  EXPECT_EQ(status.ErrorText(),
            "Couldn't assign value to 'arg' of type object because the input is nested deeper "
            "than 512 levels.");
  EXPECT_TRUE(target.is_empty());

  BindingValue tooDeep;
  BindingValue* node = &tooDeep;
  for (int i = 0; i < 513; ++i) node = &node->AppendElement();
  HostValue out = Text("stale", MAU_HOST_VALUE_STRING_BORROWED);
  EXPECT_FALSE(BindingToHostValue(tooDeep, out, nullptr));
  EXPECT_EQ(Read(out.type), 0u);
}

TEST(BindingToHostValue, OwnedCopiesInNameOrder) {
  BindingTypeRegistry registry;
  test::RegisterRoster(registry);
  const uint8_t bytes[] = {1, 2, 3};
  BindingValue value;
  value.MemberForWriting("b") = "text";
  value.MemberForWriting("a") = 1.5;
  value.MemberForWriting("c").AppendElement() = true;
  value.MemberForWriting("c").AppendElement() = BindingEnumPair{2, &StaticTypeKeyOf<test::Lane>()};
  value.MemberForWriting("c").AppendElement() = BindingEnumPair{7, &StaticTypeKeyOf<test::Lane>()};
  value.MemberForWriting("d").SetBlob(bytes);
  value.MemberForWriting("e").SetBlob({});
  value.MemberForWriting("f");
  value.MemberForWriting("g").EnsureStructure();

  HostValue out{};
  ASSERT_TRUE(BindingToHostValue(value, out, &registry));
  ASSERT_EQ(Read(out.type), uint32_t{MAU_HOST_VALUE_STRUCTURE});
  ASSERT_EQ(Read(out.payload.structure.count), 7u);
  const HostStructureEntry* e = out.payload.structure.entries;
  std::string names;
  for (int i = 0; i < 7; ++i) {
    names += e[i].name;
    EXPECT_EQ(e[i].nameOwned, 1);
  }
  EXPECT_EQ(names, "abcdefg");
  EXPECT_EQ(Read(e[0].value.type), uint32_t{MAU_HOST_VALUE_FLOAT});
  EXPECT_EQ(Read(e[1].value.type), uint32_t{MAU_HOST_VALUE_STRING_OWNED});
  EXPECT_STREQ(e[1].value.payload.string.text, "text");
  EXPECT_EQ(Read(e[1].value.payload.string.length), 4u);
  const HostValue* c = e[2].value.payload.collection.items;
  ASSERT_EQ(Read(e[2].value.payload.collection.count), 3u);
  EXPECT_EQ(Read(c[0].type), uint32_t{MAU_HOST_VALUE_BOOL});
  EXPECT_EQ(c[0].payload.boolean, 1);
  EXPECT_EQ(Read(c[1].type), uint32_t{MAU_HOST_VALUE_STRING_OWNED}) << "a named enum value";
  EXPECT_STREQ(c[1].payload.string.text, "Middle");
  EXPECT_EQ(Read(c[2].type), uint32_t{MAU_HOST_VALUE_SIGNED}) << "an enum value without a name";
  EXPECT_EQ(Read(c[2].payload.signedValue), 7);
  EXPECT_EQ(Read(e[3].value.type), uint32_t{MAU_HOST_VALUE_BLOB_OWNED});
  EXPECT_EQ(std::memcmp(e[3].value.payload.blob.bytes, bytes, 3), 0);
  EXPECT_NE(static_cast<const void*>(e[3].value.payload.blob.bytes),
            static_cast<const void*>(bytes));
  EXPECT_EQ(Read(e[4].value.payload.blob.bytes), nullptr);
  EXPECT_EQ(Read(e[4].value.payload.blob.length), 0u);
  EXPECT_EQ(Read(e[5].value.type), uint32_t{MAU_HOST_VALUE_EMPTY});
  EXPECT_EQ(Read(e[6].value.type), uint32_t{MAU_HOST_VALUE_STRUCTURE});
  EXPECT_EQ(Read(e[6].value.payload.structure.count), 0u);

  // Without a registry the enum stays a number; back in, the value equals itself but for
  // the enum, which the host cannot carry.
  HostValue bare{};
  ASSERT_TRUE(BindingToHostValue(value.Member("c"), bare, nullptr));
  EXPECT_EQ(Read(bare.payload.collection.items[1].type), uint32_t{MAU_HOST_VALUE_SIGNED});
  ClearHostValue(bare);

  BindingResult back;
  ASSERT_TRUE(HostValueToBinding(back, out, "<result>"));
  EXPECT_EQ(back.value().Member("b"), value.Member("b"));
  EXPECT_EQ(back.value().Member("c").Element(1).AsString(), "Middle");
  ClearHostValue(out);
}

TEST(ClearHostValue, FreesOwnedMemoryOnlyAndZeroesTheRecord) {
  static const char kBorrowedName[] = "borrowed";
  auto* entries = static_cast<HostStructureEntry*>(HookAllocate(3 * sizeof(HostStructureEntry)));
  std::memset(static_cast<void*>(entries), 0, 3 * sizeof(HostStructureEntry));
  entries[0].name = HookDuplicateText("owned");
  entries[0].nameOwned = 1;
  entries[0].value = Text(HookDuplicateText("owned text"), MAU_HOST_VALUE_STRING_OWNED);
  entries[1].name = kBorrowedName;
  entries[1].value = Text("borrowed text");
  entries[2].name = kBorrowedName;
  entries[2].value.type = MAU_HOST_VALUE_BLOB_BORROWED;
  entries[2].value.payload.blob.bytes = reinterpret_cast<const uint8_t*>(kBorrowedName);
  entries[2].value.payload.blob.length = 3;
  HostValue value = Scalar(MAU_HOST_VALUE_STRUCTURE);
  value.payload.structure.entries = entries;
  value.payload.structure.count = 3;

  const MemoryCounters before = ReadMemoryCounters();
  ClearHostValue(value);
  const MemoryCounters after = ReadMemoryCounters();
  EXPECT_EQ(after.releaseCount - before.releaseCount, 3u) << "name, text and the entry array";
  const HostValue zero{};
  EXPECT_EQ(std::memcmp(&value, &zero, sizeof value), 0);
}

TEST(HostValue, RoundTripLeavesNoBlocksBehind) {
  BindingValue tree;
  for (int i = 0; i < 50; ++i) {
    BindingValue& item = tree.AppendElement();
    item.MemberForWriting("id") = i;
    item.MemberForWriting("name") = "champion " + std::to_string(i);
  }
  const MemoryCounters before = ReadMemoryCounters();
  {
    HostValue wire{};
    ASSERT_TRUE(BindingToHostValue(tree, wire, nullptr));
    BindingResult back;
    ASSERT_TRUE(HostValueToBinding(back, wire, "<result>"));
    EXPECT_EQ(back.value(), tree);
    ClearHostValue(wire);
  }
  const MemoryCounters after = ReadMemoryCounters();
  EXPECT_EQ(after.allocationCount - before.allocationCount,
            after.releaseCount - before.releaseCount);
  EXPECT_EQ(HostValueTypeName(6), "string");
  EXPECT_EQ(HostValueTypeName(7), "blob");
  EXPECT_EQ(HostValueTypeName(0), "");
  EXPECT_EQ(HostValueTypeName(11), "");
}

}  // namespace
}  // namespace mau
