#include "binding/type_registry.h"

#include <cstddef>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "binding/record_builder.h"
#include "binding_test_records.h"

namespace {
// Two invented types that claim the same id, as a careless pin would.
struct FirstClaimant {
  int32_t value = 0;
};
struct SecondClaimant {
  int32_t value = 0;
};
enum class HelpFormat : int32_t { Full = 1, Epytext = 2 };
}  // namespace

template <>
struct mau::PinnedStaticTypeId<FirstClaimant> : std::integral_constant<uint32_t, 0x12345678u> {};
template <>
struct mau::PinnedStaticTypeId<SecondClaimant> : std::integral_constant<uint32_t, 0x12345678u> {};

namespace mau {
namespace {

using test::Champion;
using test::Lane;
using test::Stats;

std::vector<std::string> EnumeratorNames(const BindingTypeDescriptor& type) {
  std::vector<std::string> names;
  for (const auto& [name, enumerator] : type.enumerators) names.push_back(name);
  return names;
}

TEST(BindingTypeRegistry, SecondRegistrationOfANameKeepsTheFirstDescriptor) {
  BindingTypeRegistry registry;
  auto first = registry.Record<Stats>("Stats").Description("first").Tag("a");
  first.Field("attack", &Stats::attack);
  ASSERT_EQ(first.state(), BindingTypeBuilder::State::Created);

  auto second = registry.Record<Stats>("Stats");
  second.Description("second").Tag("b").Field("defense", &Stats::defense);
  EXPECT_EQ(second.state(), BindingTypeBuilder::State::Existing);
  EXPECT_EQ(second.descriptor(), first.descriptor());

  auto again = registry.BeginType(4, "Stats", StaticTypeKeyOf<Stats>(), true);
  again.AddEnumerator("X", 1);
  EXPECT_FALSE(again.active());

  const BindingTypeDescriptor* stats = registry.FindType("Stats");
  ASSERT_NE(stats, nullptr);
  EXPECT_EQ(stats->description, "first");
  EXPECT_EQ(stats->tags, std::vector<std::string>{"a"});
  ASSERT_EQ(stats->fields.size(), 1u);
  EXPECT_EQ(stats->fields[0].name, "attack");
  EXPECT_TRUE(stats->enumerators.empty());
  EXPECT_FALSE(stats->isEnum);
  EXPECT_EQ(registry.Types().size(), 1u);
}

TEST(BindingTypeRegistry, EnumeratorsAreKeptInNameOrder) {
  BindingTypeRegistry registry;
  registry.Enum<HelpFormat>("HelpFormat")
      .Value("Full", HelpFormat::Full, "Native help format")
      .Value("Epytext", HelpFormat::Epytext)
      .Value("Epytext", HelpFormat::Epytext, "Python epytext format");  // overwrites
  const BindingTypeDescriptor* type = registry.Find<HelpFormat>();
  ASSERT_NE(type, nullptr);
  EXPECT_TRUE(type->isEnum);
  EXPECT_EQ(type->nativeSize, 4u);
  EXPECT_EQ(EnumeratorNames(*type), (std::vector<std::string>{"Epytext", "Full"}));
  EXPECT_EQ(type->enumerators.at("Epytext").description, "Python epytext format");
  EXPECT_EQ(type->enumerators.at("Full").owner, type);
}

TEST(BindingTypeRegistry, EnumeratorLookupTakesTheFirstNameWithTheValue) {
  BindingTypeRegistry registry;
  auto builder = registry.BeginType(4, "Mood", StaticTypeKeyOf<HelpFormat>(), true);
  builder.AddEnumerator("Calm", 1).AddEnumerator("Angry", 1).AddEnumerator("Zen", 2);
  builder.AddEnumerator("\xC3\xA9lan", 3).AddEnumerator("Zest", 3);  // é sorts after Z

  const uint32_t id = StaticTypeKeyOf<HelpFormat>().id;
  struct Case {
    int64_t value;
    const char* expected;  // nullptr: no enumerator
  };
  for (const Case& c : {Case{1, "Angry"}, Case{2, "Zen"}, Case{3, "Zest"}, Case{4, nullptr},
                        Case{int64_t{1} << 32 | 1, nullptr}}) {
    SCOPED_TRACE(c.value);
    const BindingEnumerator* found = registry.FindEnumerator(id, c.value);
    if (c.expected == nullptr) {
      EXPECT_EQ(found, nullptr);
      EXPECT_FALSE(registry.FindTypeById(id)->HasEnumeratorValue(c.value));
    } else {
      ASSERT_NE(found, nullptr);
      EXPECT_EQ(found->name, c.expected);
    }
  }
  EXPECT_EQ(registry.FindEnumerator(StaticTypeKeyOf<Stats>().id, 1), nullptr) << "not registered";
}

TEST(BindingTypeRegistry, LookupsByNameAndStaticTypeId) {
  BindingTypeRegistry registry;
  test::RegisterRoster(registry);
  const BindingTypeDescriptor* champion = registry.FindType("Champion");
  ASSERT_NE(champion, nullptr);
  EXPECT_EQ(registry.FindTypeById(StaticTypeKeyOf<Champion>().id), champion);
  EXPECT_EQ(champion->typeId, StaticTypeKeyOf<Champion>().id);
  EXPECT_EQ(champion->staticKey, &StaticTypeKeyOf<Champion>());
  EXPECT_EQ(champion->registry, &registry);
  EXPECT_EQ(registry.FindType("champion"), nullptr);
  EXPECT_EQ(registry.FindTypeById(0x0BADF00D), nullptr);

  std::vector<std::string> order;
  for (const BindingTypeDescriptor* type : registry.Types()) order.push_back(type->name);
  EXPECT_EQ(order, (std::vector<std::string>{"Lane", "Stats", "Champion"}));
}

TEST(BindingTypeRegistry, ReservedKeyStaysOutOfTheIdIndex) {
  BindingTypeRegistry registry;
  ASSERT_TRUE(registry.BeginType(8, "Reserved1", ReservedStaticTypeKey(), false).active());
  ASSERT_TRUE(registry.BeginType(8, "Reserved2", ReservedStaticTypeKey(), false).active());
  EXPECT_NE(registry.FindType("Reserved1"), nullptr);
  EXPECT_NE(registry.FindType("Reserved2"), nullptr);
  EXPECT_EQ(registry.FindTypeById(kReservedStaticTypeId), nullptr);
  EXPECT_TRUE(registry.RegistrationErrors().empty());
}

TEST(BindingTypeRegistry, CollidingStaticTypeIdIsRefused) {
  BindingTypeRegistry registry;
  registry.Record<FirstClaimant>("FirstClaimant").Field("value", &FirstClaimant::value);
  auto second = registry.Record<SecondClaimant>("SecondClaimant");
  second.Field("value", &SecondClaimant::value);
  EXPECT_EQ(second.state(), BindingTypeBuilder::State::Refused);
  EXPECT_EQ(second.descriptor(), nullptr);
  EXPECT_EQ(registry.FindType("SecondClaimant"), nullptr);
  EXPECT_EQ(registry.FindTypeById(0x12345678u)->name, "FirstClaimant");
  ASSERT_EQ(registry.RegistrationErrors().size(), 1u);
  EXPECT_EQ(registry.RegistrationErrors()[0],
            "Type 'SecondClaimant' was not registered: its static type id #12345678 is already "
            "used by 'FirstClaimant'.");

  // The same native type under a second name is no collision.
  EXPECT_TRUE(registry.Record<FirstClaimant>("FirstClaimantAlias").descriptor() != nullptr);
  EXPECT_EQ(registry.FindTypeById(0x12345678u)->name, "FirstClaimant");
}

TEST(BindingTypeRegistry, EventsRegisterOnce) {
  BindingTypeRegistry registry;
  test::RegisterRoster(registry);
  auto first = registry.Event<Champion>("OnChampionChanged");
  first.SetDescription("Fired when a champion changes.").AddTag("roster").AddTag("");
  EXPECT_FALSE(first.existed());
  auto second = registry.RegisterEvent("OnChampionChanged", nullptr);
  second.SetDescription("other").AddTag("other");
  EXPECT_TRUE(second.existed());

  const BindingEventDescriptor* event = registry.FindEvent("OnChampionChanged");
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(event->payload, registry.FindType("Champion"));
  EXPECT_EQ(event->description, "Fired when a champion changes.");
  EXPECT_EQ(event->tags, std::vector<std::string>{"roster"});
  EXPECT_EQ(registry.Events().size(), 1u);
  EXPECT_EQ(registry.FindEvent("OnOther"), nullptr);
}

TEST(BindingTypeRegistry, ResetRemovesEverything) {
  BindingTypeRegistry registry;
  test::RegisterRoster(registry);
  (void)registry.Event<Champion>("OnChampionChanged");
  registry.Reset();
  EXPECT_TRUE(registry.Types().empty());
  EXPECT_TRUE(registry.Events().empty());
  EXPECT_EQ(registry.FindTypeById(StaticTypeKeyOf<Champion>().id), nullptr);
  test::RegisterRoster(registry);
  EXPECT_NE(registry.FindType("Champion"), nullptr) << "registrable again after a reset";
}

TEST(RecordBuilder, DerivesOffsetsTypesAndFlagsFromMembers) {
  BindingTypeRegistry registry;
  test::RegisterRoster(registry);
  const BindingTypeDescriptor* champion = registry.Find<Champion>();
  const BindingTypeDescriptor* stats = registry.Find<Stats>();
  const BindingTypeDescriptor* lane = registry.Find<Lane>();
  ASSERT_TRUE(champion != nullptr && stats != nullptr && lane != nullptr);
  EXPECT_EQ(champion->nativeSize, sizeof(Champion));
  EXPECT_EQ(champion->description, "A playable character.");
  EXPECT_EQ(champion->tags, std::vector<std::string>{"roster"});

  struct Expected {
    const char* name;
    size_t offset;
    BindingTypeId id;
    BindingTypeId elementId;
    const BindingTypeDescriptor* descriptor;
    uint32_t flags;
    bool optional;
    const StaticTypeKey* key;
  };
  const BindingTypeId none = BindingTypeId::None;
  const Expected expected[] = {
      {"id", offsetof(Champion, id), BindingTypeId::Int32, none, nullptr, kBindingFieldRequired,
       false, &StaticTypeKeyOf<int32_t>()},
      {"name", offsetof(Champion, name), BindingTypeId::String, none, nullptr, 0, false,
       &StaticTypeKeyOf<std::string>()},
      {"lane", offsetof(Champion, lane), BindingTypeId::Enum, none, lane, 0, false,
       &StaticTypeKeyOf<Lane>()},
      {"stats", offsetof(Champion, stats), BindingTypeId::Struct, none, stats, 0, false,
       &StaticTypeKeyOf<Stats>()},
      {"roles", offsetof(Champion, roles), BindingTypeId::Vector, BindingTypeId::String, nullptr, 0,
       true, &StaticTypeKeyOf<std::vector<std::string>>()},
      {"history", offsetof(Champion, history), BindingTypeId::Vector, BindingTypeId::Struct, stats,
       0, false, &StaticTypeKeyOf<std::vector<Stats>>()},
      {"extra", offsetof(Champion, extra), BindingTypeId::Object, none, nullptr, 0, false,
       &StaticTypeKeyOf<BindingValue>()},
      {"ranked", offsetof(Champion, ranked), BindingTypeId::Bool, none, nullptr, 0, false,
       &StaticTypeKeyOf<bool>()},
      {"rating", offsetof(Champion, rating), BindingTypeId::Double, none, nullptr, 0, false,
       &StaticTypeKeyOf<double>()},
      {"level", offsetof(Champion, level), BindingTypeId::UInt8, none, nullptr, 0, false,
       &StaticTypeKeyOf<uint8_t>()},
      {"icon", offsetof(Champion, icon), BindingTypeId::Blob, none, nullptr, 0, false,
       &StaticTypeKeyOf<std::vector<uint8_t>>()},
      {"nickname", offsetof(Champion, nickname), BindingTypeId::String, none, nullptr,
       kBindingFieldOmitWhenEmpty, false, &StaticTypeKeyOf<std::string>()},
  };
  ASSERT_EQ(champion->fields.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    const Expected& e = expected[i];
    const BindingFieldDescriptor& field = champion->fields[i];
    SCOPED_TRACE(e.name);
    EXPECT_EQ(field.name, e.name);
    EXPECT_EQ(field.nameHash, Fnv1a32(e.name));
    EXPECT_EQ(field.offset, e.offset);
    EXPECT_EQ(field.type.id, e.id);
    EXPECT_EQ(field.type.elementId, e.elementId);
    EXPECT_EQ(field.type.descriptor, e.descriptor);
    EXPECT_EQ(field.secondaryType.id, BindingTypeId::None);
    EXPECT_EQ(field.flags, e.flags);
    EXPECT_EQ(field.optional, e.optional);
    EXPECT_EQ(field.staticKey, e.key);
    EXPECT_EQ(field.owner, champion);
    EXPECT_NE(field.converter, nullptr);
  }
  EXPECT_EQ(champion->fields[0].description, "Numeric id");
  EXPECT_EQ(champion->fields[1].description, "Display name");
}

TEST(RecordBuilder, MembersOfABaseClassGetTheirOffsetInTheRecord) {
  struct Header {
    int64_t stamp = 0;
  };
  struct Tagged {
    int32_t tag = 0;
  };
  struct Message : Header, Tagged {
    std::string text;
  };
  BindingTypeRegistry registry;
  registry.Record<Message>("Message")
      .Field("stamp", &Message::stamp)
      .Field("tag", &Message::tag)
      .Field("text", &Message::text);
  const auto& fields = registry.Find<Message>()->fields;
  Message probe;
  const auto* base = reinterpret_cast<const unsigned char*>(&probe);
  EXPECT_EQ(fields[0].offset, reinterpret_cast<const unsigned char*>(&probe.stamp) - base);
  EXPECT_EQ(fields[1].offset, reinterpret_cast<const unsigned char*>(&probe.tag) - base);
  EXPECT_EQ(fields[2].offset, reinterpret_cast<const unsigned char*>(&probe.text) - base);
}

TEST(BindingTypeNames, NativeFullAndEpytextForms) {
  BindingTypeRegistry registry;
  test::RegisterRoster(registry);
  const BindingTypeDescriptor* stats = registry.Find<Stats>();
  const BindingTypeDescriptor* lane = registry.Find<Lane>();
  using Id = BindingTypeId;
  struct Case {
    BindingTypeRef ref;
    const char* native;
    const char* fullType;
    const char* fullElement;
    const char* epytext;
  };
  const Case cases[] = {
      {{Id::None}, "", "", "", ""},
      {{Id::Bool}, "bool", "bool", "", "bool"},
      {{Id::Int8}, "int8", "int8", "", "int8"},
      {{Id::UInt64}, "uint64", "uint64", "", "uint64"},
      {{Id::Double}, "double", "double", "", "double"},
      {{Id::String}, "string", "string", "", "string"},
      {{Id::Object}, "object", "object", "", "object"},
      {{Id::Blob}, "blob", "blob", "", "bytearray"},
      {{Id::Callback}, "callback", "callback", "", "callback"},
      {{Id::Enum, Id::None, lane}, "enum", "Lane", "", "L{Lane}"},
      {{Id::Struct, Id::None, stats}, "struct", "Stats", "", "L{Stats}"},
      {{Id::Struct}, "struct", "struct", "", "L{struct}"},
      {{Id::Vector, Id::Struct, stats}, "vector", "vector", "Stats", "list[L{Stats}]"},
      {{Id::Vector, Id::Int32}, "vector", "vector", "int32", "list[int32]"},
      {{Id::Vector, Id::Blob}, "vector", "vector", "blob", "list[bytearray]"},
      {{Id::Map, Id::Enum, lane}, "map", "map", "Lane", "dict[L{Lane}]"},
      {{Id::Map, Id::String}, "map", "map", "string", "dict[string]"},
      {{static_cast<Id>(20)}, "", "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.epytext);
    EXPECT_EQ(NativeTypeName(c.ref.id), c.native);
    const BindingTypeIdentifier full = FullTypeIdentifier(c.ref);
    EXPECT_EQ(full.type, c.fullType);
    EXPECT_EQ(full.elementType, c.fullElement);
    EXPECT_EQ(EpytextTypeName(c.ref), c.epytext);
  }
}

}  // namespace
}  // namespace mau
