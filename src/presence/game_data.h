// The game data the presence is built from: the localized string table, read once at
// start-up, and the champion summary list, read whenever a presence shows a champion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "binding/binding_value.h"
#include "binding/type_registry.h"

namespace mau {

inline constexpr const char* kLocalizedStringsUri = "/mau-game-data/assets/v1/discord_strings.json";
inline constexpr const char* kChampionSummaryUri = "/mau-game-data/assets/v1/champion-summary.json";

// Key text to localized text, ordered by unsigned bytes (std::string compares that way).
using LocalizedStrings = std::map<std::string, std::string, std::less<>>;

// One element of the champion summary list.
struct GameDataChampionSummary {
  int32_t id = 0;
  std::string name;
  std::string alias;
};

// Registers GameDataChampionSummary as prefix + "GameDataChampionSummary" with the given
// type tags.
void RegisterGameDataTypes(BindingTypeRegistry& registry, std::string_view typeNamePrefix,
                           std::span<const std::string> tags);

// Stores each member of table under its name: its text when it is a string, else the empty
// text. A later member replaces an earlier one of the same name. A table that is not an
// object stores nothing.
void StoreLocalizedStrings(const BindingValue& table, LocalizedStrings& strings);

// The length of text's longest prefix of at most limit bytes that ends on a whole UTF-8
// character, so a cut never sends half a character. Bytes that are not UTF-8 (more than
// three continuation bytes in a row) are cut at the limit itself.
size_t Utf8CutLength(std::string_view text, size_t limit) noexcept;

// Copies the text stored under key into out, cut to at most limit bytes at a character
// boundary; leaves out unchanged when the key is missing.
void LookupLocalized(const LocalizedStrings& strings, std::string_view key, size_t limit,
                     std::string& out);

// The first summary with the given id, or null.
const GameDataChampionSummary* FindChampion(std::span<const GameDataChampionSummary> list,
                                            int32_t id) noexcept;

}  // namespace mau
