// Invented records shared by the binding tests: a small champion roster with a nested
// struct, an enum, vectors, an object field and a blob.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "binding/binding_value.h"
#include "binding/record_builder.h"
#include "binding/type_registry.h"

namespace mau::test {

enum class Lane : int32_t { Top = 1, Middle = 2, Bottom = 3 };

struct Stats {
  int32_t attack = 0;
  int32_t defense = 0;
};

struct Champion {
  int32_t id = 0;
  std::string name;
  Lane lane = Lane::Top;
  Stats stats;
  std::vector<std::string> roles;
  std::vector<Stats> history;
  BindingValue extra;
  bool ranked = false;
  double rating = 0;
  uint8_t level = 0;
  std::vector<uint8_t> icon;
  std::string nickname;  // omitted from values when empty
};

inline void RegisterRoster(BindingTypeRegistry& registry) {
  registry.Enum<Lane>("Lane")
      .Description("Where a champion plays.")
      .Value("Top", Lane::Top)
      .Value("Middle", Lane::Middle, "The central lane")
      .Value("Bottom", Lane::Bottom);
  registry.Record<Stats>("Stats").Field("attack", &Stats::attack).Field("defense", &Stats::defense);
  registry.Record<Champion>("Champion")
      .Description("A playable character.")
      .Tag("roster")
      .Field("id", &Champion::id, {.description = "Numeric id", .required = true})
      .Field("name", &Champion::name, "Display name")
      .Field("lane", &Champion::lane)
      .Field("stats", &Champion::stats)
      .Field("roles", &Champion::roles, {.optional = true})
      .Field("history", &Champion::history)
      .Field("extra", &Champion::extra)
      .Field("ranked", &Champion::ranked)
      .Field("rating", &Champion::rating)
      .Field("level", &Champion::level)
      .Field("icon", &Champion::icon)
      .Field("nickname", &Champion::nickname, {.omitWhenEmpty = true});
}

}  // namespace mau::test
