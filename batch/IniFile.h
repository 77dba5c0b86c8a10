#pragma once
// Settings files of sections in square brackets and key=value lines, read and
// written the way the classic profile functions do: names match without regard to
// case, values are trimmed, and writing keeps every other line of the file.
#include <string>
#include <utility>
#include <vector>

class TIniFile {
public:
    explicit TIniFile(std::string path);

    const std::string& Path() const { return path_; }

    // Empty when the file, the section or the key is missing.
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& def = {}) const;
    // Decimal, or hexadecimal after "0x"; anything that is not a number gives def.
    int ReadInteger(const std::string& section, const std::string& key, int def) const;

    // Sets the keys of one section in a single rewrite of the file, creating the
    // file's folder when missing. Throws Exception("Unable to write to <path>").
    void WriteStrings(const std::string& section,
                      const std::vector<std::pair<std::string, std::string>>& values) const;

    // The number a stored text stands for, or def (exposed for tests).
    static int ParseInteger(const std::string& text, int def);

private:
    std::vector<std::string> ReadLines() const;
    std::string path_;
};
