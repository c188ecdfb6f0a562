#include "log/message_template.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/format.h"

namespace mau {

namespace {

// The printf directive starting at p ('%' not followed by '%'): position, flags,
// width, precision, length modifier and conversion. Returns its length.
size_t DirectiveLength(std::string_view text, size_t p) {
  size_t i = p + 1;
  auto digits = [&] {
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  };
  const size_t afterPercent = i;
  digits();
  if (i < text.size() && text[i] == '$' && i > afterPercent && text[afterPercent] != '0') {
    ++i;
  } else {
    i = afterPercent;
  }
  while (i < text.size() && std::strchr("-+ #0", text[i]) != nullptr) ++i;
  auto widthLike = [&] {
    if (i < text.size() && text[i] == '*') {
      ++i;
      const size_t start = i;
      digits();
      if (i < text.size() && text[i] == '$' && i > start) {
        ++i;
      } else {
        i = start;
      }
    } else {
      digits();
    }
  };
  widthLike();
  if (i < text.size() && text[i] == '.') {
    ++i;
    widthLike();
  }
  if (i + 1 < text.size() &&
      ((text[i] == 'h' && text[i + 1] == 'h') || (text[i] == 'l' && text[i + 1] == 'l'))) {
    i += 2;
  } else if (i < text.size() && std::strchr("Ljtzhl", text[i]) != nullptr) {
    ++i;
  }
  if (i < text.size()) ++i;  // the conversion character
  return i - p;
}

bool HasTypeSuffix(const std::string& name) {
  const size_t underscore = name.rfind('_');
  if (underscore == std::string::npos) return false;
  const std::string_view part(name.c_str() + underscore);
  for (const char* suffix : {"_bool", "_int", "_long", "_float", "_str", "_time", "_ip"}) {
    if (part == suffix) return true;
  }
  return false;
}

const char* TypeSuffix(TemplateValue::Kind kind) {
  switch (kind) {
    case TemplateValue::Kind::Bool:
      return "_bool";
    case TemplateValue::Kind::Signed:
    case TemplateValue::Kind::Unsigned:
      return "_int";
    case TemplateValue::Kind::Double:
      return "_float";
    case TemplateValue::Kind::Text:
      return "_str";
  }
  return "_str";
}

std::string AsText(const TemplateValue& v) {
  char buffer[64];
  switch (v.kind) {
    case TemplateValue::Kind::Bool:
      return v.boolean ? "true" : "false";
    case TemplateValue::Kind::Signed:
      std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(v.i64));
      return buffer;
    case TemplateValue::Kind::Unsigned:
      std::snprintf(buffer, sizeof buffer, "%llu", static_cast<unsigned long long>(v.u64));
      return buffer;
    case TemplateValue::Kind::Double:
      std::snprintf(buffer, sizeof buffer, "%f", v.f64);
      return buffer;
    case TemplateValue::Kind::Text:
      return v.text;
  }
  return v.text;
}

struct Placeholder {
  std::string name;
  std::string defaultText;
  std::string specification;
  std::string conversion;
  bool suffixByType = false;
  bool hidden = false;
  bool hasDefault = false;
  bool hasSpecification = false;
  bool hasConversion = false;

  std::string& Current() {
    if (hasSpecification) return specification;
    if (hasConversion) return conversion;
    if (hasDefault) return defaultText;
    return name;
  }
};

void Process(Placeholder& ph, size_t number, TemplateValue value, std::string& output,
             TemplateFields& fields) {
  if (ph.conversion == "str") {
    value = TemplateValue(AsText(value));
  } else if (ph.conversion == "hex" && (value.kind == TemplateValue::Kind::Signed ||
                                        value.kind == TemplateValue::Kind::Unsigned)) {
    char buffer[32];
    const unsigned long long bits = value.kind == TemplateValue::Kind::Signed
                                        ? static_cast<unsigned long long>(value.i64)
                                        : static_cast<unsigned long long>(value.u64);
    std::snprintf(buffer, sizeof buffer, "%016llX", bits);
    value = TemplateValue(std::string(buffer));
    ph.specification = "016llX";
    ph.hasSpecification = true;
  }
  if (ph.suffixByType && !HasTypeSuffix(ph.name)) ph.name += TypeSuffix(value.kind);
  if (ph.hasDefault && value.IsEmpty()) {
    output += ph.defaultText;
    return;
  }
  if (!ph.name.empty()) fields[ph.name] = value;
  if (ph.hidden) {
    while (!output.empty() && std::strchr(" \t\r\n\v\f", output.back()) != nullptr)
      output.pop_back();
    return;
  }
  output += '%';
  output += std::to_string(number);
  if (ph.hasSpecification) {
    output += '$';
    output += ph.specification;
  }
}

}  // namespace

bool TemplateValue::IsEmpty() const {
  switch (kind) {
    case Kind::Bool:
      return !boolean;
    case Kind::Signed:
      return i64 == 0;
    case Kind::Unsigned:
      return u64 == 0;
    case Kind::Double:
      return f64 == 0.0;
    case Kind::Text:
      return text.empty();
  }
  return true;
}

bool TemplateValue::operator==(const TemplateValue& other) const {
  if (kind != other.kind) return false;
  switch (kind) {
    case Kind::Bool:
      return boolean == other.boolean;
    case Kind::Signed:
      return i64 == other.i64;
    case Kind::Unsigned:
      return u64 == other.u64;
    case Kind::Double:
      return f64 == other.f64;
    case Kind::Text:
      return text == other.text;
  }
  return false;
}

void CompileMessageTemplate(std::string_view pattern, const TemplateValue* values, size_t count,
                            std::string& output, TemplateFields& fields) {
  fields.reserve(fields.size() + count);
  output.reserve(output.size() + pattern.size());
  size_t number = 1;
  size_t i = 0;
  while (i < pattern.size()) {
    const char c = pattern[i];
    if (c == '{') {
      if (i + 1 < pattern.size() && pattern[i + 1] == '{') {
        output += '{';
        i += 2;
        continue;
      }
      Placeholder ph;
      ++i;
      if (i < pattern.size() && pattern[i] == '#') {
        ph.suffixByType = true;
        ++i;
      }
      bool closed = false;
      while (i < pattern.size() && !closed) {
        const char p = pattern[i++];
        switch (p) {
          case '!':
            ph.hidden = true;
            break;
          case ':':
            ph.hasSpecification = true;
            break;
          case '?':
            ph.hasDefault = true;
            break;
          case '@':
            ph.hasConversion = true;
            break;
          case '{':
            break;
          case '\\':
            if (i < pattern.size()) ph.Current() += pattern[i++];
            break;
          case '}':
            closed = true;
            break;
          default:
            ph.Current() += p;
            break;
        }
      }
      if (!closed) break;  // an unterminated placeholder ends the template
      if (number <= count) Process(ph, number, values[number - 1], output, fields);
      ++number;
      continue;
    }
    if (c == '}') {
      output += '}';
      i += (i + 1 < pattern.size() && pattern[i + 1] == '}') ? 2 : 1;
      continue;
    }
    if (c == '%') {
      if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
        output += "%%";
        i += 2;
        continue;
      }
      const size_t length = DirectiveLength(pattern, i);
      output.append(pattern.substr(i, length));
      i += length;
      ++number;
      continue;
    }
    output += c;
    ++i;
  }
}

std::string FormatMessageTemplate(const std::string& positional, const TemplateValue* values,
                                  size_t count) {
  std::vector<FormatArg> args;
  args.reserve(count + 1);
  for (size_t i = 0; i < count; ++i) {
    const TemplateValue& v = values[i];
    switch (v.kind) {
      case TemplateValue::Kind::Bool:
        args.emplace_back(v.boolean ? "true" : "false");
        break;
      case TemplateValue::Kind::Signed:
        args.emplace_back(v.i64);
        break;
      case TemplateValue::Kind::Unsigned:
        args.emplace_back(v.u64);
        break;
      case TemplateValue::Kind::Double:
        args.emplace_back(v.f64);
        break;
      case TemplateValue::Kind::Text:
        args.emplace_back(v.text);
        break;
    }
  }
  char buffer[4096];
  const size_t n = FormatInto(buffer, sizeof buffer, positional.c_str(), args.data(), count);
  return std::string(buffer, n);
}

}  // namespace mau
