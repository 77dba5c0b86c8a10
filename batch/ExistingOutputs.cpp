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

TNameUse SkipUseOfName(const std::string& path, const std::optional<TSourceRecord>& input, bool plain_name,
                       const std::string& tag) {
    if (!AnythingAt(path)) return TNameUse::Free;
    if (!FileAt(path) || IsTemporaryOutputName(FileNamePart(path))) return TNameUse::Other;
    const std::optional<TSourceRecord> there = ReadSourceRecord(path, tag);
    if (!there) return plain_name ? TNameUse::Done : TNameUse::Other;
    if (!input || there->Path != input->Path) return TNameUse::Other;
    // Made from an earlier state of the file, or not to its end: made again in its place.
    return SameSource(*there, *input) && MadeToTheEnd(*there) ? TNameUse::Done : TNameUse::Again;
}
