#include "binding/routing/host_call_records.h"

#include <cstring>
#include <gtest/gtest.h>

#include "binding/host_value.h"
#include "platform/alloc_hooks.h"

namespace mau {
namespace {

bool AllZero(const HostCallResponse& response) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(&response);
  for (size_t i = 0; i < sizeof response; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

TEST(HostCallRecords, ReleaseFreesEverythingAndZeroesTheRecord) {
  const MemoryCounters before = ReadMemoryCounters();
  {
    HostCallResponse response;
    std::memset(static_cast<void*>(&response), 0xAB, sizeof response);  // whatever the host gave
    ResetHostCallResponse(response);
    // The record is packed: copy its fields before the checks take references to them.
    const HostResponseReleaseFn release = response.release;
    const char* const errorText = response.errorText;
    EXPECT_EQ(release, &ReleaseHostCallResponse);
    EXPECT_EQ(errorText, nullptr);

    BindingValue value;
    value.MemberForWriting("name").SetString("Sable");
    ASSERT_TRUE(BindingToHostValue(value, response.result, nullptr));
    response.errorText = DuplicateHostText("failed");
    response.hasError = 1;
    response.statusText = DuplicateHostText("Teapot");
    auto* headers = static_cast<HostHeader*>(HookAllocate(2 * sizeof(HostHeader)));
    headers[0] = {DuplicateHostText("a"), DuplicateHostText("1")};
    headers[1] = {DuplicateHostText("b"), DuplicateHostText("2")};
    response.headers = headers;
    response.headerCount = 2;
    response.release(&response);
    EXPECT_TRUE(AllZero(response));
  }
  {
    // The shared empty status text is not freed; releasing twice or NULL is harmless.
    HostCallResponse response{};
    ResetHostCallResponse(response);
    response.statusText = SharedEmptyHostText();
    ReleaseHostCallResponse(&response);
    EXPECT_TRUE(AllZero(response));
    ReleaseHostCallResponse(&response);
    ReleaseHostCallResponse(nullptr);
    EXPECT_STREQ(SharedEmptyHostText(), "");
  }
  const MemoryCounters after = ReadMemoryCounters();
  EXPECT_EQ(after.allocationCount - before.allocationCount,
            after.releaseCount - before.releaseCount)
      << "every block the response held is freed";
}

TEST(HostCallRecords, RequestWithoutBodyHasNoBodyPointer) {
  HostCallRequest request{};
  request.method = MAU_METHOD_GET;
  request.url = "/items";
  const void* const body = request.body;
  const uint32_t bodyLength = request.bodyLength;
  EXPECT_EQ(body, nullptr);
  EXPECT_EQ(bodyLength, 0u);
}

}  // namespace
}  // namespace mau
