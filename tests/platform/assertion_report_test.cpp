#include "platform/assertion_report.h"

#include <gtest/gtest.h>
#include <string>

#include "log/log_core.h"

namespace mau {
namespace {

TEST(AssertionReport, IncludesOnlyTheGivenParts) {
  struct Case {
    const char* expression;
    const char* file;
    int32_t line;
    const char* function;
    const char* description;
    std::string expected;
  };
  const Case cases[] = {
      {"ALE-EECF0606", "", 0, "", "", "Assertion failed!\n\nExpression: ALE-EECF0606"},
      {"ALE-EECF0606", nullptr, 0, nullptr, "not compatible",
       "Assertion failed!\n\nExpression: ALE-EECF0606\n\nDescription: not compatible"},
      {"", "", 0, "", "", "Assertion failed!\n\n"},
      {nullptr, "a.cpp", -5, "F", "d",
       "Assertion failed!\n\nFile: a.cpp\nLine: -5\n\nFunction: F\n\n\n\nDescription: d"},
      {"x > 0", "", 12, "", "", "Assertion failed!\n\nLine: 12\n\nExpression: x > 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(BuildAssertionReport(c.expression, c.file, c.line, c.function, c.description),
              c.expected);
  }
}

// Catches what the log core delivers.
class Catcher : public LogTarget {
 public:
  Catcher() {
    RouteWritesToWrite();
    Configure(LogTargetSettings{kLogOkay, 0, 0, "#L|#G|#M"});
  }
  ~Catcher() override { Unregister(); }
  bool Write(const LogRecord& record) override {
    char line[kLogMessageCapacity];
    Render(line, sizeof line, record);
    text = line;
    return true;
  }
  std::string text;
};

TEST(AssertionReport, IsLoggedAsAnErrorOfCategoryDbg) {
  LogInit();
  Catcher catcher;
  ReportAssertion("ALE-EECF0606", "boom", "", 0, "");
  EXPECT_EQ(catcher.text,
            " ERROR|DBG|Assertion failed!\n\nExpression: ALE-EECF0606\n\nDescription: boom\n");
  catcher.Unregister();
  LogShutdown();
}

}  // namespace
}  // namespace mau
