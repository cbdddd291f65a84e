#include "StringList.h"

#include "Exceptions.h"

#include <algorithm>

namespace {

// Only A-Z fold: the result must not depend on the process locale.
int LowerAscii(char c)
{
    unsigned char u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') ? u + ('a' - 'A') : u;
}

} // namespace

int CompareText(const std::string& A, const std::string& B)
{
    size_t n = std::min(A.size(), B.size());
    for (size_t i = 0; i < n; ++i) {
        int a = LowerAscii(A[i]);
        int b = LowerAscii(B[i]);
        if (a != b)
            return a - b;
    }
    return A.size() < B.size() ? -1 : A.size() > B.size() ? 1 : 0;
}

void TStringList::CheckIndex(int Index, int Limit) const
{
    if (Index < 0 || Index >= Limit)
        throw EListError(FormatMessage("List index out of bounds (%d)", Index));
}

const std::string& TStringList::Get(int Index) const
{
    CheckIndex(Index, Count());
    return FLines[static_cast<size_t>(Index)];
}

void TStringList::Put(int Index, const std::string& S)
{
    if (FSorted)
        throw EListError("Operation not allowed on sorted string list");
    CheckIndex(Index, Count());
    FLines[static_cast<size_t>(Index)] = S;
}

int TStringList::Add(const std::string& S)
{
    if (!FSorted) {
        FLines.push_back(S);
        return Count() - 1;
    }
    auto at = std::lower_bound(FLines.begin(), FLines.end(), S,
                               [](const std::string& a, const std::string& b) { return CompareText(a, b) < 0; });
    if (at != FLines.end() && CompareText(*at, S) == 0)
        return static_cast<int>(at - FLines.begin());
    return static_cast<int>(FLines.insert(at, S) - FLines.begin());
}

void TStringList::Insert(int Index, const std::string& S)
{
    if (FSorted)
        throw EListError("Operation not allowed on sorted string list");
    CheckIndex(Index, Count() + 1);
    FLines.insert(FLines.begin() + Index, S);
}

void TStringList::Delete(int Index)
{
    CheckIndex(Index, Count());
    FLines.erase(FLines.begin() + Index);
}

void TStringList::Assign(const TStringList& Source)
{
    if (&Source == this)
        return;
    if (!FSorted) {
        FLines = Source.FLines;
        return;
    }
    // A sorted list keeps its order and its duplicates policy.
    FLines.clear();
    for (const auto& line : Source.FLines)
        Add(line);
}

void TStringList::SetSorted(bool Value)
{
    if (Value && !FSorted)
        std::stable_sort(FLines.begin(), FLines.end(),
                         [](const std::string& a, const std::string& b) { return CompareText(a, b) < 0; });
    FSorted = Value;
}

std::string TStringList::Text() const
{
    size_t length = 0;
    for (const auto& line : FLines)
        length += line.size() + 2;
    std::string result;
    result.reserve(length);
    for (const auto& line : FLines) {
        result += line;
        result += "\r\n";
    }
    return result;
}

void TStringList::SetText(const std::string& Value)
{
    FLines.clear();
    size_t start = 0;
    const size_t n = Value.size();
    while (start < n) {
        size_t end = Value.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            Add(Value.substr(start));
            break;
        }
        Add(Value.substr(start, end - start));
        start = end + ((Value[end] == '\r' && end + 1 < n && Value[end + 1] == '\n') ? 2 : 1);
    }
}
