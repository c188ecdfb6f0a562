// Win32 side of URL-protocol registration: the registry and module functions it calls,
// as a table that tests can replace to inject faults. Only Win32 code belongs in this
// file.
#pragma once

#include <windows.h>

namespace mau::discord {

struct RegistryCalls {
  decltype(&::RegCreateKeyExW) create_key_ex;
  decltype(&::RegCreateKeyW) create_key;
  decltype(&::RegSetValueExW) set_value_ex;
  decltype(&::RegOpenKeyExW) open_key_ex;
  decltype(&::RegQueryValueExW) query_value_ex;
  decltype(&::RegCloseKey) close_key;
  decltype(&::GetModuleFileNameW) get_module_file_name;
};

// The table the registration uses. Replace entries only while no registration runs.
RegistryCalls& RegistryCallTable();

}  // namespace mau::discord
