#pragma once
// The rule for a file already at an output's name, the same for showing the
// planned names, planning a run and placing its results, in both faces.
#include <optional>
#include <string>
#include <vector>

enum class TExistingOutputs {
    Number,   // the new file takes the next free name(n)
    Skip,     // the file at the name counts as this file's conversion; the file is not converted
    Replace,  // the new file replaces a file at the name (a folder there is never replaced)
};

// "number", "skip", "replace": the settings file's and the terminal's word.
const char* ExistingOutputsName(TExistingOutputs rule);
// The rule a word names; none for any other text.
std::optional<TExistingOutputs> ExistingOutputsNamed(const std::string& name);
// "Number the new file", ...: the window's item for each rule, in the order of the enum.
std::vector<std::string> ExistingOutputsItems();
// "number|skip|replace", for usage texts.
std::string ExistingOutputsChoices();

// Whether what is at path keeps the naming from choosing it: anything there
// under Number, anything but a file (a folder) under Skip and Replace.
bool NameOccupied(TExistingOutputs rule, const std::string& path);
// Under Skip, a file at the planned name is taken as a finished conversion.
// Our temporary files are never taken so, whatever their name.
bool CountsAsDone(TExistingOutputs rule, const std::string& path);
