#include "host_value_json.h"

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>

#include <cstdlib>
#include <cstring>

namespace mau::host {

namespace {

// Nesting bound of the host's own reader: deep enough for any real resource.
constexpr unsigned kMaxDepth = 256;

void* Allocate(size_t size) {
  void* block = std::calloc(size != 0 ? size : 1, 1);
  if (block == nullptr) std::abort();
  return block;
}

char* CopyText(const char* text, size_t length) {
  auto* copy = static_cast<char*>(Allocate(length + 1));
  std::memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}

bool Convert(const rapidjson::Value& v, HostValue* out, unsigned depth) {
  std::memset(out, 0, sizeof *out);
  if (depth > kMaxDepth) return false;
  switch (v.GetType()) {
    case rapidjson::kNullType:
      return true;
    case rapidjson::kFalseType:
    case rapidjson::kTrueType:
      out->type = MAU_HOST_VALUE_BOOL;
      out->payload.boolean = v.GetBool() ? 1 : 0;
      return true;
    case rapidjson::kNumberType:
      if (v.IsInt64()) {
        out->type = MAU_HOST_VALUE_SIGNED;
        out->payload.signedValue = v.GetInt64();
      } else if (v.IsUint64()) {
        out->type = MAU_HOST_VALUE_UNSIGNED;
        out->payload.unsignedValue = v.GetUint64();
      } else {
        out->type = MAU_HOST_VALUE_FLOAT;
        out->payload.floatValue = v.GetDouble();
      }
      return true;
    case rapidjson::kStringType:
      *out = MakeHostString(std::string_view(v.GetString(), v.GetStringLength()));
      return true;
    case rapidjson::kArrayType: {
      const rapidjson::SizeType n = v.Size();
      auto* items = n != 0 ? static_cast<HostValue*>(Allocate(sizeof(HostValue) * n)) : nullptr;
      out->type = MAU_HOST_VALUE_COLLECTION;
      out->payload.collection.items = n != 0 ? items : nullptr;
      out->payload.collection.count = n;
      for (rapidjson::SizeType i = 0; i < n; ++i) {
        if (!Convert(v[i], &items[i], depth + 1)) return false;
      }
      return true;
    }
    case rapidjson::kObjectType: {
      const rapidjson::SizeType n = v.MemberCount();
      auto* entries =
          n != 0 ? static_cast<HostStructureEntry*>(Allocate(sizeof(HostStructureEntry) * n))
                 : nullptr;
      out->type = MAU_HOST_VALUE_STRUCTURE;
      out->payload.structure.entries = entries;
      out->payload.structure.count = n;
      rapidjson::SizeType i = 0;
      for (auto m = v.MemberBegin(); m != v.MemberEnd(); ++m, ++i) {
        entries[i].name = CopyText(m->name.GetString(), m->name.GetStringLength());
        entries[i].nameOwned = 1;
        if (!Convert(m->value, &entries[i].value, depth + 1)) return false;
      }
      return true;
    }
  }
  return true;
}

}  // namespace

bool JsonToHostValue(std::string_view json, HostValue* out, std::string* error) {
  std::memset(out, 0, sizeof *out);
  rapidjson::Document document;
  document.Parse<rapidjson::kParseIterativeFlag>(json.data(), json.size());
  if (document.HasParseError()) {
    if (error != nullptr) {
      *error = std::string(rapidjson::GetParseError_En(document.GetParseError())) + " at offset " +
               std::to_string(document.GetErrorOffset());
    }
    return false;
  }
  if (!Convert(document, out, 0)) {
    FreeHostValue(out);
    if (error != nullptr) *error = "nesting is too deep";
    return false;
  }
  return true;
}

void FreeHostValue(HostValue* value) {
  if (value == nullptr) return;
  switch (value->type) {
    case MAU_HOST_VALUE_STRING_OWNED:
      std::free(const_cast<char*>(value->payload.string.text));
      break;
    case MAU_HOST_VALUE_BLOB_OWNED:
      std::free(const_cast<uint8_t*>(value->payload.blob.bytes));
      break;
    case MAU_HOST_VALUE_COLLECTION: {
      HostValue* items = value->payload.collection.items;
      for (uint32_t i = 0; items != nullptr && i < value->payload.collection.count; ++i) {
        FreeHostValue(&items[i]);
      }
      std::free(items);
      break;
    }
    case MAU_HOST_VALUE_STRUCTURE: {
      HostStructureEntry* entries = value->payload.structure.entries;
      for (uint32_t i = 0; entries != nullptr && i < value->payload.structure.count; ++i) {
        if (entries[i].nameOwned != 0) std::free(const_cast<char*>(entries[i].name));
        FreeHostValue(&entries[i].value);
      }
      std::free(entries);
      break;
    }
    default:
      break;
  }
  std::memset(value, 0, sizeof *value);
}

HostValue MakeHostString(std::string_view text) {
  HostValue v;
  std::memset(&v, 0, sizeof v);
  v.type = MAU_HOST_VALUE_STRING_OWNED;
  v.payload.string.text = CopyText(text.data(), text.size());
  v.payload.string.length = static_cast<uint32_t>(text.size());
  return v;
}

HostValue MakeHostStructure(std::initializer_list<std::pair<const char*, HostValue>> members) {
  HostValue v;
  std::memset(&v, 0, sizeof v);
  auto* entries =
      static_cast<HostStructureEntry*>(Allocate(sizeof(HostStructureEntry) * members.size()));
  size_t i = 0;
  for (const auto& [name, value] : members) {
    entries[i].name = CopyText(name, std::strlen(name));
    entries[i].nameOwned = 1;
    entries[i].value = value;
    ++i;
  }
  v.type = MAU_HOST_VALUE_STRUCTURE;
  v.payload.structure.entries = entries;
  v.payload.structure.count = static_cast<uint32_t>(members.size());
  return v;
}

}  // namespace mau::host
