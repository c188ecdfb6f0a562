// Identifiers derived from names and paths: "mau-discord-rp" becomes MauDiscordRp and
// ("GET", "items/{id}/tags") becomes GetItemsByIdTags. The plug-in's type-name prefix and
// the identifiers of routes come from here.
#pragma once

#include <string>
#include <string_view>

namespace mau {

// Separators (! + - . / _) are dropped and capitalise the next character, '{' becomes
// "By", '}' is dropped, and the first character is capitalised. A non-empty prefix is put
// in front as its first character, the rest in lower case, and a '/'.
std::string ToIdentifier(std::string_view prefix, std::string_view path);

}  // namespace mau
