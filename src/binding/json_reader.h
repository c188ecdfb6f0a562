// The JSON reader: parses a JSON text into a BindingValue, for host resource bodies,
// event payloads and call bodies of type "application/json".
//
// Strict JSON (no comments, trailing commas, NaN or Infinity; one leading UTF-8
// byte-order mark, as editors on Windows write, is skipped) through rapidjson's SAX
// reader with its default flags (in situ for the in-place entries, which spare rapidjson
// copying every string); a handler builds the value directly. null gives empty,
// true and false bool, an integer without sign that fits 64 bits unsigned, a negative one
// that fits 64 bits signed, any other number float; strings and member names are interned
// up to their first NUL character; of a repeated member name the later value stays (the
// earlier ones are kept until their object ends). Containers nest at most
// kMaxReaderNesting deep.
//
//   mau::BindingResult result;
//   mau::ParseJson(result, R"({"id": 103, "roles": ["mage"]})");
//   if (!result.ok()) ...result.ErrorText()...  // "Error: Invalid value. at offset 7."
//
// A failure reads "Error: <rapidjson's text of the error> at offset <byte offset>.", the
// offset counted from the start of the text, byte-order mark included; too deep a nesting
// is rapidjson's handler termination ("Terminate parsing due to Handler error.") at the
// offset just after the bracket that went too deep.
#pragma once

#include <string>
#include <string_view>

#include "binding/binding_result.h"

namespace mau {

// Parses a NUL-terminated JSON text; result receives the value or the failure. A null
// text reads as the empty text. result should be fresh: a failed result stays failed.
void ParseJson(BindingResult& result, const char* text);
// Parses all of text's characters: a NUL before its end is a character after the root
// value ("The document root must not be followed by other values.").
void ParseJson(BindingResult& result, const std::string& text);
// The same two readings (up to the NUL, or all characters) of a text the caller gives up:
// strings are decoded where they stand instead of being copied first, and the text's
// characters are garbage afterwards.
void ParseJsonInPlace(BindingResult& result, char* text);
void ParseJsonInPlace(BindingResult& result, std::string& text);

// The English text of a rapidjson parse error code ("Invalid value."); "Unknown error."
// for a code it does not know.
std::string_view JsonParseErrorText(unsigned code) noexcept;

}  // namespace mau
