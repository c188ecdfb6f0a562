/* The host boundary header compiles as plain C with warnings as errors. */
#include "mau/plugin_abi.h"

int mau_plugin_abi_compiles_as_c(void) {
  HostApi api = {MAU_PLUGIN_API_MAJOR, MAU_PLUGIN_API_MINOR, MAU_PLUGIN_API_PATCH, 0, 0, 0, 0};
  HostValue value;
  value.type = MAU_HOST_VALUE_SIGNED;
  value.payload.i64 = 42;
  return (int)(api.apiMajor + (uint32_t)value.payload.i64);
}
