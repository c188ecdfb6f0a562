#include "binding/field_converters.h"

#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

#include "binding_test_records.h"

namespace mau {
namespace {

using test::Champion;
using test::Lane;
using test::Stats;

class FieldConvertersTest : public ::testing::Test {
 public:
  FieldConvertersTest() { test::RegisterRoster(registry_); }

  // Assigns value to a field of type T that held `initial`; returns the error text.
  template <typename T>
  std::string Assign(T& field, const BindingValue& value, const char* name = "n") {
    BindingResult result;
    AssignFromValue(result, field, value, name, registry_);
    return std::string(result.ErrorText());
  }

  BindingTypeRegistry registry_;
};

BindingValue Text(const char* text) { return BindingValue(text); }

BindingValue LaneValue(int32_t value) { return BindingEnumPair{value, &StaticTypeKeyOf<Lane>()}; }

BindingValue List(std::initializer_list<BindingValue> items) {
  BindingValue list;
  list.EnsureCollection();
  for (const BindingValue& item : items) list.AppendElement() = item;
  return list;
}

// A champion value with every required member.
BindingValue ChampionValue() {
  BindingValue value;
  value.MemberForWriting("id") = 103;
  value.MemberForWriting("name") = "Sable";
  return value;
}

TEST_F(FieldConvertersTest, Bool) {
  struct Case {
    const char* name;
    BindingValue value;
    bool expected;
    const char* error;
  };
  const Case cases[] = {
      {"bool", BindingValue(true), true, ""},
      {"text 1", Text("1"), true, ""},
      {"text true", Text("true"), true, ""},
      {"text 0", Text("0"), false, ""},
      {"text false", Text("false"), false, ""},
      {"text True", Text("True"), false,
       "Value True for 'n' of type bool is in an incorrect format. Options are \"true\", "
       "\"false\", \"1\", \"0\"."},
      {"text with blank", Text(" 1"), false,
       "Value  1 for 'n' of type bool is in an incorrect format. Options are \"true\", "
       "\"false\", \"1\", \"0\"."},
      {"unsigned 1", BindingValue(1u), false,
       "Couldn't assign value to 'n' of type bool because the input is of an invalid type "
       "unsigned."},
      {"empty", BindingValue(), false, "A value for 'n' is required."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bool field = !c.expected;
    EXPECT_EQ(Assign(field, c.value), c.error);
    EXPECT_EQ(field, c.expected);
  }
}

TEST_F(FieldConvertersTest, Int32) {
  struct Case {
    const char* name;
    BindingValue value;
    int32_t expected;
    const char* error;
  };
  const Case cases[] = {
      {"signed", BindingValue(-7), -7, ""},
      {"unsigned", BindingValue(7u), 7, ""},
      {"hexadecimal text", Text("0x10"), 16, ""},
      {"octal text", Text("010"), 8, ""},
      {"negative text", Text("-2147483648"), INT32_MIN, ""},
      {"empty text", Text(""), 0, ""},
      {"float truncates", BindingValue(3.9), 3, ""},
      {"negative float truncates", BindingValue(-3.9), -3, ""},
      {"enum", LaneValue(2), 2, ""},
      {"trailing text", Text("12abc"), 0,
       "Value 12abc for 'n' of type int32 is in an incorrect format"},
      {"not a number", Text("abc"), 0, "Value abc for 'n' of type int32 is in an incorrect format"},
      {"text too large", Text("4294967296"), 0,
       "Value 4294967296 for 'n' of type int32 is out of range"},
      {"text beyond 64 bits", Text("99999999999999999999"), 0,
       "Value 99999999999999999999 for 'n' of type int32 is out of range"},
      {"signed too small", BindingValue(int64_t{INT32_MIN} - 1), 0,
       "Value -2147483649 for 'n' of type int32 is out of range"},
      {"unsigned too large", BindingValue(uint64_t{1} << 31), 0,
       "Value 2147483648 for 'n' of type int32 is out of range"},
      {"float too large", BindingValue(1e20), 0,
       "Value 1e+20 for 'n' of type int32 is out of range"},
      {"bool", BindingValue(true), 0,
       "Couldn't assign value to 'n' of type int32 because the input is of an invalid type bool."},
      {"collection", List({}), 0,
       "Couldn't assign value to 'n' of type int32 because the input is of an invalid type "
       "collection."},
      {"empty", BindingValue(), 0, "A value for 'n' is required."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int32_t field = 7;
    EXPECT_EQ(Assign(field, c.value), c.error);
    EXPECT_EQ(field, c.expected) << "a failed assignment leaves the zero value";
  }
}

TEST_F(FieldConvertersTest, IntegerWidthsAndSignedness) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* name;
    BindingValue value;
    std::string (*assign)(FieldConvertersTest&, const BindingValue&, uint64_t&);
    uint64_t expected;  // the field's bits
    const char* error;
  };
  auto int8 = [](FieldConvertersTest& t, const BindingValue& v, uint64_t& bits) {
    int8_t f = 1;
    std::string e = t.Assign(f, v);
    bits = static_cast<uint64_t>(static_cast<int64_t>(f));
    return e;
  };
  auto uint16 = [](FieldConvertersTest& t, const BindingValue& v, uint64_t& bits) {
    uint16_t f = 1;
    std::string e = t.Assign(f, v);
    bits = f;
    return e;
  };
  auto uint32 = [](FieldConvertersTest& t, const BindingValue& v, uint64_t& bits) {
    uint32_t f = 1;
    std::string e = t.Assign(f, v);
    bits = f;
    return e;
  };
  auto int64 = [](FieldConvertersTest& t, const BindingValue& v, uint64_t& bits) {
    int64_t f = 1;
    std::string e = t.Assign(f, v);
    bits = static_cast<uint64_t>(f);
    return e;
  };
  auto uint64 = [](FieldConvertersTest& t, const BindingValue& v, uint64_t& bits) {
    uint64_t f = 1;
    std::string e = t.Assign(f, v);
    bits = f;
    return e;
  };
  const Case cases[] = {
      {"int8 max", BindingValue(127), int8, 127, ""},
      {"int8 over", BindingValue(128), int8, 0, "Value 128 for 'n' of type int8 is out of range"},
      {"int8 float 127.5", BindingValue(127.5), int8, 0,
       "Value 127.5 for 'n' of type int8 is out of range"},
      {"uint16 max text", Text("65535"), uint16, 65535, ""},
      {"uint16 enum -1", LaneValue(-1), uint16, 0,
       "Value -1 for 'n' of type uint16 is out of range"},
      {"uint32 signed -1", BindingValue(-1), uint32, 0,
       "Value -1 for 'n' of type uint32 is out of range"},
      {"uint32 text -1", Text("-1"), uint32, 0, "Value -1 for 'n' of type uint32 is out of range"},
      {"uint32 float -0.5", BindingValue(-0.5), uint32, 0,
       "Value -0.5 for 'n' of type uint32 is out of range"},
      {"int64 min", BindingValue(INT64_MIN), int64, static_cast<uint64_t>(INT64_MIN), ""},
      {"int64 min text", Text("-9223372036854775808"), int64, static_cast<uint64_t>(INT64_MIN), ""},
      {"int64 unsigned over", BindingValue(uint64_t{1} << 63), int64, 0,
       "Value 9223372036854775808 for 'n' of type int64 is out of range"},
      {"int64 float 2^63", BindingValue(9223372036854775808.0), int64, 0,
       "Value 9.22337e+18 for 'n' of type int64 is out of range"},
      {"int64 float NaN", BindingValue(nan), int64, 0,
       "Value nan for 'n' of type int64 is out of range"},
      {"uint64 max", BindingValue(UINT64_MAX), uint64, UINT64_MAX, ""},
      {"uint64 max text", Text("0xFFFFFFFFFFFFFFFF"), uint64, UINT64_MAX, ""},
      {"uint64 float 2^64", BindingValue(18446744073709551616.0), uint64, 0,
       "Value 1.84467e+19 for 'n' of type uint64 is out of range"},
      {"uint64 text -1", Text("-1"), uint64, 0, "Value -1 for 'n' of type uint64 is out of range"},
      {"uint64 text blank -1", Text(" -1"), uint64, 0,
       "Value  -1 for 'n' of type uint64 is out of range"},
      {"uint64 text beyond", Text("18446744073709551616"), uint64, 0,
       "Value 18446744073709551616 for 'n' of type uint64 is out of range"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    uint64_t bits = 0;
    EXPECT_EQ(c.assign(*this, c.value, bits), c.error);
    EXPECT_EQ(bits, c.expected);
  }
}

TEST_F(FieldConvertersTest, FloatAndDouble) {
  struct Case {
    const char* name;
    BindingValue value;
    bool toFloat;
    double expected;
    const char* error;
  };
  const Case cases[] = {
      {"double from signed", BindingValue(INT64_MIN), false, -9223372036854775808.0, ""},
      {"double from unsigned", BindingValue(UINT64_MAX), false, 18446744073709551615.0, ""},
      {"double from text", Text("2.5e3"), false, 2500.0, ""},
      {"double from enum", LaneValue(3), false, 3.0, ""},
      {"float from double", BindingValue(0.5), true, 0.5, ""},
      {"float too large", BindingValue(1e39), true, 0,
       "Value 1e+39 for 'n' of type float is out of range"},
      {"float text too large", Text("-1e39"), true, 0,
       "Value -1e39 for 'n' of type float is out of range"},
      {"double text overflow", Text("1e400"), false, 0,
       "Value 1e400 for 'n' of type double is out of range"},
      {"double text trailing", Text("1.5x"), false, 0,
       "Value 1.5x for 'n' of type double is in an incorrect format"},
      {"double from string kind only", BindingValue(true), false, 0,
       "Couldn't assign value to 'n' of type double because the input is of an invalid type bool."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.toFloat) {
      float field = 9;
      EXPECT_EQ(Assign(field, c.value), c.error);
      EXPECT_EQ(field, static_cast<float>(c.expected));
    } else {
      double field = 9;
      EXPECT_EQ(Assign(field, c.value), c.error);
      EXPECT_EQ(field, c.expected);
    }
  }
}

TEST_F(FieldConvertersTest, String) {
  struct Case {
    const char* name;
    BindingValue value;
    const char* expected;
    const char* error;
  };
  const Case cases[] = {
      {"string", Text("Sable"), "Sable", ""},
      {"enum by its enumerator's name", LaneValue(2), "Middle", ""},
      {"enum value without name", LaneValue(9), "", "9 is not a valid enumeration value for 'n'."},
      {"enum of an unregistered type", BindingValue(BindingEnumPair{2, &StaticTypeKeyOf<int>()}),
       "", "2 is not a valid enumeration value for 'n'."},
      {"number", BindingValue(5), "",
       "Couldn't assign value to 'n' because the input is not a string."},
      {"empty", BindingValue(), "", "A value for 'n' is required."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string field = "old";
    EXPECT_EQ(Assign(field, c.value), c.error);
    EXPECT_EQ(field, c.expected);
  }
}

TEST_F(FieldConvertersTest, Enum) {
  struct Case {
    const char* name;
    BindingValue value;
    int32_t expected;
    const char* error;
  };
  const Case cases[] = {
      {"name", Text("Bottom"), 3, ""},
      {"defined number as text", Text("2"), 2, ""},
      {"defined hexadecimal text", Text("0x3"), 3, ""},
      {"signed", BindingValue(1), 1, ""},
      {"unsigned", BindingValue(3u), 3, ""},
      {"enum of another type, same number",
       BindingValue(BindingEnumPair{2, &StaticTypeKeyOf<int>()}), 2, ""},
      {"undefined number as text", Text("9"), 0,
       "9 is not a valid Lane enumeration value for 'n'."},
      {"name in other case", Text("bottom"), 0,
       "bottom is not a valid Lane enumeration value for 'n'."},
      {"text whose low 32 bits match", Text("4294967298"), 0,
       "4294967298 is not a valid Lane enumeration value for 'n'."},
      {"undefined signed", BindingValue(-1), 0,
       "-1 is not a valid Lane enumeration value for 'n'."},
      {"unsigned beyond 63 bits", BindingValue(UINT64_MAX), 0,
       "18446744073709551615 is not a valid Lane enumeration value for 'n'."},
      {"undefined enum value", LaneValue(0), 0, "0 is not a valid Lane enumeration value for 'n'."},
      {"float", BindingValue(2.0), 0,
       "Couldn't assign value to 'n' of enum type because the input is of an invalid type float."},
      {"empty", BindingValue(), 0, "A value for 'n' is required."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Lane field = Lane::Middle;
    EXPECT_EQ(Assign(field, c.value), c.error);
    EXPECT_EQ(static_cast<int32_t>(field), c.expected);
  }

  enum class Unregistered : int32_t { A = 1 };
  Unregistered field = Unregistered::A;
  const std::string error = Assign(field, BindingValue(1));
  EXPECT_EQ(error, std::string("1 is not a valid ") +
                       StaticTypeKeyOf<Unregistered>().displayName() +
                       " enumeration value for 'n'.");
}

TEST_F(FieldConvertersTest, BlobAndObject) {
  std::vector<uint8_t> blob{9};
  const uint8_t bytes[] = {1, 2};
  EXPECT_EQ(Assign(blob, BindingValue(std::span<const uint8_t>(bytes))), "");
  EXPECT_EQ(blob, (std::vector<uint8_t>{1, 2}));
  EXPECT_EQ(Assign(blob, Text("AB")), "");
  EXPECT_EQ(blob, (std::vector<uint8_t>{'A', 'B'}));
  EXPECT_EQ(Assign(blob, BindingValue(1)),
            "Couldn't assign value to 'n' of type blob because the input is of an invalid type "
            "signed.");
  EXPECT_TRUE(blob.empty());

  BindingValue object(5);
  const BindingValue tree = List({Text("a"), BindingValue()});
  EXPECT_EQ(Assign(object, tree), "");
  EXPECT_EQ(object, tree);
  EXPECT_NE(object.context(), tree.context());
  EXPECT_EQ(Assign(object, BindingValue()), "") << "an object takes any value, empty included";
  EXPECT_TRUE(object.is_empty());

  BindingResult failed;
  failed.Fail("earlier");
  object = 5;
  AssignFromValue(failed, object, tree, "n", registry_);
  EXPECT_TRUE(object.is_empty()) << "an object entered with a failed result is left empty";
}

TEST_F(FieldConvertersTest, StructMembersRequiredOptionalAndEmpty) {
  Champion champion;
  champion.rating = 4.5;  // not in the value: left as it was
  BindingValue value = ChampionValue();
  value.MemberForWriting("lane") = "Middle";
  value.MemberForWriting("stats").MemberForWriting("attack") = "12";
  value.MemberForWriting("roles") = List({Text("mage"), BindingValue(), Text("support")});
  value.MemberForWriting("extra").MemberForWriting("skin") = "Night";
  value.MemberForWriting("level") = BindingValue();  // present but empty counts as missing
  value.MemberForWriting("unknown") = 1;             // no such field: ignored
  EXPECT_EQ(Assign(champion, value, "<result>"), "");
  EXPECT_EQ(champion.id, 103);
  EXPECT_EQ(champion.name, "Sable");
  EXPECT_EQ(champion.lane, Lane::Middle);
  EXPECT_EQ(champion.stats.attack, 12);
  EXPECT_EQ(champion.roles, (std::vector<std::string>{"mage", "", "support"}));
  EXPECT_EQ(champion.extra.Member("skin").AsString(), "Night");
  EXPECT_EQ(champion.rating, 4.5);
  EXPECT_EQ(champion.level, 0);

  struct Case {
    const char* name;
    BindingValue value;
    const char* error;
  };
  BindingValue withoutId = ChampionValue();
  withoutId.RemoveMember("id");
  BindingValue emptyId = ChampionValue();
  emptyId.MemberForWriting("id").Reset();
  BindingValue statsNotAStructure = ChampionValue();
  statsNotAStructure.MemberForWriting("stats") = 3;
  BindingValue historyNotACollection = ChampionValue();
  historyNotACollection.MemberForWriting("history") = "none";
  const Case cases[] = {
      {"required member missing", withoutId,
       "Couldn't assign value to '<result>' of type Champion because the input structure doesn't "
       "have required field 'id'."},
      {"required member empty", emptyId,
       "Couldn't assign value to '<result>' of type Champion because the input structure doesn't "
       "have required field 'id'."},
      {"nested struct not a structure", statsNotAStructure,
       "Couldn't assign value to 'stats' of type Stats because the input not a structure."},
      {"vector not a collection", historyNotACollection,
       "Couldn't assign value to 'history' of type vector because the input not a collection."},
      {"record not a structure", List({}),
       "Couldn't assign value to '<result>' of type Champion because the input not a structure."},
      {"record empty", BindingValue(), "A value for '<result>' is required."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Champion target;
    EXPECT_EQ(Assign(target, c.value, "<result>"), c.error);
  }
}

TEST_F(FieldConvertersTest, FirstErrorWinsAndLaterFieldsAreUntouched) {
  Champion champion;
  champion.name = "before";
  champion.ranked = true;
  champion.rating = 4.5;
  BindingValue value;
  value.MemberForWriting("id") = 7;
  value.MemberForWriting("name") = "after";
  value.MemberForWriting("lane") = "Sideways";  // fails first
  value.MemberForWriting("ranked") = "maybe";   // would fail too
  value.MemberForWriting("rating") = 1.0;
  EXPECT_EQ(Assign(champion, value, "<result>"),
            "Sideways is not a valid Lane enumeration value for 'lane'.");
  EXPECT_EQ(champion.id, 7) << "assigned before the failure";
  EXPECT_EQ(champion.name, "after");
  EXPECT_EQ(static_cast<int32_t>(champion.lane), 0) << "the failing field gets its zero value";
  EXPECT_TRUE(champion.ranked) << "untouched after the failure";
  EXPECT_EQ(champion.rating, 4.5);
}

TEST_F(FieldConvertersTest, VectorElements) {
  std::vector<int32_t> numbers{5, 5, 5, 5, 5};
  EXPECT_EQ(Assign(numbers, List({BindingValue(1), BindingValue(), Text("3")})), "");
  EXPECT_EQ(numbers, (std::vector<int32_t>{1, 0, 3})) << "empty elements stay default";

  EXPECT_EQ(Assign(numbers, List({BindingValue(1), Text("x"), BindingValue(3)})),
            "Value x for 'n' of type int32 is in an incorrect format");
  EXPECT_EQ(numbers, (std::vector<int32_t>{1, 0, 0})) << "elements after the failure stay default";

  EXPECT_EQ(Assign(numbers, BindingValue(1)),
            "Couldn't assign value to 'n' of type vector because the input not a collection.");
  EXPECT_TRUE(numbers.empty()) << "the vector is cleared first";

  std::vector<Lane> lanes;
  EXPECT_EQ(Assign(lanes, List({Text("Top"), BindingValue(3)})), "");
  EXPECT_EQ(lanes, (std::vector<Lane>{Lane::Top, Lane::Bottom}));

  std::vector<Stats> stats;
  BindingValue entry;
  entry.MemberForWriting("defense") = 4;
  EXPECT_EQ(Assign(stats, List({entry, BindingValue()})), "");
  ASSERT_EQ(stats.size(), 2u);
  EXPECT_EQ(stats[0].defense, 4);
  EXPECT_EQ(stats[1].defense, 0);
}

TEST_F(FieldConvertersTest, RecordToValue) {
  Champion champion;
  champion.id = 103;
  champion.name = "Sable";
  champion.lane = Lane::Bottom;
  champion.stats = {5, 6};
  champion.roles = {"mage"};
  champion.history = {{1, 2}};
  champion.extra = List({Text("x")});
  champion.rating = 2.5;
  champion.level = 9;
  champion.icon = {0xFF};

  BindingResult result;
  ConvertToValue(result, champion, registry_);
  ASSERT_TRUE(result.ok()) << result.ErrorText();
  const BindingValue& value = result.value();
  std::vector<std::string> names;
  for (const BindingMember member : value.Members()) names.emplace_back(member.name);
  EXPECT_EQ(names, (std::vector<std::string>{"extra", "history", "icon", "id", "lane", "level",
                                             "name", "ranked", "rating", "roles", "stats"}))
      << "nickname is empty and omitted";
  EXPECT_EQ(value.Member("id").kind(), BindingValueKind::Signed);
  EXPECT_EQ(value.Member("level").kind(), BindingValueKind::Unsigned);
  EXPECT_EQ(value.Member("rating").AsDouble(), 2.5);
  EXPECT_EQ(value.Member("ranked").kind(), BindingValueKind::Bool);
  EXPECT_EQ(value.Member("lane").AsEnum().value, 3);
  EXPECT_EQ(value.Member("lane").AsEnum().type, &StaticTypeKeyOf<Lane>());
  EXPECT_EQ(value.Member("stats").Member("defense").AsSigned(), 6);
  EXPECT_EQ(value.Member("history").Element(0).Member("attack").AsSigned(), 1);
  EXPECT_EQ(value.Member("roles").Element(0).AsString(), "mage");
  EXPECT_EQ(value.Member("icon").AsBlob().size(), 1u);
  EXPECT_EQ(value.Member("extra"), champion.extra);

  // And back: the record survives the round trip.
  Champion back;
  EXPECT_EQ(Assign(back, value, "<result>"), "");
  EXPECT_EQ(back.name, champion.name);
  EXPECT_EQ(back.lane, champion.lane);
  EXPECT_EQ(back.history[0].defense, 2);
  EXPECT_EQ(back.icon, champion.icon);
  EXPECT_EQ(back.extra, champion.extra);
}

TEST_F(FieldConvertersTest, OmitWhenEmptyCoversEveryKind) {
  const uint8_t none[] = {0};
  struct Case {
    BindingValue value;
    bool empty;
  };
  const Case cases[] = {
      {BindingValue(), true},
      {BindingValue(false), true},
      {BindingValue(true), false},
      {BindingValue(0), true},
      {BindingValue(0u), true},
      {BindingValue(-1), false},
      {BindingValue(0.0), true},
      {BindingValue(0.1), false},
      {Text(""), true},
      {Text("a"), false},
      {LaneValue(0), true},
      {LaneValue(1), false},
      {List({}), true},
      {List({BindingValue()}), false},
      {BindingValue(std::span<const uint8_t>(none, 0)), true},
      {BindingValue(std::span<const uint8_t>(none)), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(BindingValueKindName(c.value.kind()));
    EXPECT_EQ(IsEmptyForOmission(c.value), c.empty);
  }
}

TEST_F(FieldConvertersTest, UnregisteredStructs) {
  struct Loose {
    int32_t a = 0;
  };
  Loose loose;
  EXPECT_EQ(Assign(loose, ChampionValue()),
            "Couldn't assign value to 'n' because the input is an unregistered structure or not a "
            "structure at all.");
  BindingResult result;
  ConvertToValue(result, loose, registry_);
  EXPECT_EQ(result.ErrorText(),
            "Couldn't convert native value because it's an unregistered structure.");

  std::vector<Loose> list(2);
  BindingResult listResult;
  ConvertToValue(listResult, list, registry_);
  EXPECT_EQ(listResult.ErrorText(),
            "Couldn't convert native value because it's an unregistered structure.");
}

TEST_F(FieldConvertersTest, NestedTypesRegisteredLaterAreFoundAtConversion) {
  struct Inner {
    int32_t x = 0;
  };
  struct Outer {
    Inner inner;
  };
  BindingTypeRegistry registry;
  registry.Record<Outer>("Outer").Field("inner", &Outer::inner);
  registry.Record<Inner>("Inner").Field("x", &Inner::x);
  EXPECT_EQ(registry.Find<Outer>()->fields[0].type.descriptor, nullptr);

  BindingValue value;
  value.MemberForWriting("inner").MemberForWriting("x") = 4;
  Outer outer;
  BindingResult result;
  AssignFromValue(result, outer, value, "<result>", registry);
  EXPECT_TRUE(result.ok()) << result.ErrorText();
  EXPECT_EQ(outer.inner.x, 4);
}

}  // namespace
}  // namespace mau
