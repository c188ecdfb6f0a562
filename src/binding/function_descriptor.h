// BindingFunctionDescriptor: how the binding layer describes one function that a plug-in
// exposes to the host: its name, its parameters with their types, its result type, and the
// texts the help shows. The call dispatcher binds arguments by these parameters; the help
// renders them.
#pragma once

#include <string>
#include <vector>

#include "binding/static_type_key.h"
#include "binding/type_registry.h"

namespace mau {

struct BindingParameterDescriptor {
  std::string name;
  std::string description;
  BindingTypeRef type;
  bool optional = false;  // may be left out of a call: the native parameter keeps its default
};

struct BindingFunctionDescriptor {
  std::string name;  // also the literal URL of a function without a URL template
  std::string nameSpace;
  std::string description;
  std::string help;
  std::vector<std::string> tags;
  std::vector<BindingParameterDescriptor> parameters;  // in declaration order
  BindingTypeRef resultType;                           // id None for a function without one
  const StaticTypeKey* resultKey = nullptr;            // of the native result type
  bool threadSafe = false;
  bool async = false;
  BindingTypeRegistry* registry = nullptr;  // the registry that owns the types named here
};

}  // namespace mau
