#include "platform/format.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/sdk_string.h"

// The engine hands printf a specification it has rebuilt and checked itself.
#pragma GCC diagnostic ignored "-Wformat-nonliteral"

namespace mau {

FormatArg::FormatArg(const SdkString& value)
    : kind(FormatArgKind::TextObject), text(value.c_str()), length(value.size()) {}

namespace {

constexpr size_t kMaxSpecLength = 60;

struct KindTraits {
  const char* conversions;   // allowed conversions, the default first
  const char* lengthPrefix;  // added to a bare %N
  bool numeric;              // usable as * width or precision
};

KindTraits TraitsOf(FormatArgKind kind) {
  switch (kind) {
    case FormatArgKind::Text:
    case FormatArgKind::TextObject:
      return {"s", "", false};
    case FormatArgKind::Char:
      return {"cdiouxX", "", true};
    case FormatArgKind::Int32:
      return {"dciouxX", "", true};
    case FormatArgKind::UInt32:
      return {"ucdioxX", "", true};
    case FormatArgKind::Int64:
      return {"dciouxX", "ll", true};
    case FormatArgKind::UInt64:
      return {"ucdioxX", "ll", true};
    case FormatArgKind::Double:
      return {"gaefGAEF", "", false};
  }
  return {"s", "", false};
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads decimal digits; saturates instead of overflowing.
const char* ReadNumber(const char* p, size_t& value) {
  value = 0;
  while (IsDigit(*p)) {
    value = value > (SIZE_MAX - 9) / 10 ? SIZE_MAX : value * 10 + static_cast<size_t>(*p - '0');
    ++p;
  }
  return p;
}

int AsInt(const FormatArg& arg) {
  int64_t v = 0;
  switch (arg.kind) {
    case FormatArgKind::Char:
    case FormatArgKind::Int32:
    case FormatArgKind::Int64:
      v = arg.i64;
      break;
    case FormatArgKind::UInt32:
    case FormatArgKind::UInt64:
      v = arg.u64 > INT_MAX ? INT_MAX : static_cast<int64_t>(arg.u64);
      break;
    default:
      break;
  }
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

// Where a * width or precision takes its value: none, an explicit argument number, or
// the next counted argument.
struct StarSource {
  bool present = false;
  size_t argument = 0;  // 1-based once resolved
};

struct Placeholder {
  size_t argument = 0;  // 1-based
  bool bare = true;     // %N without a specification
  char flags[8] = {};
  size_t flagCount = 0;
  bool hasWidth = false;
  int width = 0;
  StarSource widthStar;
  bool hasPrecision = false;
  int precision = 0;
  StarSource precisionStar;
  char lengthModifier[3] = {};
  char conversion = 0;
};

// Parses the specification after "%" or "%N$". Returns the position after the
// conversion character, or nullptr when the placeholder cannot be used.
const char* ParseSpec(const char* p, Placeholder& ph, size_t& counter) {
  const char* begin = p;
  while (std::strchr("-+ #0", *p) != nullptr && *p != '\0') {
    if (ph.flagCount < sizeof ph.flags - 1) ph.flags[ph.flagCount++] = *p;
    ++p;
  }
  auto readWidthLike = [&](bool& has, int& value, StarSource& star) {
    if (*p == '*') {
      ++p;
      has = true;
      star.present = true;
      if (IsDigit(*p) && *p != '0') {
        size_t m = 0;
        const char* q = ReadNumber(p, m);
        if (*q == '$') {
          star.argument = m;
          p = q + 1;
          return;
        }
      }
      star.argument = ++counter;
    } else if (IsDigit(*p)) {
      size_t v = 0;
      p = ReadNumber(p, v);
      has = true;
      value = v > INT_MAX ? INT_MAX : static_cast<int>(v);
    }
  };
  readWidthLike(ph.hasWidth, ph.width, ph.widthStar);
  if (*p == '.') {
    ++p;
    ph.hasPrecision = true;
    bool dummy = false;
    readWidthLike(dummy, ph.precision, ph.precisionStar);
  }
  // Length modifier.
  if ((p[0] == 'h' && p[1] == 'h') || (p[0] == 'l' && p[1] == 'l')) {
    ph.lengthModifier[0] = p[0];
    ph.lengthModifier[1] = p[1];
    p += 2;
  } else if (*p != '\0' && std::strchr("Ljtzhl", *p) != nullptr) {
    ph.lengthModifier[0] = *p++;
  }
  if (*p == '\0') return nullptr;
  ph.conversion = *p++;
  if (static_cast<size_t>(p - begin) > kMaxSpecLength) return nullptr;
  return p;
}

// Formats one placeholder's value into [out, end); returns the characters produced
// (which may exceed the room) or -1 to stop.
long FormatValue(char* out, size_t room, const Placeholder& ph, const FormatArg& arg, int width,
                 int precision) {
  const KindTraits traits = TraitsOf(arg.kind);
  char conversion = traits.conversions[0];
  if (!ph.bare && std::strchr(traits.conversions, ph.conversion) != nullptr) {
    conversion = ph.conversion;
  }

  // Texts of the bare form need no printf at all.
  if (ph.bare && (arg.kind == FormatArgKind::Text || arg.kind == FormatArgKind::TextObject)) {
    const size_t n = arg.kind == FormatArgKind::Text ? std::strlen(arg.text) : arg.length;
    if (n != 0 && room != 0) std::memcpy(out, arg.text, n < room ? n : room);
    return static_cast<long>(n);
  }

  // Rebuild a specification whose length modifier matches the value actually passed.
  char spec[32];
  size_t s = 0;
  spec[s++] = '%';
  for (size_t i = 0; i < ph.flagCount; ++i) spec[s++] = ph.flags[i];
  const bool passWidth = !ph.bare && ph.hasWidth;
  bool passPrecision = !ph.bare && ph.hasPrecision;
  if (passWidth) spec[s++] = '*';
  if (arg.kind == FormatArgKind::TextObject) {
    // Characters with a length are printed up to that length.
    const size_t n = arg.length;
    const int limit = n > INT_MAX ? INT_MAX : static_cast<int>(n);
    precision = (passPrecision && precision >= 0 && precision < limit) ? precision : limit;
    passPrecision = true;
  }
  if (passPrecision) {
    spec[s++] = '.';
    spec[s++] = '*';
  }
  const bool narrow = ph.lengthModifier[0] == 'h';
  bool wide = false;
  switch (arg.kind) {
    case FormatArgKind::Int64:
    case FormatArgKind::UInt64:
      wide = !narrow && conversion != 'c';
      break;
    default:
      break;
  }
  if (narrow && arg.kind != FormatArgKind::Double && arg.kind != FormatArgKind::Text &&
      arg.kind != FormatArgKind::TextObject && conversion != 'c') {
    for (const char* m = ph.lengthModifier; *m != '\0'; ++m) spec[s++] = *m;
  }
  if (wide) {
    spec[s++] = 'l';
    spec[s++] = 'l';
  }
  spec[s++] = conversion;
  spec[s] = '\0';

  auto call = [&](auto value) -> long {
    int r;
    if (passWidth && passPrecision) {
      r = std::snprintf(out, room + 1, spec, width, precision, value);
    } else if (passWidth) {
      r = std::snprintf(out, room + 1, spec, width, value);
    } else if (passPrecision) {
      r = std::snprintf(out, room + 1, spec, precision, value);
    } else {
      r = std::snprintf(out, room + 1, spec, value);
    }
    return r;
  };

  switch (arg.kind) {
    case FormatArgKind::Text:
    case FormatArgKind::TextObject:
      return call(arg.text);
    case FormatArgKind::Double:
      return call(arg.f64);
    case FormatArgKind::Char:
    case FormatArgKind::Int32:
      return call(static_cast<int>(arg.i64));
    case FormatArgKind::UInt32:
      return call(static_cast<unsigned>(arg.u64));
    case FormatArgKind::Int64:
      return wide ? call(static_cast<long long>(arg.i64)) : call(static_cast<int>(arg.i64));
    case FormatArgKind::UInt64:
      return wide ? call(static_cast<unsigned long long>(arg.u64))
                  : call(static_cast<unsigned>(arg.u64));
  }
  return -1;
}

}  // namespace

size_t FormatInto(char* buffer, size_t size, const char* pattern, const FormatArg* args,
                  size_t count) {
  if (buffer == nullptr || size == 0) return 0;
  char* out = buffer;
  char* const end = buffer + size - 1;  // room for the NUL
  size_t counter = 0;
  const char* p = pattern != nullptr ? pattern : "";

  while (*p != '\0' && out < end) {
    if (*p != '%') {
      *out++ = *p++;
      continue;
    }
    if (p[1] == '%') {
      *out++ = '%';
      p += 2;
      continue;
    }

    Placeholder ph;
    const char* q = p + 1;
    if (*q >= '1' && *q <= '9') {
      q = ReadNumber(q, ph.argument);
      if (*q == '$') {
        ph.bare = false;
        q = ParseSpec(q + 1, ph, counter);
      }
    } else {
      ph.bare = false;
      ph.argument = ++counter;
      q = ParseSpec(q, ph, counter);
    }
    if (q == nullptr || ph.argument == 0 || ph.argument > count) break;

    int width = ph.width;
    int precision = ph.precision;
    if (ph.widthStar.present) {
      const size_t m = ph.widthStar.argument;
      if (m == 0 || m > count || !TraitsOf(args[m - 1].kind).numeric) break;
      width = AsInt(args[m - 1]);
    }
    if (ph.precisionStar.present) {
      const size_t m = ph.precisionStar.argument;
      if (m == 0 || m > count || !TraitsOf(args[m - 1].kind).numeric) break;
      precision = AsInt(args[m - 1]);
    }

    const size_t room = static_cast<size_t>(end - out);
    const long produced = FormatValue(out, room, ph, args[ph.argument - 1], width, precision);
    if (produced < 0 || static_cast<size_t>(produced) >= room) {
      out = end;  // a failed or cut conversion fills the buffer
      break;
    }
    out += produced;
    p = q;
  }
  *out = '\0';
  return static_cast<size_t>(out - buffer);
}

}  // namespace mau
