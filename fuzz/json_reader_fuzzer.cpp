// Fuzzes the JSON reader with arbitrary text: any input must end in a value or a clear
// error, and every value it builds must copy and compare equal within the nesting bound.
// The in-place entry, which decodes strings inside the text, must reach the same value or
// the same error. A value must also equal the one built from rapidjson's events through
// the general member operations (each member looked up by name as it comes, a repeated
// name's later value replacing the earlier one), which the reader's own builder skips by
// sorting an object's members once at its end; rapidjson reads the text after the
// byte-order mark that the reader skips.
#include <rapidjson/reader.h>
#include <rapidjson/stream.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/binding_result.h"
#include "binding/binding_value.h"
#include "binding/json_reader.h"

namespace {

class ReferenceBuilder : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, ReferenceBuilder> {
 public:
  explicit ReferenceBuilder(mau::BindingValue& root) : pending_(&root) {}

  bool Null() {
    Slot().Reset();
    return true;
  }
  bool Bool(bool value) {
    Slot().SetBool(value);
    return true;
  }
  bool Int(int value) {
    Slot().SetSigned(value);
    return true;
  }
  bool Uint(unsigned value) {
    Slot().SetUnsigned(value);
    return true;
  }
  bool Int64(int64_t value) {
    Slot().SetSigned(value);
    return true;
  }
  bool Uint64(uint64_t value) {
    Slot().SetUnsigned(value);
    return true;
  }
  bool Double(double value) {
    Slot().SetDouble(value);
    return true;
  }
  bool String(const char* text, rapidjson::SizeType length, bool) {
    Slot().SetString(UpToNul(text, length));
    return true;
  }
  bool StartObject() { return Open(false); }
  bool Key(const char* text, rapidjson::SizeType length, bool) {
    pending_ = &open_.back().first->MemberForWriting(UpToNul(text, length));
    return true;
  }
  bool EndObject(rapidjson::SizeType) {
    open_.pop_back();
    return true;
  }
  bool StartArray() { return Open(true); }
  bool EndArray(rapidjson::SizeType) {
    open_.pop_back();
    return true;
  }

 private:
  static std::string_view UpToNul(const char* text, rapidjson::SizeType length) {
    const void* nul = std::memchr(text, 0, length);
    return {text, nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - text)
                                 : size_t{length}};
  }
  mau::BindingValue& Slot() {
    if (!open_.empty() && open_.back().second) return open_.back().first->AppendElement();
    return *pending_;
  }
  bool Open(bool collection) {
    mau::BindingValue& slot = Slot();
    slot.Reset();
    if (collection) {
      slot.EnsureCollection();
    } else {
      slot.EnsureStructure();
    }
    open_.emplace_back(&slot, collection);
    return true;
  }

  mau::BindingValue* pending_;
  std::vector<std::pair<mau::BindingValue*, bool>> open_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  mau::BindingResult result;
  mau::ParseJson(result, text);
  std::string overwritten = text;
  mau::BindingResult inPlace;
  mau::ParseJsonInPlace(inPlace, overwritten);
  if (inPlace.ok() != result.ok() || inPlace.ErrorText() != result.ErrorText() ||
      !(inPlace.value() == result.value())) {
    std::abort();
  }
  if (!result.ok()) {
    if (result.ErrorText().rfind("Error: ", 0) != 0) std::abort();
    return 0;
  }
  const mau::BindingValue copy = result.value();
  if (!(copy == result.value())) std::abort();

  // A successful parse read the whole text, which holds no NUL outside its strings' escapes.
  // In situ: rapidjson's string stack computes "null + size" on its first push, which this
  // file's sanitizers would stop on (the reader's own file is built without that check).
  mau::BindingValue reference;
  ReferenceBuilder builder(reference);
  rapidjson::Reader reader;
  std::string scratch = text.substr(text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0);
  rapidjson::InsituStringStream stream(scratch.data());
  if (reader.Parse<rapidjson::kParseInsituFlag>(stream, builder).IsError() ||
      !(reference == result.value())) {
    std::abort();
  }
  return 0;
}
