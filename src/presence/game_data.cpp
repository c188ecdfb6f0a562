#include "presence/game_data.h"

#include "binding/record_builder.h"

namespace mau {

void RegisterGameDataTypes(BindingTypeRegistry& registry, std::string_view typeNamePrefix,
                           std::span<const std::string> tags) {
  const std::string name = std::string(typeNamePrefix) + "GameDataChampionSummary";
  registry.Record<GameDataChampionSummary>(name)
      .Tags(tags)
      .Field("id", &GameDataChampionSummary::id)
      .Field("name", &GameDataChampionSummary::name)
      .Field("alias", &GameDataChampionSummary::alias);
}

void StoreLocalizedStrings(const BindingValue& table, LocalizedStrings& strings) {
  if (table.kind() != BindingValueKind::Structure) return;
  for (const auto& [name, value] : table.Members()) {
    std::string text;
    if (value.kind() == BindingValueKind::String) text.assign(value.AsString());
    strings.insert_or_assign(std::string(name), std::move(text));
  }
}

size_t Utf8CutLength(std::string_view text, size_t limit) noexcept {
  if (text.size() <= limit) return text.size();
  auto continues = [&](size_t i) { return (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80; };
  // Step back over continuation bytes to the lead byte of the character the limit splits;
  // the cut then ends just before it. A cut already on a boundary stays where it is. A
  // character has at most three continuation bytes: a longer run is no character, and
  // stepping over it would drop a whole text of such bytes.
  size_t cut = limit;
  for (int back = 0; back < 3 && cut > 0 && continues(cut); ++back) --cut;
  return continues(cut) ? limit : cut;
}

void LookupLocalized(const LocalizedStrings& strings, std::string_view key, size_t limit,
                     std::string& out) {
  const auto it = strings.find(key);
  if (it == strings.end()) return;
  const std::string_view text = it->second;
  out.assign(text.substr(0, Utf8CutLength(text, limit)));
}

const GameDataChampionSummary* FindChampion(std::span<const GameDataChampionSummary> list,
                                            int32_t id) noexcept {
  for (const GameDataChampionSummary& entry : list) {
    if (entry.id == id) return &entry;
  }
  return nullptr;
}

}  // namespace mau
