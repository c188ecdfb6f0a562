/* The host boundary header compiles as plain C with warnings as errors, and its record
 * sizes as C sees them are handed to the C++ layout test. */
#include "mau/plugin_abi.h"

size_t MauPluginAbiSizeFromC(int record);

size_t MauPluginAbiSizeFromC(int record) {
  switch (record) {
    case 0: return sizeof(HostValue);
    case 1: return sizeof(HostStructureEntry);
    case 2: return sizeof(HostTypedArgument);
    case 3: return sizeof(HostCallRequest);
    case 4: return sizeof(HostCallResponse);
    case 5: return sizeof(HostEventMessage);
    case 6: return sizeof(HostApi);
    case 7: return sizeof(MemoryStats);
    case 8: return sizeof(PluginExports);
    case 9: return sizeof(PluginFunctionEntry);
    case 10: return sizeof(PluginTypeEntry);
    case 11: return sizeof(PluginFieldEntry);
    case 12: return sizeof(PluginEventEntry);
    case 13: return sizeof(HostInterface);
    default: return 0;
  }
}
