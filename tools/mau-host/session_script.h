// Session scripts: JSON Lines, one step per line. {"at": S, "uri": U, "data": JSON} sets a
// resource and publishes the change; {"at": S, "uri": U, "delete": true} removes it. "at"
// (seconds from the plug-in's start, 0 when absent) is a number from 0, "uri" a string,
// "delete" true or false; a line that sets needs "data", a line that removes has none.
// Other members are ignored.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace mau::host {

struct SessionStep {
  double at = 0;  // seconds from the plug-in's start, before --speed
  std::string uri;
  bool remove = false;
  std::string dataJson;  // the "data" member as compact JSON ("null" for a removal)
  int line = 0;
};

struct SessionLine {
  std::optional<SessionStep> step;  // none for a blank line or an error
  std::string error;                // why the line was skipped; empty when it was not
};

// Parses one line (numbered from 1). Blank lines yield neither a step nor an error. A
// UTF-8 byte-order mark before the JSON is skipped.
SessionLine ParseSessionLine(std::string_view text, int line);

}  // namespace mau::host
