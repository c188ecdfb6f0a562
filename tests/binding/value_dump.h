// A compact text of a BindingValue for the reader tests, so that an expected tree fits
// in one table cell: null, true, false, i:-3 (signed), u:12 (unsigned), f:1.5 (float,
// shortest exact form), "text" (string, quotes and backslashes escaped, other bytes
// below 0x20 as \xNN), b:0aff (blob), [a,b] (collection), {name:value,...} (structure,
// members in their order). Enums do not come out of readers and print as ?.
#pragma once

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "binding/binding_result.h"
#include "binding/binding_value.h"

namespace mau::test {

inline void DumpInto(const BindingValue& value, std::string& out) {
  char buffer[40];
  switch (value.kind()) {
    case BindingValueKind::Empty:
      out += "null";
      return;
    case BindingValueKind::Bool:
      out += value.AsBool() ? "true" : "false";
      return;
    case BindingValueKind::Signed:
      std::snprintf(buffer, sizeof buffer, "i:%lld", static_cast<long long>(value.AsSigned()));
      out += buffer;
      return;
    case BindingValueKind::Unsigned:
      std::snprintf(buffer, sizeof buffer, "u:%llu",
                    static_cast<unsigned long long>(value.AsUnsigned()));
      out += buffer;
      return;
    case BindingValueKind::Float:
      if (value.AsDouble() == std::trunc(value.AsDouble()) && std::fabs(value.AsDouble()) < 1e15) {
        std::snprintf(buffer, sizeof buffer, "%.0f", value.AsDouble());
      } else {
        for (int precision = 1; precision <= 17; ++precision) {
          std::snprintf(buffer, sizeof buffer, "%.*g", precision, value.AsDouble());
          if (std::strtod(buffer, nullptr) == value.AsDouble()) break;
        }
      }
      out += "f:";
      out += buffer;
      return;
    case BindingValueKind::String:
      out += '"';
      for (const char c : value.AsString()) {
        if (c == '"' || c == '\\') {
          out += '\\';
          out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
          std::snprintf(buffer, sizeof buffer, "\\x%02x", static_cast<unsigned>(c));
          out += buffer;
        } else {
          out += c;
        }
      }
      out += '"';
      return;
    case BindingValueKind::Blob:
      out += "b:";
      for (const uint8_t byte : value.AsBlob()) {
        std::snprintf(buffer, sizeof buffer, "%02x", byte);
        out += buffer;
      }
      return;
    case BindingValueKind::Collection: {
      out += '[';
      bool first = true;
      for (const BindingValue& element : value.Elements()) {
        if (!first) out += ',';
        first = false;
        DumpInto(element, out);
      }
      out += ']';
      return;
    }
    case BindingValueKind::Structure: {
      out += '{';
      bool first = true;
      for (const BindingMember member : value.Members()) {
        if (!first) out += ',';
        first = false;
        out += member.name;
        out += ':';
        DumpInto(member.value, out);
      }
      out += '}';
      return;
    }
    default:
      out += '?';
      return;
  }
}

inline std::string Dump(const BindingValue& value) {
  std::string out;
  DumpInto(value, out);
  return out;
}

// The dump of a reader's value when it succeeded, else its error text.
inline std::string DumpOrError(const BindingResult& result) {
  return result.ok() ? Dump(result.value()) : std::string(result.ErrorText());
}

}  // namespace mau::test
