// The YAML reader: turns a YAML text into a BindingValue, for call bodies of type
// "application/x-yaml".
//
// libyaml's event parser reads the text; the reader builds the value from its events and
// resolves scalars itself. Quoted scalars and those tagged !!str are strings; plain and
// block scalars are null (empty text, ~, null, Null, NULL), numbers (whatever strtod
// reads whole: a fraction gives float, a whole number in the 64-bit range unsigned or
// signed with every digit kept, infinities and NaN stay text), then bool (true/yes/on/y and
// false/no/off/n in lower, capitalised and upper case), else strings. !!int, !!float and
// !!bool convert by the native field rules (an unconvertible !!int or !!float fails the
// read); any other scalar tag fails. Mapping keys must be string scalars. Anchors are kept
// as paths from the root and an alias deep-copies the anchored node as it is when the
// alias is read; an anchor defined again names the later node from there on. One document
// per text: a second one fails ("Multi-document YAML is not supported."), whatever the
// first held.
//
//   mau::BindingResult result;
//   mau::ReadYaml(result, "id: 103\nroles: [mage, support]\n");
//   if (!result.ok()) ...result.ErrorText()...  // "... At line: 2 col: 8"
//
// Bounds: containers nest at most kMaxReaderNesting deep, aliases included ("Nesting is
// too deep. At line: 1 col: 513"); the nodes that aliases copy in one document are
// limited to twice the text's size in bytes, and at least a hundred thousand ("Alias
// expansion limit exceeded. ..."). Messages of the reader count lines and columns from 1;
// libyaml's own errors ("YAML parser error: ...") keep libyaml's count from 0.
//
// An alias used as a mapping key stands for the anchored key's or string's text; an empty
// key is the member "". A repeated key's later value replaces the earlier one.
#pragma once

#include <string_view>

#include "binding/binding_result.h"

namespace mau {

// Reads one YAML document from text; result receives the value or the failure. An empty
// text gives an empty value. result should be fresh: a failed result stays failed.
void ReadYaml(BindingResult& result, std::string_view text);

}  // namespace mau
