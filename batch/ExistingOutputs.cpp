#include "batch/ExistingOutputs.h"

#include <filesystem>

#include "batch/General.h"
#include "core/OutputPlace.h"

namespace fs = std::filesystem;

namespace {

struct TExistingRow {
    TExistingOutputs rule;
    const char* name;
    const char* item;
};

constexpr TExistingRow ExistingRows[] = {
    {TExistingOutputs::Number, "number", "Number the new file"},
    {TExistingOutputs::Skip, "skip", "Skip the file"},
    {TExistingOutputs::Replace, "replace", "Replace the old file"},
};

// A regular file, or a link to one, is at the path.
bool FileAt(const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(fs::status(path, ec));
}

bool AnythingAt(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

}  // namespace

const char* ExistingOutputsName(TExistingOutputs rule) {
    for (const TExistingRow& row : ExistingRows)
        if (row.rule == rule) return row.name;
    return "";
}

std::optional<TExistingOutputs> ExistingOutputsNamed(const std::string& name) {
    for (const TExistingRow& row : ExistingRows)
        if (name == row.name) return row.rule;
    return std::nullopt;
}

std::vector<std::string> ExistingOutputsItems() {
    std::vector<std::string> items;
    for (const TExistingRow& row : ExistingRows) items.push_back(row.item);
    return items;
}

std::string ExistingOutputsChoices() {
    std::string text;
    for (const TExistingRow& row : ExistingRows) text += (text.empty() ? "" : "|") + std::string(row.name);
    return text;
}

bool NameOccupied(TExistingOutputs rule, const std::string& path) {
    if (!AnythingAt(path)) return false;
    return rule == TExistingOutputs::Number || !FileAt(path);
}

bool CountsAsDone(TExistingOutputs rule, const std::string& path) {
    return rule == TExistingOutputs::Skip && !IsTemporaryOutputName(FileNamePart(path)) && FileAt(path);
}
