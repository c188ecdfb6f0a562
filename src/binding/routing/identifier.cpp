#include "binding/routing/identifier.h"

#include <cctype>

#include "platform/format.h"

namespace mau {

namespace {
char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }
char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }
}  // namespace

std::string ToIdentifier(std::string_view prefix, std::string_view path) {
  std::string working;
  if (!prefix.empty()) {
    std::string rest(prefix.substr(1));
    for (char& c : rest) c = Lower(c);
    working = FormatText("%1%2/", prefix[0], rest);
  }
  working.append(path);

  std::string identifier;
  identifier.reserve(working.size() + 8);
  bool capitalise = true;
  for (const char c : working) {
    switch (c) {
      case '!':
      case '+':
      case '-':
      case '.':
      case '/':
      case '_':
        capitalise = true;
        break;
      case '{':
        identifier += "By";
        capitalise = true;
        break;
      case '}':
        break;
      default:
        identifier += capitalise ? Upper(c) : c;
        capitalise = false;
        break;
    }
  }
  return identifier;
}

}  // namespace mau
