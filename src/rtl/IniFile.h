// The profile (INI) file with the Windows private-profile rules: names match
// without regard to case, values come back trimmed and without one pair of
// enclosing quotes, and every write reaches the file at once.
#pragma once

#include "Classes.h"

#include <string>

class TIniFile : public TObject {
public:
    // Touches nothing on disk.
    explicit TIniFile(std::string FileName) : FFileName(std::move(FileName)) {}

    const std::string& FileName() const { return FFileName; }

    // The value (at most 2047 characters), or Default when the file, the section or the key is missing.
    std::string ReadString(const std::string& Section, const std::string& Ident, const std::string& Default) const;
    // Replaces the value in place, or adds the key at the end of its section, or the section at
    // the end of the file (created when missing). A failure raises "Unable to write to %s".
    void WriteString(const std::string& Section, const std::string& Ident, const std::string& Value);

private:
    std::string FFileName;
};
