#include "binding/field_converters.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/format.h"

namespace mau {
namespace {

constexpr char kRequired[] = "A value for '%1' is required.";
constexpr char kInvalidType[] =
    "Couldn't assign value to '%1' of type %2 because the input is of an invalid type %3.";
constexpr char kIncorrectFormat[] = "Value %1 for '%2' of type %3 is in an incorrect format";
constexpr char kOutOfRange[] = "Value %1 for '%2' of type %3 is out of range";
constexpr char kNotAValidEnumValue[] = "%1 is not a valid %2 enumeration value for '%3'.";

// 2^63 and 2^64: the first doubles beyond the signed and unsigned 64-bit ranges. A double
// compared with INT64_MAX or UINT64_MAX rounds them up to exactly these.
constexpr double kTwoPow63 = 9223372036854775808.0;
constexpr double kTwoPow64 = 18446744073709551616.0;

enum class ParseOutcome { Ok, Format, Range };

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

ParseOutcome ParseSigned(const char* text, size_t length, int64_t min, int64_t max, int64_t& out) {
  errno = 0;
  char* end = nullptr;
  const long long n = std::strtoll(text, &end, 0);
  if (end != text + length) return ParseOutcome::Format;
  if (errno == ERANGE || n < min || n > max) return ParseOutcome::Range;
  out = n;
  return ParseOutcome::Ok;
}

// strtoull accepts a minus sign and negates; a negative text is out of range instead,
// also after leading blanks.
ParseOutcome ParseUnsigned(const char* text, size_t length, uint64_t max, uint64_t& out) {
  errno = 0;
  char* end = nullptr;
  const unsigned long long n = std::strtoull(text, &end, 0);
  if (end != text + length) return ParseOutcome::Format;
  const char* first = text;
  while (IsSpace(*first)) ++first;
  if (errno == ERANGE || n > max || *first == '-') return ParseOutcome::Range;
  out = n;
  return ParseOutcome::Ok;
}

ParseOutcome ParseFloating(const char* text, size_t length, double max, double& out) {
  errno = 0;
  char* end = nullptr;
  const double d = std::strtod(text, &end);
  if (end != text + length) return ParseOutcome::Format;
  if (errno == ERANGE || d < -max || d > max) return ParseOutcome::Range;
  out = d;
  return ParseOutcome::Ok;
}

void FailParse(BindingResult& result, ParseOutcome outcome, std::string_view text,
               std::string_view fieldName, std::string_view typeName) {
  result.Fail(FormatText(outcome == ParseOutcome::Format ? kIncorrectFormat : kOutOfRange, text,
                         fieldName, typeName));
}

template <typename Number>
bool FailRange(BindingResult& result, Number number, std::string_view fieldName,
               std::string_view typeName) {
  result.Fail(FormatText(kOutOfRange, number, fieldName, typeName));
  return false;
}

bool FailInvalidType(BindingResult& result, const BindingValue& value, std::string_view fieldName,
                     std::string_view typeName) {
  result.Fail(FormatText(kInvalidType, fieldName, typeName, BindingValueKindName(value.kind())));
  return false;
}

// A double that truncates into [min, max]. The bounds of the 64-bit types are compared
// exclusively with 2^63 and 2^64, which their double forms round to; NaN is never in range.
bool DoubleFitsSigned(double d, int64_t min, int64_t max) {
  if (std::isnan(d) || d < static_cast<double>(min) || d > static_cast<double>(max)) return false;
  return max != INT64_MAX || d < kTwoPow63;
}

bool DoubleFitsUnsigned(double d, uint64_t max) {
  if (std::isnan(d) || d < 0 || d > static_cast<double>(max)) return false;
  return max != UINT64_MAX || d < kTwoPow64;
}

}  // namespace

// ---------------------------------------------------------------- numbers

bool ParseSignedText(BindingResult& result, const char* text, size_t length,
                     std::string_view fieldName, std::string_view typeName, int64_t min,
                     int64_t max, int64_t& out) {
  out = 0;
  if (!result.ok()) return false;
  const ParseOutcome outcome = ParseSigned(text, length, min, max, out);
  if (outcome == ParseOutcome::Ok) return true;
  FailParse(result, outcome, {text, length}, fieldName, typeName);
  return false;
}

bool ParseUnsignedText(BindingResult& result, const char* text, size_t length,
                       std::string_view fieldName, std::string_view typeName, uint64_t max,
                       uint64_t& out) {
  out = 0;
  if (!result.ok()) return false;
  const ParseOutcome outcome = ParseUnsigned(text, length, max, out);
  if (outcome == ParseOutcome::Ok) return true;
  FailParse(result, outcome, {text, length}, fieldName, typeName);
  return false;
}

bool ParseFloatingText(BindingResult& result, const char* text, size_t length,
                       std::string_view fieldName, std::string_view typeName, double max,
                       double& out) {
  out = 0;
  if (!result.ok()) return false;
  const ParseOutcome outcome = ParseFloating(text, length, max, out);
  if (outcome == ParseOutcome::Ok) return true;
  FailParse(result, outcome, {text, length}, fieldName, typeName);
  return false;
}

bool ConvertToSigned(BindingResult& result, const BindingValue& value, std::string_view fieldName,
                     std::string_view typeName, int64_t min, int64_t max, int64_t& out) {
  out = 0;
  if (!result.ok()) return false;
  switch (value.kind()) {
    case BindingValueKind::Empty:
      result.Fail(FormatText(kRequired, fieldName));
      return false;
    case BindingValueKind::Signed: {
      const int64_t n = value.AsSigned();
      if (n < min || n > max) return FailRange(result, n, fieldName, typeName);
      out = n;
      return true;
    }
    case BindingValueKind::Unsigned: {
      const uint64_t n = value.AsUnsigned();
      if (max < 0 || n > static_cast<uint64_t>(max))
        return FailRange(result, n, fieldName, typeName);
      out = static_cast<int64_t>(n);
      return true;
    }
    case BindingValueKind::Float: {
      const double d = value.AsDouble();
      if (!DoubleFitsSigned(d, min, max)) return FailRange(result, d, fieldName, typeName);
      out = static_cast<int64_t>(d);
      return true;
    }
    case BindingValueKind::Enum: {
      const int32_t n = value.AsEnum().value;
      if (n < min || n > max) return FailRange(result, n, fieldName, typeName);
      out = n;
      return true;
    }
    case BindingValueKind::String:
      return ParseSignedText(result, value.AsCString(), value.size(), fieldName, typeName, min, max,
                             out);
    default:
      return FailInvalidType(result, value, fieldName, typeName);
  }
}

bool ConvertToUnsigned(BindingResult& result, const BindingValue& value, std::string_view fieldName,
                       std::string_view typeName, uint64_t max, uint64_t& out) {
  out = 0;
  if (!result.ok()) return false;
  switch (value.kind()) {
    case BindingValueKind::Empty:
      result.Fail(FormatText(kRequired, fieldName));
      return false;
    case BindingValueKind::Signed: {
      const int64_t n = value.AsSigned();
      if (n < 0 || static_cast<uint64_t>(n) > max) return FailRange(result, n, fieldName, typeName);
      out = static_cast<uint64_t>(n);
      return true;
    }
    case BindingValueKind::Unsigned: {
      const uint64_t n = value.AsUnsigned();
      if (n > max) return FailRange(result, n, fieldName, typeName);
      out = n;
      return true;
    }
    case BindingValueKind::Float: {
      const double d = value.AsDouble();
      if (!DoubleFitsUnsigned(d, max)) return FailRange(result, d, fieldName, typeName);
      out = static_cast<uint64_t>(d);
      return true;
    }
    case BindingValueKind::Enum: {
      const int32_t n = value.AsEnum().value;
      if (n < 0 || static_cast<uint64_t>(n) > max) return FailRange(result, n, fieldName, typeName);
      out = static_cast<uint64_t>(n);
      return true;
    }
    case BindingValueKind::String:
      return ParseUnsignedText(result, value.AsCString(), value.size(), fieldName, typeName, max,
                               out);
    default:
      return FailInvalidType(result, value, fieldName, typeName);
  }
}

bool ConvertToFloating(BindingResult& result, const BindingValue& value, std::string_view fieldName,
                       std::string_view typeName, double max, double& out) {
  out = 0;
  if (!result.ok()) return false;
  switch (value.kind()) {
    case BindingValueKind::Empty:
      result.Fail(FormatText(kRequired, fieldName));
      return false;
    case BindingValueKind::Signed:
      out = static_cast<double>(value.AsSigned());
      return true;
    case BindingValueKind::Unsigned:
      out = static_cast<double>(value.AsUnsigned());
      return true;
    case BindingValueKind::Float: {
      const double d = value.AsDouble();
      if (d < -max || d > max) return FailRange(result, d, fieldName, typeName);
      out = d;
      return true;
    }
    case BindingValueKind::Enum:
      out = value.AsEnum().value;
      return true;
    case BindingValueKind::String:
      return ParseFloatingText(result, value.AsCString(), value.size(), fieldName, typeName, max,
                               out);
    default:
      return FailInvalidType(result, value, fieldName, typeName);
  }
}

// ---------------------------------------------------------------- bool, string, enum, blob

void AssignBool(BindingResult& result, bool& field, const BindingValue& value,
                std::string_view fieldName) {
  field = false;
  if (!result.ok()) return;
  switch (value.kind()) {
    case BindingValueKind::Empty:
      result.Fail(FormatText(kRequired, fieldName));
      return;
    case BindingValueKind::Bool:
      field = value.AsBool();
      return;
    case BindingValueKind::String: {
      const std::string_view text = value.AsString();
      if (text == "1" || text == "true") {
        field = true;
      } else if (text != "0" && text != "false") {
        result.Fail(
            FormatText("Value %1 for '%2' of type bool is in an incorrect format. "
                       "Options are \"true\", \"false\", \"1\", \"0\".",
                       text, fieldName));
      }
      return;
    }
    default:
      result.Fail(FormatText(
          "Couldn't assign value to '%1' of type bool because the input is of an invalid type %2.",
          fieldName, BindingValueKindName(value.kind())));
      return;
  }
}

void AssignString(BindingResult& result, std::string& field, const BindingValue& value,
                  std::string_view fieldName, const BindingTypeRegistry& registry) {
  if (!result.ok()) {
    field.clear();
    return;
  }
  switch (value.kind()) {
    case BindingValueKind::Empty:
      field.clear();
      result.Fail(FormatText(kRequired, fieldName));
      return;
    case BindingValueKind::String:
      field.assign(value.AsString());
      return;
    case BindingValueKind::Enum: {
      const BindingEnumPair pair = value.AsEnum();
      const BindingEnumerator* enumerator =
          pair.type != nullptr ? registry.FindEnumerator(pair.type->id, pair.value) : nullptr;
      if (enumerator != nullptr) {
        field = enumerator->name;
        return;
      }
      field.clear();
      result.Fail(
          FormatText("%1 is not a valid enumeration value for '%2'.", pair.value, fieldName));
      return;
    }
    default:
      field.clear();
      result.Fail(FormatText("Couldn't assign value to '%1' because the input is not a string.",
                             fieldName));
      return;
  }
}

void AssignEnum(BindingResult& result, int32_t& field, const BindingValue& value,
                std::string_view fieldName, const BindingTypeDescriptor* enumType,
                std::string_view typeName) {
  field = 0;
  if (!result.ok()) return;
  auto take = [&](int64_t n) {
    if (enumType == nullptr || !enumType->HasEnumeratorValue(n)) return false;
    field = static_cast<int32_t>(n);
    return true;
  };
  switch (value.kind()) {
    case BindingValueKind::Empty:
      result.Fail(FormatText(kRequired, fieldName));
      return;
    case BindingValueKind::Signed: {
      const int64_t n = value.AsSigned();
      if (!take(n)) result.Fail(FormatText(kNotAValidEnumValue, n, typeName, fieldName));
      return;
    }
    case BindingValueKind::Unsigned: {
      const uint64_t n = value.AsUnsigned();
      if (n > INT64_MAX || !take(static_cast<int64_t>(n))) {
        result.Fail(FormatText(kNotAValidEnumValue, n, typeName, fieldName));
      }
      return;
    }
    case BindingValueKind::Enum: {
      const int32_t n = value.AsEnum().value;
      if (!take(n)) result.Fail(FormatText(kNotAValidEnumValue, n, typeName, fieldName));
      return;
    }
    case BindingValueKind::String: {
      const std::string_view text = value.AsString();
      if (enumType != nullptr) {
        const auto byName = enumType->enumerators.find(text);
        if (byName != enumType->enumerators.end()) {
          field = byName->second.value;
          return;
        }
      }
      // A number in the text counts only when it is exactly an enumerator's value.
      int64_t n = 0;
      if (ParseSigned(value.AsCString(), text.size(), INT64_MIN, INT64_MAX, n) ==
              ParseOutcome::Ok &&
          take(n)) {
        return;
      }
      result.Fail(FormatText(kNotAValidEnumValue, text, typeName, fieldName));
      return;
    }
    default:
      result.Fail(FormatText(
          "Couldn't assign value to '%1' of enum type because the input is of an invalid type %2.",
          fieldName, BindingValueKindName(value.kind())));
      return;
  }
}

void AssignBlob(BindingResult& result, std::vector<uint8_t>& field, const BindingValue& value,
                std::string_view fieldName) {
  field.clear();
  if (!result.ok()) return;
  switch (value.kind()) {
    case BindingValueKind::Empty:
      result.Fail(FormatText(kRequired, fieldName));
      return;
    case BindingValueKind::Blob: {
      const auto bytes = value.AsBlob();
      field.assign(bytes.begin(), bytes.end());
      return;
    }
    case BindingValueKind::String: {
      const std::string_view text = value.AsString();
      field.assign(text.begin(), text.end());
      return;
    }
    default:
      FailInvalidType(result, value, fieldName, NativeTypeName(BindingTypeId::Blob));
      return;
  }
}

void AssignObject(BindingResult& result, BindingValue& field, const BindingValue& value) {
  field.Reset();
  if (result.ok()) field = value;
}

// ---------------------------------------------------------------- structs

void AssignStruct(BindingResult& result, void* record, const BindingValue& value,
                  std::string_view fieldName, const BindingTypeDescriptor* type,
                  const BindingTypeRegistry& registry) {
  if (!result.ok()) return;
  if (value.is_empty()) {
    result.Fail(FormatText(kRequired, fieldName));
    return;
  }
  if (type == nullptr || type->isEnum) {
    result.Fail(FormatText(
        "Couldn't assign value to '%1' because the input is an unregistered structure or not a "
        "structure at all.",
        fieldName));
    return;
  }
  if (value.kind() != BindingValueKind::Structure) {
    result.Fail(
        FormatText("Couldn't assign value to '%1' of type %2 because the input not a structure.",
                   fieldName, type->name));
    return;
  }
  auto* base = static_cast<unsigned char*>(record);
  for (const BindingFieldDescriptor& field : type->fields) {
    if (!result.ok()) return;
    const BindingValue& member = value.Member(field.name);
    if (member.is_empty()) {
      if ((field.flags & kBindingFieldRequired) != 0) {
        result.Fail(FormatText(
            "Couldn't assign value to '%1' of type %2 because the input structure doesn't have "
            "required field '%3'.",
            fieldName, type->name, field.name));
      }
      continue;
    }
    field.converter->Assign(result, base + field.offset, member, field.name, field.type.descriptor,
                            registry, field.flags);
  }
}

void StructToValue(BindingResult& result, BindingValue& out, const void* record,
                   const BindingTypeDescriptor* type, const BindingTypeRegistry& registry) {
  if (!result.ok()) return;
  if (type == nullptr || type->isEnum) {
    result.Fail("Couldn't convert native value because it's an unregistered structure.");
    return;
  }
  out.Reset();
  out.EnsureStructure();
  const auto* base = static_cast<const unsigned char*>(record);
  for (const BindingFieldDescriptor& field : type->fields) {
    BindingValue& member = out.MemberForWriting(field.name, field.nameHash);
    field.converter->ToValue(result, member, base + field.offset, field.type.descriptor, registry);
    if (!result.ok()) return;  // out went with the failed result's old value
    if ((field.flags & kBindingFieldOmitWhenEmpty) != 0 && IsEmptyForOmission(member)) {
      out.RemoveMember(field.name);
    }
  }
}

bool IsEmptyForOmission(const BindingValue& value) noexcept {
  switch (value.kind()) {
    case BindingValueKind::Empty:
      return true;
    case BindingValueKind::Bool:
      return !value.AsBool();
    case BindingValueKind::Signed:
      return value.AsSigned() == 0;
    case BindingValueKind::Unsigned:
      return value.AsUnsigned() == 0;
    case BindingValueKind::Float:
      return value.AsDouble() == 0.0;
    case BindingValueKind::Enum:
      return value.AsEnum().value == 0;
    default:
      return value.size() == 0;
  }
}

}  // namespace mau
