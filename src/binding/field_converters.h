// The rules that assign a BindingValue to a native field and turn a native field back
// into a value, with their messages. Each rule reports into a BindingResult.
//
// Native field types: bool; integers of 8, 16, 32 and 64 bits, signed or not; float;
// double; std::string; std::vector<uint8_t> (blob); enums of 32 bits; BindingValue
// (object); std::vector of any of those but blob and vector; registered structs, inline.
//
//   mau::BindingResult result;
//   std::vector<Champion> champions;
//   mau::AssignFromValue(result, champions, response, "<result>", registry);
//   if (!result.ok()) ...result.ErrorText()...
//
//   mau::BindingResult value;
//   mau::ConvertToValue(value, champions.front(), registry);   // a structure
//
// Assignment rules:
// - The first error wins: the struct and vector rules stop at the first failing field or
//   element, and a scalar rule entered with a failed result converts nothing.
// - A scalar field (bool, number, string, enum, blob) whose rule fails, or that is entered
//   with a failed result, receives its zero value; an object field is left empty. Fields
//   assigned before a failure keep their new values, later ones stay untouched.
// - A value of kind empty where a value is needed fails with "A value for '%1' is
//   required."; a struct skips members that are missing or empty unless the field is
//   required, and a vector skips empty elements, which stay default-constructed.
// The input value must not be part of the result it reports into.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "binding/binding_result.h"
#include "binding/binding_value.h"
#include "binding/static_type_key.h"
#include "binding/type_registry.h"
#include "platform/format.h"

namespace mau {

// ---------------------------------------------------------------- scalar rules

// Numbers of a range from a value. Each fails result (and returns false, out 0) on an empty
// value, an input of another kind, a number outside [min, max] or a text that does not
// parse; texts are read by strtoll / strtoull in base 0 and strtod. typeName names the
// target in messages ("int32", "double", ...).
[[nodiscard]] bool ConvertToSigned(BindingResult& result, const BindingValue& value,
                                   std::string_view fieldName, std::string_view typeName,
                                   int64_t min, int64_t max, int64_t& out);
[[nodiscard]] bool ConvertToUnsigned(BindingResult& result, const BindingValue& value,
                                     std::string_view fieldName, std::string_view typeName,
                                     uint64_t max, uint64_t& out);
// The range is [-max, max].
[[nodiscard]] bool ConvertToFloating(BindingResult& result, const BindingValue& value,
                                     std::string_view fieldName, std::string_view typeName,
                                     double max, double& out);

// The text forms of the rules above, for readers that resolve scalars themselves. text
// must be NUL-terminated at text[length].
[[nodiscard]] bool ParseSignedText(BindingResult& result, const char* text, size_t length,
                                   std::string_view fieldName, std::string_view typeName,
                                   int64_t min, int64_t max, int64_t& out);
[[nodiscard]] bool ParseUnsignedText(BindingResult& result, const char* text, size_t length,
                                     std::string_view fieldName, std::string_view typeName,
                                     uint64_t max, uint64_t& out);
[[nodiscard]] bool ParseFloatingText(BindingResult& result, const char* text, size_t length,
                                     std::string_view fieldName, std::string_view typeName,
                                     double max, double& out);

void AssignBool(BindingResult& result, bool& field, const BindingValue& value,
                std::string_view fieldName);
// Enum values become their enumerator's name, through the registry.
void AssignString(BindingResult& result, std::string& field, const BindingValue& value,
                  std::string_view fieldName, const BindingTypeRegistry& registry);
// enumType may be null (an unregistered enum: no value is valid); typeName names the enum
// in messages.
void AssignEnum(BindingResult& result, int32_t& field, const BindingValue& value,
                std::string_view fieldName, const BindingTypeDescriptor* enumType,
                std::string_view typeName);
// Accepts a blob, or a string as its bytes.
void AssignBlob(BindingResult& result, std::vector<uint8_t>& field, const BindingValue& value,
                std::string_view fieldName);
// Resets the field, then stores a deep copy of any value, empty included.
void AssignObject(BindingResult& result, BindingValue& field, const BindingValue& value);

// ---------------------------------------------------------------- struct rules

// Walks the descriptor's fields in order and assigns each from the member of its name.
void AssignStruct(BindingResult& result, void* record, const BindingValue& value,
                  std::string_view fieldName, const BindingTypeDescriptor* type,
                  const BindingTypeRegistry& registry);
// Builds a structure of the record's fields into out (result's value or a node in it),
// leaving out empty omit-when-empty fields.
void StructToValue(BindingResult& result, BindingValue& out, const void* record,
                   const BindingTypeDescriptor* type, const BindingTypeRegistry& registry);

// Empty for omit-when-empty: kind empty; false; 0; 0.0; enum value 0; string, blob,
// collection or structure of size 0.
bool IsEmptyForOmission(const BindingValue& value) noexcept;

// ---------------------------------------------------------------- typed rules

namespace field_rules {

template <typename T>
struct VectorTraits : std::false_type {};
template <typename E, typename A>
struct VectorTraits<std::vector<E, A>> : std::true_type {
  using Element = E;
};

template <typename T>
constexpr BindingTypeId IdOf() {
  if constexpr (std::is_same_v<T, bool>) {
    return BindingTypeId::Bool;
  } else if constexpr (std::is_integral_v<T>) {
    constexpr bool s = std::is_signed_v<T>;
    if constexpr (sizeof(T) == 1) return s ? BindingTypeId::Int8 : BindingTypeId::UInt8;
    if constexpr (sizeof(T) == 2) return s ? BindingTypeId::Int16 : BindingTypeId::UInt16;
    if constexpr (sizeof(T) == 4) return s ? BindingTypeId::Int32 : BindingTypeId::UInt32;
    if constexpr (sizeof(T) == 8) return s ? BindingTypeId::Int64 : BindingTypeId::UInt64;
    return BindingTypeId::None;
  } else if constexpr (std::is_same_v<T, float>) {
    return BindingTypeId::Float;
  } else if constexpr (std::is_same_v<T, double>) {
    return BindingTypeId::Double;
  } else if constexpr (std::is_same_v<T, std::string>) {
    return BindingTypeId::String;
  } else if constexpr (std::is_same_v<T, BindingValue>) {
    return BindingTypeId::Object;
  } else if constexpr (std::is_same_v<T, std::vector<uint8_t>>) {
    return BindingTypeId::Blob;
  } else if constexpr (std::is_enum_v<T>) {
    return BindingTypeId::Enum;
  } else if constexpr (VectorTraits<T>::value) {
    return BindingTypeId::Vector;
  } else if constexpr (std::is_class_v<T>) {
    return BindingTypeId::Struct;
  } else {
    return BindingTypeId::None;
  }
}

template <typename T>
constexpr bool IsElementType() {
  constexpr BindingTypeId id = IdOf<T>();
  return id != BindingTypeId::None && id != BindingTypeId::Vector && id != BindingTypeId::Blob &&
         !std::is_same_v<T, bool>;
}

template <typename T>
constexpr void CheckFieldType() {
  constexpr BindingTypeId id = IdOf<T>();
  static_assert(id != BindingTypeId::None, "not a native type the binding layer converts");
  if constexpr (id == BindingTypeId::Enum) {
    static_assert(sizeof(T) == sizeof(int32_t), "binding enums are stored as 32-bit integers");
  }
  if constexpr (id == BindingTypeId::Vector) {
    using E = typename VectorTraits<T>::Element;
    static_assert(IsElementType<E>(),
                  "vector elements are scalars, strings, enums, objects or structs");
    CheckFieldType<E>();
  }
  if constexpr (id == BindingTypeId::Struct) {
    static_assert(std::is_default_constructible_v<T>, "binding records are default-constructible");
  }
}

// The descriptor a converter was given, else the one registered for T.
template <typename T>
const BindingTypeDescriptor* Resolve(const BindingTypeDescriptor* typeInfo,
                                     const BindingTypeRegistry& registry) {
  return typeInfo != nullptr ? typeInfo : registry.FindTypeById(StaticTypeKeyOf<T>().id);
}

// The element descriptor of a vector, looked up once for all its elements.
template <typename E>
const BindingTypeDescriptor* ResolveElement(const BindingTypeDescriptor* elementInfo,
                                            const BindingTypeRegistry& registry) {
  if constexpr (IdOf<E>() == BindingTypeId::Enum || IdOf<E>() == BindingTypeId::Struct) {
    return Resolve<E>(elementInfo, registry);
  } else {
    return elementInfo;
  }
}

template <typename T>
void Assign(BindingResult& result, T& field, const BindingValue& value, std::string_view fieldName,
            const BindingTypeDescriptor* typeInfo, const BindingTypeRegistry& registry);

template <typename T>
void ToValue(BindingResult& result, BindingValue& out, const T& field,
             const BindingTypeDescriptor* typeInfo, const BindingTypeRegistry& registry);

template <typename E, typename A>
void AssignVector(BindingResult& result, std::vector<E, A>& field, const BindingValue& value,
                  std::string_view fieldName, const BindingTypeDescriptor* elementInfo,
                  const BindingTypeRegistry& registry);

template <typename E, typename A>
void VectorToValue(BindingResult& result, BindingValue& out, const std::vector<E, A>& field,
                   const BindingTypeDescriptor* elementInfo, const BindingTypeRegistry& registry) {
  elementInfo = ResolveElement<E>(elementInfo, registry);
  out.Reset();
  out.Reserve(field.size());
  for (const E& element : field) {
    ToValue<E>(result, out.AppendElement(), element, elementInfo, registry);
    if (!result.ok()) return;  // out went with the failed result's old value
  }
}

template <typename T>
void Assign(BindingResult& result, T& field, const BindingValue& value, std::string_view fieldName,
            const BindingTypeDescriptor* typeInfo, const BindingTypeRegistry& registry) {
  CheckFieldType<T>();
  constexpr BindingTypeId id = IdOf<T>();
  if constexpr (id == BindingTypeId::Bool) {
    AssignBool(result, field, value, fieldName);
  } else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) {
    int64_t n = 0;
    const bool ok =
        ConvertToSigned(result, value, fieldName, NativeTypeName(id), std::numeric_limits<T>::min(),
                        std::numeric_limits<T>::max(), n);
    field = ok ? static_cast<T>(n) : T{};
  } else if constexpr (std::is_integral_v<T>) {
    uint64_t n = 0;
    const bool ok = ConvertToUnsigned(result, value, fieldName, NativeTypeName(id),
                                      std::numeric_limits<T>::max(), n);
    field = ok ? static_cast<T>(n) : T{};
  } else if constexpr (std::is_floating_point_v<T>) {
    double d = 0;
    const bool ok = ConvertToFloating(result, value, fieldName, NativeTypeName(id),
                                      static_cast<double>(std::numeric_limits<T>::max()), d);
    field = ok ? static_cast<T>(d) : T{};
  } else if constexpr (id == BindingTypeId::String) {
    AssignString(result, field, value, fieldName, registry);
  } else if constexpr (id == BindingTypeId::Object) {
    AssignObject(result, field, value);
  } else if constexpr (id == BindingTypeId::Blob) {
    AssignBlob(result, field, value, fieldName);
  } else if constexpr (id == BindingTypeId::Enum) {
    const BindingTypeDescriptor* type = Resolve<T>(typeInfo, registry);
    int32_t n = 0;
    AssignEnum(result, n, value, fieldName, type,
               type != nullptr ? std::string_view(type->name)
                               : std::string_view(StaticTypeKeyOf<T>().displayName()));
    field = static_cast<T>(n);
  } else if constexpr (id == BindingTypeId::Vector) {
    AssignVector(result, field, value, fieldName, typeInfo, registry);
  } else {
    AssignStruct(result, &field, value, fieldName, Resolve<T>(typeInfo, registry), registry);
  }
}

template <typename E, typename A>
void AssignVector(BindingResult& result, std::vector<E, A>& field, const BindingValue& value,
                  std::string_view fieldName, const BindingTypeDescriptor* elementInfo,
                  const BindingTypeRegistry& registry) {
  field.clear();
  if (!result.ok()) return;
  if (value.kind() != BindingValueKind::Collection) {
    result.Fail(FormatText(
        "Couldn't assign value to '%1' of type vector because the input not a collection.",
        fieldName));
    return;
  }
  elementInfo = ResolveElement<E>(elementInfo, registry);
  const auto elements = value.Elements();
  field.resize(elements.size());
  for (size_t i = 0; i < elements.size() && result.ok(); ++i) {
    if (!elements[i].is_empty())
      Assign<E>(result, field[i], elements[i], fieldName, elementInfo, registry);
  }
}

template <typename T>
void ToValue(BindingResult& result, BindingValue& out, const T& field,
             const BindingTypeDescriptor* typeInfo, const BindingTypeRegistry& registry) {
  CheckFieldType<T>();
  constexpr BindingTypeId id = IdOf<T>();
  if constexpr (id == BindingTypeId::Bool) {
    out.SetBool(field);
  } else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) {
    out.SetSigned(field);
  } else if constexpr (std::is_integral_v<T>) {
    out.SetUnsigned(field);
  } else if constexpr (std::is_floating_point_v<T>) {
    out.SetDouble(field);
  } else if constexpr (id == BindingTypeId::String) {
    out.SetString(field);
  } else if constexpr (id == BindingTypeId::Object) {
    out = field;
  } else if constexpr (id == BindingTypeId::Blob) {
    out.SetBlob(field);
  } else if constexpr (id == BindingTypeId::Enum) {
    out.SetEnum({static_cast<int32_t>(field), &StaticTypeKeyOf<T>()});
  } else if constexpr (id == BindingTypeId::Vector) {
    VectorToValue(result, out, field, typeInfo, registry);
  } else {
    StructToValue(result, out, &field, Resolve<T>(typeInfo, registry), registry);
  }
}

// The converter object stored in a field descriptor for a native field of type T.
template <typename T>
class TypedFieldConverter final : public FieldConverter {
 public:
  void Assign(BindingResult& result, void* field, const BindingValue& value,
              std::string_view fieldName, const BindingTypeDescriptor* typeInfo,
              const BindingTypeRegistry& registry, uint32_t /*flags*/) const override {
    field_rules::Assign<T>(result, *static_cast<T*>(field), value, fieldName, typeInfo, registry);
  }
  void ToValue(BindingResult& result, BindingValue& out, const void* field,
               const BindingTypeDescriptor* typeInfo,
               const BindingTypeRegistry& registry) const override {
    field_rules::ToValue<T>(result, out, *static_cast<const T*>(field), typeInfo, registry);
  }
};

}  // namespace field_rules

// The type reference of a native type T: ids from T, the descriptor of T (or of its
// element) from the registry when registered there.
template <typename T>
BindingTypeRef TypeRefOf(const BindingTypeRegistry& registry) {
  field_rules::CheckFieldType<T>();
  BindingTypeRef ref;
  ref.id = field_rules::IdOf<T>();
  if constexpr (field_rules::IdOf<T>() == BindingTypeId::Vector) {
    using E = typename field_rules::VectorTraits<T>::Element;
    ref.elementId = field_rules::IdOf<E>();
    if (ref.elementId == BindingTypeId::Enum || ref.elementId == BindingTypeId::Struct) {
      ref.descriptor = registry.Find<E>();
    }
  } else if constexpr (field_rules::IdOf<T>() == BindingTypeId::Enum ||
                       field_rules::IdOf<T>() == BindingTypeId::Struct) {
    ref.descriptor = registry.Find<T>();
  }
  return ref;
}

template <typename T>
std::unique_ptr<const FieldConverter> MakeFieldConverter() {
  return std::make_unique<field_rules::TypedFieldConverter<T>>();
}

// Assigns target, a registered record or any native field type, from value; fieldName
// names it in messages ("<result>" for a whole response).
template <typename T>
void AssignFromValue(BindingResult& result, T& target, const BindingValue& value,
                     std::string_view fieldName, const BindingTypeRegistry& registry) {
  field_rules::Assign<T>(result, target, value, fieldName, nullptr, registry);
}

// Builds the value of source, a registered record or any native field type, into result.
template <typename T>
void ConvertToValue(BindingResult& result, const T& source, const BindingTypeRegistry& registry) {
  if (!result.ok()) return;
  field_rules::ToValue<T>(result, result.value(), source, nullptr, registry);
}

}  // namespace mau
