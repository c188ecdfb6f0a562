// The host boundary's record layouts, computed from the pointer size so that the 32-bit
// build checks the host's ABI and the 64-bit build checks its widened form.
#include "mau/plugin_abi.h"

#include <algorithm>
#include <cstddef>
#include <gtest/gtest.h>
#include <iterator>

extern "C" size_t MauPluginAbiSizeFromC(int record);

namespace {

constexpr size_t P = sizeof(void*);
constexpr size_t V = 4 + std::max<size_t>(8, P + 4);  // HostValue: type code and payload

TEST(PluginAbi, RecordSizes) {
  EXPECT_EQ(sizeof(HostValue), V);
  EXPECT_EQ(sizeof(HostStructureEntry), P + V + 1);
  EXPECT_EQ(sizeof(HostTypedArgument), P + V);
  EXPECT_EQ(sizeof(HostCallRequest), 20 + 7 * P);
  EXPECT_EQ(sizeof(HostCallResponse), V + 7 * P + 22);
  EXPECT_EQ(sizeof(HostEventMessage), 2 * P + V + 4);
  EXPECT_EQ(sizeof(HostApi), 12 + 4 * P);
  EXPECT_EQ(sizeof(MemoryStats), 56u);
  EXPECT_EQ(sizeof(PluginExports), 3 * P + 12);
  EXPECT_EQ(sizeof(HostContext), P + 4);
  EXPECT_EQ(sizeof(HostInterface), 10 * P);
  EXPECT_EQ(sizeof(PluginCallbacks), 3 * P);
  EXPECT_EQ(sizeof(PluginFieldEntry), 3 * P + 17);
  EXPECT_EQ(sizeof(PluginTypeEntry), 5 * P + 20);
  EXPECT_EQ(sizeof(PluginEventEntry), 6 * P + 4);
  EXPECT_EQ(sizeof(PluginFunctionEntry), 11 * P + 46);
  if (P == 4) {
    EXPECT_EQ(sizeof(PluginFunctionEntry), 90u);
  }
}

TEST(PluginAbi, TheHeaderCompiledAsCAgrees) {
  const size_t cxx[] = {sizeof(HostValue),         sizeof(HostStructureEntry),
                        sizeof(HostTypedArgument), sizeof(HostCallRequest),
                        sizeof(HostCallResponse),  sizeof(HostEventMessage),
                        sizeof(HostApi),           sizeof(MemoryStats),
                        sizeof(PluginExports),     sizeof(PluginFunctionEntry),
                        sizeof(PluginTypeEntry),   sizeof(PluginFieldEntry),
                        sizeof(PluginEventEntry),  sizeof(HostInterface)};
  for (int i = 0; i < static_cast<int>(std::size(cxx)); ++i) {
    EXPECT_EQ(MauPluginAbiSizeFromC(i), cxx[i]) << "record " << i;
  }
}

TEST(PluginAbi, FieldOffsets) {
  struct Case {
    const char* field;
    size_t actual;
    size_t expected;
  };
  const Case cases[] = {
      {"HostValue.payload", offsetof(HostValue, payload), 4},
      {"HostValue.payload.string.length", offsetof(HostValue, payload.string.length), 4 + P},
      {"HostValue.payload.collection.count", offsetof(HostValue, payload.collection.count), 4 + P},
      {"HostStructureEntry.value", offsetof(HostStructureEntry, value), P},
      {"HostStructureEntry.nameOwned", offsetof(HostStructureEntry, nameOwned), P + V},
      {"HostCallRequest.url", offsetof(HostCallRequest, url), 4},
      {"HostCallRequest.arguments", offsetof(HostCallRequest, arguments), 4 + P},
      {"HostCallRequest.argumentCount", offsetof(HostCallRequest, argumentCount), 4 + 2 * P},
      {"HostCallRequest.userData", offsetof(HostCallRequest, userData), 8 + 2 * P},
      {"HostCallRequest.headers", offsetof(HostCallRequest, headers), 8 + 3 * P},
      {"HostCallRequest.headerCount", offsetof(HostCallRequest, headerCount), 8 + 4 * P},
      {"HostCallRequest.contentType", offsetof(HostCallRequest, contentType), 12 + 4 * P},
      {"HostCallRequest.body", offsetof(HostCallRequest, body), 12 + 5 * P},
      {"HostCallRequest.bodyLength", offsetof(HostCallRequest, bodyLength), 12 + 6 * P},
      {"HostCallRequest.requestId", offsetof(HostCallRequest, requestId), 16 + 6 * P},
      {"HostCallRequest.customMethod", offsetof(HostCallRequest, customMethod), 20 + 6 * P},
      {"HostCallResponse.errorText", offsetof(HostCallResponse, errorText), V},
      {"HostCallResponse.hasError", offsetof(HostCallResponse, hasError), V + P},
      {"HostCallResponse.bodyFlag", offsetof(HostCallResponse, bodyFlag), V + P + 1},
      {"HostCallResponse.bodyKind", offsetof(HostCallResponse, bodyKind), V + P + 2},
      {"HostCallResponse.status", offsetof(HostCallResponse, status), V + P + 6},
      {"HostCallResponse.statusText", offsetof(HostCallResponse, statusText), V + P + 10},
      {"HostCallResponse.headers", offsetof(HostCallResponse, headers), V + 2 * P + 10},
      {"HostCallResponse.headerCount", offsetof(HostCallResponse, headerCount), V + 3 * P + 10},
      {"HostCallResponse.streamRead", offsetof(HostCallResponse, streamRead), V + 3 * P + 14},
      {"HostCallResponse.streamRelease", offsetof(HostCallResponse, streamRelease), V + 4 * P + 14},
      {"HostCallResponse.bodyLength", offsetof(HostCallResponse, bodyLength), V + 5 * P + 14},
      {"HostCallResponse.stream", offsetof(HostCallResponse, stream), V + 5 * P + 22},
      {"HostCallResponse.release", offsetof(HostCallResponse, release), V + 6 * P + 22},
      {"HostEventMessage.payload", offsetof(HostEventMessage, payload), P},
      {"HostEventMessage.userData", offsetof(HostEventMessage, userData), P + V + 4},
      {"HostApi.callbacks", offsetof(HostApi, callbacks), 12},
      {"HostApi.pluginContext", offsetof(HostApi, pluginContext), 12 + P},
      {"HostApi.pluginName", offsetof(HostApi, pluginName), 12 + 2 * P},
      {"HostApi.exports", offsetof(HostApi, exports), 12 + 3 * P},
      {"HostInterface.WriteLog", offsetof(HostInterface, WriteLog), 9 * P},
      {"HostInterface.StartTimer", offsetof(HostInterface, StartTimer), 5 * P},
      {"MemoryStats.frees", offsetof(MemoryStats, frees), 40},
      {"PluginFunctionEntry.userData", offsetof(PluginFunctionEntry, userData), 8},
      {"PluginFunctionEntry.name", offsetof(PluginFunctionEntry, name), 8 + P},
      {"PluginFunctionEntry.handler", offsetof(PluginFunctionEntry, handler), 12 + 10 * P + 9},
      {"PluginExports.eventCount", offsetof(PluginExports, eventCount), 3 * P + 8},
  };
  for (const Case& c : cases) EXPECT_EQ(c.actual, c.expected) << c.field;
  if (P == 4) {
    // The host relies on these two fixed offsets of the 90-byte entry.
    EXPECT_EQ(offsetof(PluginFunctionEntry, name), 12u);
    EXPECT_EQ(offsetof(PluginFunctionEntry, handler), 61u);
  }
}

}  // namespace
