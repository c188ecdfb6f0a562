/* Compiles the host boundary header as C, so it stays usable by a host written in C. */
#include "mau/plugin_abi.h"

size_t MauPluginAbiSizeFromC(int record);

size_t MauPluginAbiSizeFromC(int record) {
  switch (record) {
    case 0:
      return sizeof(HostValue);
    case 1:
      return sizeof(HostStructureEntry);
    case 2:
      return sizeof(HostTypedArgument);
    default:
      return 0;
  }
}
