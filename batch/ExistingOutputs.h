#pragma once
// The rule for a file already at an output's name, the same for showing the
// planned names, planning a run and placing its results, in both faces.
#include <optional>
#include <string>
#include <vector>

#include "core/SourceRecord.h"

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
// Under Skip, what the file at a candidate name (name, name(1), ...) is to an
// input: the name is free, or holds this input's finished output (whole, or
// as long as the input itself), or its output of a stopped conversion or of
// an earlier state of the input (made again there), or anything else (another
// input's output, a folder, a temporary file of ours).
// A file that records no input (written by earlier versions or another
// program) counts as the input's output at the plain name only, as it always did.
enum class TNameUse { Free, Done, Again, Other };
TNameUse SkipUseOfName(const std::string& path, const std::optional<TSourceRecord>& input, bool plain_name,
                       const std::string& tag);
