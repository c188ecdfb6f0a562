#include "binding/routing/url_codec.h"

namespace mau {
namespace {

unsigned HexValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
  return 16;
}

}  // namespace

std::string UrlDecode(std::string_view text) {
  // Most texts have nothing to decode, and the rest are copied up to their first escape.
  size_t first = 0;
  while (first < text.size() && text[first] != '%' && text[first] != '+') ++first;
  if (first == text.size()) return std::string(text);
  std::string out;
  out.reserve(text.size());
  out.append(text.data(), first);
  for (size_t i = first; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%') {
      if (text.size() - i > 2) {
        out += static_cast<char>(((HexValue(text[i + 1]) << 4) | HexValue(text[i + 2])) & 0xFFu);
        i += 2;
      }
    } else if (c == '+') {
      out += ' ';
    } else {
      out += c;
    }
  }
  return out;
}

QueryParameters ParseQueryString(std::string_view query) {
  QueryParameters out;
  const size_t nul = query.find('\0');
  if (nul != std::string_view::npos) query = query.substr(0, nul);
  if (query.empty()) return out;
  size_t start = 0;
  while (true) {
    const size_t amp = query.find('&', start);
    const std::string_view piece =
        query.substr(start, amp == std::string_view::npos ? std::string_view::npos : amp - start);
    const size_t eq = piece.find('=');
    if (eq == std::string_view::npos) {
      out.insert_or_assign(UrlDecode(piece), std::string());
    } else {
      out.insert_or_assign(UrlDecode(piece.substr(0, eq)), UrlDecode(piece.substr(eq + 1)));
    }
    if (amp == std::string_view::npos) break;
    start = amp + 1;
  }
  return out;
}

}  // namespace mau
