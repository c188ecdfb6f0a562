// The plug-in API version of the host boundary, the compatibility rule between a host and
// this library, and the naming of plug-ins by kind.
#pragma once

#include <cstdint>
#include <string>

namespace mau {

struct PluginApiVersion {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t patch = 0;
  std::string preRelease;
  std::string build;

  // "major.minor.patch", then "-preRelease" and "+build" when they are not empty.
  std::string ToText() const;
};

// The version this library implements: 18.0.0.
PluginApiVersion LibraryApiVersion();

// True when the host's major version equals the library's and the host's (minor, patch)
// is not below the library's. The texts take no part.
bool CheckApiCompatible(const PluginApiVersion& library, const PluginApiVersion& host);

// A kind of plug-in: its name ("backend", "frontend") and a qualifier.
struct PluginKind {
  std::string name;
  std::string qualifier;
};

PluginKind BackendPluginKind();

// "hxp-be-" + shortName for a backend, "hxp-fe-" for a frontend; any other kind gives
// "hxp-xx-" and an error line in the log.
std::string GetFullNameFromShortNameAndType(const std::string& shortName, const PluginKind& kind);

}  // namespace mau
