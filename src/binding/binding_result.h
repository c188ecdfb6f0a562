// BindingResult: the out-parameter of every conversion and reader of the binding layer, a
// BindingValue with an ok flag.
//
// Failing a result replaces its value by a structure whose string member "error" holds the
// message. The first failure wins: once failed, later failures are ignored, so a caller
// can report the message of the step that went wrong first.
//
//   mau::BindingResult result;
//   ConvertSomething(result, ...);
//   if (!result.ok()) Log(..., result.ErrorText());
#pragma once

#include <string>
#include <string_view>

#include "binding/binding_value.h"

namespace mau {

class BindingResult {
 public:
  BindingResult() = default;

  bool ok() const noexcept { return ok_; }
  BindingValue& value() noexcept { return value_; }
  const BindingValue& value() const noexcept { return value_; }

  // Resets the value and stores the message as member "error"; ignored when the result has
  // failed before. The message may point into the result's own value.
  void Fail(std::string_view message) {
    if (!ok_) return;
    ok_ = false;
    const std::string text(message);  // the message may live in the value about to go
    value_.Reset();
    value_.MemberForWriting("error") = text;
  }

  // The empty text while ok, else the string of member "error" (the empty text when that
  // member is missing or not a string). Valid until the result changes.
  std::string_view ErrorText() const noexcept {
    return ok_ ? std::string_view() : value_.Member("error").AsString();
  }

 private:
  BindingValue value_;
  bool ok_ = true;
};

}  // namespace mau
