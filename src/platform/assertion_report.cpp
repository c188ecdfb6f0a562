#include "platform/assertion_report.h"

#include "log/log_core.h"

namespace mau {

namespace {
bool Given(const char* text) { return text != nullptr && *text != '\0'; }
}  // namespace

std::string BuildAssertionReport(const char* expression, const char* file, int32_t line,
                                 const char* function, const char* description) {
  std::string report = "Assertion failed!\n\n";
  if (Given(file)) report.append("File: ").append(file).append("\n");
  if (line != 0) report.append("Line: ").append(std::to_string(line)).append("\n\n");
  if (Given(function)) report.append("Function: ").append(function).append("\n\n");
  if (Given(expression)) report.append("Expression: ").append(expression);
  if (Given(description)) report.append("\n\nDescription: ").append(description);
  return report;
}

void ReportAssertion(const char* expression, const char* description, const char* file,
                     int32_t line, const char* function) {
  const std::string report = BuildAssertionReport(expression, file, line, function, description);
  Log(kLogError, static_cast<uint32_t>(kLogDbg), 0, "%s", report.c_str());
}

}  // namespace mau
