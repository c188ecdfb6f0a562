// Parsing of the JSON texts a client sends to the Discord stand-in, refusing texts that
// nest deeper than the stand-in ever needs, so that no payload can exhaust its stack in
// the parser or in the walks over the parsed document.
#pragma once

#include <rapidjson/document.h>

#include <cstddef>
#include <string_view>

namespace mau::fake_discord {

inline constexpr int kMaxJsonDepth = 32;

// The deepest nesting of objects and arrays in `text`, brackets inside strings not
// counted. Stops counting once it passes `limit`.
inline int JsonNestingDepth(std::string_view text, int limit = kMaxJsonDepth) {
  int depth = 0;
  int deepest = 0;
  bool in_string = false;
  for (size_t i = 0; i < text.size() && deepest <= limit; ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '{' || c == '[') {
      deepest = ++depth > deepest ? depth : deepest;
    } else if (c == '}' || c == ']') {
      --depth;
    }
  }
  return deepest;
}

// Parses `text` into `document`; false when it is not JSON or nests too deeply.
inline bool ParseShallowJson(std::string_view text, rapidjson::Document& document) {
  if (JsonNestingDepth(text) > kMaxJsonDepth) return false;
  document.Parse<rapidjson::kParseIterativeFlag>(text.data(), text.size());
  return !document.HasParseError();
}

}  // namespace mau::fake_discord
