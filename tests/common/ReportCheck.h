#pragma once
// Reports read back by a JSON parser that is not ours (Python's).
#include <string>
#include <vector>

namespace ardentix::test {

// Each line of a report as the values of the fields asked for, in order: text
// as it decodes, null as "null", numbers as Python prints them. A line that is
// not one JSON object fails the test and gives no row.
std::vector<std::vector<std::string>> ReportRows(const std::string& report, const std::vector<std::string>& fields);

}  // namespace ardentix::test
