// Named message templates: "Error response for {method} {url}: {error}" becomes the
// positional template "Error response for %1 %2: %3" for FormatText, plus a map of the
// named, typed fields that travels beside the text as structured data.
//
//   std::string positional;
//   mau::TemplateFields fields;
//   const mau::TemplateValue values[] = {"GET", "/mau-chat/v1/me", "not found"};
//   mau::CompileMessageTemplate("Error response for {method} {url}: {error}", values, 3,
//                               positional, fields);
//   std::string text = mau::FormatMessageTemplate(positional, values, 3);
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

namespace mau {

// A typed value of a named placeholder.
struct TemplateValue {
  enum class Kind : uint8_t { Bool = 1, Signed = 2, Unsigned = 3, Double = 4, Text = 5 };

  TemplateValue() : kind(Kind::Text) {}
  TemplateValue(bool value) : kind(Kind::Bool), boolean(value) {}
  TemplateValue(int64_t value) : kind(Kind::Signed), i64(value) {}
  TemplateValue(int32_t value) : kind(Kind::Signed), i64(value) {}
  TemplateValue(uint64_t value) : kind(Kind::Unsigned), u64(value) {}
  TemplateValue(uint32_t value) : kind(Kind::Unsigned), u64(value) {}
  TemplateValue(double value) : kind(Kind::Double), f64(value) {}
  TemplateValue(std::string value) : kind(Kind::Text), text(std::move(value)) {}
  TemplateValue(std::string_view value) : kind(Kind::Text), text(value) {}
  TemplateValue(const char* value) : kind(Kind::Text), text(value != nullptr ? value : "") {}

  // A false bool, a zero number or an empty text.
  bool IsEmpty() const;
  bool operator==(const TemplateValue& other) const;

  Kind kind;
  bool boolean = false;
  int64_t i64 = 0;
  uint64_t u64 = 0;
  double f64 = 0;
  std::string text;
};

using TemplateFields = std::unordered_map<std::string, TemplateValue>;

// Appends the positional form of pattern to output and stores its named fields.
// Placeholders are numbered from 1 in order of appearance; placeholder n takes
// values[n - 1]; placeholders beyond count produce nothing.
void CompileMessageTemplate(std::string_view pattern, const TemplateValue* values, size_t count,
                            std::string& output, TemplateFields& fields);

// Fills a positional template compiled above with the same values (FormatText).
std::string FormatMessageTemplate(const std::string& positional, const TemplateValue* values,
                                  size_t count);

}  // namespace mau
