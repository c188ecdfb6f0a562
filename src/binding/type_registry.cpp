#include "binding/type_registry.h"

#include "binding/fnv1a.h"
#include "platform/format.h"

namespace mau {

// ---------------------------------------------------------------- descriptors

bool BindingTypeDescriptor::HasEnumeratorValue(int64_t value) const noexcept {
  return FindEnumeratorByValue(value) != nullptr;
}

const BindingEnumerator* BindingTypeDescriptor::FindEnumeratorByValue(
    int64_t value) const noexcept {
  for (const auto& entry : enumerators) {
    if (entry.second.value == value) return &entry.second;
  }
  return nullptr;
}

const BindingFieldDescriptor* BindingTypeDescriptor::FindField(
    std::string_view fieldName) const noexcept {
  for (const BindingFieldDescriptor& field : fields) {
    if (field.name == fieldName) return &field;
  }
  return nullptr;
}

// ---------------------------------------------------------------- builders

BindingTypeBuilder& BindingTypeBuilder::AddEnumerator(std::string_view name, int32_t value,
                                                      std::string_view description) {
  if (!active()) return *this;
  auto it = descriptor_->enumerators.find(name);
  if (it == descriptor_->enumerators.end()) {
    it = descriptor_->enumerators.emplace(std::string(name), BindingEnumerator{}).first;
    it->second.name = name;
    it->second.owner = descriptor_;
  }
  it->second.value = value;
  it->second.description = description;
  return *this;
}

BindingTypeBuilder& BindingTypeBuilder::AddField(
    std::string_view name, std::string_view description, uint32_t offset,
    const StaticTypeKey& staticKey, BindingTypeRef type, BindingTypeRef secondaryType,
    uint32_t flags, std::unique_ptr<const FieldConverter> converter, bool optional) {
  if (!active()) return *this;
  BindingFieldDescriptor& field = descriptor_->fields.emplace_back();
  field.name = name;
  field.nameHash = Fnv1a32(name);
  field.description = description;
  field.staticKey = &staticKey;
  field.offset = offset;
  field.type = type;
  if (secondaryType.id != BindingTypeId::None) field.secondaryType = secondaryType;
  field.flags = flags;
  field.converter = std::move(converter);
  field.owner = descriptor_;
  field.optional = optional;
  return *this;
}

BindingTypeBuilder& BindingTypeBuilder::SetDescription(std::string_view text) {
  if (active()) descriptor_->description = text;
  return *this;
}

BindingTypeBuilder& BindingTypeBuilder::SetNamespace(std::string_view text) {
  if (active()) descriptor_->nameSpace = text;
  return *this;
}

BindingTypeBuilder& BindingTypeBuilder::AddTag(std::string_view text) {
  if (active() && !text.empty()) descriptor_->tags.emplace_back(text);
  return *this;
}

BindingEventBuilder& BindingEventBuilder::SetDescription(std::string_view text) {
  if (!existed_) descriptor_->description = text;
  return *this;
}

BindingEventBuilder& BindingEventBuilder::SetNamespace(std::string_view text) {
  if (!existed_) descriptor_->nameSpace = text;
  return *this;
}

BindingEventBuilder& BindingEventBuilder::AddTag(std::string_view text) {
  if (!existed_ && !text.empty()) descriptor_->tags.emplace_back(text);
  return *this;
}

// ---------------------------------------------------------------- registry

size_t BindingTypeRegistry::StringHash::operator()(std::string_view text) const noexcept {
  return Fnv1a32(text);
}

BindingTypeRegistry::BindingTypeRegistry() = default;
BindingTypeRegistry::~BindingTypeRegistry() = default;

BindingTypeBuilder BindingTypeRegistry::BeginType(uint32_t nativeSize, std::string_view name,
                                                  const StaticTypeKey& staticKey, bool isEnum) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (const auto found = typesByName_.find(name); found != typesByName_.end()) {
    return BindingTypeBuilder(found->second.get(), BindingTypeBuilder::State::Existing);
  }
  const bool reserved = &staticKey == &ReservedStaticTypeKey();
  if (!reserved) {
    const BindingTypeDescriptor* holder = nullptr;
    if (const auto byId = typesById_.find(staticKey.id); byId != typesById_.end()) {
      if (byId->second->staticKey != &staticKey) holder = byId->second;
    }
    if (holder != nullptr || staticKey.id == kReservedStaticTypeId) {
      registrationErrors_.push_back(FormatText(
          "Type '%1' was not registered: its static type id %2 is already used by '%3'.", name,
          staticKey.displayName(), holder != nullptr ? holder->name.c_str() : "the reserved key"));
      return BindingTypeBuilder(nullptr, BindingTypeBuilder::State::Refused);
    }
  }
  auto descriptor = std::make_unique<BindingTypeDescriptor>();
  descriptor->nativeSize = nativeSize;
  descriptor->isEnum = isEnum;
  descriptor->name = name;
  descriptor->typeId = staticKey.id;
  descriptor->staticKey = &staticKey;
  descriptor->registry = this;
  BindingTypeDescriptor* raw = descriptor.get();
  const auto byName = typesByName_.emplace(std::string(name), std::move(descriptor)).first;
  try {
    typeList_.push_back(raw);
    if (!reserved) typesById_.emplace(staticKey.id, raw);
  } catch (...) {
    if (!typeList_.empty() && typeList_.back() == raw) typeList_.pop_back();
    typesByName_.erase(byName);
    throw;
  }
  return BindingTypeBuilder(raw, BindingTypeBuilder::State::Created);
}

BindingEventBuilder BindingTypeRegistry::RegisterEvent(std::string_view name,
                                                       const BindingTypeDescriptor* payload) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (const auto found = eventsByName_.find(name); found != eventsByName_.end()) {
    return BindingEventBuilder(found->second.get(), true);
  }
  auto descriptor = std::make_unique<BindingEventDescriptor>();
  descriptor->name = name;
  descriptor->payload = payload;
  BindingEventDescriptor* raw = descriptor.get();
  const auto byName = eventsByName_.emplace(std::string(name), std::move(descriptor)).first;
  try {
    eventList_.push_back(raw);
  } catch (...) {
    eventsByName_.erase(byName);
    throw;
  }
  return BindingEventBuilder(raw, false);
}

const BindingTypeDescriptor* BindingTypeRegistry::FindType(std::string_view name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = typesByName_.find(name);
  return it != typesByName_.end() ? it->second.get() : nullptr;
}

const BindingTypeDescriptor* BindingTypeRegistry::FindTypeById(uint32_t staticTypeId) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = typesById_.find(staticTypeId);
  return it != typesById_.end() ? it->second : nullptr;
}

const BindingEnumerator* BindingTypeRegistry::FindEnumerator(uint32_t staticTypeId,
                                                             int64_t value) const {
  const BindingTypeDescriptor* type = FindTypeById(staticTypeId);
  return type != nullptr ? type->FindEnumeratorByValue(value) : nullptr;
}

const BindingEventDescriptor* BindingTypeRegistry::FindEvent(std::string_view name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = eventsByName_.find(name);
  return it != eventsByName_.end() ? it->second.get() : nullptr;
}

std::vector<const BindingTypeDescriptor*> BindingTypeRegistry::Types() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return {typeList_.begin(), typeList_.end()};
}

std::vector<const BindingEventDescriptor*> BindingTypeRegistry::Events() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return {eventList_.begin(), eventList_.end()};
}

std::vector<std::string> BindingTypeRegistry::RegistrationErrors() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return registrationErrors_;
}

void BindingTypeRegistry::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  eventList_.clear();
  eventsByName_.clear();
  typesById_.clear();
  typeList_.clear();
  typesByName_.clear();
  registrationErrors_.clear();
}

// ---------------------------------------------------------------- type names

std::string_view NativeTypeName(BindingTypeId id) noexcept {
  static constexpr std::string_view kNames[] = {"",       "bool",   "int8",   "uint8",    "int16",
                                                "uint16", "int32",  "uint32", "int64",    "uint64",
                                                "float",  "double", "string", "object",   "blob",
                                                "vector", "enum",   "struct", "callback", "map"};
  const auto code = static_cast<size_t>(id);
  return code < std::size(kNames) ? kNames[code] : std::string_view("");
}

namespace {

// The type text of one element, or of a type without element.
std::string OwnTypeText(BindingTypeId id, const BindingTypeDescriptor* descriptor) {
  if ((id == BindingTypeId::Enum || id == BindingTypeId::Struct) && descriptor != nullptr) {
    return descriptor->name;
  }
  return std::string(NativeTypeName(id));
}

std::string EpytextName(BindingTypeId id, const BindingTypeDescriptor* descriptor,
                        BindingTypeId elementId) {
  switch (id) {
    case BindingTypeId::Blob:
      return "bytearray";
    case BindingTypeId::Vector:
      return FormatText("list[%1]", EpytextName(elementId, descriptor, BindingTypeId::None));
    case BindingTypeId::Map:
      return FormatText("dict[%1]", EpytextName(elementId, descriptor, BindingTypeId::None));
    case BindingTypeId::Enum:
    case BindingTypeId::Struct:
      return FormatText("L{%1}", OwnTypeText(id, descriptor));
    default:
      return std::string(NativeTypeName(id));
  }
}

}  // namespace

BindingTypeIdentifier FullTypeIdentifier(const BindingTypeRef& type) {
  if (type.id == BindingTypeId::Vector || type.id == BindingTypeId::Map) {
    return {std::string(NativeTypeName(type.id)), OwnTypeText(type.elementId, type.descriptor)};
  }
  return {OwnTypeText(type.id, type.descriptor), std::string()};
}

std::string EpytextTypeName(const BindingTypeRef& type) {
  return EpytextName(type.id, type.descriptor, type.elementId);
}

}  // namespace mau
