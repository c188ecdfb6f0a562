#include "binding/host_value.h"

#include <cstdint>
#include <cstring>

#include "binding/type_registry.h"
#include "platform/alloc_hooks.h"
#include "platform/format.h"

namespace mau {
namespace {

constexpr char kIncompatible[] =
    "Couldn't assign value to '%1' of type object because the input is of an incompatible "
    "type '%2'.";
constexpr char kTooDeep[] =
    "Couldn't assign value to '%1' of type object because the input is nested deeper than %2 "
    "levels.";

// Both directions recurse once per container level with a small frame; the depth check
// keeps that within a few tens of kilobytes of stack.
class FromHost {
 public:
  FromHost(std::string_view fieldName, BindingResult& status)
      : fieldName_(fieldName), status_(status) {}

  bool Convert(const HostValue& in, BindingValue& out, size_t depth) {
    switch (in.type) {
      case MAU_HOST_VALUE_EMPTY:
        out.Reset();
        return true;
      case MAU_HOST_VALUE_BOOL:
        out.SetBool(in.payload.boolean != 0);
        return true;
      case MAU_HOST_VALUE_SIGNED:
        out.SetSigned(in.payload.signedValue);
        return true;
      case MAU_HOST_VALUE_UNSIGNED:
        out.SetUnsigned(in.payload.unsignedValue);
        return true;
      case MAU_HOST_VALUE_FLOAT:
        out.SetDouble(in.payload.floatValue);
        return true;
      case MAU_HOST_VALUE_STRING_BORROWED:
      case MAU_HOST_VALUE_STRING_OWNED: {
        const char* text = in.payload.string.text;
        out.SetString(text != nullptr ? std::string_view(text) : std::string_view());
        return true;
      }
      case MAU_HOST_VALUE_BLOB_BORROWED:
      case MAU_HOST_VALUE_BLOB_OWNED: {
        const uint8_t* bytes = in.payload.blob.bytes;
        out.SetBlob({bytes, bytes != nullptr ? in.payload.blob.length : 0u});
        return true;
      }
      case MAU_HOST_VALUE_COLLECTION: {
        if (depth >= kMaxHostValueNesting) return Fail(kTooDeep, kMaxHostValueNesting);
        const HostValue* items = in.payload.collection.items;
        const uint32_t count = items != nullptr ? in.payload.collection.count : 0;
        out.Reset();
        out.Reserve(count);
        for (uint32_t i = 0; i < count; ++i) {
          if (!Convert(items[i], out.AppendElement(), depth + 1)) return false;
        }
        return true;
      }
      case MAU_HOST_VALUE_STRUCTURE: {
        if (depth >= kMaxHostValueNesting) return Fail(kTooDeep, kMaxHostValueNesting);
        const HostStructureEntry* entries = in.payload.structure.entries;
        const uint32_t count = entries != nullptr ? in.payload.structure.count : 0;
        out.Reset();
        out.EnsureStructure();
        for (uint32_t i = 0; i < count; ++i) {
          const char* name = entries[i].name;
          BindingValue& member =
              out.MemberForWriting(name != nullptr ? std::string_view(name) : std::string_view());
          if (!Convert(entries[i].value, member, depth + 1)) return false;
        }
        return true;
      }
      default:
        return Fail(kIncompatible, HostValueTypeName(in.type));
    }
  }

 private:
  template <typename Arg>
  bool Fail(const char* pattern, const Arg& arg) {
    status_.Fail(FormatText(pattern, fieldName_, arg));
    return false;
  }

  std::string_view fieldName_;
  BindingResult& status_;
};

// A NUL-terminated heap copy from the allocation hooks, or nullptr.
char* CopyText(std::string_view text) noexcept {
  auto* copy = static_cast<char*>(HookAllocate(text.size() + 1));
  if (copy == nullptr) return nullptr;
  if (!text.empty()) std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  return copy;
}

// A zeroed array of count records, or nullptr (also for count 0, which needs none).
template <typename Record>
Record* AllocateRecords(size_t count, bool& ok) noexcept {
  ok = true;
  if (count == 0) return nullptr;
  if (count > SIZE_MAX / sizeof(Record)) {
    ok = false;
    return nullptr;
  }
  auto* records = static_cast<Record*>(HookAllocate(count * sizeof(Record)));
  if (records == nullptr) {
    ok = false;
    return nullptr;
  }
  std::memset(static_cast<void*>(records), 0, count * sizeof(Record));
  return records;
}

// Fills out, which is zeroed. A partly built container keeps its count and zeroed
// records, so ClearHostValue releases exactly what was built.
bool ToHost(const BindingValue& value, HostValue& out, const BindingTypeRegistry* registry,
            size_t depth) noexcept {
  switch (value.kind()) {
    case BindingValueKind::Empty:
      return true;
    case BindingValueKind::Bool:
      out.type = MAU_HOST_VALUE_BOOL;
      out.payload.boolean = value.AsBool() ? 1 : 0;
      return true;
    case BindingValueKind::Signed:
      out.type = MAU_HOST_VALUE_SIGNED;
      out.payload.signedValue = value.AsSigned();
      return true;
    case BindingValueKind::Unsigned:
      out.type = MAU_HOST_VALUE_UNSIGNED;
      out.payload.unsignedValue = value.AsUnsigned();
      return true;
    case BindingValueKind::Float:
      out.type = MAU_HOST_VALUE_FLOAT;
      out.payload.floatValue = value.AsDouble();
      return true;
    case BindingValueKind::String: {
      const std::string_view text = value.AsString();
      char* copy = CopyText(text);
      if (copy == nullptr) return false;
      out.type = MAU_HOST_VALUE_STRING_OWNED;
      out.payload.string.text = copy;
      out.payload.string.length = static_cast<uint32_t>(text.size());
      return true;
    }
    case BindingValueKind::Blob: {
      const auto bytes = value.AsBlob();
      uint8_t* copy = nullptr;
      if (!bytes.empty()) {
        copy = static_cast<uint8_t*>(HookAllocate(bytes.size()));
        if (copy == nullptr) return false;
        std::memcpy(copy, bytes.data(), bytes.size());
      }
      out.type = MAU_HOST_VALUE_BLOB_OWNED;
      out.payload.blob.bytes = copy;
      out.payload.blob.length = static_cast<uint32_t>(bytes.size());
      return true;
    }
    case BindingValueKind::Enum: {
      const BindingEnumPair pair = value.AsEnum();
      const BindingEnumerator* enumerator =
          registry != nullptr && pair.type != nullptr
              ? registry->FindEnumerator(pair.type->id, pair.value)
              : nullptr;
      if (enumerator == nullptr) {
        out.type = MAU_HOST_VALUE_SIGNED;
        out.payload.signedValue = pair.value;
        return true;
      }
      char* copy = CopyText(enumerator->name);
      if (copy == nullptr) return false;
      out.type = MAU_HOST_VALUE_STRING_OWNED;
      out.payload.string.text = copy;
      out.payload.string.length = static_cast<uint32_t>(enumerator->name.size());
      return true;
    }
    case BindingValueKind::Collection: {
      if (depth >= kMaxHostValueNesting) return false;
      const auto elements = value.Elements();
      bool ok = false;
      HostValue* items = AllocateRecords<HostValue>(elements.size(), ok);
      if (!ok) return false;
      out.type = MAU_HOST_VALUE_COLLECTION;
      out.payload.collection.items = items;
      out.payload.collection.count = static_cast<uint32_t>(elements.size());
      for (size_t i = 0; i < elements.size(); ++i) {
        if (!ToHost(elements[i], items[i], registry, depth + 1)) return false;
      }
      return true;
    }
    case BindingValueKind::Structure: {
      if (depth >= kMaxHostValueNesting) return false;
      bool ok = false;
      HostStructureEntry* entries = AllocateRecords<HostStructureEntry>(value.size(), ok);
      if (!ok) return false;
      out.type = MAU_HOST_VALUE_STRUCTURE;
      out.payload.structure.entries = entries;
      out.payload.structure.count = static_cast<uint32_t>(value.size());
      size_t i = 0;
      for (const BindingMember member : value.Members()) {
        HostStructureEntry& entry = entries[i++];
        char* name = CopyText(member.name);
        if (name == nullptr) return false;
        entry.name = name;
        entry.nameOwned = 1;
        if (!ToHost(member.value, entry.value, registry, depth + 1)) return false;
      }
      return true;
    }
  }
  return true;
}

}  // namespace

std::string_view HostValueTypeName(uint32_t type) noexcept {
  switch (type) {
    case MAU_HOST_VALUE_BOOL:
      return "bool";
    case MAU_HOST_VALUE_SIGNED:
      return "signed";
    case MAU_HOST_VALUE_UNSIGNED:
      return "unsigned";
    case MAU_HOST_VALUE_FLOAT:
      return "float";
    case MAU_HOST_VALUE_STRING_BORROWED:
    case MAU_HOST_VALUE_STRING_OWNED:
      return "string";
    case MAU_HOST_VALUE_BLOB_BORROWED:
    case MAU_HOST_VALUE_BLOB_OWNED:
      return "blob";
    case MAU_HOST_VALUE_COLLECTION:
      return "collection";
    case MAU_HOST_VALUE_STRUCTURE:
      return "structure";
    default:
      return "";
  }
}

void ClearHostValue(HostValue& value) noexcept {
  switch (value.type) {
    case MAU_HOST_VALUE_STRING_OWNED:
      HookRelease(const_cast<char*>(value.payload.string.text));
      break;
    case MAU_HOST_VALUE_BLOB_OWNED:
      HookRelease(const_cast<uint8_t*>(value.payload.blob.bytes));
      break;
    case MAU_HOST_VALUE_COLLECTION: {
      HostValue* items = value.payload.collection.items;
      if (items == nullptr) break;
      for (uint32_t i = 0; i < value.payload.collection.count; ++i) ClearHostValue(items[i]);
      HookRelease(items);
      break;
    }
    case MAU_HOST_VALUE_STRUCTURE: {
      HostStructureEntry* entries = value.payload.structure.entries;
      if (entries == nullptr) break;
      for (uint32_t i = 0; i < value.payload.structure.count; ++i) {
        if (entries[i].nameOwned != 0) HookRelease(const_cast<char*>(entries[i].name));
        ClearHostValue(entries[i].value);
      }
      HookRelease(entries);
      break;
    }
    default:
      break;
  }
  std::memset(static_cast<void*>(&value), 0, sizeof value);
}

bool HostValueToBinding(const HostValue& in, BindingValue& out, std::string_view fieldName,
                        BindingResult& status) {
  if (FromHost(fieldName, status).Convert(in, out, 0)) return true;
  out.Reset();
  return false;
}

bool HostValueToBinding(BindingResult& result, const HostValue& in, std::string_view fieldName) {
  // On failure the result's value already is the error structure.
  return FromHost(fieldName, result).Convert(in, result.value(), 0);
}

bool BindingToHostValue(const BindingValue& value, HostValue& out,
                        const BindingTypeRegistry* registry) {
  ClearHostValue(out);
  if (ToHost(value, out, registry, 0)) return true;
  ClearHostValue(out);
  return false;
}

}  // namespace mau
