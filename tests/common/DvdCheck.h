#pragma once
// dvdauthor, a DVD authoring program that is not ours, as the judge of a
// DVD-Video program stream.
#include <string>

namespace ardentix::test {

struct DvdAuthoring {
  bool started = false;  // false: dvdauthor is not installed (scripts/deps installs it)
  int status = -1;       // its exit status; -1 when a signal ended it
  std::string said;      // its output and errors, "WARN:" lines among them
};

// Authors the program stream as one title of a DVD-Video tree in folder.
DvdAuthoring AuthorDvdTitle(const std::string& mpg, const std::string& folder);

}  // namespace ardentix::test
