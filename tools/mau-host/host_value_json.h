// JSON texts as host values: the reference host keeps its resources as JSON and hands
// them to the plug-in as HostValue trees that it owns and frees itself.
#pragma once

#include <string>
#include <string_view>

#include "mau/plugin_abi.h"

namespace mau::host {

// Parses json into a HostValue tree allocated with malloc (strings, arrays and member
// names are owned copies). On a parse error returns false with a message in error.
bool JsonToHostValue(std::string_view json, HostValue* out, std::string* error);

// Frees a tree built by JsonToHostValue or by the helpers below, and zeroes it.
void FreeHostValue(HostValue* value);

// An owned string value.
HostValue MakeHostString(std::string_view text);

// An owned structure value from (name, value) pairs; the values are moved in.
HostValue MakeHostStructure(std::initializer_list<std::pair<const char*, HostValue>> members);

}  // namespace mau::host
