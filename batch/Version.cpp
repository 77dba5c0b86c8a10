#include "batch/Version.h"

// ARDENTIX_VERSION comes from the build (batch/CMakeLists.txt).
std::string ProgramVersion() { return ARDENTIX_VERSION; }
