#pragma once
// Text from media files (tags, names) and from the libraries, made safe for a
// terminal: control characters, bytes that are no UTF-8 and characters that
// reorder the text around them are shown as escapes ("\x1b", "\u202e"), so a
// title or a file name can neither move the cursor, clear the screen or retitle
// the window nor pass for another name.

#include <string>

// One value: every line end is escaped too.
std::string TerminalText(const std::string& text);

// A message that may hold several lines ("\n" or "\r\n" apart): the lines are kept,
// each made safe as one value.
std::string TerminalLines(const std::string& text);
