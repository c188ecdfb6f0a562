// Assertion reports: the multi-line text written to the log when a fatal internal check
// fails, before the caller stops the process.
//
//   mau::ReportAssertion("ALE-EECF0606", description, "", 0, "");
//   std::abort();
#pragma once

#include <cstdint>
#include <string>

namespace mau {

// "Assertion failed!" followed by the parts that are given: file, line (0 = none),
// function, expression and description. Null texts count as empty.
std::string BuildAssertionReport(const char* expression, const char* file, int32_t line,
                                 const char* function, const char* description);

// Builds the report and logs it at level ERROR with the category "DBG". Returns
// normally: stopping the process is the caller's decision.
void ReportAssertion(const char* expression, const char* description, const char* file,
                     int32_t line, const char* function);

}  // namespace mau
