// A string list of message header fields, one "Name: value" per line.
#pragma once

#include "rtl/StringList.h"

#include <cstdint>
#include <string>

class TExStringList : public TStringList {
public:
    // Index of the first line whose field name (the text before its first ":") equals Name
    // without regard to case, or -1. A sorted list is searched by halving.
    int32_t FieldIndex(const std::string& Name) const;
    // A non-empty Value replaces the field's line in place or appends "Name: Value";
    // an empty Value deletes the field's line.
    void SetField(const std::string& Name, const std::string& Value);

private:
    int32_t FindUnsorted(const std::string& Name) const;
    int32_t FindSorted(const std::string& Name) const;
};
