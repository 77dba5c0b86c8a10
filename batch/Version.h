#pragma once
// The program's version, the same in both faces, their manual pages and the
// package: the newest entry of package/changelog, read when the build is configured.
#include <string>

std::string ProgramVersion();
