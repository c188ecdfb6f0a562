// URL templates of exposed functions: "/items/{id}/tags/{+rest}" names the path parameters
// that a call's URL carries.
//
// A placeholder is {name} (any text without '/'), {+name} (any text, '/' included) or
// {#name} (a '#' followed by any text). CompileTemplate turns a template into the text of an
// ECMAScript regular expression, its ordered parameter list and a matcher program that
// gives the same full-match results as that expression, captures included, without a
// regular-expression engine: MatchTemplate runs in time linear in the URL (times the number
// of placeholders), with constant stack, for any URL length.
//
//   mau::CompiledTemplate t = mau::CompileTemplate("/items/{id}.json");
//   t.pattern;                      // "/items/([^/]*)\\.json"
//   std::vector<std::string_view> captures;
//   mau::MatchTemplate(t, "/items/7.json", captures);   // true, captures {"7"}
//
// Templates with unbalanced braces compile (the pattern and the parameter list then no
// longer pair up one to one); ValidateTemplate says why such a template should be refused.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mau {

enum class RouteParameterKind : uint32_t {
  None = 0,      // from a '}' outside any placeholder: no capture group
  Simple = 1,    // {name}: "([^/]*)"
  Reserved = 2,  // {+name}: "(.*)"
  Fragment = 3,  // {#name}: "#(.*)"
};

struct RouteParameter {
  RouteParameterKind kind = RouteParameterKind::None;
  std::string name;
};

// What one capture group of a compiled template accepts.
enum class CaptureClass : uint8_t {
  NotSlash,      // [^/]: every byte but '/'
  NotLineBreak,  // . (ECMAScript): every byte but '\n' and '\r'
};

struct CompiledTemplate {
  std::string pattern;                     // ECMAScript regular expression text
  std::vector<RouteParameter> parameters;  // one per '}', in template order
  // The matcher program: literals[0] captures[0] literals[1] ... literals[n], where n is the
  // number of capture groups; each literal matches its bytes exactly.
  std::vector<std::string> literals;
  std::vector<CaptureClass> captures;
  // Whether every group can end at one place only, so that one forward walk matches: a
  // [^/] group followed by a literal that begins with '/' ends at the first '/', and a
  // last group with nothing after it ends at the end of the URL. Templates of path
  // segments ("/items/{id}/tags/{+rest}") are all of this kind.
  bool forwardOnly = false;
};

// Translates a template. Outside placeholders the twelve characters ^ $ . * + ? ( ) [ ] | and
// the backslash are escaped with a backslash and every other character is copied; braces are never
// copied. A placeholder still open at the end is dropped.
CompiledTemplate CompileTemplate(std::string_view urlTemplate);

// Whether url matches the whole compiled template. On a match, captures holds one view into
// url per capture group; each group takes the longest text that still lets the rest match,
// in group order (the choice of a backtracking ECMAScript matcher). On failure captures is
// empty. Uses at most one bit of scratch memory per URL byte and capture group.
bool MatchTemplate(const CompiledTemplate& compiled, std::string_view url,
                   std::vector<std::string_view>& captures);

// The empty text for a template whose braces pair up ('{' opens a placeholder only outside
// one, '}' closes one only inside one, none is left open); otherwise why it does not:
// "Unbalanced '}' at offset %2 of URL template '%1'", "Nested '{' at offset %2 of URL
// template '%1'" or "Unclosed '{' at offset %2 of URL template '%1'".
std::string ValidateTemplate(std::string_view urlTemplate);

}  // namespace mau
