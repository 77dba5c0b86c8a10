#pragma once
// What the plan tests share: a kind chosen by its terminal name, and a line
// looked for in an option text.
#include <gtest/gtest.h>

#include <string>

#include "batch/OutputKinds.h"

inline TOutputChoice Kind(const char* name) {
    TOutputChoice choice;
    std::string error;
    EXPECT_TRUE(ParseOutputKind(name, choice, error)) << error;
    return choice;
}

inline bool HasLine(const std::string& text, const std::string& line) {
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}
