#include "binding/routing/url_template.h"

#include <cstring>
#include <memory>

#include "platform/format.h"

namespace mau {
namespace {

bool IsRegexSpecial(char c) {
  switch (c) {
    case '^':
    case '$':
    case '.':
    case '*':
    case '+':
    case '?':
    case '(':
    case ')':
    case '[':
    case ']':
    case '|':
    case '\\':
      return true;
    default:
      return false;
  }
}

bool InClass(CaptureClass cls, char c) {
  return cls == CaptureClass::NotSlash ? c != '/' : (c != '\n' && c != '\r');
}

// Rows of bits, one row per capture group and one bit per URL position (0..size). Short
// URLs use the inline words; long ones one heap block.
class BitRows {
 public:
  BitRows(size_t rows, size_t positions) : wordsPerRow_((positions + 63) / 64) {
    const size_t total = rows * wordsPerRow_;
    if (total <= kInlineWords) {
      words_ = inline_;
      std::memset(inline_, 0, total * sizeof(uint64_t));
    } else {
      heap_ = std::make_unique<uint64_t[]>(total);  // value-initialised: all zero
      words_ = heap_.get();
    }
  }
  bool Get(size_t row, size_t position) const {
    return (words_[row * wordsPerRow_ + position / 64] >> (position % 64)) & 1u;
  }
  void Set(size_t row, size_t position) {
    words_[row * wordsPerRow_ + position / 64] |= uint64_t{1} << (position % 64);
  }
  void ClearRow(size_t row) { std::memset(words_ + row * wordsPerRow_, 0, wordsPerRow_ * 8); }

 private:
  static constexpr size_t kInlineWords = 32;
  size_t wordsPerRow_;
  uint64_t inline_[kInlineWords];
  std::unique_ptr<uint64_t[]> heap_;
  uint64_t* words_;
};

// MatchTemplate for a forwardOnly template whose first literal has matched: each group
// takes its whole run, which must be followed by its literal.
bool MatchForward(const CompiledTemplate& compiled, std::string_view url,
                  std::vector<std::string_view>& captures) {
  const size_t groups = compiled.captures.size();
  captures.reserve(groups);
  size_t q = compiled.literals[0].size();
  for (size_t k = 1; k <= groups; ++k) {
    const CaptureClass cls = compiled.captures[k - 1];
    size_t end = q;
    while (end < url.size() && InClass(cls, url[end])) ++end;
    const std::string& literal = compiled.literals[k];
    if (url.size() - end < literal.size() ||
        std::memcmp(url.data() + end, literal.data(), literal.size()) != 0) {
      captures.clear();
      return false;
    }
    captures.push_back(url.substr(q, end - q));
    q = end + literal.size();
  }
  if (q == url.size()) return true;
  captures.clear();
  return false;
}

}  // namespace

CompiledTemplate CompileTemplate(std::string_view urlTemplate) {
  CompiledTemplate out;
  out.pattern.reserve(urlTemplate.size());
  out.literals.emplace_back();
  RouteParameterKind kind = RouteParameterKind::None;
  std::string name;
  for (const char c : urlTemplate) {
    if (c == '{') {
      kind = RouteParameterKind::Simple;  // a name begun so far stays
      continue;
    }
    if (c == '}') {
      switch (kind) {
        case RouteParameterKind::Simple:
          out.pattern += "([^/]*)";
          out.captures.push_back(CaptureClass::NotSlash);
          out.literals.emplace_back();
          break;
        case RouteParameterKind::Reserved:
          out.pattern += "(.*)";
          out.captures.push_back(CaptureClass::NotLineBreak);
          out.literals.emplace_back();
          break;
        case RouteParameterKind::Fragment:
          out.pattern += "#(.*)";
          out.literals.back() += '#';
          out.captures.push_back(CaptureClass::NotLineBreak);
          out.literals.emplace_back();
          break;
        case RouteParameterKind::None:
          break;
      }
      out.parameters.push_back({kind, std::move(name)});
      kind = RouteParameterKind::None;
      name.clear();
      continue;
    }
    if (kind == RouteParameterKind::None) {
      if (IsRegexSpecial(c)) out.pattern += '\\';
      out.pattern += c;
      out.literals.back() += c;
      continue;
    }
    if (kind == RouteParameterKind::Simple && name.empty()) {
      if (c == '+') {
        kind = RouteParameterKind::Reserved;
        continue;
      }
      if (c == '#') {
        kind = RouteParameterKind::Fragment;
        continue;
      }
    }
    name += c;
  }
  out.forwardOnly = true;
  for (size_t k = 1; k <= out.captures.size(); ++k) {
    const std::string& after = out.literals[k];
    const bool last = k == out.captures.size() && after.empty();
    const bool endsAtSlash =
        out.captures[k - 1] == CaptureClass::NotSlash && !after.empty() && after[0] == '/';
    if (!last && !endsAtSlash) out.forwardOnly = false;
  }
  return out;
}

bool MatchTemplate(const CompiledTemplate& compiled, std::string_view url,
                   std::vector<std::string_view>& captures) {
  captures.clear();
  const std::vector<std::string>& literals = compiled.literals;
  const size_t groups = compiled.captures.size();
  const size_t n = url.size();
  if (literals.empty() || literals.size() != groups + 1) return false;
  if (url.substr(0, literals[0].size()) != literals[0]) return false;
  if (groups == 0) return n == literals[0].size();
  if (compiled.forwardOnly) return MatchForward(compiled, url, captures);

  // Row k-1 holds reach_k: the bits q at which literals[k] matches and the rest of the
  // template after it (groups k+1.. and their literals) can match up to the end of url.
  // Row `groups` is scratch for tail_k: positions from which group k+1 followed by reach_k+1
  // can match. Both are filled from the end of the template backwards.
  BitRows rows(groups + 1, n + 1);
  const size_t scratch = groups;
  for (size_t k = groups; k >= 1; --k) {
    const std::string& literal = literals[k];
    const size_t length = literal.size();
    if (k == groups) {
      if (length <= n && url.substr(n - length) == literal) rows.Set(k - 1, n - length);
      continue;
    }
    // tail: group k+1 runs from p over its class and reaches a position in reach_{k+1}.
    rows.ClearRow(scratch);
    const CaptureClass cls = compiled.captures[k];  // group k+1
    bool tail = false;
    for (size_t p = n + 1; p-- > 0;) {
      tail = rows.Get(k, p) || (p < n && tail && InClass(cls, url[p]));
      if (tail) rows.Set(scratch, p);
    }
    for (size_t q = 0; q + length <= n; ++q) {
      if (rows.Get(scratch, q + length) && std::memcmp(url.data() + q, literal.data(), length) == 0)
        rows.Set(k - 1, q);
    }
  }

  // Forward: each group takes the longest run of its class that ends on a reachable bit.
  captures.reserve(groups);
  size_t q = literals[0].size();
  for (size_t k = 1; k <= groups; ++k) {
    const CaptureClass cls = compiled.captures[k - 1];
    size_t end = q;
    while (end < n && InClass(cls, url[end])) ++end;
    size_t t = end + 1;
    for (size_t p = end + 1; p-- > q;) {
      if (rows.Get(k - 1, p)) {
        t = p;
        break;
      }
    }
    if (t > end) {
      captures.clear();
      return false;
    }
    captures.push_back(url.substr(q, t - q));
    q = t + literals[k].size();
  }
  return true;
}

std::string ValidateTemplate(std::string_view urlTemplate) {
  bool open = false;
  size_t openedAt = 0;
  for (size_t i = 0; i < urlTemplate.size(); ++i) {
    const char c = urlTemplate[i];
    if (c == '{') {
      if (open) return FormatText("Nested '{' at offset %2 of URL template '%1'", urlTemplate, i);
      open = true;
      openedAt = i;
    } else if (c == '}') {
      if (!open) {
        return FormatText("Unbalanced '}' at offset %2 of URL template '%1'", urlTemplate, i);
      }
      open = false;
    }
  }
  if (open) {
    return FormatText("Unclosed '{' at offset %2 of URL template '%1'", urlTemplate, openedAt);
  }
  return std::string();
}

}  // namespace mau
