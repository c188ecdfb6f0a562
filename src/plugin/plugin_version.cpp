#include "plugin/plugin_version.h"

#include "log/log_core.h"
#include "mau/plugin_abi.h"
#include "platform/format.h"

namespace mau {

std::string PluginApiVersion::ToText() const {
  std::string text = FormatText("%1.%2.%3", major, minor, patch);
  if (!preRelease.empty()) text.append("-").append(preRelease);
  if (!build.empty()) text.append("+").append(build);
  return text;
}

PluginApiVersion LibraryApiVersion() {
  return PluginApiVersion{MAU_PLUGIN_API_MAJOR, MAU_PLUGIN_API_MINOR, MAU_PLUGIN_API_PATCH, "", ""};
}

bool CheckApiCompatible(const PluginApiVersion& library, const PluginApiVersion& host) {
  if (host.major != library.major) return false;
  return host.minor > library.minor || (host.minor == library.minor && host.patch >= library.patch);
}

PluginKind BackendPluginKind() { return PluginKind{"backend", ""}; }

std::string GetFullNameFromShortNameAndType(const std::string& shortName, const PluginKind& kind) {
  const char* prefix = "hxp-xx-";
  if (kind.name == "backend") {
    prefix = "hxp-be-";
  } else if (kind.name == "frontend") {
    prefix = "hxp-fe-";
  } else {
    const std::string message =
        FormatText("GetFullNameFromShortNameAndType(\"%1\", \"%2\") called with an unknown type",
                   shortName, kind.name);
    Log(kLogError, static_cast<uint32_t>(kLogDbg), 0, "            Plugin Manager| %s",
        message.c_str());
  }
  return prefix + shortName;
}

}  // namespace mau
