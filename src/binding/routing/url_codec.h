// Percent-decoding of URL texts and splitting of query strings, as the call dispatcher
// reads path parameters and query arguments.
//
//   mau::UrlDecode("a%20b+c");                  // "a b c"
//   mau::ParseQueryString("a=1&flag&a=2");      // {"a": "2", "flag": ""}
//
// Nothing here fails: a malformed escape decodes by the rule below and is never refused.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

namespace mau {

// Decoded name to decoded value; a repeated name keeps its last value.
using QueryParameters = std::unordered_map<std::string, std::string>;

// Byte by byte: '%' with two more characters reads them as hexadecimal digits, where a
// character that is not a hex digit counts as 16, and stores the low eight bits of
// high * 16 | low; '%' with fewer than two characters after it is dropped; '+' becomes a
// space; every other byte is copied.
std::string UrlDecode(std::string_view text);

// Splits at every '&' (empty pieces included) up to the end or an embedded NUL. A piece
// without '=' is a name with an empty value; otherwise the name is the text before the
// first '=' and the value the text after it, both decoded. An empty text gives no pairs.
QueryParameters ParseQueryString(std::string_view query);

}  // namespace mau
