#include "tests/common/ReportCheck.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

namespace ardentix::test {

std::vector<std::vector<std::string>> ReportRows(const std::string& report, const std::vector<std::string>& fields) {
    // Fields joined by a unit separator, rows by a record separator: names may hold tabs and line breaks.
    std::string names;
    for (const std::string& f : fields) names += (names.empty() ? "" : ",") + ("'" + f + "'");
    const std::string script =
        "import json,sys\n"
        "for line in open(sys.argv[1], 'rb'):\n"
        "    o = json.loads(line)\n"
        "    assert isinstance(o, dict)\n"
        "    v = ['null' if o.get(f) is None else str(o[f]) for f in [" + names + "]]\n"
        "    sys.stdout.buffer.write('\\x1f'.join(v).encode('utf-8', 'surrogateescape') + b'\\x1e')\n";
    std::string quoted;  // for the shell's double quotes
    for (const char c : script)
        quoted += c == '"' || c == '\\' || c == '$' || c == '`' ? std::string("\\") + c : std::string(1, c);
    FILE* pipe = ::popen(("python3 -c \"" + quoted + "\" '" + report + "' 2>&1").c_str(), "r");
    std::string text;
    char buffer[4096];
    for (size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
    const int status = pipe ? ::pclose(pipe) : -1;
    EXPECT_EQ(status, 0) << text;
    std::vector<std::vector<std::string>> rows;
    if (status != 0) return rows;
    std::istringstream records(text);
    for (std::string record; std::getline(records, record, '\x1e');) {
        std::vector<std::string> row;
        std::istringstream values(record);
        for (std::string value; std::getline(values, value, '\x1f');) row.push_back(value);
        row.resize(fields.size());
        rows.push_back(row);
    }
    return rows;
}

}  // namespace ardentix::test
